#include "tree/TreeOrderedForces.h"

#include "parallel/LargeBuffers.h"
#include "parallel/WorkerPool.h"

#include <algorithm>

#if VESSARINE_ATTRACTION_PAIRS
#include <emmintrin.h>
#endif

namespace {

/// Points per task of the plain copies.
constexpr int64_t kCopyChunk = 16384;

/// The neighbours' coordinates are scattered over the embedding; asking
/// for them this many entries ahead hides most of the wait.
constexpr int64_t kPrefetchDistance = 16;

inline void prefetch(const double* address)
{
#if defined(__GNUC__)
    __builtin_prefetch(address);
#else
    (void)address;
#endif
}

} // namespace

void TreeOrderedForces::orderRows(const std::vector<int32_t>& spatialOrder, int n, const int64_t* offsets,
                                  int threads)
{
    order_.assign(spatialOrder.begin(), spatialOrder.end());
    positionOf_.resize(static_cast<size_t>(n));
    WorkerPool::shared().forChunks(threads, n, kCopyChunk, [&](int64_t begin, int64_t end) {
        for (int64_t position = begin; position < end; ++position)
            positionOf_[order_[position]] = static_cast<int32_t>(position);
    });
    offsets_.resize(static_cast<size_t>(n) + 1);
    offsets_[0] = 0;
    for (int position = 0; position < n; ++position) {
        const int i = order_[position];
        offsets_[position + 1] = offsets_[position] + offsets[i + 1] - offsets[i];
    }
    // Sized once per run: every layout has the same number of entries.
    const size_t entries = static_cast<size_t>(offsets[n]);
    if (keys_.size() != entries) {
        assignZeroed(keys_, entries, threads);
        assignZeroed(probabilities_, entries, threads);
    }
}

template <int Dim>
void TreeOrderedForces::attractRows(const double* weights, int dimensions, double* attraction, int threads) const
{
    const int d = Dim > 0 ? Dim : dimensions;
    const int n = static_cast<int>(order_.size());
    const double* embedding = embedding_.data();
    WorkerPool::shared().forChunks(threads, n, kChunk, [&](int64_t begin, int64_t stop) {
        for (int64_t position = begin; position < stop; ++position) {
            const int i = order_[position];
            const double* yi = embedding + position * d;
            const int64_t first = offsets_[position];
            const int64_t end = offsets_[position + 1];
#if VESSARINE_ATTRACTION_PAIRS
            if (Dim == 2) {
                attractInPairs(embedding, first, end, weights[i], yi, attraction + static_cast<int64_t>(i) * 2);
                continue;
            }
#endif
            double sum[Dim > 0 ? Dim : SpacePartitionTree<double>::kMaxDimensions] = {};
            const double weight = weights[i];
            for (int64_t e = first; e < end; ++e) {
                if (e + kPrefetchDistance < end)
                    prefetch(embedding + static_cast<int64_t>(keys_[e + kPrefetchDistance]) * d);
                const double* yj = embedding + static_cast<int64_t>(keys_[e]) * d;
                double diff[Dim > 0 ? Dim : SpacePartitionTree<double>::kMaxDimensions];
                double distanceSquared = 0;
                for (int k = 0; k < d; ++k) {
                    diff[k] = yi[k] - yj[k];
                    distanceSquared += diff[k] * diff[k];
                }
                const double factor = probabilities_[e] * weight / (1 + distanceSquared);
                for (int k = 0; k < d; ++k)
                    sum[k] += factor * diff[k];
            }
            for (int k = 0; k < d; ++k)
                attraction[static_cast<int64_t>(i) * d + k] = sum[k];
        }
    });
}

#if VESSARINE_ATTRACTION_PAIRS
void TreeOrderedForces::attractInPairs(const double* embedding, int64_t first, int64_t end, double weight,
                                       const double* yi, double* attraction) const
{
    // Two entries per step with the plain loop's operations, lane by lane:
    // d2 = dx dx + dy dy, factor = p weight / (1 + d2), and the two terms
    // added to the sum in entry order.
    const __m128d position = _mm_loadu_pd(yi);
    const __m128d scale = _mm_set1_pd(weight);
    const __m128d one = _mm_set1_pd(1.0);
    __m128d sum = _mm_setzero_pd();
    int64_t e = first;
    for (; e + 1 < end; e += 2) {
        if (e + kPrefetchDistance + 1 < end) {
            prefetch(embedding + static_cast<int64_t>(keys_[e + kPrefetchDistance]) * 2);
            prefetch(embedding + static_cast<int64_t>(keys_[e + kPrefetchDistance + 1]) * 2);
        }
        const __m128d diff0 = _mm_sub_pd(position, _mm_loadu_pd(embedding + static_cast<int64_t>(keys_[e]) * 2));
        const __m128d diff1 = _mm_sub_pd(position, _mm_loadu_pd(embedding + static_cast<int64_t>(keys_[e + 1]) * 2));
        const __m128d square0 = _mm_mul_pd(diff0, diff0);
        const __m128d square1 = _mm_mul_pd(diff1, diff1);
        const __m128d distanceSquared =
            _mm_add_pd(_mm_unpacklo_pd(square0, square1), _mm_unpackhi_pd(square0, square1));
        const __m128d factor = _mm_div_pd(_mm_mul_pd(_mm_loadu_pd(&probabilities_[e]), scale),
                                          _mm_add_pd(one, distanceSquared));
        sum = _mm_add_pd(sum, _mm_mul_pd(_mm_unpacklo_pd(factor, factor), diff0));
        sum = _mm_add_pd(sum, _mm_mul_pd(_mm_unpackhi_pd(factor, factor), diff1));
    }
    if (e < end) {
        const __m128d diff = _mm_sub_pd(position, _mm_loadu_pd(embedding + static_cast<int64_t>(keys_[e]) * 2));
        const __m128d square = _mm_mul_pd(diff, diff);
        const __m128d distanceSquared = _mm_add_sd(square, _mm_unpackhi_pd(square, square));
        const __m128d factor = _mm_div_sd(_mm_mul_sd(_mm_load_sd(&probabilities_[e]), scale),
                                          _mm_add_sd(one, distanceSquared));
        sum = _mm_add_pd(sum, _mm_mul_pd(_mm_unpacklo_pd(factor, factor), diff));
    }
    _mm_storeu_pd(attraction, sum);
}
#endif

template <typename T>
void TreeOrderedForces::copyEmbedding(const T* embedding, int n, int dimensions, int threads)
{
    const int d = dimensions;
    embedding_.resize(static_cast<size_t>(n) * d);
    WorkerPool::shared().forChunks(threads, n, kCopyChunk, [&](int64_t begin, int64_t end) {
        for (int64_t position = begin; position < end; ++position)
            std::copy_n(embedding + static_cast<int64_t>(order_[position]) * d, d,
                        &embedding_[static_cast<size_t>(position) * d]);
    });
}

void TreeOrderedForces::attract(const double* weights, int dimensions, double* attraction, int threads) const
{
    if (dimensions == 2)
        attractRows<2>(weights, dimensions, attraction, threads);
    else
        attractRows<0>(weights, dimensions, attraction, threads);
}

template <typename T>
void TreeOrderedForces::computeRepulsion(const SpacePartitionTree<T>& tree, int n, double theta,
                                         double* negativeForces, double* partialSums, int threads)
{
    const std::vector<int32_t>& order = tree.spatialOrder();
    WorkerPool::shared().forChunks(threads, n, kChunk, [&](int64_t begin, int64_t end) {
        tree.computeRepulsiveForces(order.data() + begin, end - begin, theta, negativeForces, partialSums);
    });
}

template void TreeOrderedForces::copyEmbedding<double>(const double*, int, int, int);
template void TreeOrderedForces::copyEmbedding<float>(const float*, int, int, int);
template void TreeOrderedForces::computeRepulsion<double>(const SpacePartitionTree<double>&, int, double, double*,
                                                          double*, int);
template void TreeOrderedForces::computeRepulsion<float>(const SpacePartitionTree<float>&, int, double, double*,
                                                         double*, int);
