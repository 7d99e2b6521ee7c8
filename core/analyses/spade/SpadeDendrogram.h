#pragma once

#include "analyses/spade/DendrogramNode.h"

#include <cstdint>
#include <vector>

/// The farthest-first dendrogram of the pooled kept events and its cut into
/// clusters. Distances are L1 over the nodes' double values, summed in
/// marker order. The parallel scans pick, among equal candidates, the one the
/// serial scan would pick, so any thread count gives the same dendrogram.
class SpadeDendrogram
{
public:
    /// Orders the pool by a farthest-first traversal: the first pool node is
    /// the root (id 1); each next node is the pool node farthest from every
    /// chosen one (the first in pool order among equal ones). A node farther
    /// than 1e-6 from the chosen ones joins the distance level
    /// G / 2^k < d <= G / 2^(k-1) (G: the second node's distance) and hangs
    /// below the nearest member of the levels above; a closer node keeps the
    /// chosen node it is nearest to. Returns the nodes in id order (node id i
    /// at index i - 1); an empty pool gives an empty dendrogram.
    /// The scans run on all threads when the first one measures at least
    /// parallelTerms marker differences (below that, waiting for the threads
    /// at every node costs more than it saves); the result is the same either way.
    static std::vector<DendrogramNode> computeDendrogram(std::vector<DendrogramNode> pool,
                                                         int64_t parallelTerms = int64_t(1) << 20);

    /// Cuts the dendrogram into the clusters seeded by nodes 1..targetCount:
    /// list b - 1 is the pre-order walk from node b that enters only children
    /// with ids above targetCount. Ids beyond the dendrogram give no list.
    static void cutDendrogram(int targetCount, const std::vector<DendrogramNode>& dendrogram,
                              std::vector<std::vector<int>>& lists);
};
