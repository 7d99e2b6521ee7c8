#pragma once

#include <cstdint>
#include <functional>
#include <vector>

/// Exact L1 neighbourhood counting over one file's events.
///
/// A distance is the sum of |a[m] - b[m]| over the active markers, taken in
/// the order of the marker list and accumulated in single precision; every
/// result here equals what the plain quadratic loop over that distance gives.
/// The speed comes only from steps that cannot change which pairs qualify:
/// each pair is measured once for both events, many pairs are measured side
/// by side in vector lanes (each lane still sums its markers in order), a
/// pair's sum stops once it can no longer qualify (the sum of non-negative
/// floats never decreases), and groups of events are accepted or skipped
/// whole when exact bounds with a margin wider than any float rounding error
/// decide them.
class SpadeDensityCounter
{
public:
    /// Called with 10, 20, ... 100 as the work advances (from one thread at a time).
    using Progress = std::function<void(int percent)>;

    /// matrix: eventCount rows of rowStride floats; markers: the active marker
    /// columns in the order their differences are summed. The values are copied.
    SpadeDensityCounter(const float* matrix, int64_t eventCount, int64_t rowStride,
                        const std::vector<int>& markers);
    /// Over the listed rows of the matrix only: event i here is row rows[i].
    SpadeDensityCounter(const float* matrix, const std::vector<int64_t>& rows, int64_t rowStride,
                        const std::vector<int>& markers);

    int64_t eventCount() const { return m_events; }
    int markerCount() const { return m_dims; }

    /// The L1 distance between two events, summed in marker order in single precision.
    float distance(int64_t a, int64_t b) const;

    /// For every listed event: the smallest distance to any other event of the
    /// file, 1e8 when none is smaller (NaN distances never count).
    std::vector<float> nearestDistances(const std::vector<int64_t>& samples, int threads,
                                        const Progress& progress = {}) const;

    /// For every event: the number of other events whose distance is at most radius.
    std::vector<int32_t> countWithin(float radius, int threads, const Progress& progress = {}) const;

private:
    /// Value of marker column k of event e.
    float value(int k, int64_t e) const { return m_columns[static_cast<size_t>(k) * m_events + e]; }

    int64_t m_events = 0;
    int m_dims = 0;
    /// Marker-major copy of the active columns: all events of marker 0, then of marker 1, ...
    std::vector<float> m_columns;
};
