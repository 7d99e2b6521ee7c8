#include "tree/SpacePartitionTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <type_traits>
#include <vector>

namespace {

/// Plain pointer-based tree built by inserting points one at a time into
/// nodes of capacity one: the reference the flat tree must reproduce.
template <typename T>
struct InsertionNode
{
    int d;
    const T* data;
    std::vector<double> centre, halfWidth, com;
    uint32_t cumulative = 0;
    bool leaf = true;
    int64_t stored = -1;
    std::vector<std::unique_ptr<InsertionNode>> children;

    InsertionNode(int dims, const T* points, std::vector<double> c, std::vector<double> h)
        : d(dims), data(points), centre(std::move(c)), halfWidth(std::move(h)), com(static_cast<size_t>(dims), 0.0)
    {
    }

    const T* point(int64_t i) const { return data + i * d; }

    bool insert(int64_t p)
    {
        for (int k = 0; k < d; ++k)
            if (point(p)[k] < centre[k] - halfWidth[k] || point(p)[k] > centre[k] + halfWidth[k])
                return false;
        ++cumulative;
        const double c = cumulative;
        for (int k = 0; k < d; ++k)
            com[k] = ((c - 1) / c) * com[k] + (1 / c) * point(p)[k];
        if (leaf && stored < 0) {
            stored = p;
            return true;
        }
        if (stored >= 0 && std::equal(point(p), point(p) + d, point(stored)))
            return true;
        if (leaf)
            subdivide();
        for (auto& child : children)
            if (child->insert(p))
                return true;
        return false;
    }

    /// Barnes-Hut repulsion on point i as a plain recursion over the cells.
    void repel(int64_t i, double theta, double* force, double& sumQ) const
    {
        if (cumulative == 0 || (leaf && stored == i))
            return;
        std::vector<double> diff(static_cast<size_t>(d));
        double d2 = 0;
        for (int k = 0; k < d; ++k) {
            diff[k] = point(i)[k] - com[k];
            d2 += diff[k] * diff[k];
        }
        double w = 0;
        for (int k = 0; k < d; ++k)
            w = std::max(w, halfWidth[k]);
        if (leaf || w / std::sqrt(d2) < theta) {
            const double q = 1 / (1 + d2);
            const double m = cumulative * q;
            sumQ += m;
            for (int k = 0; k < d; ++k)
                force[k] += m * q * diff[k];
            return;
        }
        for (const auto& child : children)
            child->repel(i, theta, force, sumQ);
    }

    void subdivide()
    {
        for (int i = 0; i < (1 << d); ++i) {
            std::vector<double> c(static_cast<size_t>(d)), h(static_cast<size_t>(d));
            for (int k = 0; k < d; ++k) {
                h[k] = halfWidth[k] * 0.5;
                c[k] = (i >> k) & 1 ? centre[k] - halfWidth[k] * 0.5 : centre[k] + halfWidth[k] * 0.5;
            }
            children.push_back(std::make_unique<InsertionNode>(d, data, c, h));
        }
        for (auto& child : children)
            if (child->insert(stored))
                break;
        stored = -1;
        leaf = false;
    }
};

template <typename T>
std::unique_ptr<InsertionNode<T>> insertionTree(int d, const std::vector<T>& data)
{
    const int n = static_cast<int>(data.size()) / d;
    std::vector<double> mean(static_cast<size_t>(d), 0.0), lo(static_cast<size_t>(d), 1e300),
        hi(static_cast<size_t>(d), -1e300), width(static_cast<size_t>(d));
    for (int i = 0; i < n; ++i)
        for (int k = 0; k < d; ++k) {
            const double v = data[static_cast<size_t>(i) * d + k];
            mean[k] += v;
            lo[k] = std::min(lo[k], v);
            hi[k] = std::max(hi[k], v);
        }
    for (int k = 0; k < d; ++k) {
        mean[k] /= n;
        width[k] = std::max(mean[k] - lo[k], hi[k] - mean[k]) + 1e-5;
    }
    auto root = std::make_unique<InsertionNode<T>>(d, data.data(), mean, width);
    for (int i = 0; i < n; ++i)
        root->insert(i);
    return root;
}

template <typename T>
void expectSameTree(const SpacePartitionTree<T>& tree, int64_t node, const InsertionNode<T>& reference)
{
    const int d = reference.d;
    ASSERT_EQ(tree.cumulativeSize(node), reference.cumulative);
    ASSERT_EQ(tree.isLeaf(node), reference.leaf);
    ASSERT_EQ(std::memcmp(tree.centreOfMass(node), reference.com.data(), sizeof(double) * d), 0);
    ASSERT_EQ(std::memcmp(tree.centre(node), reference.centre.data(), sizeof(double) * d), 0);
    ASSERT_EQ(std::memcmp(tree.halfWidth(node), reference.halfWidth.data(), sizeof(double) * d), 0);
    if (reference.leaf) {
        const uint32_t expected = reference.stored < 0 ? SpacePartitionTree<T>::kNoPoint
                                                       : static_cast<uint32_t>(reference.stored);
        ASSERT_EQ(tree.storedIndex(node), expected);
        return;
    }
    for (int i = 0; i < tree.childCount(); ++i)
        expectSameTree(tree, tree.child(node, i), *reference.children[i]);
}

/// Clustered points on a coarse grid (many exact duplicates and points on
/// cell boundaries) mixed with continuous ones.
template <typename T>
std::vector<T> awkwardPoints(int n, int d, unsigned seed)
{
    std::mt19937 generator(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_int_distribution<int> grid(-4, 4);
    std::vector<T> data(static_cast<size_t>(n) * d);
    for (int i = 0; i < n; ++i)
        for (int k = 0; k < d; ++k)
            data[static_cast<size_t>(i) * d + k] = static_cast<T>(
                i % 3 == 0 ? grid(generator) * 0.5 : normal(generator) * (1 + i % 5) + (i % 7 == 0 ? 20 : 0));
    return data;
}

template <typename T>
void checkAgainstInsertion(int d, int n, unsigned seed, int threads)
{
    const std::vector<T> data = awkwardPoints<T>(n, d, seed);
    SpacePartitionTree<T> tree;
    tree.build(d, data.data(), n, threads);
    expectSameTree(tree, SpacePartitionTree<T>::root(), *insertionTree(d, data));

    std::vector<int32_t> order = tree.spatialOrder();
    std::sort(order.begin(), order.end());
    ASSERT_EQ(order.size(), static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        ASSERT_EQ(order[i], i);
}

/// Exact repulsion of point i: sum over all other points.
void bruteForce(const std::vector<double>& y, int d, int i, std::vector<double>& force, double& sumQ)
{
    const int n = static_cast<int>(y.size()) / d;
    force.assign(static_cast<size_t>(d), 0.0);
    sumQ = 0;
    for (int j = 0; j < n; ++j) {
        if (j == i)
            continue;
        double d2 = 0;
        for (int k = 0; k < d; ++k)
            d2 += (y[i * d + k] - y[j * d + k]) * (y[i * d + k] - y[j * d + k]);
        const double q = 1 / (1 + d2);
        sumQ += q;
        for (int k = 0; k < d; ++k)
            force[k] += q * q * (y[i * d + k] - y[j * d + k]);
    }
}

} // namespace

TEST(SpacePartitionTree, EqualsTreeOfOrderedInsertions)
{
    checkAgainstInsertion<double>(2, 3000, 1, 1);
    checkAgainstInsertion<double>(2, 40000, 2, 8);  // parallel top nodes and subtree tasks
    checkAgainstInsertion<double>(3, 2000, 3, 4);
    checkAgainstInsertion<double>(1, 500, 4, 1);
    checkAgainstInsertion<float>(2, 3000, 5, 1);
    checkAgainstInsertion<float>(2, 20000, 6, 8);
}

TEST(SpacePartitionTree, RebuildReusesTheTreeObject)
{
    const std::vector<double> first = awkwardPoints<double>(5000, 2, 11);
    const std::vector<double> second = awkwardPoints<double>(700, 2, 12);
    SpacePartitionTree<double> tree;
    tree.build(2, first.data(), 5000, 4);
    tree.build(2, second.data(), 700, 4);
    expectSameTree(tree, tree.root(), *insertionTree(2, second));
}

TEST(SpacePartitionTree, IdenticalPointsStayInTheRoot)
{
    const int n = 50;
    const std::vector<float> data(static_cast<size_t>(n) * 2, 3.5f);
    SpacePartitionTree<float> tree(2, data.data(), n);
    EXPECT_TRUE(tree.isLeaf(tree.root()));
    EXPECT_EQ(tree.cumulativeSize(tree.root()), static_cast<uint32_t>(n));
    EXPECT_EQ(tree.storedIndex(tree.root()), 0u);
    EXPECT_EQ(tree.halfWidth(tree.root())[0], 1e-5);
    EXPECT_NEAR(tree.centreOfMass(tree.root())[1], 3.5, 1e-12);

    // Point 0 skips the root (its own leaf, duplicates included); any other
    // point counts the whole leaf with q = 1 and no force.
    double force[2] = {0, 0};
    double sumQ = 0;
    tree.computeRepulsiveForces(0, 0.5, force, sumQ);
    EXPECT_EQ(sumQ, 0);
    tree.computeRepulsiveForces(7, 0.5, force, sumQ);
    EXPECT_NEAR(sumQ, n, 1e-9);
    EXPECT_NEAR(force[0], 0, 1e-9);
    EXPECT_NEAR(force[1], 0, 1e-9);
}

TEST(SpacePartitionTree, BoundaryPointGoesToTheFirstChildHoldingIt)
{
    // The root centre is (0, 0); (0, 0) lies on every child's boundary and
    // belongs to child 0 (upper half in both dimensions), with (1, 1).
    const std::vector<double> data = {-1, -1, 1, 1, 0, 0};
    SpacePartitionTree<double> tree(2, data.data(), 3);
    const int64_t child0 = tree.child(tree.root(), 0);
    EXPECT_EQ(tree.cumulativeSize(child0), 2u);
    EXPECT_EQ(tree.cumulativeSize(tree.child(tree.root(), 3)), 1u);
    EXPECT_EQ(tree.storedIndex(tree.child(tree.root(), 3)), 0u);
    EXPECT_FALSE(tree.isLeaf(child0));
}

TEST(SpacePartitionTree, ThetaZeroIsTheExactSum)
{
    for (int d : {2, 3}) {
        std::mt19937 generator(5);
        std::normal_distribution<double> normal(0.0, 3.0);
        const int n = 400;
        std::vector<double> y(static_cast<size_t>(n) * d);
        for (double& v : y)
            v = normal(generator);
        SpacePartitionTree<double> tree(d, y.data(), n);
        for (int i = 0; i < n; i += 7) {
            std::vector<double> expected;
            double expectedSum = 0;
            bruteForce(y, d, i, expected, expectedSum);
            std::vector<double> force(static_cast<size_t>(d), 1.0);  // accumulated in place
            double sumQ = 2.0;
            tree.computeRepulsiveForces(i, 0.0, force.data(), sumQ);
            EXPECT_NEAR(sumQ - 2.0, expectedSum, 1e-12 * expectedSum);
            for (int k = 0; k < d; ++k)
                EXPECT_NEAR(force[k] - 1.0, expected[k], 1e-12);
        }
        // The usual threshold stays close to the exact sum.
        double exact = 0, approximate = 0;
        for (int i = 0; i < n; ++i) {
            std::vector<double> force(static_cast<size_t>(d), 0.0);
            double sum = 0;
            bruteForce(y, d, i, force, sum);
            exact += sum;
            tree.computeRepulsiveForces(i, 0.5, force.data(), approximate);
        }
        EXPECT_NEAR(approximate, exact, 0.05 * exact);
    }
}

TEST(SpacePartitionTree, RepulsionEqualsThePlainRecursionBitForBit)
{
    for (int d : {2, 3}) {
        const int n = 3000;
        const std::vector<double> y = awkwardPoints<double>(n, d, 17);
        SpacePartitionTree<double> tree;
        tree.build(d, y.data(), n, 4);
        const auto reference = insertionTree(d, y);
        for (double theta : {0.5, 0.1}) {
            for (int i = 0; i < n; ++i) {
                double expected[3] = {0.25, -0.5, 1.0}, actual[3] = {0.25, -0.5, 1.0};
                double expectedSum = 3.0, actualSum = 3.0;
                reference->repel(i, theta, expected, expectedSum);
                tree.computeRepulsiveForces(i, theta, actual, actualSum);
                ASSERT_EQ(actualSum, expectedSum) << "point " << i << ", theta " << theta;
                ASSERT_EQ(std::memcmp(actual, expected, sizeof(double) * d), 0) << "point " << i;
            }
        }
    }
}

TEST(SpacePartitionTree, DuplicateSkipsOnlyTheLeafOfItsStoredCopy)
{
    // Point 3 duplicates point 1: with theta 0, point 1 skips its leaf (and
    // with it point 3); point 3 counts that leaf whole, itself included.
    const std::vector<double> y = {0, 0, 2, 1, -1, 3, 2, 1, 5, -2};
    SpacePartitionTree<double> tree(2, y.data(), 5);
    std::vector<double> others = {0, 0, -1, 3, 5, -2};  // points 0, 2, 4
    std::vector<double> withOne = others;
    withOne.insert(withOne.end(), {2, 1});
    std::vector<double> expected;
    double expectedSum = 0;
    bruteForce(withOne, 2, 3, expected, expectedSum);

    double force1[2] = {0, 0}, force3[2] = {0, 0};
    double sum1 = 0, sum3 = 0;
    tree.computeRepulsiveForces(1, 0.0, force1, sum1);
    tree.computeRepulsiveForces(3, 0.0, force3, sum3);
    EXPECT_NEAR(sum1, expectedSum, 1e-14);
    EXPECT_NEAR(sum3, expectedSum + 2.0, 1e-14);
    EXPECT_NEAR(force1[0], expected[0], 1e-14);
    EXPECT_NEAR(force3[1], expected[1], 1e-14);
}

TEST(SpacePartitionTree, PointsEvaluatedTogetherGetTheSumsOfOneAtATime)
{
    // Awkward points (duplicates, cell boundaries) in the tree's spatial
    // order and shuffled, in runs of every length up to two packets.
    auto check = [](const auto& y, unsigned seed) {
        using T = typename std::decay_t<decltype(y)>::value_type;
        const int n = static_cast<int>(y.size()) / 2;
        SpacePartitionTree<T> tree;
        tree.build(2, y.data(), n, 4);
        std::vector<int32_t> inOrder = tree.spatialOrder();
        std::vector<int32_t> shuffled = inOrder;
        std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(seed));
        for (const std::vector<int32_t>* points : {&inOrder, &shuffled})
            for (double theta : {0.5, 0.1, 0.0}) {
                std::vector<double> forces(static_cast<size_t>(n) * 2, -7.0), sums(static_cast<size_t>(n), -7.0);
                for (int begin = 0, run = 1; begin < n; begin += run, run = run % 17 + 1)
                    tree.computeRepulsiveForces(points->data() + begin, std::min(run, n - begin), theta,
                                                forces.data(), sums.data());
                for (int i = 0; i < n; ++i) {
                    double force[2] = {0, 0}, sum = 0;
                    tree.computeRepulsiveForces(i, theta, force, sum);
                    ASSERT_EQ(std::memcmp(&sums[i], &sum, sizeof(double)), 0) << "point " << i << " theta " << theta;
                    ASSERT_EQ(std::memcmp(&forces[2 * i], force, sizeof force), 0) << "point " << i;
                }
            }
    };
    check(awkwardPoints<double>(3000, 2, 21), 1);
    check(awkwardPoints<float>(2000, 2, 22), 2);
}
