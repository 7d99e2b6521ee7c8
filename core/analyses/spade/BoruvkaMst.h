#pragma once

#include "data/MCV_DerivedDataClusters.h"

#include <cstdint>
#include <vector>

/// Borůvka's minimum spanning tree over the complete graph of cluster
/// medians. Edge (i, j), i < j, weighs the single-precision L1 distance of
/// the two median vectors; the edges are ordered by i, then j, and ties go to
/// the edge earlier in that order, so the tree does not depend on the thread
/// count. The edges are not stored: each pass measures them afresh, which
/// keeps memory linear in the cluster count.
class BoruvkaMst
{
public:
    struct Edge
    {
        int i = 0;
        int j = 0;
        float weight = 0.0f;
    };

    /// One vertex per median vector (all of equal length); every vertex its own component.
    void initialize(const std::vector<std::vector<float>>& medians);
    /// Runs passes until the tree spans every vertex (at least one pass);
    /// prints the pass count; returns it.
    int run();
    /// The accepted edges in acceptance order as links {weight, target j, source i}.
    std::vector<MCV_DerivedDataClusters::Link> edges() const;

    int vertexCount() const { return m_count; }
    /// n (n - 1) / 2.
    int64_t edgeCount() const { return m_edgeCount; }

private:
    /// Root of v's component, following parent links.
    int findRoot(int v) const;

    int m_count = 0;
    int m_dims = 0;
    int64_t m_edgeCount = 0;
    /// Marker-major medians: all vertices of marker 0, then of marker 1, ...
    std::vector<float> m_columns;
    std::vector<int> m_parent;
    std::vector<int> m_size;
    std::vector<Edge> m_result;
};
