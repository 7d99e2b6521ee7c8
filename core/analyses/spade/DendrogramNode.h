#pragma once

#include <vector>

/// One pooled kept event in the SPADE dendrogram.
struct DendrogramNode
{
    /// Traversal order: 1 for the root, then 2, 3, ... as nodes are chosen.
    int id = 0;
    /// The event's active-marker values, in the order of the marker list.
    std::vector<double> values;
    /// L1 distance to the nearest node chosen before it; 0 for the root.
    double distance = 99999999.9;
    /// Id of the parent node; -1 for the root.
    int parent = -1;
    /// Ids of the nodes whose parent this is, in the order they were attached.
    std::vector<int> children;
    /// Event index in its file.
    int event = 0;
    /// Sample (file) index.
    int file = 0;
};
