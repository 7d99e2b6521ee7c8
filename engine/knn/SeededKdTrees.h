#pragma once

#include "knn/FlannDeclarations.h"

#include <cstdint>
#include <random>
#include <utility>
#include <vector>

/// FLANN's randomised KD-trees built from a seed. FLANN draws the shuffle
/// behind each tree from the system's random device, so its trees, and the
/// approximate neighbours found in them, differ from run to run whatever the
/// caller seeds. These trees follow FLANN's construction step by step (each
/// tree over its own shuffle of the points; a node splits its points at the
/// mean of the first 101 of them in one of the 5 dimensions of largest
/// variance there, picked at random; a leaf holds one point), but tree t
/// takes every random choice from a Mersenne Twister seeded with (seed, t):
/// one seed always gives the same trees.
template <typename T>
class SeededKdTrees
{
public:
    /// Builds the trees of `index`, which holds the n x d row-major `rows`
    /// as its dataset and has not built any (the tree count is the index's
    /// own), and hands them to it as if it had built them itself.
    static void build(flann::KDTreeIndex<flann::L2<T>>& index, const T* rows, int n, int d, uint32_t seed);

private:
    /// A node. Nodes come in FLANN's order: a node, then the subtree of its
    /// first part of the points, then that of the second.
    struct Node
    {
        T divval;
        int32_t feature;   ///< the split dimension, or a leaf's point
        bool leaf;
    };
    class Loader;

    SeededKdTrees(const T* rows, int n, int d, uint32_t seed);

    /// The next node, tree after tree.
    Node next();

    void startTree();
    /// FLANN's split of the points ind_[begin, begin + count): the dimension,
    /// the value and the size of the part below it.
    void split(int64_t begin, int count, int32_t& feature, T& value, int& lower);
    int32_t selectDimension();
    /// A uniform draw from [0, count).
    uint32_t draw(uint32_t count);

    const T* rows_;
    int n_;
    int d_;
    uint32_t seed_;
    uint32_t tree_ = 0;
    std::mt19937 engine_;
    std::vector<int32_t> ind_;
    std::vector<std::pair<int64_t, int>> pending_;   ///< (begin, count) of subtrees still to give
    std::vector<T> mean_;
    std::vector<T> variance_;
};

extern template class SeededKdTrees<double>;
extern template class SeededKdTrees<float>;
