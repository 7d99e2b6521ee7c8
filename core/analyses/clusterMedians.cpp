#include "analyses/clusterMedians.h"

#include "data/MCV_DataRegistry.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

/// Below this many events a cluster is gathered on one thread: waking the
/// team costs more than the work.
constexpr int64_t kParallelEvents = 20000;

} // namespace

std::vector<std::vector<float>> clusterMedians(const MCV_DataRegistry& registry,
                                               const std::vector<std::vector<MCV_PointIndex>>& clusters,
                                               const std::vector<int>& markers)
{
    const int dims = static_cast<int>(markers.size());
    std::vector<std::vector<float>> medians(clusters.size(), std::vector<float>(static_cast<size_t>(dims), 0.0f));
    if (dims == 0)
        return medians;

    const int samples = registry.sampleCount();
    const int64_t stride = registry.parameterCount();
    std::vector<const float*> matrices(static_cast<size_t>(samples));
    std::vector<int64_t> eventCounts(static_cast<size_t>(samples));
    for (int s = 0; s < samples; ++s) {
        matrices[s] = registry.sampleData(s);
        eventCounts[s] = std::max<int64_t>(0, registry.sampleHeader(s)->eventCount());
    }
    for (int marker : markers)
        if (marker < 0 || marker >= stride)
            return medians;

    size_t largest = 0;
    for (const std::vector<MCV_PointIndex>& members : clusters)
        largest = std::max(largest, members.size());
    // Marker-major copy of one cluster's values: each row is read once for
    // all markers, then every marker's column is selected on its own.
    std::vector<float> columns(largest * static_cast<size_t>(dims));
    const float nan = std::numeric_limits<float>::quiet_NaN();

    for (size_t c = 0; c < clusters.size(); ++c) {
        const std::vector<MCV_PointIndex>& members = clusters[c];
        const int64_t count = static_cast<int64_t>(members.size());
        if (count == 0)
            continue;
        const bool parallel = count >= kParallelEvents;
#pragma omp parallel for schedule(static) if (parallel)
        for (int64_t i = 0; i < count; ++i) {
            const MCV_PointIndex& point = members[static_cast<size_t>(i)];
            const bool held = point.sampleIndex >= 0 && point.sampleIndex < samples && point.eventIndex >= 0
                              && point.eventIndex < eventCounts[point.sampleIndex];
            const float* row = held ? matrices[point.sampleIndex] + point.eventIndex * stride : nullptr;
            for (int k = 0; k < dims; ++k)
                columns[static_cast<size_t>(k * count + i)] = held ? row[markers[k]] : nan;
        }
#pragma omp parallel for schedule(static) if (parallel)
        for (int k = 0; k < dims; ++k) {
            float* begin = columns.data() + static_cast<size_t>(k * count);
            float* end = std::remove_if(begin, begin + count, [](float x) { return std::isnan(x); });
            if (begin == end)
                continue;
            float* middle = begin + (end - begin) / 2;
            std::nth_element(begin, middle, end);
            medians[c][k] = *middle;
        }
    }
    return medians;
}
