#pragma once

#include "parallel/WorkerPool.h"
#include "tree/SpacePartitionTree.h"

#include <cstdint>
#include <vector>

#if defined(__SSE2__) || defined(_M_X64)
#define VESSARINE_ATTRACTION_PAIRS 1
#endif

/// Both force terms of a t-SNE gradient, evaluated point by point in the
/// spatial order of the Barnes-Hut tree: neighbouring points share tree
/// paths and neighbours, so a chunk of points keeps its part of the tree and
/// of the embedding in cache. Every point's sums run in the same order as a
/// plain loop over its row would, so the results do not depend on the
/// layout or on the thread count.
class TreeOrderedForces
{
public:
    /// attraction_i = weight_i * sum over row i of p_ij (y_i - y_j) / (1 + |y_i - y_j|^2),
    /// written into `attraction` (n x dimensions doubles, by point). The rows
    /// are CSR by point (offsets n + 1; keys are point indices); p of entry e
    /// of row i is value(i, e), a double. The rows are copied into the tree's
    /// current spatial order on the first call, after forgetLayout and every
    /// tenth call after that (when the values are read): the order drifts
    /// slowly, and copying the rows costs a few evaluations' worth of
    /// attraction.
    template <typename T, typename EntryValue>
    void computeAttraction(const SpacePartitionTree<T>& tree, const T* embedding, int n, int dimensions,
                           const int64_t* offsets, const int32_t* keys, const EntryValue& value,
                           const double* weights, double* attraction, int threads)
    {
        if (order_.empty() || ++evaluationsSinceLayout_ >= kEvaluationsPerLayout) {
            layOutRows(tree.spatialOrder(), n, offsets, keys, value, threads);
            evaluationsSinceLayout_ = 0;
        }
        copyEmbedding(embedding, n, dimensions, threads);
        attract(weights, dimensions, attraction, threads);
    }

    /// Barnes-Hut repulsion with threshold theta on every point: its negative
    /// force into `negativeForces` (n x the tree's dimensions) and its Student-t sum into
    /// partialSums[i].
    template <typename T>
    static void computeRepulsion(const SpacePartitionTree<T>& tree, int n, double theta, double* negativeForces,
                                 double* partialSums, int threads);

    /// The next attraction lays the rows out anew (the rows have changed).
    void forgetLayout() { order_.clear(); }

private:
    static constexpr int kEvaluationsPerLayout = 10;
    /// Points per task of the force loops: small enough that a thread the
    /// system deschedules holds up little, large enough to share tree paths.
    static constexpr int64_t kChunk = 512;

    template <typename EntryValue>
    void layOutRows(const std::vector<int32_t>& spatialOrder, int n, const int64_t* offsets, const int32_t* keys,
                    const EntryValue& value, int threads)
    {
        orderRows(spatialOrder, n, offsets, threads);
        WorkerPool::shared().forChunks(threads, n, kChunk, [&](int64_t begin, int64_t end) {
            for (int64_t position = begin; position < end; ++position) {
                const int i = order_[position];
                int64_t target = offsets_[position];
                for (int64_t e = offsets[i]; e < offsets[i + 1]; ++e, ++target) {
                    keys_[target] = positionOf_[keys[e]];
                    probabilities_[target] = value(i, e);
                }
            }
        });
    }
    /// The order, the positions and the row offsets of a new layout; sizes
    /// the entries.
    void orderRows(const std::vector<int32_t>& spatialOrder, int n, const int64_t* offsets, int threads);
    /// The coordinates in the layout's order.
    template <typename T>
    void copyEmbedding(const T* embedding, int n, int dimensions, int threads);
    void attract(const double* weights, int dimensions, double* attraction, int threads) const;
    template <int Dim>
    void attractRows(const double* weights, int dimensions, double* attraction, int threads) const;
#if VESSARINE_ATTRACTION_PAIRS
    /// The sum of one two-dimensional row, entries first to end - 1, two
    /// entries per step.
    void attractInPairs(const double* embedding, int64_t first, int64_t end, double weight, const double* yi,
                        double* attraction) const;
#endif

    // The rows as the attraction reads them: row by row in a spatial order of
    // the embedding, keys turned into positions in that order, and the
    // coordinates copied into it before every evaluation.
    std::vector<int32_t> order_;          ///< position -> point
    std::vector<int32_t> positionOf_;     ///< point -> position
    std::vector<int64_t> offsets_;        ///< n + 1, by position
    std::vector<int32_t> keys_;           ///< positions of the neighbours
    std::vector<double> probabilities_;   ///< of each entry
    std::vector<double> embedding_;       ///< n x dimensions, by position
    int evaluationsSinceLayout_ = 0;
};
