#include "data/MCV_DerivedDataHierarchy.h"

#include "data/MCV_DataRegistry.h"

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
    m_registryGeneration = MCV_DataRegistry::currentGeneration();
}

void MCV_DerivedDataHierarchy::computeHierarchy()
{
    m_engine.reset();
    m_pointsPerLandmark.clear();
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

void MCV_DerivedDataHierarchy::cachePointsPerLandmark()
{
    std::cout << "Caching Points per Landmark... " << std::flush;
    const int scales = builtScaleCount();
    const int64_t n = m_pointCount;
    // best[(s - 1) * n + e]: the landmark of scale s that event e goes to, -1 for none.
    std::vector<int32_t> best(static_cast<size_t>(scales > 1 ? scales - 1 : 0) * static_cast<size_t>(n), -1);
    std::vector<int32_t> candidates(best.size(), 0);
    const vel::HierarchicalSne& engine = *m_engine;

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
                const size_t slot = static_cast<size_t>(s - 1) * static_cast<size_t>(n) + static_cast<size_t>(e);
                best[slot] = landmark;
                candidates[slot] = static_cast<int32_t>(map.size());
            }
        }
    }

    m_pointsPerLandmark.assign(static_cast<size_t>(scales), {});
    for (int s = 1; s < scales; ++s)
    {
        const size_t landmarks = engine.scales()[static_cast<size_t>(s)].size();
        if (landmarks == 0)
            continue;
        const int32_t* chosen = best.data() + static_cast<size_t>(s - 1) * static_cast<size_t>(n);
        std::vector<int64_t> counts(landmarks, 0);
        for (int64_t e = 0; e < n; ++e)
            if (chosen[e] >= 0 && static_cast<size_t>(chosen[e]) < landmarks)
                ++counts[static_cast<size_t>(chosen[e])];
        std::vector<std::vector<MCV_PointIndex>>& lists = m_pointsPerLandmark[static_cast<size_t>(s)];
        lists.resize(landmarks);
        for (size_t l = 0; l < landmarks; ++l)
            lists[l].reserve(static_cast<size_t>(counts[l]));
        for (int64_t e = 0; e < n; ++e)
        {
            if (chosen[e] >= 0 && static_cast<size_t>(chosen[e]) < landmarks)
                lists[static_cast<size_t>(chosen[e])].push_back(m_points[static_cast<size_t>(e)]);
            else
                std::cout << "Couldn't find landmark for point " << e << " at scale " << s
                          << " num possible landmarks "
                          << candidates[static_cast<size_t>(s - 1) * static_cast<size_t>(n) + static_cast<size_t>(e)]
                          << "\n";
        }
    }
    std::cout << "Done.\n" << std::flush;
}
