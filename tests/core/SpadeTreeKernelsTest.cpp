#include "analyses/spade/BoruvkaMst.h"
#include "analyses/spade/SpadeDendrogram.h"
#include "analyses/spade/SpadeNearestMedian.h"
#include "support/LinkTreeCheck.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <limits>
#include <list>
#include <random>
#include <set>
#include <vector>

namespace {

double referenceNorm(const std::vector<double>& a, const std::vector<double>& b)
{
    double sum = 0.0;
    for (size_t k = 0; k < a.size(); ++k)
        sum += std::fabs(a[k] - b[k]);
    return sum;
}

/// The traversal written plainly: a list as the pool, serial scans.
std::vector<DendrogramNode> referenceDendrogram(std::vector<DendrogramNode> input)
{
    std::list<DendrogramNode> pool(input.begin(), input.end());
    std::vector<DendrogramNode> out;
    DendrogramNode root = pool.front();
    pool.pop_front();
    root.id = 1;
    root.distance = 0.0;
    root.parent = -1;
    out.push_back(root);
    std::vector<std::vector<int>> levels{{1}};
    double g = 0.0;
    while (!pool.empty()) {
        const DendrogramNode c = out.back();
        auto selected = pool.end();
        double far = -1.0;
        for (auto it = pool.begin(); it != pool.end(); ++it) {
            const double d = referenceNorm(it->values, c.values);
            if (d < it->distance) {
                it->distance = d;
                it->parent = c.id;
            }
            if (it->distance > far) {
                far = it->distance;
                selected = it;
            }
        }
        DendrogramNode node = *selected;
        pool.erase(selected);
        node.id = c.id + 1;
        if (c.id == 1)
            g = node.distance;
        const double m = node.distance;
        if (m > 1e-6) {
            size_t level = 1;
            while (!(g / std::pow(2.0, static_cast<double>(level)) < m))
                ++level;
            if (levels.size() <= level)
                levels.resize(level + 1);
            double best = std::numeric_limits<double>::infinity();
            for (size_t l = 0; l < level; ++l)
                for (int id : levels[l]) {
                    const double d = referenceNorm(out[id - 1].values, node.values);
                    if (d < best) {
                        best = d;
                        node.parent = id;
                    }
                }
            levels[level].push_back(node.id);
        }
        out[node.parent - 1].children.push_back(node.id);
        out.push_back(node);
    }
    return out;
}

std::vector<DendrogramNode> pool(const std::vector<std::vector<double>>& values)
{
    std::vector<DendrogramNode> nodes;
    for (size_t i = 0; i < values.size(); ++i) {
        DendrogramNode node;
        node.values = values[i];
        node.event = static_cast<int>(i);
        node.file = static_cast<int>(i % 3);
        nodes.push_back(node);
    }
    return nodes;
}

/// Blobs far apart on a coarse grid: many equal distances.
std::vector<std::vector<double>> blobs(int count, int dims, int blobCount, double spread, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> step(0, 4);
    std::vector<std::vector<double>> values;
    for (int i = 0; i < count; ++i) {
        std::vector<double> v(dims);
        const int b = i % blobCount;
        for (int k = 0; k < dims; ++k)
            v[k] = 1000.0 * ((b >> (k % 4)) & 1) + 100.0 * b + spread * step(rng);
        values.push_back(v);
    }
    return values;
}

void expectSameDendrogram(const std::vector<DendrogramNode>& a, const std::vector<DendrogramNode>& b)
{
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].id, b[i].id) << i;
        EXPECT_EQ(a[i].event, b[i].event) << i;
        EXPECT_EQ(a[i].parent, b[i].parent) << i;
        EXPECT_EQ(a[i].distance, b[i].distance) << i;
        EXPECT_EQ(a[i].children, b[i].children) << i;
    }
}

/// Borůvka written plainly over an explicit edge list.
std::vector<MCV_DerivedDataClusters::Link> referenceMst(const std::vector<std::vector<float>>& medians, int& passes)
{
    struct E { int i, j; float w; };
    const int n = static_cast<int>(medians.size());
    std::vector<E> edges;
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) {
            float w = 0.0f;
            for (size_t k = 0; k < medians[i].size(); ++k)
                w += std::fabs(medians[i][k] - medians[j][k]);
            edges.push_back({i, j, w});
        }
    std::vector<int> parent(n), size(n, 1);
    for (int v = 0; v < n; ++v)
        parent[v] = v;
    auto find = [&](int v) { while (parent[v] != v) v = parent[v]; return v; };
    std::vector<MCV_DerivedDataClusters::Link> result;
    passes = 0;
    do {
        ++passes;
        std::vector<int> cheapest(n, -1);
        for (int e = 0; e < static_cast<int>(edges.size()); ++e) {
            const int ri = find(edges[e].i), rj = find(edges[e].j);
            if (ri == rj)
                continue;
            for (int r : {ri, rj})
                if (cheapest[r] < 0 || edges[cheapest[r]].w > edges[e].w)
                    cheapest[r] = e;
        }
        for (int r = 0; r < n; ++r) {
            if (cheapest[r] < 0)
                continue;
            const E& e = edges[cheapest[r]];
            const int ri = find(e.i), rj = find(e.j);
            if (ri == rj)
                continue;
            result.push_back({e.w, e.j, e.i});
            if (size[ri] < size[rj]) {
                parent[ri] = rj;
                size[rj] += size[ri];
            } else {
                parent[rj] = ri;
                size[ri] += size[rj];
            }
        }
    } while (static_cast<int>(result.size()) < n - 1);
    return result;
}

class ThreadCount
{
public:
    explicit ThreadCount(int n) : m_saved(omp_get_max_threads()) { omp_set_num_threads(n); }
    ~ThreadCount() { omp_set_num_threads(m_saved); }

private:
    int m_saved;
};

} // namespace

TEST(SpadeDendrogram, TraversalMatchesThePlainListAtOneAndEightThreads)
{
    // Parallel scans from the first node on, over more than one block, and
    // long enough for chosen nodes to be squeezed out of the pool.
    const auto values = blobs(2600, 30, 6, 1.0, 1);
    const auto expected = referenceDendrogram(pool(values));
    {
        ThreadCount one(1);
        expectSameDendrogram(SpadeDendrogram::computeDendrogram(pool(values), 1), expected);
    }
    {
        ThreadCount eight(8);
        expectSameDendrogram(SpadeDendrogram::computeDendrogram(pool(values), 1), expected);
        expectSameDendrogram(SpadeDendrogram::computeDendrogram(pool(values)), expected);
    }
    // Values that are no floats: the traversal keeps them as doubles.
    const auto small = blobs(300, 3, 4, 0.1, 2);
    expectSameDendrogram(SpadeDendrogram::computeDendrogram(pool(small), 1), referenceDendrogram(pool(small)));
}

TEST(SpadeDendrogram, IdenticalEventsHangBelowTheRootAndTiesGoToThePoolOrder)
{
    const auto same = SpadeDendrogram::computeDendrogram(pool(std::vector<std::vector<double>>(6, {1.0, 2.0})));
    ASSERT_EQ(same.size(), 6u);
    for (size_t i = 1; i < same.size(); ++i) {
        EXPECT_EQ(same[i].parent, 1);
        EXPECT_EQ(same[i].event, static_cast<int>(i));
    }
    std::vector<std::vector<int>> lists;
    SpadeDendrogram::cutDendrogram(3, same, lists);
    EXPECT_EQ(lists, (std::vector<std::vector<int>>{{1, 4, 5, 6}, {2}, {3}}));

    // Events 1 and 2 are equally far from the root: the earlier one comes second.
    const auto tie = SpadeDendrogram::computeDendrogram(pool({{0.0}, {5.0}, {-5.0}, {1.0}}));
    EXPECT_EQ(tie[1].event, 1);
    EXPECT_EQ(tie[2].event, 2);

    EXPECT_TRUE(SpadeDendrogram::computeDendrogram({}).empty());
}

TEST(SpadeDendrogram, CutFindsWellSeparatedBlobs)
{
    const int blobCount = 5;
    const auto values = blobs(1000, 4, blobCount, 0.5, 3);
    const auto dendrogram = SpadeDendrogram::computeDendrogram(pool(values));
    std::vector<std::vector<int>> lists;
    SpadeDendrogram::cutDendrogram(blobCount, dendrogram, lists);
    ASSERT_EQ(lists.size(), static_cast<size_t>(blobCount));
    std::set<int> seenBlobs;
    size_t total = 0;
    for (const auto& list : lists) {
        const int blob = dendrogram[list.front() - 1].event % blobCount;
        seenBlobs.insert(blob);
        for (int id : list)
            EXPECT_EQ(dendrogram[id - 1].event % blobCount, blob);
        EXPECT_EQ(list.size(), 1000u / blobCount);
        total += list.size();
    }
    EXPECT_EQ(seenBlobs.size(), static_cast<size_t>(blobCount));
    EXPECT_EQ(total, 1000u);

    // Asking for more clusters than nodes gives one list per node; 0 gives none.
    SpadeDendrogram::cutDendrogram(5000, dendrogram, lists);
    EXPECT_EQ(lists.size(), 1000u);
    SpadeDendrogram::cutDendrogram(0, dendrogram, lists);
    EXPECT_TRUE(lists.empty());
}

TEST(BoruvkaMst, MatchesTheEdgeListVersionAndSpansATree)
{
    std::mt19937 rng(4);
    std::uniform_int_distribution<int> level(0, 3);
    for (int n : {1, 2, 7, 60, 300}) {
        std::vector<std::vector<float>> medians(n, std::vector<float>(5));
        for (auto& m : medians)
            for (float& v : m)
                v = static_cast<float>(level(rng)); // many equal weights
        int expectedPasses = 0;
        const auto expected = referenceMst(medians, expectedPasses);
        for (int threads : {1, 8}) {
            ThreadCount count(threads);
            BoruvkaMst mst;
            mst.initialize(medians);
            EXPECT_EQ(mst.edgeCount(), static_cast<int64_t>(n) * (n - 1) / 2);
            EXPECT_EQ(mst.run(), expectedPasses) << n;
            const auto links = mst.edges();
            ASSERT_EQ(links.size(), expected.size()) << n;
            for (size_t e = 0; e < links.size(); ++e) {
                EXPECT_EQ(links[e].source, expected[e].source) << n << " edge " << e;
                EXPECT_EQ(links[e].target, expected[e].target) << n << " edge " << e;
                EXPECT_EQ(links[e].value, expected[e].value) << n << " edge " << e;
            }
            EXPECT_TRUE(linksFormTree(links, n)) << n;
        }
    }
}

TEST(SpadeNearestMedian, FirstNearestClusterWins)
{
    // Event (1, 1) lies 2 from clusters 0 and 1 (a tie: the lower index) and 4 from cluster 2.
    const SpadeNearestMedian nearest({{0.0f, 0.0f}, {2.0f, 2.0f}, {3.0f, 3.0f}, {0.0f, 0.0f}});
    const std::vector<float> row{9.0f, 1.0f, 1.0f};
    EXPECT_EQ(nearest.nearest(row.data(), {1, 2}), 0);
    const std::vector<float> far{0.0f, 2.4f, 2.4f};
    EXPECT_EQ(nearest.nearest(far.data(), {1, 2}), 1);
    const std::vector<float> huge{0.0f, 3e6f, 3e6f};
    EXPECT_EQ(nearest.nearest(huge.data(), {1, 2}), 2);
    const std::vector<float> nan{0.0f, NAN, 1.0f};
    EXPECT_EQ(nearest.nearest(nan.data(), {1, 2}), 0);
    EXPECT_EQ(SpadeNearestMedian({}).nearest(row.data(), {1, 2}), -1);

    // Many clusters: more than one block of the lane-parallel scan.
    std::vector<std::vector<float>> many;
    for (int c = 0; c < 150; ++c)
        many.push_back({static_cast<float>(c), static_cast<float>(-c)});
    const std::vector<float> at{0.0f, 120.2f, -120.0f};
    EXPECT_EQ(SpadeNearestMedian(many).nearest(at.data(), {1, 2}), 120);
}
