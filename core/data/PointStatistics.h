#pragma once

#include "data/MCV_PointIndex.h"

#include <cstdint>
#include <vector>

class MCV_DataRegistry;

/// Per-parameter statistics over lists of events, shared by the points and
/// clusters sets: NaN values are skipped, sums run in double and results are
/// stored as float, the median is the sorted value at count / 2, and every
/// statistic is 0 when no value counts. Each column is computed by one
/// thread in point order, so results do not depend on the thread count.
class PointStatistics
{
public:
    /// Captures the sample matrices, event counts and row width of a registry.
    explicit PointStatistics(const MCV_DataRegistry& registry);

    int64_t parameterCount() const { return m_parameterCount; }
    int sampleCount() const { return static_cast<int>(m_matrices.size()); }
    /// True when the point names an event of a loaded sample.
    bool contains(const MCV_PointIndex& point) const;

    /// Replaces values by the non-NaN values of one parameter of the valid points, in point order.
    void gather(const std::vector<MCV_PointIndex>& points, int64_t parameter,
                std::vector<float>& values) const;

    static float mean(const std::vector<float>& values);
    /// Sum of (mean - x)^2 over the values.
    static double squaredDeviationSum(const std::vector<float>& values, float mean);
    /// Population deviation from the squared-deviation sum.
    static float stdDev(double squaredSum, int64_t count);
    /// The value at position count / 2 of the sorted values; reorders them.
    static float median(std::vector<float>& values);

    /// Prints the three diagnostic lines of a deviation that came out NaN.
    static void reportNanStdDev(int64_t pointCount, double squaredSum, float value);

private:
    std::vector<const float*> m_matrices;
    std::vector<int64_t> m_eventCounts;
    int64_t m_parameterCount = 0;
};
