#pragma once

#include <cstdint>
#include <string>
#include <vector>

/// One node of the user's drill-down: a level or a cluster, with its
/// thumbnails (base64 PNG texts of 768, 384 and 192 pixels square, empty
/// where there is none) and, for cluster nodes, the cluster's statistics.
struct ExplorationNode
{
    std::string name;
    int parent = -1;
    std::vector<int> children;
    std::string images[3];
    int clusterId = 0;
    std::string clusterSetName;
    /// MCV_DerivedDataClusters::clusterRevision of the cluster when the node was made.
    uint64_t clusterRevision = 0;
    float hue = -1.0f;
    int size = 0;
    bool isLeaf = false;
    std::vector<float> expression;
    std::vector<float> variation;
};
