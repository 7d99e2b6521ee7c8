#include "analyses/MCV_TsneAnalysis.h"

#include "analyses/MCV_UiInterface.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataPoints.h"

#include "approx_tsne/approx_tsne.h"
#include "helpers/ScopedTimer.h"
#include "helpers/logValue.h"
#include "tree/SpacePartitionTree.h"
#include "tree/TreeOrderedForces.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <utility>

#include <omp.h>

MCV_TsneAnalysis::MCV_TsneAnalysis()
    : m_probabilities(0)
{
    m_analysisType = MCV_AnalysisTypeTsne;
}

MCV_TsneAnalysis::~MCV_TsneAnalysis() = default;

void MCV_TsneAnalysis::initialize(MCV_UiInterface* uiInterface, std::string name)
{
    MCV_Analysis::initialize(uiInterface, std::move(name));
}

void MCV_TsneAnalysis::compute()
{
    request(Compute);
}

void MCV_TsneAnalysis::restart()
{
    request(Restart);
}

void MCV_TsneAnalysis::runGradientDescent()
{
    if (isBusy() && m_running)
        return;
    request(Resume);
}

void MCV_TsneAnalysis::runRequest(int request)
{
    bool ready = true;
    if (request == Compute)
        ready = computeProbabilities();
    // A request made inside analysisInitializedSignal replaces this one.
    if (!ready || m_pending != kNoRequest || m_deletionRequested)
        return;
    if (request != Resume)
    {
        if (m_pointCount > 0)
            initializeGradientDescent();
        else
            std::cout << "A-tSNE: " << m_name << " has no probabilities to embed yet." << std::endl;
    }
    if (!m_descentReady)
    {
        if (request == Resume)
            std::cout << "A-tSNE: " << m_name << " has no embedding to resume." << std::endl;
        return;
    }
    iterate();
    if (!m_deletionRequested && m_uiInterface)
        m_uiInterface->analysisFinishedSignal(this);
}

void MCV_TsneAnalysis::runFailed(const std::exception& failure)
{
    // An engine failure ends this computation with a line; the analysis stays usable.
    std::cout << "A-tSNE: " << m_name << " failed: " << failure.what() << std::endl;
    m_embeddingLive = false;
    m_descentReady = false;
}

bool MCV_TsneAnalysis::computeProbabilities()
{
    MCV_DerivedDataPoints* input = inputData();
    if (input == nullptr || input->points().empty())
        return false;
    const std::vector<MCV_PointIndex>& inputPoints = input->points();

    // Files with fewer parameters may have been opened since the markers were chosen.
    resizeMarkerFlags();
    if (m_activeMarkerIndices.empty())
    {
        std::cout << "A-tSNE: No markers selected for " << m_name << "; nothing is computed." << std::endl;
        return false;
    }
    // A non-null input set implies the live registry is the one it belongs to.
    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    const int64_t parameters = registry->parameterCount();
    std::vector<MCV_PointIndex> embedded;
    if (!usableInputEvents(inputPoints, "A-tSNE: ", "embedding", embedded))
        return false;
    const int64_t n = static_cast<int64_t>(embedded.size());

    // The similarity stage needs K + 1 = 3 x perplexity + 1 points; N / 4
    // keeps to that for N >= 4, and a perplexity of 0 cannot be calibrated.
    int perplexity = m_perplexity;
    if (n < 4 * static_cast<int64_t>(perplexity))
        perplexity = static_cast<int>(n / 4);
    if (perplexity < 1)
    {
        std::cout << "A-tSNE: Perplexity " << perplexity << " is too small for " << n << " points of "
                  << m_name << "; nothing is computed." << std::endl;
        return false;
    }
    m_perplexity = perplexity;

    // The old engine points into the buffers that are replaced below.
    m_descentReady = false;
    m_points = std::move(embedded);
    // Counted once the probabilities stand: a failed stage leaves nothing to restart from.
    m_pointCount = 0;
    const int count = static_cast<int>(n);
    m_pointsGeneration = registry->generation();
    m_sampleKeys = registry->sampleKeys();
    m_markerCount = parameters;
    m_markerNames.resize(static_cast<size_t>(parameters));
    for (int64_t m = 0; m < parameters; ++m)
        m_markerNames[static_cast<size_t>(m)] = registry->mergedHeader()->parameterName(static_cast<int>(m));

    const size_t active = m_activeMarkerIndices.size();
    const size_t rows = static_cast<size_t>(n);
    m_dataMatrix.assign(rows * active, 0.0);
    m_sampleIndices.assign(rows, 0);
    m_markerValues.assign(rows * static_cast<size_t>(parameters), 0.0f);
    for (size_t k = 0; k < rows; ++k)
    {
        const MCV_PointIndex& p = m_points[k];
        const float* row = registry->sampleData(p.sampleIndex)
                           + static_cast<int64_t>(p.eventIndex) * parameters;
        m_sampleIndices[k] = p.sampleIndex;
        double* dataRow = m_dataMatrix.data() + k * active;
        for (size_t a = 0; a < active; ++a)
            dataRow[a] = static_cast<double>(row[m_activeMarkerIndices[a]]);
        std::copy(row, row + parameters, m_markerValues.begin() + static_cast<int64_t>(k) * parameters);
    }
    m_renderPositions.assign(rows * static_cast<size_t>(m_embeddingDimensions), 0.0f);
    m_embedding.assign(rows * static_cast<size_t>(m_embeddingDimensions), 0.0);

    ApproxTsneParameters similarity;
    similarity.log = &m_log;
    similarity.verbose = m_verbose;
    similarity.perplexity = m_perplexity;
    similarity.perplexityMultiplier = 3;
    similarity.checks = m_knnChecks;
    similarity.trees = m_knnTrees;
    similarity.skipNormalization = m_skipNormalization;

    m_probabilities.reset(count);
    double milliseconds = 0.0;
    {
        orb::ScopedTimer timer(milliseconds);
        computeHighDimensionalProbabilities(similarity, m_dataMatrix.data(), count, static_cast<int>(active),
                                            m_probabilities);
    }
    // Only the similarity stage reads the kNN rows.
    m_probabilities.releaseKnnRows();
    m_pointCount = count;

    std::cout << "\n" << std::string(80, '=') << "\n"
              << "A-tSNE: Compute probability distribution: " << milliseconds / 1000.0 << " seconds"
              << "\n" << std::string(80, '-') << "\n";
    std::cout.flush();

    if (m_uiInterface)
        m_uiInterface->analysisInitializedSignal(this);
    return true;
}

void MCV_TsneAnalysis::initializeGradientDescent()
{
    m_embeddingLive = true;
    m_gradientDescent = ApproxTsneGradientDescent();
    m_pointFlags.assign(static_cast<size_t>(m_pointCount), 0);

    ApproxTsneGradientDescent::Parameters& parameters = m_gradientDescent.parameters();
    m_gradientDescent.setLog(&m_log);
    m_gradientDescent.setVerbose(m_verbose);
    parameters.momentumSwitchIteration = m_exaggerationIterations;

    const int decayIterations = m_exponentialDecayIterations;
    if (decayIterations >= 2)
    {
        const double exaggeration = m_pointCount / 5000.0 + 10.0;
        const double decay = std::exp(std::log(1.0 / exaggeration) / decayIterations);
        orb::logValue(&m_log, "Decay factor", decay, m_verbose);
        parameters.exaggerationDecayFactor = decay;
        parameters.exponentialDecay = true;
        parameters.exaggerationRemovalIteration = m_exaggerationIterations - decayIterations;
    }
    else
    {
        parameters.exponentialDecay = false;
        parameters.exaggerationRemovalIteration = m_exaggerationIterations;
    }
    parameters.theta = std::min(0.5, std::max(0.0, (m_pointCount - 1000) * 5e-5));

    m_gradientDescent.initialize(&m_probabilities, m_pointFlags.data(), m_embedding.data(),
                                 m_embeddingDimensions);
    copyEmbeddingToRenderPositions();
    m_descentReady = true;
}

void MCV_TsneAnalysis::iterate()
{
    std::cout << "A-tSNE: Computing gradient descent.." << std::endl;
    m_running = true;
    // Changes of the count during the run take effect at the next run.
    const int iterations = m_iterations;
    double milliseconds = 0.0;
    {
        orb::ScopedTimer timer(milliseconds);
        for (int i = 0; i < iterations; ++i)
        {
            if (!m_running)
                break;
            m_gradientDescent.iterate();
            copyEmbeddingToRenderPositions();
            if ((i + 1) % 100 == 0)
            {
                const double divergence = computeKlDivergence();
                std::cout << m_name << ": iteration: " << i + 1 << ", KL-divergence: " << divergence
                          << std::endl;
            }
            // Views process pending events in here: requests only set flags.
            if (!m_deletionRequested && m_uiInterface)
                m_uiInterface->analysisUpdatedSignal(this);
        }
        writeEmbeddingToChannels();
        m_running = false;
        m_embeddingLive = false;
    }
    const double divergence = computeKlDivergence();
    std::cout << std::string(80, '-') << "\n"
              << "A-tSNE: Finished embedding of " << m_name << " in: " << milliseconds / 1000.0
              << " seconds " << ".KL - divergence is : " << divergence << "\n"
              << std::string(80, '=') << "\n";
    std::cout.flush();
}

void MCV_TsneAnalysis::copyEmbeddingToRenderPositions()
{
    m_renderPositions.resize(m_embedding.size());
    std::copy(m_embedding.begin(), m_embedding.end(), m_renderPositions.begin());
}

void MCV_TsneAnalysis::writeEmbeddingToChannels()
{
    copyEmbeddingToRenderPositions();
    if (m_pointsGeneration == 0 || MCV_DataRegistry::currentGeneration() != m_pointsGeneration)
    {
        std::cout << "A-tSNE: The data were reloaded; the embedding of " << m_name
                  << " is not written to the channels." << std::endl;
        return;
    }
    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    const FcsHeader* header = registry->mergedHeader();
    const int xColumn = header ? header->parameterIndex("VSRNE_TsneX") : -1;
    const int yColumn = header ? header->parameterIndex("VSRNE_TsneY") : -1;
    const int64_t parameters = registry->parameterCount();
    if (xColumn < 0 || yColumn < 0 || xColumn >= parameters || yColumn >= parameters)
    {
        std::cout << "A-tSNE: The channels \"VSRNE_TsneX\" and \"VSRNE_TsneY\" are missing; the embedding of "
                  << m_name << " is not written to the channels." << std::endl;
        return;
    }
    // Channels appended since the points were taken come after the old ones:
    // the marker rows keep their width and take the leading values.
    const int64_t copied = std::min(parameters, m_markerCount);
    const size_t dimensions = static_cast<size_t>(m_embeddingDimensions);
    for (size_t k = 0; k < m_points.size(); ++k)
    {
        const MCV_PointIndex& p = m_points[k];
        float* row = registry->sampleData(p.sampleIndex) + static_cast<int64_t>(p.eventIndex) * parameters;
        row[xColumn] = m_renderPositions[k * dimensions];
        row[yColumn] = m_renderPositions[k * dimensions + 1];
        std::copy(row, row + copied, m_markerValues.begin() + static_cast<int64_t>(k) * m_markerCount);
    }
    // The channels' statistics of every set now describe old values.
    registry->markAllDirty();
}

double MCV_TsneAnalysis::computeKlDivergence()
{
    if (m_pointCount == 0 || !m_descentReady)
        return 0.0;
    const int dimensions = m_embeddingDimensions;
    SpacePartitionTree<double> tree;
    tree.build(dimensions, m_embedding.data(), m_pointCount, omp_get_max_threads());
    const double theta = m_gradientDescent.parameters().theta;
    // The per-point sums are added in point order, the same at any thread count.
    std::vector<double> sums(static_cast<size_t>(m_pointCount), 0.0);
    std::vector<double> negativeForces(static_cast<size_t>(m_pointCount) * dimensions);
    TreeOrderedForces::computeRepulsion(tree, m_pointCount, theta, negativeForces.data(), sums.data(),
                                        omp_get_max_threads());
    double sumQ = 0.0;
    for (double s : sums)
        sumQ += s;
    double total = 0.0;
    double minimum = 0.0;
    double maximum = 0.0;
    m_probabilities.computeKlDivergence(m_embedding.data(), dimensions, sumQ, total, minimum, maximum);
    return total;
}

MCV_DerivedData* MCV_TsneAnalysis::createDerivedData(const std::vector<std::vector<unsigned>>& indexLists,
                                                     std::string name)
{
    // Everything is gathered before the announcements: their slots may reopen
    // the files or delete this analysis, so afterwards only locals are used.
    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    const uint64_t generation = registry->generation();
    MCV_DerivedDataPoints* input = inputData();
    const bool current = m_pointsGeneration == generation;
    std::vector<std::vector<MCV_PointIndex>> members(current ? indexLists.size() : 0);
    std::vector<std::vector<int64_t>> positions(members.size());
    for (size_t c = 0; c < members.size(); ++c)
    {
        members[c].reserve(indexLists[c].size());
        positions[c].reserve(indexLists[c].size());
        for (unsigned index : indexLists[c])
        {
            if (index >= m_points.size())
                continue;
            members[c].push_back(m_points[index]);
            positions[c].push_back(static_cast<int64_t>(index));
        }
    }
    if (!current) // the embedded points name events of files that are no longer loaded
        std::cout << "A-tSNE: The data were reloaded; the clusters of " << m_name << " stay empty." << std::endl;

    MCV_DerivedDataClusters* clusters = registry->createClustersData(name + " - " + m_name, input != nullptr);
    if (clusters == nullptr || MCV_DataRegistry::currentGeneration() != generation)
        return nullptr;
    clusters->setClusters(members, input, {}, positions);
    return MCV_DataRegistry::currentGeneration() == generation ? clusters : nullptr;
}

void MCV_TsneAnalysis::setPreviewImages(std::vector<unsigned char*> images)
{
    // The renderer owns the buffers; only the vector goes.
    images.clear();
}
