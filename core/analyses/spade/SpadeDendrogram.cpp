#include "analyses/spade/SpadeDendrogram.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

/// Positions scanned per block of a parallel scan.
constexpr int64_t kBlock = 1024;
/// Below this many distance terms a scan stays on one thread.
constexpr int64_t kParallelTerms = 1 << 16;
/// A chosen node this close to the chosen ones duplicates one of them.
constexpr double kDuplicateDistance = 1e-6;

/// out[p - from] = sum over k in order of |columns[k * stride + p] - c[k]|, p in [from, to).
__attribute__((target_clones("avx512f", "avx2", "default")))
void l1ToPoint(const double* columns, int64_t stride, int dims, int64_t from, int64_t to,
               const double* c, double* out)
{
    const int64_t n = to - from;
    std::fill(out, out + n, 0.0);
    for (int k = 0; k < dims; ++k) {
        const double* col = columns + k * stride + from;
        const double ck = c[k];
        for (int64_t p = 0; p < n; ++p)
            out[p] += std::fabs(col[p] - ck);
    }
}

/// Values of a growing set of nodes, marker-major so that scans run in lanes.
class ColumnStore
{
public:
    explicit ColumnStore(int dims) : m_dims(dims) {}

    int64_t size() const { return m_size; }
    const double* data() const { return m_data.data(); }
    int64_t stride() const { return m_capacity; }

    void append(const std::vector<double>& values)
    {
        if (m_size == m_capacity) {
            const int64_t capacity = std::max<int64_t>(16, m_capacity * 2);
            std::vector<double> grown(static_cast<size_t>(capacity) * m_dims);
            for (int k = 0; k < m_dims; ++k)
                std::copy_n(m_data.begin() + k * m_capacity, m_size, grown.begin() + k * capacity);
            m_data.swap(grown);
            m_capacity = capacity;
        }
        for (int k = 0; k < m_dims; ++k)
            m_data[static_cast<size_t>(k) * m_capacity + m_size] = values[k];
        ++m_size;
    }

private:
    int m_dims;
    int64_t m_size = 0;
    int64_t m_capacity = 0;
    std::vector<double> m_data;
};

/// The first position in [0, count) of the smallest distance to c that is
/// below best (best is lowered to it); -1 when none is. Blocks are scanned in
/// parallel and combined in block order, as one serial scan would decide.
int64_t firstNearest(const ColumnStore& store, const double* c, int dims, double& best)
{
    const int64_t count = store.size();
    const int64_t blocks = (count + kBlock - 1) / kBlock;
    std::vector<double> blockBest(static_cast<size_t>(blocks));
    std::vector<int64_t> blockAt(static_cast<size_t>(blocks));
    const double start = best;
#pragma omp parallel for schedule(static) if (count * dims > kParallelTerms)
    for (int64_t b = 0; b < blocks; ++b) {
        double d[kBlock];
        const int64_t from = b * kBlock, to = std::min(count, from + kBlock);
        l1ToPoint(store.data(), store.stride(), dims, from, to, c, d);
        double local = start;
        int64_t at = -1;
        for (int64_t p = from; p < to; ++p)
            if (d[p - from] < local) {
                local = d[p - from];
                at = p;
            }
        blockBest[b] = local;
        blockAt[b] = at;
    }
    int64_t at = -1;
    for (int64_t b = 0; b < blocks; ++b)
        if (blockAt[b] >= 0 && blockBest[b] < best) {
            best = blockBest[b];
            at = blockAt[b];
        }
    return at;
}

} // namespace

std::vector<DendrogramNode> SpadeDendrogram::computeDendrogram(std::vector<DendrogramNode> pool)
{
    std::vector<DendrogramNode> dendrogram;
    if (pool.empty())
        return dendrogram;
    const int dims = static_cast<int>(pool.front().values.size());
    const int64_t total = static_cast<int64_t>(pool.size());
    dendrogram.reserve(pool.size());

    // The pool as parallel arrays in pool order; chosen nodes are marked with
    // distance -1 (no distance is below it, so they are never updated or
    // picked) and squeezed out once they are the majority.
    int64_t length = total - 1;
    std::vector<double> columns(static_cast<size_t>(std::max<int64_t>(length, 0)) * dims);
    std::vector<double> distance(static_cast<size_t>(length));
    std::vector<int> parent(static_cast<size_t>(length), -1);
    std::vector<int64_t> source(static_cast<size_t>(length));
    for (int64_t p = 0; p < length; ++p) {
        const DendrogramNode& node = pool[p + 1];
        for (int k = 0; k < dims; ++k)
            columns[static_cast<size_t>(k) * length + p] = node.values[k];
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

    std::vector<ColumnStore> levels;
    std::vector<std::vector<int>> levelIds;
    levels.emplace_back(dims);
    levels[0].append(dendrogram[0].values);
    levelIds.push_back({1});
    double farthest = 0.0; // G: the distance of the second node from the root

    while (alive > 0) {
        const DendrogramNode& chosen = dendrogram.back();
        const int chosenId = chosen.id;
        const double* c = chosen.values.data();

        const int64_t blocks = (length + kBlock - 1) / kBlock;
        std::vector<double> blockMax(static_cast<size_t>(blocks));
        std::vector<int64_t> blockAt(static_cast<size_t>(blocks));
#pragma omp parallel for schedule(static) if (length * dims > kParallelTerms)
        for (int64_t b = 0; b < blocks; ++b) {
            double d[kBlock];
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
            blockMax[b] = local;
            blockAt[b] = at;
        }
        int64_t selected = -1;
        double selectedDistance = -2.0;
        for (int64_t b = 0; b < blocks; ++b)
            if (blockMax[b] > selectedDistance) {
                selectedDistance = blockMax[b];
                selected = blockAt[b];
            }

        DendrogramNode node = std::move(pool[source[selected]]);
        node.id = chosenId + 1;
        node.distance = distance[selected];
        node.parent = parent[selected];
        node.children.clear();
        distance[selected] = -1.0;
        --alive;
        if (chosenId == 1)
            farthest = node.distance;

        const double m = node.distance;
        if (m > kDuplicateDistance) {
            int level = 1;
            while (!(m > std::ldexp(farthest, -level)))
                ++level;
            while (static_cast<int>(levels.size()) <= level) {
                levels.emplace_back(dims);
                levelIds.emplace_back();
            }
            double best = 1e16;
            int nearest = -1;
            for (int l = 0; l < level; ++l) {
                const int64_t at = firstNearest(levels[l], node.values.data(), dims, best);
                if (at >= 0)
                    nearest = levelIds[l][at];
            }
            if (nearest >= 0)
                node.parent = nearest;
            levels[level].append(node.values);
            levelIds[level].push_back(node.id);
        }
        dendrogram[node.parent - 1].children.push_back(node.id);
        dendrogram.push_back(std::move(node));

        if (alive * 2 < length && length > kBlock) {
            // Column by column, so that no value is overwritten before it moved.
            std::vector<int64_t> keep;
            keep.reserve(static_cast<size_t>(alive));
            for (int64_t p = 0; p < length; ++p)
                if (distance[p] >= 0.0)
                    keep.push_back(p);
            for (int k = 0; k < dims; ++k)
                for (int64_t q = 0; q < alive; ++q)
                    columns[static_cast<size_t>(k) * alive + q] = columns[static_cast<size_t>(k) * stride + keep[q]];
            for (int64_t q = 0; q < alive; ++q) {
                distance[q] = distance[keep[q]];
                parent[q] = parent[keep[q]];
                source[q] = source[keep[q]];
            }
            length = stride = alive;
        }
    }
    return dendrogram;
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
