#include "analyses/spade/SpadeDendrogram.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>

#include <omp.h>

namespace {

/// Positions scanned per block of a parallel scan.
constexpr int64_t kBlock = 1024;
/// Level members scanned per block: levels are small, so finer blocks share the work evenly.
constexpr int64_t kLevelBlock = 256;
/// A chosen node this close to the chosen ones duplicates one of them.
constexpr double kDuplicateDistance = 1e-6;

/// out[p - from] = sum over k in order of |columns[k * stride + p] - c[k]| in
/// double precision, p in [from, to). Columns are stored as T: float when every
/// value is a float (half the memory traffic, the same sums), double otherwise.
template <typename T>
__attribute__((target_clones("avx512f", "avx2", "default")))
void l1ToPoint(const T* columns, int64_t stride, int dims, int64_t from, int64_t to, const double* c,
               double* out)
{
    const int64_t n = to - from;
    std::fill(out, out + n, 0.0);
    for (int k = 0; k < dims; ++k) {
        const T* col = columns + k * stride + from;
        const double ck = c[k];
        for (int64_t p = 0; p < n; ++p)
            out[p] += std::fabs(static_cast<double>(col[p]) - ck);
    }
}

/// Values of a growing set of nodes, marker-major so that scans run in lanes.
template <typename T>
class ColumnStore
{
public:
    explicit ColumnStore(int dims) : m_dims(dims) {}

    int64_t size() const { return m_size; }
    const T* data() const { return m_data.data(); }
    int64_t stride() const { return m_capacity; }

    void append(const std::vector<double>& values)
    {
        if (m_size == m_capacity) {
            const int64_t capacity = std::max<int64_t>(16, m_capacity * 2);
            std::vector<T> grown(static_cast<size_t>(capacity) * m_dims);
            for (int k = 0; k < m_dims; ++k)
                std::copy_n(m_data.begin() + k * m_capacity, m_size, grown.begin() + k * capacity);
            m_data.swap(grown);
            m_capacity = capacity;
        }
        for (int k = 0; k < m_dims; ++k)
            m_data[static_cast<size_t>(k) * m_capacity + m_size] = static_cast<T>(values[k]);
        ++m_size;
    }

private:
    int m_dims;
    int64_t m_size = 0;
    int64_t m_capacity = 0;
    std::vector<T> m_data;
};

/// A block of one level's members, scanned by one thread.
struct LevelBlock
{
    int level;
    int64_t from;
    int64_t to;
};

/// The traversal of computeDendrogram with the scanned values stored as T.
/// One parallel region spans the whole traversal: the threads scan blocks
/// of the pool and of the levels, one thread combines the block results in
/// block order (the first of equal candidates wins, as in one serial scan)
/// and makes the next node.
template <typename T>
std::vector<DendrogramNode> traverse(std::vector<DendrogramNode>& pool, int64_t parallelTerms)
{
    std::vector<DendrogramNode> dendrogram;
    const int dims = static_cast<int>(pool.front().values.size());
    const int64_t total = static_cast<int64_t>(pool.size());
    dendrogram.reserve(pool.size());

    // The pool as parallel arrays in pool order; chosen nodes are marked with
    // distance -1 (no distance is below it, so they are never updated or
    // picked) and squeezed out once they are the majority.
    int64_t length = total - 1;
    std::vector<T> columns(static_cast<size_t>(length) * dims);
    std::vector<double> distance(static_cast<size_t>(length));
    std::vector<int> parent(static_cast<size_t>(length), -1);
    std::vector<int64_t> source(static_cast<size_t>(length));
    for (int64_t p = 0; p < length; ++p) {
        const DendrogramNode& node = pool[p + 1];
        for (int k = 0; k < dims; ++k)
            columns[static_cast<size_t>(k) * length + p] = static_cast<T>(node.values[k]);
        distance[p] = node.distance;
        parent[p] = node.parent;
        source[p] = p + 1;
    }
    int64_t stride = length;
    int64_t alive = length;

    DendrogramNode root = std::move(pool[0]);
    root.id = 1;
    root.distance = 0.0;
    root.parent = -1;
    root.children.clear();
    dendrogram.push_back(std::move(root));

    std::vector<ColumnStore<T>> levels;
    std::vector<std::vector<int>> levelIds;
    levels.emplace_back(dims);
    levels[0].append(dendrogram[0].values);
    levelIds.push_back({1});
    double farthest = 0.0; // G: the distance of the second node from the root

    const int64_t maxBlocks = (length + kBlock - 1) / kBlock + 1;
    std::vector<double> blockBest(static_cast<size_t>(maxBlocks));
    std::vector<int64_t> blockAt(static_cast<size_t>(maxBlocks));
    std::vector<LevelBlock> levelBlocks;
    std::vector<double> levelBest;
    std::vector<int64_t> levelAt;
    // The node chosen last: the pool is measured against it while the levels
    // above it are searched for its parent; it enters the dendrogram after.
    DendrogramNode node;
    bool pending = false;
    int nodeLevel = 0;
    int64_t blocks = (length + kBlock - 1) / kBlock;
    bool done = alive == 0;
    bool orphan = false;
    const bool parallel = length * dims >= parallelTerms;
    // Every thread waits for all the others at each node: no more threads
    // than blocks of the pool, and (dynamic adjustment) fewer when the cores
    // are busy with other work, where a waiting thread loses its time slice.
    const int team = static_cast<int>(std::max<int64_t>(1, std::min<int64_t>(blocks, omp_get_max_threads())));
    const int dynamic = omp_get_dynamic();
    omp_set_dynamic(1);

#pragma omp parallel if (parallel) num_threads(team)
    while (!done) {
        const int chosenId = pending ? node.id : 1;
        const double* c = pending ? node.values.data() : dendrogram[0].values.data();
        const int64_t scans = blocks + static_cast<int64_t>(levelBlocks.size());
#pragma omp for schedule(static)
        for (int64_t b = 0; b < scans; ++b) {
            double d[kBlock];
            if (b < blocks) {
                const int64_t from = b * kBlock, to = std::min(length, from + kBlock);
                l1ToPoint(columns.data(), stride, dims, from, to, c, d);
                double local = -2.0;
                int64_t at = -1;
                for (int64_t p = from; p < to; ++p) {
                    if (d[p - from] < distance[p]) {
                        distance[p] = d[p - from];
                        parent[p] = chosenId;
                    }
                    if (distance[p] > local) {
                        local = distance[p];
                        at = p;
                    }
                }
                blockBest[b] = local;
                blockAt[b] = at;
            } else {
                const LevelBlock& block = levelBlocks[b - blocks];
                const ColumnStore<T>& store = levels[block.level];
                l1ToPoint(store.data(), store.stride(), dims, block.from, block.to, c, d);
                // No start distance: far-apart events still find their nearest node.
                double local = std::numeric_limits<double>::infinity();
                int64_t at = -1;
                for (int64_t p = block.from; p < block.to; ++p)
                    if (d[p - block.from] < local) {
                        local = d[p - block.from];
                        at = p;
                    }
                levelBest[b - blocks] = local;
                levelAt[b - blocks] = at;
            }
        }

#pragma omp single
        {
            if (pending) {
                if (nodeLevel > 0) {
                    double best = std::numeric_limits<double>::infinity();
                    int nearest = -1;
                    for (size_t b = 0; b < levelBlocks.size(); ++b)
                        if (levelAt[b] >= 0 && levelBest[b] < best) {
                            best = levelBest[b];
                            nearest = levelIds[levelBlocks[b].level][levelAt[b]];
                        }
                    if (nearest >= 0)
                        node.parent = nearest;
                    levels[nodeLevel].append(node.values);
                    levelIds[nodeLevel].push_back(node.id);
                }
                // Level 0 holds the root, so every finite distance finds a parent;
                // a node without one is a fault, said after the threads join.
                orphan = node.parent < 1 || node.parent > static_cast<int>(dendrogram.size());
                if (!orphan) {
                    dendrogram[node.parent - 1].children.push_back(node.id);
                    dendrogram.push_back(std::move(node));
                }
                pending = false;
            }
            levelBlocks.clear();
            if (alive == 0 || orphan) {
                done = true;
            } else {
                int64_t selected = -1;
                double selectedDistance = -2.0;
                for (int64_t b = 0; b < blocks; ++b)
                    if (blockBest[b] > selectedDistance) {
                        selectedDistance = blockBest[b];
                        selected = blockAt[b];
                    }
                node = std::move(pool[source[selected]]);
                node.id = dendrogram.back().id + 1;
                node.distance = distance[selected];
                node.parent = parent[selected];
                node.children.clear();
                distance[selected] = -1.0;
                --alive;
                pending = true;
                if (node.id == 2)
                    farthest = node.distance;

                // A node farther than a duplicate joins the level of its
                // distance and looks for its parent among the levels above.
                nodeLevel = 0;
                if (node.distance > kDuplicateDistance) {
                    nodeLevel = 1;
                    while (!(node.distance > std::ldexp(farthest, -nodeLevel)))
                        ++nodeLevel;
                    while (static_cast<int>(levels.size()) <= nodeLevel) {
                        levels.emplace_back(dims);
                        levelIds.emplace_back();
                    }
                    for (int l = 0; l < nodeLevel; ++l)
                        for (int64_t from = 0; from < levels[l].size(); from += kLevelBlock)
                            levelBlocks.push_back({l, from, std::min(levels[l].size(), from + kLevelBlock)});
                    levelBest.resize(levelBlocks.size());
                    levelAt.resize(levelBlocks.size());
                }

                if (alive * 2 < length && length > kBlock) {
                    // Column by column, so that no value is overwritten before it moved.
                    std::vector<int64_t> keep;
                    keep.reserve(static_cast<size_t>(alive));
                    for (int64_t p = 0; p < length; ++p)
                        if (distance[p] >= 0.0)
                            keep.push_back(p);
                    for (int k = 0; k < dims; ++k)
                        for (int64_t q = 0; q < alive; ++q)
                            columns[static_cast<size_t>(k) * alive + q] =
                                columns[static_cast<size_t>(k) * stride + keep[q]];
                    for (int64_t q = 0; q < alive; ++q) {
                        distance[q] = distance[keep[q]];
                        parent[q] = parent[keep[q]];
                        source[q] = source[keep[q]];
                    }
                    length = stride = alive;
                }
                blocks = (length + kBlock - 1) / kBlock;
            }
        }
    }
    omp_set_dynamic(dynamic);
    if (orphan)
        throw std::logic_error("SPADE dendrogram: a node has no parent above its level");
    return dendrogram;
}

} // namespace

std::vector<DendrogramNode> SpadeDendrogram::computeDendrogram(std::vector<DendrogramNode> pool,
                                                               int64_t parallelTerms)
{
    if (pool.empty())
        return {};
    for (const DendrogramNode& node : pool)
        for (double v : node.values)
            if (static_cast<double>(static_cast<float>(v)) != v && !std::isnan(v))
                return traverse<double>(pool, parallelTerms);
    return traverse<float>(pool, parallelTerms);
}

void SpadeDendrogram::cutDendrogram(int targetCount, const std::vector<DendrogramNode>& dendrogram,
                                    std::vector<std::vector<int>>& lists)
{
    const int seeds = std::max(0, std::min(targetCount, static_cast<int>(dendrogram.size())));
    lists.assign(static_cast<size_t>(seeds), {});
    std::vector<int> stack;
    for (int b = 1; b <= seeds; ++b) {
        std::vector<int>& list = lists[b - 1];
        stack.assign(1, b);
        while (!stack.empty()) {
            const int id = stack.back();
            stack.pop_back();
            list.push_back(id);
            const std::vector<int>& children = dendrogram[id - 1].children;
            for (auto it = children.rbegin(); it != children.rend(); ++it)
                if (*it > targetCount)
                    stack.push_back(*it);
        }
    }
}
