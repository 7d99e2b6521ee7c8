#include "analyses/clusterMedians.h"

#include "data/MCV_DataRegistry.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>

namespace {

/// Below this many events a cluster is gathered on one thread: waking the
/// team costs more than the work.
constexpr int64_t kParallelEvents = 20000;
/// Below this many values a selection is left to std::nth_element.
constexpr int64_t kRadixValues = 4096;

/// Unsigned keys in the order of the (non-NaN) floats they stand for.
uint32_t orderedKey(float x)
{
    uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return (bits & 0x80000000u) ? ~bits : (bits | 0x80000000u);
}

/// The value at position rank of the values in ascending order (no NaN
/// among them); reorders them. Radix selection: each pass counts one digit
/// of the keys and keeps only the values whose digits so far match the
/// rank's, the last few go to std::nth_element.
float selectAt(float* values, int64_t count, int64_t rank)
{
    static constexpr int kDigits[3] = {11, 11, 10};
    int shift = 32;
    for (int digitBits : kDigits) {
        if (count < kRadixValues)
            break;
        shift -= digitBits;
        const uint32_t mask = (1u << digitBits) - 1;
        std::vector<int64_t> histogram(size_t(1) << digitBits, 0);
        for (int64_t i = 0; i < count; ++i)
            ++histogram[(orderedKey(values[i]) >> shift) & mask];
        uint32_t digit = 0;
        while (rank >= histogram[digit])
            rank -= histogram[digit++];
        int64_t kept = 0;
        for (int64_t i = 0; i < count; ++i)
            if (((orderedKey(values[i]) >> shift) & mask) == digit)
                values[kept++] = values[i];
        count = kept;
        // The values left agree on every digit so far: keys equal in all bits are equal values.
        if (shift == 0)
            return values[0];
    }
    std::nth_element(values, values + rank, values + count);
    return values[rank];
}

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
    // Not zero-filled: every value read is written first, and the pages are
    // first touched by the threads that gather.
    const std::unique_ptr<float[]> columns(new float[largest * static_cast<size_t>(dims)]);
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
            float* begin = columns.get() + static_cast<size_t>(k * count);
            float* end = std::remove_if(begin, begin + count, [](float x) { return std::isnan(x); });
            if (begin == end)
                continue;
            medians[c][k] = selectAt(begin, end - begin, (end - begin) / 2);
        }
    }
    return medians;
}
