#include "analyses/spade/BoruvkaMst.h"

#include <cmath>
#include <iostream>
#include <limits>

namespace {

/// out[u] = sum over k in order of |columns[k * count + u] - columns[k * count + v]|, in single precision.
__attribute__((target_clones("avx512f", "avx2", "default")))
void weightsFrom(const float* columns, int count, int dims, int v, float* out)
{
    for (int u = 0; u < count; ++u)
        out[u] = 0.0f;
    for (int k = 0; k < dims; ++k) {
        const float* col = columns + static_cast<int64_t>(k) * count;
        const float cv = col[v];
        for (int u = 0; u < count; ++u)
            out[u] += std::fabs(col[u] - cv);
    }
}

/// Strict order of candidate edges: lighter first, then earlier in the edge
/// list. A NaN weight (from infinite medians) counts as infinitely heavy.
bool lighter(float w, int i, int j, float bestW, int bestI, int bestJ)
{
    if (w != bestW)
        return w < bestW;
    return i < bestI || (i == bestI && j < bestJ);
}

float ordered(float w)
{
    return std::isnan(w) ? std::numeric_limits<float>::infinity() : w;
}

} // namespace

void BoruvkaMst::initialize(const std::vector<std::vector<float>>& medians)
{
    m_count = static_cast<int>(medians.size());
    m_dims = m_count > 0 ? static_cast<int>(medians.front().size()) : 0;
    m_edgeCount = static_cast<int64_t>(m_count) * (m_count - 1) / 2;
    m_columns.assign(static_cast<size_t>(m_count) * m_dims, 0.0f);
    for (int v = 0; v < m_count; ++v)
        for (int k = 0; k < m_dims; ++k)
            m_columns[static_cast<size_t>(k) * m_count + v] = medians[v][k];
    m_parent.resize(static_cast<size_t>(m_count));
    for (int v = 0; v < m_count; ++v)
        m_parent[v] = v;
    m_size.assign(static_cast<size_t>(m_count), 1);
    m_result.clear();
}

int BoruvkaMst::findRoot(int v) const
{
    while (m_parent[v] != v)
        v = m_parent[v];
    return v;
}

int BoruvkaMst::run()
{
    int passes = 0;
    std::vector<int> root(static_cast<size_t>(m_count));
    std::vector<Edge> vertexBest(static_cast<size_t>(m_count));
    std::vector<char> vertexHas(static_cast<size_t>(m_count));
    std::vector<Edge> cheapest(static_cast<size_t>(m_count));
    std::vector<char> has(static_cast<size_t>(m_count));
    do {
        ++passes;
        for (int v = 0; v < m_count; ++v)
            root[v] = findRoot(v);

        // The cheapest edge at each vertex towards another component. The
        // edges at v, listed in edge order, are those to u = 0, 1, ... in turn.
#pragma omp parallel
        {
            std::vector<float> w(static_cast<size_t>(m_count));
#pragma omp for schedule(dynamic, 16)
            for (int v = 0; v < m_count; ++v) {
                weightsFrom(m_columns.data(), m_count, m_dims, v, w.data());
                int best = -1;
                float bestW = 0.0f;
                for (int u = 0; u < m_count; ++u)
                    if (root[u] != root[v] && (best < 0 || ordered(w[u]) < bestW)) {
                        best = u;
                        bestW = ordered(w[u]);
                    }
                vertexHas[v] = best >= 0;
                if (best >= 0)
                    vertexBest[v] = {std::min(v, best), std::max(v, best), w[best]};
            }
        }

        // Each component's cheapest edge: the lightest of its vertices', the
        // earliest in edge order among equals.
        std::fill(has.begin(), has.end(), 0);
        for (int v = 0; v < m_count; ++v) {
            if (!vertexHas[v])
                continue;
            const Edge& e = vertexBest[v];
            const int r = root[v];
            if (!has[r] || lighter(ordered(e.weight), e.i, e.j, ordered(cheapest[r].weight), cheapest[r].i,
                                   cheapest[r].j)) {
                cheapest[r] = e;
                has[r] = 1;
            }
        }

        bool joined = false;
        for (int r = 0; r < m_count; ++r) {
            if (!has[r])
                continue;
            const Edge& e = cheapest[r];
            const int ri = findRoot(e.i), rj = findRoot(e.j);
            if (ri == rj)
                continue;
            m_result.push_back(e);
            joined = true;
            // Union by size; on equal sizes the second endpoint's root goes below the first's.
            if (m_size[ri] < m_size[rj]) {
                m_parent[ri] = rj;
                m_size[rj] += m_size[ri];
            } else {
                m_parent[rj] = ri;
                m_size[ri] += m_size[rj];
            }
        }
        if (!joined)
            break;
    } while (static_cast<int>(m_result.size()) < m_count - 1);
    std::cout << " Found in: " << passes << " iteration(s) \n";
    return passes;
}

std::vector<MCV_DerivedDataClusters::Link> BoruvkaMst::edges() const
{
    std::vector<MCV_DerivedDataClusters::Link> links;
    links.reserve(m_result.size());
    for (const Edge& e : m_result) {
        MCV_DerivedDataClusters::Link link;
        link.value = e.weight;
        link.target = e.j;
        link.source = e.i;
        links.push_back(link);
    }
    return links;
}
