#pragma once

#include "knn/FlannDeclarations.h"

#include <cstdint>
#include <vector>

/// The randomised KD-trees of a built FLANN index, copied into flat arrays
/// and searched for k nearest neighbours exactly as FLANN's own search walks
/// them: the same branch heap, the same leaf checks and check count, the
/// same result list and the same distance arithmetic, so every answer is
/// FLANN's to the last bit. It is faster for two reasons:
/// - a node takes 16 bytes and sits next to its sibling, so a step down
///   reads one cache line instead of FLANN's 40-byte nodes spread over the
///   heap;
/// - each thread advances several queries in turn and prefetches the next
///   node or point of one query while it works on the others, so the
///   memory latency of the walks overlaps instead of adding up.
template <typename T>
class KdForest
{
public:
    /// The largest k searched: above it FLANN collects results in another
    /// kind of list, which this search does not follow.
    static constexpr int kMaxNeighbours = 250;

    /// Copies the trees of `index`, built over the n x d row-major `rows`
    /// (the index's point i is row i; FLANN keeps pointers into them).
    KdForest(flann::KDTreeIndex<flann::L2<T>>& index, const T* rows, int n, int d);

    /// For each of the rows [begin, end) as a query, its `k` nearest points
    /// found with `checks` leaf checks (FLANN's search parameters with
    /// eps 0; 0 < k <= kMaxNeighbours, checks > 0): k point numbers and
    /// squared distances per query, nearest first, at neighbours and
    /// distances + (row - begin) * k. A query with fewer than k points found
    /// repeats its last one (FLANN leaves those places unwritten).
    void search(int64_t begin, int64_t end, int k, int checks, int* neighbours, T* distances) const;

    /// A node: a split on `feature` at `divval` with its children at `child`
    /// and child + 1, or with child < 0 a leaf holding point `feature`.
    struct alignas(16) Node
    {
        T divval;
        int32_t feature;
        int32_t child;
    };

private:
    template <typename FlannNode>
    void copyTree(const void* flannRoot, int32_t rootAt);
    class Walk;

    int n_ = 0;
    int d_ = 0;
    const T* rows_ = nullptr;
    std::vector<int32_t> roots_;
    std::vector<Node> nodes_;
};

extern template class KdForest<double>;
extern template class KdForest<float>;
