#pragma once

#include <algorithm>
#include <cstddef>
#include <random>
#include <utility>
#include <vector>

/// `n` points in `dims` dimensions with unit normal noise; point i belongs to
/// blob i % blobs, centred 30 units out along axis i % blobs. No blobs: one
/// cloud around the origin. The value type fixes the random sequence.
template <typename T>
std::vector<T> gaussianBlobs(int n, int dims, int blobs, unsigned seed)
{
    std::mt19937 generator(seed);
    std::normal_distribution<T> normal(T(0), T(1));
    std::vector<T> data(static_cast<size_t>(n) * dims);
    for (int i = 0; i < n; ++i)
        for (int k = 0; k < dims; ++k)
            data[static_cast<size_t>(i) * dims + k] = normal(generator) + (blobs > 0 && k == i % blobs ? T(30) : T(0));
    return data;
}

/// The share of the ten nearest neighbours of each point of a 2-D embedding
/// of gaussianBlobs() that belong to the point's own blob.
template <typename T>
double sameBlobNeighbourShare(const std::vector<T>& y, int n, int blobs)
{
    long agree = 0;
    for (int i = 0; i < n; ++i) {
        std::vector<std::pair<T, int>> nearest;
        nearest.reserve(static_cast<size_t>(n));
        for (int j = 0; j < n; ++j)
            if (j != i) {
                const T dx = y[2 * i] - y[2 * j], dy = y[2 * i + 1] - y[2 * j + 1];
                nearest.emplace_back(dx * dx + dy * dy, j);
            }
        std::partial_sort(nearest.begin(), nearest.begin() + 10, nearest.end());
        for (int m = 0; m < 10; ++m)
            agree += nearest[m].second % blobs == i % blobs;
    }
    return agree / (10.0 * n);
}
