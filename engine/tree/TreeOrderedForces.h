#pragma once

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
    /// are CSR by point (offsets n + 1; keys are point indices). They are
    /// copied into the tree's current spatial order on the first call, after
    /// forgetLayout and every tenth call after that: the order drifts slowly,
    /// and copying the rows costs a few evaluations' worth of attraction.
    template <typename T, typename Probability>
    void computeAttraction(const SpacePartitionTree<T>& tree, const T* embedding, int n, int dimensions,
                           const int64_t* offsets, const int32_t* keys, const Probability* probabilities,
                           const double* weights, double* attraction, int threads);

    /// Barnes-Hut repulsion with threshold theta on every point: its negative
    /// force into `negativeForces` (n x the tree's dimensions) and its Student-t sum into
    /// partialSums[i].
    template <typename T>
    static void computeRepulsion(const SpacePartitionTree<T>& tree, int n, double theta, double* negativeForces,
                                 double* partialSums, int threads);

    /// The next attraction lays the rows out anew (the rows have changed).
    void forgetLayout() { order_.clear(); }

private:
    template <typename Probability>
    void layOutRows(const std::vector<int32_t>& spatialOrder, int n, const int64_t* offsets, const int32_t* keys,
                    const Probability* probabilities, int threads);
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
