#pragma once

#include "data/MCV_PointIndex.h"

#include <vector>

class MCV_DataRegistry;

/// Per cluster, the median of each listed marker over the cluster's events,
/// in the order of `markers`: NaN values are skipped, the median is the
/// sorted value at position count / 2, and a marker without values (or an
/// empty cluster) gets 0. Events that the registry does not hold are
/// skipped. The SPADE and template-matching analyses share it; the result
/// does not depend on the thread count.
std::vector<std::vector<float>> clusterMedians(const MCV_DataRegistry& registry,
                                               const std::vector<std::vector<MCV_PointIndex>>& clusters,
                                               const std::vector<int>& markers);
