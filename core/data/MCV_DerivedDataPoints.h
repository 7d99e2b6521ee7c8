#pragma once

#include "data/MCV_DerivedData.h"
#include "data/MCV_PointIndex.h"

#include <cstdint>
#include <string>
#include <vector>

/// A list of events of the loaded samples, each named by an MCV_PointIndex,
/// with lazily computed per-parameter statistics over the merged header's
/// parameters and a grouping by sample. Values are read through the registry.
/// Every change is announced as the operation's last action: the slot may
/// reopen the files, which deletes this set with its registry.
class MCV_DerivedDataPoints : public MCV_DerivedData
{
public:
    MCV_DerivedDataPoints();

    const std::vector<MCV_PointIndex>& points() const { return m_points; }

    /// Replaces the points and marks the statistics stale; with notify set,
    /// announces dataRefreshedSignal (no call without an observer).
    void setPoints(const std::vector<MCV_PointIndex>& points, bool notify);
    void setPoints(std::vector<MCV_PointIndex>&& points, bool notify);
    /// Replaces name and points of a fresh set: no notification, stale flags untouched.
    void setNameAndPoints(const std::string& name, const std::vector<MCV_PointIndex>& points);

    void refresh() override {}
    void setDirty() override;
    /// Marks the statistics stale, then notifyDataRefreshed(sender).
    void invalidate(void* sender);

    /// Per-parameter statistics of the merged header's parameters; NaN values
    /// are skipped, 0 where no value counts. Computed first when stale.
    const std::vector<float>& means();
    const std::vector<float>& medians();
    const std::vector<float>& stdDevs();

    /// Number of listed events per registry sample, regrouped on every call.
    const std::vector<int64_t>& sampleCounts();
    /// Event indices per registry sample, in point order, as of the last
    /// grouping (sampleCounts or downsample).
    const std::vector<std::vector<int32_t>>& sampleEvents() const { return m_sampleEvents; }

    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }

    /// Fills this set with a random subset of the source: per sample s,
    /// min(targets[s], source events of s) events, in source order, samples in
    /// index order; then announces dataRefreshedSignal. A target list shorter
    /// than the sample count counts the missing targets as 0. The seed mixes
    /// the time since creation with a process-wide count of downsamplings.
    void downsample(MCV_DerivedDataPoints* source, const std::vector<int64_t>& targets);

private:
    void groupBySample();
    /// Computes every stale statistic in one pass over the columns.
    void computeStale();
    /// Computes the requested statistics in one pass over the columns; the
    /// deviations need the means (stale or computed in the same pass).
    void computeColumns(bool means, bool medians, bool stdDevs);

    std::vector<MCV_PointIndex> m_points;
    int m_tag = 0;
    std::vector<std::vector<int32_t>> m_sampleEvents;
    std::vector<int64_t> m_sampleCounts;
    std::vector<float> m_medians;
    std::vector<float> m_means;
    std::vector<float> m_stdDevs;
    bool m_mediansDirty = true;
    bool m_meansDirty = true;
    bool m_stdDevsDirty = true;
};
