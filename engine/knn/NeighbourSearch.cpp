#include "knn/NeighbourSearch.h"

#include "knn/KdForest.h"
#include "knn/SeededKdTrees.h"
#include "parallel/LargeBuffers.h"

#include "parallel/WorkerPool.h"

#include <flann/flann.hpp>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <numeric>

namespace {

/// Queries per task of the search.
constexpr int64_t kSearchBatch = 256;

/// Orders the point indices in [begin, end) so that points close in space
/// are close in the list. NaN sorts last.
template <typename T>
void orderSpatially(const T* data, int d, int32_t* begin, int32_t* end)
{
    constexpr std::ptrdiff_t leafSize = 16;
    constexpr std::ptrdiff_t taskSize = 1 << 14;
    if (end - begin <= leafSize)
        return;
    std::vector<T> low(static_cast<size_t>(d), std::numeric_limits<T>::max());
    std::vector<T> high(static_cast<size_t>(d), std::numeric_limits<T>::lowest());
    for (const int32_t* point = begin; point < end; ++point) {
        const T* row = data + static_cast<int64_t>(*point) * d;
        for (int j = 0; j < d; ++j) {
            low[j] = std::min(low[j], row[j]);
            high[j] = std::max(high[j], row[j]);
        }
    }
    int widest = 0;
    for (int j = 1; j < d; ++j)
        if (high[j] - low[j] > high[widest] - low[widest])
            widest = j;
    int32_t* middle = begin + (end - begin) / 2;
    std::nth_element(begin, middle, end, [&](int32_t a, int32_t b) {
        const T x = data[static_cast<int64_t>(a) * d + widest];
        const T y = data[static_cast<int64_t>(b) * d + widest];
        return x < y || (std::isnan(y) && !std::isnan(x));
    });
    if (end - begin > taskSize) {
#pragma omp task default(shared)
        orderSpatially(data, d, begin, middle);
#pragma omp task default(shared)
        orderSpatially(data, d, middle, end);
#pragma omp taskwait
    } else {
        orderSpatially(data, d, begin, middle);
        orderSpatially(data, d, middle, end);
    }
}

} // namespace

template <typename T>
NeighbourSearch<T>::NeighbourSearch() = default;

template <typename T>
NeighbourSearch<T>::~NeighbourSearch() = default;

template <typename T>
void NeighbourSearch<T>::build(const T* data, int n, int d, int trees, std::optional<uint32_t> seed)
{
    n_ = n;
    d_ = d;
    order_.resize(static_cast<size_t>(n));
    std::iota(order_.begin(), order_.end(), 0);
#pragma omp parallel
#pragma omp single
    orderSpatially(data, d, order_.data(), order_.data() + n);
    assignZeroed(ordered_, static_cast<size_t>(n) * d, omp_get_max_threads());
#pragma omp parallel for schedule(static)
    for (int p = 0; p < n; ++p)
        std::copy_n(data + static_cast<int64_t>(order_[p]) * d, d, ordered_.data() + static_cast<int64_t>(p) * d);
    flann::Matrix<T> dataset(ordered_.data(), static_cast<size_t>(n), static_cast<size_t>(d));
    index_ = std::make_unique<flann::KDTreeIndex<flann::L2<T>>>(dataset, flann::KDTreeIndexParams(trees));
    if (seed)
        SeededKdTrees<T>::build(*index_, ordered_.data(), n, d, *seed);
    else
        index_->buildIndex();
    forest_ = std::make_unique<KdForest<T>>(*index_, ordered_.data(), n_, d_);
}

template <typename T>
void NeighbourSearch<T>::search(int columns, int checks, int cores, std::vector<int>& neighbours,
                                std::vector<T>& distances)
{
    const size_t rows = static_cast<size_t>(n_);
    const size_t width = static_cast<size_t>(columns);
    const int threads = cores > 0 ? cores : omp_get_max_threads();
    assignZeroed(neighbours, rows * width, threads);
    assignZeroed(distances, rows * width, threads);
    // Every query is answered on its own, so the points are searched in
    // small batches that free threads claim in turn: a thread the system
    // deschedules holds up one batch, not a fixed share of the points.
    const auto toCallerRows = [&](size_t first, size_t count) {
        for (size_t at = first * width; at < (first + count) * width; ++at)
            neighbours[at] = order_[static_cast<size_t>(neighbours[at])];
    };
    if (columns <= KdForest<T>::kMaxNeighbours && checks > 0) {
        WorkerPool::shared().forChunks(threads, n_, kSearchBatch, [&](int64_t begin, int64_t end) {
            const size_t first = static_cast<size_t>(begin);
            forest_->search(begin, end, columns, checks, neighbours.data() + first * width,
                            distances.data() + first * width);
            toCallerRows(first, static_cast<size_t>(end - begin));
        });
        return;
    }
    flann::SearchParams parameters(checks, 0, true);
    parameters.cores = 1;
    WorkerPool::shared().forChunks(threads, n_, kSearchBatch, [&](int64_t begin, int64_t end) {
        const size_t count = static_cast<size_t>(end - begin);
        const size_t first = static_cast<size_t>(begin);
        flann::Matrix<T> queries(ordered_.data() + first * d_, count, static_cast<size_t>(d_));
        flann::Matrix<int> neighbourMatrix(neighbours.data() + first * width, count, width);
        flann::Matrix<T> distanceMatrix(distances.data() + first * width, count, width);
        index_->knnSearch(queries, neighbourMatrix, distanceMatrix, width, parameters);
        toCallerRows(first, count);
    });
}

template <typename T>
void NeighbourSearch<T>::release()
{
    forest_.reset();
    index_.reset();
    std::vector<T>().swap(ordered_);
}

template class NeighbourSearch<double>;
template class NeighbourSearch<float>;
