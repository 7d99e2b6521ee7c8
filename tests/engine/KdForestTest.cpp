#include "knn/KdForest.h"
#include "knn/SeededKdTrees.h"

#include <flann/flann.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <random>
#include <vector>

namespace {

/// Clusters in d dimensions; with `grid`, every value is rounded to a
/// quarter, so many points coincide and many distances tie.
template <typename T>
std::vector<T> clusteredPoints(int n, int d, bool grid, unsigned seed)
{
    std::mt19937 generator(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::vector<T> data(static_cast<size_t>(n) * d);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < d; ++j) {
            const double value = normal(generator) + (i % 5) * 3.0 * (j % 2);
            data[static_cast<size_t>(i) * d + j] = static_cast<T>(grid ? std::round(value * 4) / 4 : value);
        }
    return data;
}

/// FLANN's own search and the forest's on one index, bit for bit: the
/// points, their order and the distances' bits. The index builds its own
/// trees, or is given trees built from the seed.
template <typename T>
void expectFlannAnswers(int n, int d, int trees, int k, int checks, bool grid,
                        std::optional<uint32_t> seed = std::nullopt)
{
    SCOPED_TRACE(testing::Message() << "n " << n << ", d " << d << ", " << trees << " trees, k " << k << ", checks "
                                    << checks << (grid ? ", on a grid" : "") << (seed ? ", seeded trees" : ""));
    std::vector<T> data = clusteredPoints<T>(n, d, grid, static_cast<unsigned>(n + k));
    flann::Matrix<T> dataset(data.data(), static_cast<size_t>(n), static_cast<size_t>(d));
    flann::KDTreeIndex<flann::L2<T>> index(dataset, flann::KDTreeIndexParams(trees));
    if (seed)
        SeededKdTrees<T>::build(index, data.data(), n, d, *seed);
    else
        index.buildIndex();
    const size_t entries = static_cast<size_t>(n) * k;
    std::vector<int> flannNeighbours(entries);
    std::vector<T> flannDistances(entries);
    flann::Matrix<int> neighbourMatrix(flannNeighbours.data(), static_cast<size_t>(n), static_cast<size_t>(k));
    flann::Matrix<T> distanceMatrix(flannDistances.data(), static_cast<size_t>(n), static_cast<size_t>(k));
    flann::SearchParams parameters(checks, 0, true);
    parameters.cores = 1;
    index.knnSearch(dataset, neighbourMatrix, distanceMatrix, static_cast<size_t>(k), parameters);

    KdForest<T> forest(index, data.data(), n, d);
    std::vector<int> neighbours(entries, -1);
    std::vector<T> distances(entries);
    // Uneven ranges: queries start and end in the middle of a set in flight.
    for (int64_t begin = 0; begin < n; begin += 37) {
        const int64_t end = std::min<int64_t>(n, begin + 37);
        forest.search(begin, end, k, checks, neighbours.data() + begin * k, distances.data() + begin * k);
    }
    ASSERT_EQ(neighbours, flannNeighbours);
    ASSERT_EQ(std::memcmp(distances.data(), flannDistances.data(), entries * sizeof(T)), 0);
}

TEST(KdForest, AnswersAreFlannsBitForBit)
{
    // Few checks (the search stops early, mostly on the heap's nearest
    // branches), checks beyond N (every point checked, the branch heap
    // capped at N entries), one tree and several, k up to the largest.
    for (const bool grid : {false, true}) {
        expectFlannAnswers<double>(2000, 30, 4, 31, 64, grid);
        expectFlannAnswers<double>(2000, 7, 4, 31, 1024, grid);
        expectFlannAnswers<double>(300, 5, 8, 40, 4096, grid);
        expectFlannAnswers<double>(1000, 3, 1, KdForest<double>::kMaxNeighbours, 512, grid);
        expectFlannAnswers<float>(2000, 12, 4, 31, 256, grid);
        expectFlannAnswers<float>(257, 2, 2, KdForest<float>::kMaxNeighbours, 4096, grid);
        expectFlannAnswers<double>(2000, 30, 4, 31, 64, grid, 5u);
        expectFlannAnswers<float>(2000, 12, 4, 31, 256, grid, 5u);
    }
}

TEST(KdForest, IdenticalPointsAndTooFewPointsForK)
{
    // All points equal: every distance ties and the trees split in the
    // middle. With k above N - 1 the list cannot fill: the forest repeats
    // its last point where FLANN writes nothing.
    const int n = 50, d = 3, k = 60;
    std::vector<double> data(static_cast<size_t>(n) * d, 1.5);
    flann::Matrix<double> dataset(data.data(), n, d);
    flann::KDTreeIndex<flann::L2<double>> index(dataset, flann::KDTreeIndexParams(2));
    index.buildIndex();
    KdForest<double> forest(index, data.data(), n, d);
    std::vector<int> neighbours(static_cast<size_t>(n) * k);
    std::vector<double> distances(neighbours.size(), -1);
    forest.search(0, n, k, 32, neighbours.data(), distances.data());
    for (int q = 0; q < n; ++q) {
        std::vector<int> row(neighbours.begin() + q * k, neighbours.begin() + (q + 1) * k);
        std::vector<int> found(row.begin(), row.begin() + n);
        std::sort(found.begin(), found.end());
        for (int p = 0; p < n; ++p)
            ASSERT_EQ(found[p], p) << "query " << q;
        for (int m = n; m < k; ++m)
            ASSERT_EQ(row[m], row[n - 1]);
    }
    EXPECT_EQ(distances, std::vector<double>(distances.size(), 0.0));
}

} // namespace
