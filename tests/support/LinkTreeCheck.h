#pragma once

#include "data/MCV_DerivedDataClusters.h"

#include <vector>

/// True when the links join clusters 0..count-1 into one tree: count - 1
/// links, every endpoint a cluster, no cycle.
bool linksFormTree(const std::vector<MCV_DerivedDataClusters::Link>& links, int count);
