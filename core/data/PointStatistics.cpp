#include "data/PointStatistics.h"

#include "data/MCV_DataRegistry.h"

#include <algorithm>
#include <cmath>
#include <iostream>

PointStatistics::PointStatistics(const MCV_DataRegistry& registry)
    : m_parameterCount(registry.parameterCount())
{
    const int samples = registry.sampleCount();
    m_matrices.reserve(samples);
    m_eventCounts.reserve(samples);
    for (int s = 0; s < samples; ++s) {
        m_matrices.push_back(registry.sampleData(s));
        m_eventCounts.push_back(std::max<int64_t>(0, registry.sampleHeader(s)->eventCount()));
    }
}

bool PointStatistics::contains(const MCV_PointIndex& point) const
{
    return point.sampleIndex >= 0 && point.sampleIndex < sampleCount() && point.eventIndex >= 0
           && point.eventIndex < m_eventCounts[point.sampleIndex];
}

void PointStatistics::gather(const std::vector<MCV_PointIndex>& points, int64_t parameter,
                             std::vector<float>& values) const
{
    values.clear();
    if (parameter < 0 || parameter >= m_parameterCount)
        return;
    for (const MCV_PointIndex& point : points) {
        if (!contains(point))
            continue;
        const float x = m_matrices[point.sampleIndex][point.eventIndex * m_parameterCount + parameter];
        if (!std::isnan(x))
            values.push_back(x);
    }
}

float PointStatistics::mean(const std::vector<float>& values)
{
    if (values.empty())
        return 0.0f;
    double sum = 0.0;
    for (float x : values)
        sum += x;
    return static_cast<float>(sum / static_cast<double>(values.size()));
}

double PointStatistics::squaredDeviationSum(const std::vector<float>& values, float mean)
{
    double sum = 0.0;
    for (float x : values) {
        const double d = static_cast<double>(mean) - x;
        sum += d * d;
    }
    return sum;
}

float PointStatistics::stdDev(double squaredSum, int64_t count)
{
    if (count == 0)
        return 0.0f;
    return static_cast<float>(std::sqrt(squaredSum / static_cast<double>(count)));
}

float PointStatistics::median(std::vector<float>& values)
{
    if (values.empty())
        return 0.0f;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

void PointStatistics::reportNanStdDev(int64_t pointCount, double squaredSum, float value)
{
    std::cout << "numPoints " << pointCount << "\n"
              << "stdDev " << squaredSum << "\n"
              << "value " << value << "\n";
}
