#include "data/MCV_DerivedDataPoints.h"

#include "analyses/MCV_UiInterface.h"
#include "data/MCV_DataRegistry.h"
#include "data/PointStatistics.h"
#include "helpers/clock.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <iostream>
#include <random>
#include <utility>

MCV_DerivedDataPoints::MCV_DerivedDataPoints()
{
    m_type = MCV_DerivedDataTypePoints;
}

void MCV_DerivedDataPoints::setPoints(const std::vector<MCV_PointIndex>& points, bool notify)
{
    setPoints(std::vector<MCV_PointIndex>(points), notify);
}

void MCV_DerivedDataPoints::setPoints(std::vector<MCV_PointIndex>&& points, bool notify)
{
    m_points = std::move(points);
    setDirty();
    if (notify && m_uiInterface)
        m_uiInterface->dataRefreshedSignal(this);
}

void MCV_DerivedDataPoints::setNameAndPoints(const std::string& name,
                                             const std::vector<MCV_PointIndex>& points)
{
    m_name = name;
    m_points = points;
}

void MCV_DerivedDataPoints::setDirty()
{
    m_mediansDirty = true;
    m_meansDirty = true;
    m_stdDevsDirty = true;
}

void MCV_DerivedDataPoints::invalidate(void* sender)
{
    setDirty();
    notifyDataRefreshed(sender);
}

const std::vector<float>& MCV_DerivedDataPoints::means()
{
    if (m_meansDirty)
        computeStale();
    return m_means;
}

const std::vector<float>& MCV_DerivedDataPoints::medians()
{
    if (m_mediansDirty)
        computeStale();
    return m_medians;
}

const std::vector<float>& MCV_DerivedDataPoints::stdDevs()
{
    if (m_stdDevsDirty)
        computeStale();
    return m_stdDevs;
}

void MCV_DerivedDataPoints::computeStale()
{
    // Reading a column is the costly part: every stale statistic is computed
    // from the one read.
    computeColumns(m_meansDirty, m_mediansDirty, m_stdDevsDirty);
}

void MCV_DerivedDataPoints::computeColumns(bool means, bool medians, bool stdDevs)
{
    const PointStatistics statistics(*MCV_DataRegistry::instance());
    const int64_t parameters = statistics.parameterCount();
    if (means)
        m_means.assign(parameters, 0.0f);
    if (medians)
        m_medians.assign(parameters, 0.0f);
    std::vector<double> squaredSums;
    if (stdDevs) {
        m_stdDevs.assign(parameters, 0.0f);
        squaredSums.assign(parameters, 0.0);
    }

    // One column per iteration, each column summed by one thread in point
    // order: the figures are the same at any thread count.
#pragma omp parallel
    {
        std::vector<float> values;
#pragma omp for schedule(static)
        for (int64_t j = 0; j < parameters; ++j) {
            statistics.gather(m_points, j, values);
            if (means)
                m_means[j] = PointStatistics::mean(values);
            if (stdDevs) {
                squaredSums[j] = PointStatistics::squaredDeviationSum(values, m_means[j]);
                m_stdDevs[j] = PointStatistics::stdDev(squaredSums[j], static_cast<int64_t>(values.size()));
            }
            if (medians)
                m_medians[j] = PointStatistics::median(values);
        }
    }

    if (means)
        m_meansDirty = false;
    if (medians)
        m_mediansDirty = false;
    if (stdDevs) {
        m_stdDevsDirty = false;
        for (int64_t j = 0; j < parameters; ++j)
            if (std::isnan(m_stdDevs[j]))
                PointStatistics::reportNanStdDev(static_cast<int64_t>(m_points.size()), squaredSums[j],
                                                 m_stdDevs[j]);
    }
}

void MCV_DerivedDataPoints::groupBySample()
{
    const int samples = MCV_DataRegistry::instance()->sampleCount();
    m_sampleEvents.assign(samples, {});
    for (const MCV_PointIndex& point : m_points)
        if (point.sampleIndex >= 0 && point.sampleIndex < samples)
            m_sampleEvents[point.sampleIndex].push_back(point.eventIndex);
    m_sampleCounts.assign(samples, 0);
    for (int s = 0; s < samples; ++s)
        m_sampleCounts[s] = static_cast<int64_t>(m_sampleEvents[s].size());
}

const std::vector<int64_t>& MCV_DerivedDataPoints::sampleCounts()
{
    groupBySample();
    return m_sampleCounts;
}

void MCV_DerivedDataPoints::downsample(MCV_DerivedDataPoints* source,
                                       const std::vector<int64_t>& targets)
{
    source->groupBySample();
    // A copy, so that a set can be downsampled from itself.
    const std::vector<std::vector<int32_t>> sourceEvents = source->m_sampleEvents;
    const int samples = static_cast<int>(sourceEvents.size());

    // A target beyond the sample's events in the source keeps them all.
    std::vector<int64_t> kept(samples, 0);
    int64_t total = 0;
    for (int s = 0; s < samples; ++s) {
        const int64_t available = static_cast<int64_t>(sourceEvents[s].size());
        const int64_t target = s < static_cast<int>(targets.size()) ? targets[s] : 0;
        kept[s] = std::clamp<int64_t>(target, 0, available);
        total += kept[s];
    }

    std::cout << "\nDownsampling to " << total << " points total.\n";
    m_points.clear();
    m_points.reserve(total);
    m_sampleEvents.assign(samples, {});

    // A set downsampled right after it was made sees nearly the same elapsed
    // time every time: a process-wide count of downsamplings, spread over
    // the 32 bits, keeps consecutive seeds apart.
    static std::atomic<uint32_t> downsamplings{0};
    const uint32_t seed = static_cast<uint32_t>(orb::currentTicks() - m_creationTime)
                          + downsamplings.fetch_add(1) * 0x9E3779B9u;
    const std::mt19937 seeded(seed);
    std::vector<bool> drawn;
    for (int s = 0; s < samples; ++s) {
        const std::vector<int32_t>& events = sourceEvents[s];
        const int64_t available = static_cast<int64_t>(events.size());
        std::cout << "\nFile " << s << " target is " << kept[s] << " from " << available << ".\n";

        // Draw the smaller side: the events to keep, or those to leave out.
        int64_t draws = kept[s];
        const bool inverse = 2 * kept[s] >= available;
        if (inverse) {
            std::cout << "Inversing sampling.\n";
            draws = available - kept[s];
        }

        // Every sample draws the same sequence from the same seeded engine.
        std::mt19937 engine = seeded;
        drawn.assign(available, false);
        if (draws > 0) {
            std::uniform_int_distribution<int64_t> position(0, available - 1);
            for (int64_t d = 0; d < draws; ++d) {
                int64_t p = position(engine);
                while (drawn[p])
                    p = position(engine);
                drawn[p] = true;
            }
        }

        std::vector<int32_t>& keptEvents = m_sampleEvents[s];
        keptEvents.reserve(kept[s]);
        for (int64_t p = 0; p < available; ++p) {
            if (drawn[p] != inverse) {
                keptEvents.push_back(events[p]);
                m_points.push_back({s, events[p]});
            }
        }
    }

    m_sampleCounts.assign(samples, 0);
    for (int s = 0; s < samples; ++s)
        m_sampleCounts[s] = static_cast<int64_t>(m_sampleEvents[s].size());
    setDirty();
    if (m_uiInterface)
        m_uiInterface->dataRefreshedSignal(this);
}
