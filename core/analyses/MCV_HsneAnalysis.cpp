#include "analyses/MCV_HsneAnalysis.h"

#include "analyses/MCV_HsneAnalysisHierarchy.h"
#include "analyses/MCV_UiInterface.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataExploration.h"
#include "data/MCV_DerivedDataHierarchy.h"
#include "data/MCV_DerivedDataPoints.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <utility>

MCV_HsneAnalysis::MCV_HsneAnalysis()
    : m_log(std::make_unique<vel::utils::CoutLog>())
    , m_tsne(std::make_unique<vel::SparseTsne>())
{
    m_analysisType = MCV_AnalysisTypeHsne;
    m_exponentialDecayIterations = 150;
}

MCV_HsneAnalysis::~MCV_HsneAnalysis()
{
    if (m_owner)
        m_owner->unlinkLevel(this);
}

void MCV_HsneAnalysis::initialize(MCV_UiInterface* uiInterface, std::string name)
{
    if (isBusy())
    {
        std::cout << "HSNE: " << m_name << " is computing; it is set up again once its run has ended." << std::endl;
        return;
    }
    resetEngine(uiInterface, std::move(name));
}

void MCV_HsneAnalysis::resetEngine(MCV_UiInterface* uiInterface, std::string name)
{
    MCV_Analysis::initialize(uiInterface, std::move(name));
    m_tsne = std::make_unique<vel::SparseTsne>();
    m_log = std::make_unique<vel::utils::CoutLog>();
    m_embedding.clear();
    m_embeddingReady = false;
    m_transitions = nullptr;
    m_ownTransitions.reset();
}

void MCV_HsneAnalysis::setScale(int scale, std::unique_ptr<std::vector<vel::MapMemEff>> transitions,
                                std::unique_ptr<std::vector<unsigned>> subset)
{
    m_scaleStaged = true;
    m_stagedScale = scale;
    m_stagedTransitions = std::move(transitions);
    m_stagedSubset = std::move(subset);
}

void MCV_HsneAnalysis::setHierarchy(std::shared_ptr<MCV_DerivedDataHierarchy> hierarchy)
{
    m_stagedHierarchy = std::move(hierarchy);
    request(Attach);
}

void MCV_HsneAnalysis::rebuild(std::string name, std::shared_ptr<MCV_DerivedDataHierarchy> hierarchy, int scale)
{
    m_stagedInitialize = true;
    m_stagedName = std::move(name);
    setScale(scale);
    m_stagedHierarchy = std::move(hierarchy);
    request(AttachAndRun);
}

void MCV_HsneAnalysis::runGradientDescent()
{
    if (isBusy() && m_running)
        return;
    request(Resume);
}

void MCV_HsneAnalysis::restart()
{
    request(Restart);
}

void MCV_HsneAnalysis::runRequest(int request)
{
    if (request == Attach || request == AttachAndRun)
    {
        attach();
        // A request made inside analysisInitializedSignal replaces the run.
        if (request == Attach || m_pending != kNoRequest || m_deletionRequested)
            return;
    }
    else if (request == Restart)
    {
        if (m_hierarchy == nullptr || m_scale < 0)
        {
            std::cout << "HSNE: " << m_name << " has no hierarchy to embed yet." << std::endl;
            return;
        }
        initializeEmbedding();
    }
    if (!m_embeddingReady)
    {
        std::cout << "HSNE: " << m_name << " has no embedding to run." << std::endl;
        return;
    }
    loop();
}

void MCV_HsneAnalysis::runFailed(const std::exception& failure)
{
    // An engine failure ends this computation with a line; the level stays usable.
    std::cout << "HSNE: " << m_name << " failed: " << failure.what() << std::endl;
    m_embeddingReady = false;
}

void MCV_HsneAnalysis::attach()
{
    if (m_stagedInitialize)
    {
        m_stagedInitialize = false;
        resetEngine(m_uiInterface, m_stagedName);
    }
    if (m_scaleStaged)
    {
        m_scaleStaged = false;
        m_scale = m_stagedScale;
        m_ownTransitions = std::move(m_stagedTransitions);
        m_subset = std::move(m_stagedSubset);
    }
    m_transitions = m_ownTransitions.get();
    m_hierarchy = std::move(m_stagedHierarchy);
    m_embeddingReady = false;
    m_embedding.clear();
    if (m_owner)
        setInputData(m_owner->inputData());
    if (m_hierarchy == nullptr || m_scale < 0)
        return;
    initializeEmbedding();
    gatherLandmarkData();
    if (m_uiInterface)
        m_uiInterface->analysisInitializedSignal(this);
}

void MCV_HsneAnalysis::initializeEmbedding()
{
    m_embeddingReady = false;
    if (m_transitions == nullptr)
        m_transitions = m_hierarchy->transitionMatrix(m_scale);
    if (m_transitions == nullptr)
        throw std::logic_error("the hierarchy has no scale " + std::to_string(m_scale));
    const size_t rows = m_transitions->size();
    const vel::SparseTsne::Parameters parameters =
        embeddingParameters(rows, m_exaggerationIterations, m_exponentialDecayIterations);

    if (m_embedding.numberOfPoints() > 0)
    {
        m_tsne->reset();
        m_tsne->markUninitialized();
    }
    m_tsne->setLog(m_log.get());
    m_tsne->initialize(*m_transitions, m_embedding, parameters);
    m_tsne->setTheta(embeddingTheta(rows));
    m_embeddingReady = true;
}

vel::SparseTsne::Parameters MCV_HsneAnalysis::embeddingParameters(size_t rows, int exaggerationIterations,
                                                                  int decayIterations)
{
    vel::SparseTsne::Parameters parameters;
    parameters.exaggerationRemovalIteration = static_cast<uint32_t>(std::max(0, exaggerationIterations));
    parameters.exaggerationDecayLength = static_cast<uint32_t>(std::max(0, decayIterations));
    parameters.momentumSwitchIteration = exaggerationIterations;
    parameters.exaggerationFactor = std::min(40.0, static_cast<double>(rows) / 5000.0 + 10.0);
    return parameters;
}

float MCV_HsneAnalysis::embeddingTheta(size_t rows)
{
    return static_cast<float>(std::min(0.5, std::max(0.0, (static_cast<double>(rows) - 1000.0) * 5e-5)));
}

void MCV_HsneAnalysis::gatherLandmarkData()
{
    std::vector<int> ids;
    m_hierarchy->landmarkOriginalIndices(m_scale, ids, m_subset.get());
    m_hierarchy->landmarkWeights(m_scale, m_landmarkWeights, m_subset.get());
    const std::vector<MCV_PointIndex>& points = m_hierarchy->points();
    m_landmarkPoints.resize(ids.size());
    m_sampleIndices.resize(ids.size());
    for (size_t k = 0; k < ids.size(); ++k)
    {
        m_landmarkPoints[k] = points[static_cast<size_t>(ids[k])];
        m_sampleIndices[k] = m_landmarkPoints[k].sampleIndex;
    }

    // The whole event row of every landmark, for colouring by marker.
    m_markerValues.clear();
    m_markerNames.clear();
    m_markerCount = 0;
    m_pointsGeneration = 0;
    if (!hierarchyIsCurrent("its marker values are not read"))
        return;
    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    const int64_t parameters = registry->parameterCount();
    m_pointsGeneration = registry->generation();
    m_markerCount = parameters;
    for (int64_t m = 0; m < parameters; ++m)
        m_markerNames.push_back(registry->mergedHeader()->parameterName(static_cast<int>(m)));
    m_markerValues.resize(m_landmarkPoints.size() * static_cast<size_t>(parameters));
    for (size_t k = 0; k < m_landmarkPoints.size(); ++k)
    {
        const MCV_PointIndex& p = m_landmarkPoints[k];
        const float* row = registry->sampleData(p.sampleIndex) + static_cast<int64_t>(p.eventIndex) * parameters;
        std::copy(row, row + parameters, m_markerValues.begin() + static_cast<int64_t>(k) * parameters);
    }
}

void MCV_HsneAnalysis::loop()
{
    std::cout << "HSNE: Computing gradient descent.." << std::flush;
    m_running = true;
    const int iterations = m_iterations;
    for (int i = 1; i <= iterations && m_running; ++i)
    {
        iterate();
        if (i % 100 == 0)
        {
            std::cout << m_name << ": iteration: " << i << std::endl;
            // Views process pending events in here: requests only set flags.
            if (!m_deletionRequested && m_uiInterface)
                m_uiInterface->analysisMilestoneSignal(this);
        }
    }
    m_running = false;
    if (!m_deletionRequested && m_uiInterface)
        m_uiInterface->analysisFinishedSignal(this);
}

void MCV_HsneAnalysis::iterate()
{
    m_tsne->iterate(1.0);
    if (!m_deletionRequested && m_uiInterface)
        m_uiInterface->analysisUpdatedSignal(this);
}

bool MCV_HsneAnalysis::hierarchyIsCurrent(const char* what) const
{
    if (m_hierarchy != nullptr && m_hierarchy->registryGeneration() == MCV_DataRegistry::currentGeneration())
        return true;
    std::cout << "HSNE: The data were reloaded since the hierarchy of " << m_name << " was built; " << what << "."
              << std::endl;
    return false;
}

std::vector<unsigned> MCV_HsneAnalysis::selectionToLandmarks(const std::vector<unsigned>& indices) const
{
    std::vector<unsigned> landmarks;
    landmarks.reserve(indices.size());
    const size_t shown = m_landmarkPoints.size();
    for (unsigned index : indices)
        if (index < shown)
            landmarks.push_back(m_subset ? (*m_subset)[index] : index);
    return landmarks;
}

bool MCV_HsneAnalysis::collectSelectionMembers(const std::vector<unsigned>& indices, std::vector<MCV_PointIndex>& out,
                                               const std::vector<bool>* sampleBits) const
{
    out.clear();
    if (!hierarchyIsCurrent("the selection is not taken"))
        return false;
    const auto keep = [sampleBits](const MCV_PointIndex& p) {
        return sampleBits == nullptr
               || (p.sampleIndex >= 0 && static_cast<size_t>(p.sampleIndex) < sampleBits->size()
                   && (*sampleBits)[static_cast<size_t>(p.sampleIndex)]);
    };
    const std::vector<unsigned> landmarks = selectionToLandmarks(indices);
    if (const std::vector<std::vector<MCV_PointIndex>>* lists = m_hierarchy->pointsPerLandmark(m_scale))
    {
        for (unsigned landmark : landmarks)
            if (landmark < lists->size())
                for (const MCV_PointIndex& p : (*lists)[landmark])
                    if (keep(p))
                        out.push_back(p);
        return true;
    }
    std::vector<int> ids;
    m_hierarchy->landmarkOriginalIndices(m_scale, ids, &landmarks);
    for (int id : ids)
    {
        const MCV_PointIndex& p = m_hierarchy->points()[static_cast<size_t>(id)];
        if (keep(p))
            out.push_back(p);
    }
    return true;
}

float MCV_HsneAnalysis::landmarkSelectionWeights(std::vector<bool> sampleBits, std::vector<float>& out) const
{
    if (m_hierarchy == nullptr)
        return -1.0f;
    const std::vector<std::vector<MCV_PointIndex>>* lists = m_hierarchy->pointsPerLandmark(m_scale);
    if (lists == nullptr || !hierarchyIsCurrent("its point scales are off"))
        return -1.0f;
    const size_t shown = m_landmarkPoints.size();
    out.assign(shown, -1.0f);
    float largest = -1.0f;
    for (size_t k = 0; k < shown; ++k)
    {
        const float weight = k < m_landmarkWeights.size() ? m_landmarkWeights[k] : 0.0f;
        largest = std::max(largest, weight);
        const unsigned landmark = m_subset ? (*m_subset)[k] : static_cast<unsigned>(k);
        if (landmark >= lists->size() || (*lists)[landmark].empty())
            continue;
        const std::vector<MCV_PointIndex>& events = (*lists)[landmark];
        size_t set = 0;
        for (const MCV_PointIndex& p : events)
            if (p.sampleIndex >= 0 && static_cast<size_t>(p.sampleIndex) < sampleBits.size()
                && sampleBits[static_cast<size_t>(p.sampleIndex)])
                ++set;
        if (set > 0)
            out[k] = static_cast<float>(set) / static_cast<float>(events.size()) * weight;
    }
    return largest;
}

bool MCV_HsneAnalysis::wroteClustersSet(const std::string& name) const
{
    return std::any_of(m_clusterSets.begin(), m_clusterSets.end(),
                       [&name](const std::pair<const std::string, std::string>& set) { return set.second == name; });
}

void MCV_HsneAnalysis::drillIntoCluster(const std::string& clustersSetName)
{
    if (m_owner)
        m_owner->addClusterToExploration(clustersSetName, m_name, m_scale == 0);
}

MCV_DerivedData* MCV_HsneAnalysis::createDerivedData(const std::vector<std::vector<unsigned>>& indexLists,
                                                     std::string name)
{
    // Everything is gathered before the announcements: their slots may reopen
    // the files or delete this level, so afterwards the level is used only
    // while it lives and the set only while the registry does.
    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    const uint64_t generation = registry->generation();
    std::vector<std::vector<MCV_PointIndex>> members(indexLists.size());
    bool current = true;
    for (size_t c = 0; c < indexLists.size() && current; ++c)
        current = collectSelectionMembers(indexLists[c], members[c]);
    if (!current)
        members.clear();
    MCV_DerivedDataPoints* input = inputData();
    const std::string wanted = name + " - " + m_name;
    const auto own = m_clusterSets.find(wanted);
    bool reuse = input != nullptr;
    // A level renamed after its cluster was clustered anew keeps its sets: a
    // level that takes its former name writes sets of its own.
    if (own == m_clusterSets.end() && m_owner != nullptr)
        for (const MCV_HsneAnalysis* level : m_owner->levels())
            reuse = reuse && (level == this || !level->wroteClustersSet(wanted));
    const std::weak_ptr<const bool> alive = lifetime();
    MCV_DerivedDataClusters* clusters =
        registry->createClustersData(own != m_clusterSets.end() ? own->second : wanted, reuse);
    if (clusters == nullptr || MCV_DataRegistry::currentGeneration() != generation)
        return nullptr;
    if (!alive.expired())
        m_clusterSets[wanted] = clusters->name();
    clusters->setClusters(members, input, {});
    if (MCV_DataRegistry::currentGeneration() != generation)
        return nullptr;
    const MCV_DerivedDataExploration* tree = !alive.expired() && m_owner ? m_owner->exploration() : nullptr;
    if (tree != nullptr && tree->showsClustersOf(clusters->name(), m_name))
        drillIntoCluster(clusters->name());
    return MCV_DataRegistry::currentGeneration() == generation ? clusters : nullptr;
}

void MCV_HsneAnalysis::setPreviewImages(std::vector<unsigned char*> images)
{
    // The renderer owns the buffers; only the vector goes.
    images.clear();
}
