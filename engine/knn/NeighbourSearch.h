#pragma once

#include "knn/FlannDeclarations.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

template <typename T>
class KdForest;

/// Approximate k-nearest-neighbour search of every point of an n x d
/// row-major matrix against all of them, through FLANN's randomised
/// KD-trees over L2 distances. The index is built over a copy of the rows in
/// a spatial order (recursive median splits on the widest dimension): the
/// trees' leaves then read neighbouring rows from neighbouring memory and
/// consecutive queries walk the same branches, which makes the search
/// several times faster than on rows in acquisition order. Results are
/// mapped back to the caller's row numbers.
template <typename T>
class NeighbourSearch
{
public:
    NeighbourSearch();
    ~NeighbourSearch();
    NeighbourSearch(const NeighbourSearch&) = delete;
    NeighbourSearch& operator=(const NeighbourSearch&) = delete;

    /// Orders and copies the rows and builds `trees` randomised KD-trees
    /// (and KdForest's copy of them): from the seed when one is given, so
    /// that the same rows and seed always give the same neighbours, else
    /// from FLANN's own randomness.
    void build(const T* data, int n, int d, int trees, std::optional<uint32_t> seed = std::nullopt);

    /// Every point's `columns` nearest points, nearest first (usually the
    /// point itself), searched with `checks` leaf checks on `cores`
    /// threads (0: as many as OpenMP would use). Row p of the results, `columns` entries
    /// from p * columns on, belongs to point order()[p]; neighbours are the
    /// caller's row numbers, distances FLANN's squared L2 distances.
    void search(int columns, int checks, int cores, std::vector<int>& neighbours, std::vector<T>& distances);

    /// Point of each result row.
    const std::vector<int32_t>& order() const { return order_; }

    /// Frees the index and the ordered copy.
    void release();

private:
    int n_ = 0;
    int d_ = 0;
    std::vector<int32_t> order_;
    std::vector<T> ordered_;
    std::unique_ptr<flann::KDTreeIndex<flann::L2<T>>> index_;
    std::unique_ptr<KdForest<T>> forest_;
};

extern template class NeighbourSearch<double>;
extern template class NeighbourSearch<float>;
