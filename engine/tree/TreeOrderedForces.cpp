#include "tree/TreeOrderedForces.h"

#include <algorithm>

namespace {

/// Points per chunk of the force loops.
constexpr int kChunk = 512;

/// The neighbours' coordinates are scattered over the embedding; asking
/// for them this many entries ahead hides most of the wait.
constexpr int64_t kPrefetchDistance = 16;

constexpr int kEvaluationsPerLayout = 10;

inline void prefetch(const double* address)
{
#if defined(__GNUC__)
    __builtin_prefetch(address);
#else
    (void)address;
#endif
}

} // namespace

template <typename Probability>
void TreeOrderedForces::layOutRows(const std::vector<int32_t>& spatialOrder, int n, const int64_t* offsets,
                                   const int32_t* keys, const Probability* probabilities, int threads)
{
    order_.assign(spatialOrder.begin(), spatialOrder.end());
    positionOf_.resize(static_cast<size_t>(n));
#pragma omp parallel for num_threads(threads) schedule(static)
    for (int position = 0; position < n; ++position)
        positionOf_[order_[position]] = position;

    offsets_.resize(static_cast<size_t>(n) + 1);
    offsets_[0] = 0;
    for (int position = 0; position < n; ++position) {
        const int i = order_[position];
        offsets_[position + 1] = offsets_[position] + offsets[i + 1] - offsets[i];
    }
    keys_.resize(static_cast<size_t>(offsets[n]));
    probabilities_.resize(static_cast<size_t>(offsets[n]));
#pragma omp parallel for num_threads(threads) schedule(static, kChunk)
    for (int position = 0; position < n; ++position) {
        const int i = order_[position];
        int64_t target = offsets_[position];
        for (int64_t e = offsets[i]; e < offsets[i + 1]; ++e, ++target) {
            keys_[target] = positionOf_[keys[e]];
            probabilities_[target] = probabilities[e];
        }
    }
}

template <int Dim>
void TreeOrderedForces::attractRows(const double* weights, int dimensions, double* attraction, int threads) const
{
    const int d = Dim > 0 ? Dim : dimensions;
    const int n = static_cast<int>(order_.size());
    const double* embedding = embedding_.data();
#pragma omp parallel for num_threads(threads) schedule(static, kChunk)
    for (int position = 0; position < n; ++position) {
        const int i = order_[position];
        const double* yi = embedding + static_cast<int64_t>(position) * d;
        double sum[Dim > 0 ? Dim : SpacePartitionTree<double>::kMaxDimensions] = {};
        const double weight = weights[i];
        const int64_t end = offsets_[position + 1];
        for (int64_t e = offsets_[position]; e < end; ++e) {
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
}

template <typename T, typename Probability>
void TreeOrderedForces::computeAttraction(const SpacePartitionTree<T>& tree, const T* embedding, int n,
                                          int dimensions, const int64_t* offsets, const int32_t* keys,
                                          const Probability* probabilities, const double* weights,
                                          double* attraction, int threads)
{
    if (order_.empty() || ++evaluationsSinceLayout_ >= kEvaluationsPerLayout) {
        layOutRows(tree.spatialOrder(), n, offsets, keys, probabilities, threads);
        evaluationsSinceLayout_ = 0;
    }
    const int d = dimensions;
    embedding_.resize(static_cast<size_t>(n) * d);
#pragma omp parallel for num_threads(threads) schedule(static)
    for (int position = 0; position < n; ++position)
        std::copy_n(embedding + static_cast<int64_t>(order_[position]) * d, d,
                    &embedding_[static_cast<size_t>(position) * d]);
    if (d == 2)
        attractRows<2>(weights, d, attraction, threads);
    else
        attractRows<0>(weights, d, attraction, threads);
}

template <typename T>
void TreeOrderedForces::computeRepulsion(const SpacePartitionTree<T>& tree, int n, int dimensions, double theta,
                                         double* negativeForces, double* partialSums, int threads)
{
    const std::vector<int32_t>& order = tree.spatialOrder();
    const int d = dimensions;
#pragma omp parallel for num_threads(threads) schedule(static, kChunk)
    for (int k = 0; k < n; ++k) {
        const int i = order[k];
        double* force = negativeForces + static_cast<int64_t>(i) * d;
        std::fill_n(force, d, 0.0);
        double sum = 0;
        tree.computeRepulsiveForces(i, theta, force, sum);
        partialSums[i] = sum;
    }
}

template void TreeOrderedForces::computeAttraction<double, double>(const SpacePartitionTree<double>&, const double*,
                                                                   int, int, const int64_t*, const int32_t*,
                                                                   const double*, const double*, double*, int);
template void TreeOrderedForces::computeAttraction<float, float>(const SpacePartitionTree<float>&, const float*, int,
                                                                 int, const int64_t*, const int32_t*, const float*,
                                                                 const double*, double*, int);
template void TreeOrderedForces::computeRepulsion<double>(const SpacePartitionTree<double>&, int, int, double,
                                                          double*, double*, int);
template void TreeOrderedForces::computeRepulsion<float>(const SpacePartitionTree<float>&, int, int, double,
                                                         double*, double*, int);
