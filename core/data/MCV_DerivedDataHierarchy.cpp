#include "data/MCV_DerivedDataHierarchy.h"

#include "data/MCV_DataRegistry.h"

#include <algorithm>
#include <iostream>

MCV_DerivedDataHierarchy::MCV_DerivedDataHierarchy()
{
    m_type = MCV_DerivedDataTypeHierarchy;
}

MCV_DerivedDataHierarchy::~MCV_DerivedDataHierarchy() = default;

void MCV_DerivedDataHierarchy::initialize(const std::string& name, int pointCount, int dimensions, int scaleCount,
                                          const std::vector<MCV_PointIndex>& points,
                                          const vel::HierarchicalSne::Parameters& parameters)
{
    m_log = std::make_unique<vel::utils::CoutLog>();
    m_name = name;
    m_pointCount = pointCount;
    m_dimensions = dimensions;
    m_scaleCount = scaleCount;
    m_points = points;
    m_parameters = parameters;
    m_data.assign(static_cast<size_t>(pointCount) * static_cast<size_t>(dimensions), 0.0f);
    m_engine.reset();
    m_pointsPerLandmark.clear();
    m_eventLandmarks.clear();
    m_registryGeneration = MCV_DataRegistry::currentGeneration();
    m_sampleKeys.clear();
    if (m_registryGeneration != 0)
        m_sampleKeys = MCV_DataRegistry::instance()->sampleKeys();
}

void MCV_DerivedDataHierarchy::computeHierarchy()
{
    m_engine.reset();
    m_pointsPerLandmark.clear();
    m_eventLandmarks.clear();
    auto engine = std::make_unique<vel::HierarchicalSne>();
    engine->setLog(m_log.get());
    engine->setDimensionality(m_dimensions);
    engine->initialize(m_data.data(), static_cast<uint32_t>(m_pointCount), m_parameters);
    engine->logStatistics(m_log.get());
    for (int s = 1; s < m_scaleCount; ++s)
        if (!engine->addScale())
            break;
    m_engine = std::move(engine);
    cachePointsPerLandmark();
}

int MCV_DerivedDataHierarchy::builtScaleCount() const
{
    return m_engine ? static_cast<int>(m_engine->scales().size()) : 0;
}

const std::vector<vel::MapMemEff>* MCV_DerivedDataHierarchy::transitionMatrix(int scale) const
{
    if (scale < 0 || scale >= builtScaleCount())
        return nullptr;
    return &m_engine->scales()[static_cast<size_t>(scale)].transitionMatrix;
}

int MCV_DerivedDataHierarchy::landmarkCount(int scale) const
{
    if (scale < 0 || scale >= builtScaleCount())
        return 0;
    return static_cast<int>(m_engine->scales()[static_cast<size_t>(scale)].size());
}

namespace {

/// out := table (or table at the subset's entries); subset entries outside the table are skipped.
template <typename Out, typename In>
void gather(const std::vector<In>& table, std::vector<Out>& out, const std::vector<unsigned>* subset)
{
    out.clear();
    if (subset == nullptr)
    {
        out.assign(table.begin(), table.end());
        return;
    }
    out.reserve(subset->size());
    for (unsigned landmark : *subset)
        if (landmark < table.size())
            out.push_back(static_cast<Out>(table[landmark]));
}

} // namespace

void MCV_DerivedDataHierarchy::landmarkOriginalIndices(int scale, std::vector<int>& out,
                                                       const std::vector<unsigned>* subset) const
{
    if (scale < 0 || scale >= builtScaleCount())
        return;
    gather(m_engine->scales()[static_cast<size_t>(scale)].landmarkToDataPoint, out, subset);
}

void MCV_DerivedDataHierarchy::landmarkWeights(int scale, std::vector<float>& out,
                                               const std::vector<unsigned>* subset) const
{
    if (scale < 0 || scale >= builtScaleCount())
        return;
    gather(m_engine->scales()[static_cast<size_t>(scale)].landmarkWeights, out, subset);
}

const std::vector<std::vector<MCV_PointIndex>>* MCV_DerivedDataHierarchy::pointsPerLandmark(int scale) const
{
    if (scale < 1 || static_cast<size_t>(scale) >= m_pointsPerLandmark.size())
        return nullptr;
    return &m_pointsPerLandmark[static_cast<size_t>(scale)];
}

const std::vector<int32_t>* MCV_DerivedDataHierarchy::eventLandmarks(int scale) const
{
    if (scale < 1 || static_cast<size_t>(scale) >= m_eventLandmarks.size())
        return nullptr;
    return &m_eventLandmarks[static_cast<size_t>(scale)];
}

std::vector<unsigned> MCV_DerivedDataHierarchy::pointsWithin(int scale, const std::vector<char>& inside) const
{
    std::vector<unsigned> points;
    const size_t n = std::min(inside.size(), static_cast<size_t>(m_pointCount));
    if (scale == 0 && builtScaleCount() > 0)
    {
        for (size_t e = 0; e < n; ++e)
            if (inside[e])
                points.push_back(static_cast<unsigned>(e));
        return points;
    }
    const std::vector<int32_t>* owners = eventLandmarks(scale);
    if (owners == nullptr)
        return points;
    const vel::HierarchicalSne::Scale& landmarks = m_engine->scales()[static_cast<size_t>(scale)];
    std::vector<int64_t> listed(landmarks.size(), 0);
    std::vector<int64_t> flagged(landmarks.size(), 0);
    for (size_t e = 0; e < n; ++e)
    {
        const int32_t owner = (*owners)[e];
        if (owner < 0)
            continue;
        ++listed[static_cast<size_t>(owner)];
        flagged[static_cast<size_t>(owner)] += inside[e] != 0;
    }
    for (size_t l = 0; l < listed.size(); ++l)
    {
        const uint32_t own = landmarks.landmarkToDataPoint[l];
        if (listed[l] > 0 ? 2 * flagged[l] > listed[l] : own < n && inside[own])
            points.push_back(static_cast<unsigned>(l));
    }
    return points;
}

void MCV_DerivedDataHierarchy::cachePointsPerLandmark()
{
    std::cout << "Caching Points per Landmark... " << std::flush;
    const int scales = builtScaleCount();
    const int64_t n = m_pointCount;
    const vel::HierarchicalSne& engine = *m_engine;
    m_eventLandmarks.assign(static_cast<size_t>(scales), {});
    for (int s = 1; s < scales; ++s)
        m_eventLandmarks[static_cast<size_t>(s)].assign(static_cast<size_t>(n), -1);
    // candidates[(s - 1) * n + e]: the landmarks of scale s that event e influences.
    std::vector<int32_t> candidates(static_cast<size_t>(scales > 1 ? scales - 1 : 0) * static_cast<size_t>(n), 0);

#pragma omp parallel if (n >= 1000)
    {
        std::vector<vel::MapMemEff> maps;
#pragma omp for schedule(static)
        for (int64_t e = 0; e < n; ++e)
        {
            float threshold = 0.01f;
            for (int attempt = 0; attempt < 4; ++attempt, threshold *= 0.1f)
            {
                engine.influenceOverScales(static_cast<uint32_t>(e), maps, threshold, true);
                bool complete = true;
                for (int s = 1; s < scales; ++s)
                    complete = complete && !maps[static_cast<size_t>(s)].empty();
                if (complete)
                    break;
            }
            for (int s = 1; s < scales; ++s)
            {
                const vel::MapMemEff& map = maps[static_cast<size_t>(s)];
                int32_t landmark = -1;
                float largest = 0.0f;
                for (const vel::MapMemEff::Entry& entry : map)
                    if (landmark < 0 || entry.value >= largest)
                    {
                        landmark = static_cast<int32_t>(entry.key);
                        largest = entry.value;
                    }
                if (landmark >= 0 && static_cast<uint32_t>(landmark) < engine.scales()[static_cast<size_t>(s)].size())
                    m_eventLandmarks[static_cast<size_t>(s)][static_cast<size_t>(e)] = landmark;
                candidates[static_cast<size_t>(s - 1) * static_cast<size_t>(n) + static_cast<size_t>(e)] =
                    static_cast<int32_t>(map.size());
            }
        }
    }

    m_pointsPerLandmark.assign(static_cast<size_t>(scales), {});
    for (int s = 1; s < scales; ++s)
    {
        const std::vector<int32_t>& chosen = m_eventLandmarks[static_cast<size_t>(s)];
        std::vector<int64_t> counts(engine.scales()[static_cast<size_t>(s)].size(), 0);
        for (int32_t landmark : chosen)
            if (landmark >= 0)
                ++counts[static_cast<size_t>(landmark)];
        std::vector<std::vector<MCV_PointIndex>>& lists = m_pointsPerLandmark[static_cast<size_t>(s)];
        lists.resize(counts.size());
        for (size_t l = 0; l < counts.size(); ++l)
            lists[l].reserve(static_cast<size_t>(counts[l]));
        for (int64_t e = 0; e < n; ++e)
        {
            if (chosen[static_cast<size_t>(e)] >= 0)
                lists[static_cast<size_t>(chosen[static_cast<size_t>(e)])].push_back(m_points[static_cast<size_t>(e)]);
            else
                std::cout << "Couldn't find landmark for point " << e << " at scale " << s
                          << " num possible landmarks "
                          << candidates[static_cast<size_t>(s - 1) * static_cast<size_t>(n) + static_cast<size_t>(e)]
                          << "\n";
        }
    }
    std::cout << "Done.\n" << std::flush;
}
