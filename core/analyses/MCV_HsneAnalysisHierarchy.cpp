#include "analyses/MCV_HsneAnalysisHierarchy.h"

#include "analyses/MCV_HsneAnalysis.h"
#include "analyses/MCV_UiInterface.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataExploration.h"
#include "data/MCV_DerivedDataHierarchy.h"
#include "data/MCV_DerivedDataPoints.h"

#include "hsne/HierarchicalSne.h"

#include <algorithm>
#include <iostream>
#include <stdexcept>

MCV_HsneAnalysisHierarchy::MCV_HsneAnalysisHierarchy() = default;

MCV_HsneAnalysisHierarchy::~MCV_HsneAnalysisHierarchy()
{
    for (MCV_HsneAnalysis* level : m_levels)
        level->setOwner(nullptr);
    m_levels.clear();
}

MCV_DerivedDataExploration* MCV_HsneAnalysisHierarchy::exploration() const
{
    if (m_exploration == nullptr || m_explorationGeneration != MCV_DataRegistry::currentGeneration())
        return nullptr;
    return m_exploration;
}

void MCV_HsneAnalysisHierarchy::setExploration(MCV_DerivedDataExploration* exploration)
{
    m_exploration = exploration;
    m_explorationGeneration = MCV_DataRegistry::currentGeneration();
    m_explorationName = exploration != nullptr ? exploration->name() : std::string();
}

void MCV_HsneAnalysisHierarchy::addLevel(MCV_HsneAnalysis* level)
{
    if (level == nullptr || std::find(m_levels.begin(), m_levels.end(), level) != m_levels.end())
        return;
    level->setOwner(this);
    m_levels.push_back(level);
}

void MCV_HsneAnalysisHierarchy::unlinkLevel(MCV_HsneAnalysis* level)
{
    m_levels.erase(std::remove(m_levels.begin(), m_levels.end(), level), m_levels.end());
}

void MCV_HsneAnalysisHierarchy::requestDeletion()
{
    if (m_deletionAnnounced)
        return;
    m_deletionRequested = true;
    if (m_computing > 0)
    {
        // The overview's loop runs inside computeHierarchy: it stops first.
        if (!m_levels.empty())
            m_levels.front()->stop();
        return;
    }
    m_deletionAnnounced = true;
    if (m_uiInterface)
        m_uiInterface->readyForDeletionSignal(this); // the owner may delete us here
}

bool MCV_HsneAnalysisHierarchy::buildHierarchy()
{
    std::cout << "Initialzing HSNE.\n" << std::flush;
    MCV_DerivedDataPoints* input = inputData();
    if (input == nullptr || input->points().empty())
        return false;
    resizeMarkerFlags();
    if (m_activeMarkerIndices.empty())
    {
        std::cout << "HSNE: No markers selected for " << m_name << "; nothing is computed." << std::endl;
        return false;
    }
    std::vector<MCV_PointIndex> points;
    if (!usableInputEvents(input->points(), "HSNE: ", "hierarchy", points))
        return false;

    vel::HierarchicalSne::Parameters parameters;
    parameters.seed = m_seed;
    parameters.areaOfInfluenceWalks = m_walksPerLandmark;
    parameters.monteCarloSelection = m_monteCarloSelection;
    parameters.walksPerPoint = m_monteCarloWalks;
    parameters.landmarkThreshold = m_landmarkThreshold;
    parameters.walkLength = m_walkLength;
    parameters.areaOfInfluencePruneThreshold = static_cast<float>(m_pruneThreshold);
    parameters.outOfCore = m_outOfCore;
    parameters.trees = 3;
    parameters.checks = 256;

    const int n = static_cast<int>(points.size());
    const int dimensions = static_cast<int>(m_activeMarkerIndices.size());
    auto hierarchy = std::make_shared<MCV_DerivedDataHierarchy>();
    hierarchy->initialize(m_name, n, dimensions, m_scaleCount, points, parameters);
    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    const int64_t parameterCount = registry->parameterCount();
    float* data = hierarchy->data().data();
#pragma omp parallel for schedule(static) if (n >= 10000)
    for (int k = 0; k < n; ++k)
    {
        const MCV_PointIndex& p = points[static_cast<size_t>(k)];
        const float* row = registry->sampleData(p.sampleIndex) + static_cast<int64_t>(p.eventIndex) * parameterCount;
        float* out = data + static_cast<int64_t>(k) * dimensions;
        for (int a = 0; a < dimensions; ++a)
            out[a] = row[m_activeMarkerIndices[static_cast<size_t>(a)]];
    }
    std::cout << "Data Prepared for HSNE.\n" << std::flush;
    try
    {
        hierarchy->computeHierarchy();
    }
    catch (const std::exception& refusal)
    {
        std::cout << "HSNE: The hierarchy of " << m_name << " is not built: " << refusal.what() << std::endl;
        return false;
    }
    // Levels keep the old hierarchy for as long as they show it.
    m_hierarchy = std::move(hierarchy);
    m_points = std::move(points);
    m_pointCount = n;
    return true;
}

bool MCV_HsneAnalysisHierarchy::computeHierarchy()
{
    ++m_computing;
    const std::weak_ptr<const bool> alive = lifetime();
    bool built = buildHierarchy();
    if (built)
    {
        if (m_levels.empty())
        {
            m_ownOverview = std::make_unique<MCV_HsneAnalysis>();
            m_ownOverview->initialize(m_uiInterface, m_name + " - Overview Level");
            addLevel(m_ownOverview.get());
        }
        MCV_HsneAnalysis* overview = m_levels.front();
        const std::string overviewName = m_name + " - Overview Level";
        std::vector<std::string> removed;
        for (size_t i = 1; i < m_levels.size(); ++i)
            removed.push_back(m_levels[i]->name());
        m_levels.resize(1);
        // The slot asks the removed levels to go; it cannot delete this analysis,
        // whose deletion waits for the end of this call.
        if (m_uiInterface)
            m_uiInterface->analysesRemovedSignal(&removed);
        if (!m_explorationName.empty() && exploration() == nullptr)
            if (MCV_DerivedDataExploration* tree = MCV_DataRegistry::instance()->createExplorationData(
                    m_explorationName, true))
                setExploration(tree);
        if (MCV_DerivedDataExploration* tree = exploration())
        {
            tree->clear();
            tree->addNode(overviewName, {}, "", true);
        }
        std::cout << ".. done!\n" << std::flush;
        // The overview may have been deleted meanwhile (window closing).
        if (!m_levels.empty() && m_levels.front() == overview && !m_deletionRequested)
            overview->rebuild(overviewName, m_hierarchy, m_hierarchy->builtScaleCount() - 1);
    }
    if (alive.expired())
        return built;
    if (--m_computing == 0 && m_deletionRequested && !m_deletionAnnounced)
    {
        m_deletionAnnounced = true;
        if (m_uiInterface)
            m_uiInterface->readyForDeletionSignal(this); // last action: the owner may delete us here
    }
    return built;
}

void MCV_HsneAnalysisHierarchy::addClusterToExploration(const std::string& clustersSetName,
                                                        const std::string& parentName, bool isLeaf)
{
    MCV_DerivedDataExploration* tree = exploration();
    if (tree == nullptr)
        return;
    const auto shown = [this] {
        std::vector<std::string> names;
        for (const MCV_HsneAnalysis* level : m_levels)
            names.push_back(level->name());
        return names;
    };
    // Renamed before the tree announces its change, so that the views follow.
    for (const auto& [earlier, renamed] : tree->tellApartEarlierClusters(parentName, shown()))
        for (MCV_HsneAnalysis* level : m_levels)
            if (level->name() == earlier)
                level->rename(renamed);
    tree->addClusterChildren(clustersSetName, parentName, isLeaf, shown());
}

void MCV_HsneAnalysisHierarchy::drillSubset(const MCV_DerivedDataHierarchy& hierarchy, int scale,
                                            const std::vector<unsigned>& landmarks, std::vector<unsigned>& subset,
                                            std::vector<vel::MapMemEff>& rows)
{
    subset.clear();
    rows.clear();
    const std::vector<int32_t>* owners = hierarchy.eventLandmarks(scale);
    if (owners == nullptr)
        return;
    const vel::HierarchicalSne::Scale& lower = hierarchy.engine()->scales()[static_cast<size_t>(scale - 1)];
    std::vector<char> chosen(static_cast<size_t>(hierarchy.landmarkCount(scale)), 0);
    for (unsigned landmark : landmarks)
        if (landmark < chosen.size())
            chosen[landmark] = 1;
    std::vector<char> inside(owners->size(), 0);
    for (size_t e = 0; e < owners->size(); ++e)
        inside[e] = (*owners)[e] >= 0 && chosen[static_cast<size_t>((*owners)[e])];
    subset = hierarchy.pointsWithin(scale - 1, inside);
    std::vector<int64_t> position(lower.transitionMatrix.size(), -1);
    for (size_t j = 0; j < subset.size(); ++j)
        position[subset[j]] = static_cast<int64_t>(j);
    rows.resize(subset.size());
    for (size_t j = 0; j < subset.size(); ++j)
    {
        if (subset[j] >= lower.transitionMatrix.size())
            continue;
        vel::MapMemEff& row = rows[j];
        double sum = 0.0;
        for (const vel::MapMemEff::Entry& entry : lower.transitionMatrix[subset[j]])
            if (entry.key < position.size() && position[entry.key] >= 0)
            {
                row.appendLargest(static_cast<uint32_t>(position[entry.key]), entry.value);
                sum += entry.value;
            }
        if (!(sum > 0.0))
        {
            row.clear();
            continue;
        }
        for (vel::MapMemEff::Entry& entry : row)
            entry.value = static_cast<float>(entry.value / sum);
    }
}

MCV_HsneAnalysis* MCV_HsneAnalysisHierarchy::createLevel(MCV_HsneAnalysis* parent,
                                                         const std::vector<unsigned>& landmarks,
                                                         const std::string& name)
{
    const auto refuse = [this](const std::string& why) -> MCV_HsneAnalysis* {
        std::cout << "HSNE: No level is created in " << m_name << ": " << why << "." << std::endl;
        return nullptr;
    };
    if (parent == nullptr || std::find(m_levels.begin(), m_levels.end(), parent) == m_levels.end()
        || parent->hierarchy() != m_hierarchy || m_hierarchy == nullptr)
        return refuse("the level it comes from is not one of its current levels");
    if (m_hierarchy->registryGeneration() != MCV_DataRegistry::currentGeneration())
        return refuse("the data were reloaded since the hierarchy was built");
    const int scale = parent->scale();
    if (scale < 1 || scale >= m_hierarchy->builtScaleCount())
        return refuse("scale " + std::to_string(scale) + " has no finer scale");
    const unsigned count = static_cast<unsigned>(m_hierarchy->landmarkCount(scale));
    for (unsigned landmark : landmarks)
        if (landmark >= count)
            return refuse("landmark " + std::to_string(landmark) + " is not one of the " + std::to_string(count)
                          + " landmarks of scale " + std::to_string(scale));
    if (landmarks.size() < 2)
        return refuse("it needs at least 2 landmarks, got " + std::to_string(landmarks.size()));

    auto subset = std::make_unique<std::vector<unsigned>>();
    auto rows = std::make_unique<std::vector<vel::MapMemEff>>();
    drillSubset(*m_hierarchy, scale, landmarks, *subset, *rows);
    if (subset->size() < 2)
        return refuse("the landmarks represent " + std::to_string(subset->size()) + " points of scale "
                      + std::to_string(scale - 1) + "; at least 2 are needed");

    auto* level = new MCV_HsneAnalysis();
    level->initialize(m_uiInterface, name);
    for (size_t m = 0; m < m_activeMarkers.size(); ++m)
        level->setMarkerActive(static_cast<int>(m), m_activeMarkers[m]);
    level->setScale(scale - 1, std::move(rows), std::move(subset));
    addLevel(level);
    if (MCV_DerivedDataExploration* tree = exploration())
        if (tree->nodeIndex(name) < 0)
            tree->addNode(name, {}, parent->name(), true);
    return level;
}

bool MCV_HsneAnalysisHierarchy::clusterLandmarks(MCV_HsneAnalysis* parent, const std::string& clustersSetName,
                                                 int cluster, std::vector<unsigned>& landmarks) const
{
    landmarks.clear();
    const auto refuse = [this](const std::string& why) {
        std::cout << "HSNE: No level is created in " << m_name << ": " << why << "." << std::endl;
        return false;
    };
    if (parent == nullptr || std::find(m_levels.begin(), m_levels.end(), parent) == m_levels.end())
        return refuse("the level it comes from is not one of its current levels");
    if (!parent->wroteClustersSet(clustersSetName))
        return refuse("the clusters set " + clustersSetName + " is not one of " + parent->name() + "'s");
    if (m_hierarchy == nullptr || m_hierarchy->registryGeneration() != MCV_DataRegistry::currentGeneration())
        return refuse("the data were reloaded since the hierarchy was built");
    if (m_hierarchy->pointsPerLandmark(parent->scale()) == nullptr)
        return refuse("scale " + std::to_string(parent->scale()) + " has no finer scale");
    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    std::vector<MCV_DerivedDataClusters*> sets = registry->clustersDataList();
    const auto found = std::find_if(sets.begin(), sets.end(),
                                    [&](MCV_DerivedDataClusters* set) { return set->name() == clustersSetName; });
    if (found == sets.end())
        return refuse("there is no clusters set " + clustersSetName);
    MCV_DerivedDataClusters* set = *found;
    if (cluster < 0 || cluster >= set->clusterCount())
        return refuse("cluster " + std::to_string(cluster) + " is not one of the "
                      + std::to_string(set->clusterCount()) + " clusters of " + clustersSetName);

    // Member events as one bit per loaded event, then per event of the hierarchy.
    std::vector<std::vector<bool>> members(static_cast<size_t>(registry->sampleCount()));
    for (int s = 0; s < registry->sampleCount(); ++s)
        members[static_cast<size_t>(s)].assign(static_cast<size_t>(registry->sampleHeader(s)->eventCount()), false);
    const auto known = [&members](const MCV_PointIndex& p) {
        return p.sampleIndex >= 0 && static_cast<size_t>(p.sampleIndex) < members.size() && p.eventIndex >= 0
               && static_cast<size_t>(p.eventIndex) < members[static_cast<size_t>(p.sampleIndex)].size();
    };
    for (const MCV_PointIndex& p : set->members()[static_cast<size_t>(cluster)])
        if (known(p))
            members[static_cast<size_t>(p.sampleIndex)][static_cast<size_t>(p.eventIndex)] = true;
    const std::vector<MCV_PointIndex>& events = m_hierarchy->points();
    std::vector<char> inside(events.size(), 0);
    for (size_t e = 0; e < events.size(); ++e)
        inside[e] = known(events[e])
                    && members[static_cast<size_t>(events[e].sampleIndex)][static_cast<size_t>(events[e].eventIndex)];

    std::vector<char> standing(static_cast<size_t>(m_hierarchy->landmarkCount(parent->scale())), 0);
    for (unsigned landmark : m_hierarchy->pointsWithin(parent->scale(), inside))
        standing[landmark] = 1;
    std::vector<unsigned> shown(static_cast<size_t>(parent->pointCount()));
    for (size_t k = 0; k < shown.size(); ++k)
        shown[k] = static_cast<unsigned>(k);
    for (unsigned landmark : parent->selectionToLandmarks(shown))
        if (landmark < standing.size() && standing[landmark])
            landmarks.push_back(landmark);
    return true;
}

MCV_DerivedData* MCV_HsneAnalysisHierarchy::createDerivedData(const std::vector<std::vector<unsigned>>&, std::string)
{
    return nullptr;
}

void MCV_HsneAnalysisHierarchy::setPreviewImages(std::vector<unsigned char*> images)
{
    images.clear();
}
