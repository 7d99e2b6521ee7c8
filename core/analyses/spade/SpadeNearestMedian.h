#pragma once

#include <cstdint>
#include <vector>

/// Finds, for an event, the cluster whose median vector is nearest in L1
/// (single precision, summed in marker order).
class SpadeNearestMedian
{
public:
    /// medians: one vector per cluster, each with one value per active marker.
    explicit SpadeNearestMedian(const std::vector<std::vector<float>>& medians);

    int clusterCount() const { return m_count; }

    /// The first cluster at the smallest distance from the event's values at
    /// markers (a row of the sample matrix); -1 when there are no clusters.
    /// Values that are not finite numbers are left out of the distances, so
    /// an event without a finite value goes to cluster 0.
    int nearest(const float* row, const std::vector<int>& markers) const;

private:
    /// nearest() for values of which some are not finite numbers.
    int nearestOverFinite(const float* values) const;

    int m_count = 0;
    int m_dims = 0;
    /// Marker-major medians, padded to whole vector blocks.
    std::vector<float> m_columns;
    int m_stride = 0;
};
