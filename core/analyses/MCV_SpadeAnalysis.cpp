#include "analyses/MCV_SpadeAnalysis.h"

#include "analyses/clusterMedians.h"

#include "analyses/spade/SpadeDendrogram.h"
#include "analyses/spade/SpadeDensityCache.h"
#include "analyses/spade/SpadeDensityCounter.h"
#include "analyses/spade/SpadeDownsampler.h"
#include "analyses/spade/SpadeNearestMedian.h"
#include "data/FcsHeader.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataPoints.h"
#include "helpers/clock.h"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <random>

namespace {


int64_t eventCountOf(const MCV_DataRegistry& registry, int file)
{
    return std::max<int64_t>(0, registry.sampleHeader(file)->eventCount());
}

bool floatChanged(float a, float b)
{
    return a != b || std::isnan(a) || std::isnan(b);
}

/// Prints "p%.." for every tenth reported by a counter.
void printPercent(int percent)
{
    std::cout << percent << "%.." << std::flush;
}

} // namespace

MCV_SpadeAnalysis::MCV_SpadeAnalysis()
{
    m_analysisType = MCV_AnalysisTypeSpade;
    setInputData(MCV_DataRegistry::instance()->createPointsData("All Points", true));
    m_creationTime = orb::currentTicks();
}

MCV_SpadeAnalysis::~MCV_SpadeAnalysis() = default;

void MCV_SpadeAnalysis::initialize(MCV_UiInterface* uiInterface, const std::string& name)
{
    MCV_Analysis::initialize(uiInterface, name);
    publishClusters(false); // last: it announces, and adopts the name of the set
}

void MCV_SpadeAnalysis::setSampleSize(int sampleSize)
{
    if (sampleSize != m_sampleSize)
        m_densitiesDirty = true;
    m_sampleSize = sampleSize;
}

void MCV_SpadeAnalysis::setAlpha(float alpha)
{
    if (floatChanged(alpha, m_alpha))
        m_densitiesDirty = true;
    m_alpha = alpha;
}

void MCV_SpadeAnalysis::setTargetDensityPercentile(float percentile)
{
    if (floatChanged(percentile, m_targetDensityPercentile))
        m_downsamplingDirty = true;
    m_targetDensityPercentile = percentile;
}

void MCV_SpadeAnalysis::setOutlierDensityPercentile(float percentile)
{
    if (floatChanged(percentile, m_outlierDensityPercentile))
        m_downsamplingDirty = true;
    m_outlierDensityPercentile = percentile;
}

void MCV_SpadeAnalysis::setKeepPercentage(float percentage)
{
    if (floatChanged(percentage, m_keepPercentage))
        m_downsamplingDirty = true;
    m_keepPercentage = percentage;
}

void MCV_SpadeAnalysis::setTargetClusterCount(int count)
{
    if (count != m_targetClusterCount)
        m_clusteringDirty = true;
    m_targetClusterCount = count;
}

void MCV_SpadeAnalysis::computeSpadeTree()
{
    const std::weak_ptr<const bool> alive = lifetime();
    currentInput();
    if (alive.expired())
        return;
    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    const int files = registry->sampleCount();

    // Files with fewer parameters may have been opened since the markers were chosen.
    resizeMarkerFlags();

    // Densities in memory belong to one registry and to the data they were
    // counted on; anything else counts as changed settings.
    std::vector<uint64_t> hashes(static_cast<size_t>(files));
    for (int i = 0; i < files; ++i)
        hashes[i] = SpadeDensityCache::dataHash(registry->sampleData(i), eventCountOf(*registry, i),
                                                registry->parameterCount(), m_activeMarkerIndices);
    const bool stale = m_densityGeneration != registry->generation() ||
                       m_densities.size() != static_cast<size_t>(files) || hashes != m_dataHashes;
    m_densitiesDirty = m_densitiesDirty || m_markersChanged || stale;
    m_dataHashes = hashes;
    m_densityGeneration = registry->generation();
    bool changed = m_densitiesDirty;

    if (m_densitiesDirty) {
        m_medianDistances.assign(static_cast<size_t>(files), 0.0f);
        m_densityRadii.assign(static_cast<size_t>(files), 0.0f);
        m_densities.assign(static_cast<size_t>(files), {});
        m_sortedDensities.assign(static_cast<size_t>(files), {});
        m_keptEvents.assign(static_cast<size_t>(files), {});
        m_keptFlags.assign(static_cast<size_t>(files), {});
    }
    if (files == 0)
        std::cout << "\nNo samples loaded, the SPADE tree is empty.\n";
    findFiniteEvents();

    for (int i = 0; i < files; ++i) {
        if (!loadCachedDensities(i)) {
            std::cout << "\nProcessing File: " << registry->sampleHeader(i)->fileName() << " (File " << i + 1
                      << " of " << files << ", containing " << eventCountOf(*registry, i) << " data points)\n";
            computeMedianDistance(i);
            computeLocalDensities(i);
            m_counter.reset();
            m_counterFile = -1;
        }
        changed = downsample(i) || changed;
    }

    changed = buildDendrogram() || changed;
    changed = clusterDendrogram() || changed;
    changed = buildMst() || changed;
    for (int f = 0; f < files; ++f)
        changed = upsample(f) || changed;

    std::cout << "\n";
    m_markersChanged = false;
    m_densitiesDirty = false;
    m_downsamplingDirty = false;
    m_clusteringDirty = false;
    if (changed)
        publishClusters(true); // last: it announces
    else
        std::cout << "No parameters changed, no update necessary.\n";
}

void MCV_SpadeAnalysis::findFiniteEvents()
{
    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    const int64_t stride = registry->parameterCount();
    m_finiteEvents.assign(static_cast<size_t>(registry->sampleCount()), {});
    for (int f = 0; f < registry->sampleCount(); ++f) {
        const int64_t events = eventCountOf(*registry, f);
        const float* matrix = registry->sampleData(f);
        std::vector<int64_t>& finite = m_finiteEvents[f];
        finite.reserve(static_cast<size_t>(events));
        for (int64_t e = 0; e < events; ++e) {
            const float* row = matrix + e * stride;
            if (std::all_of(m_activeMarkerIndices.begin(), m_activeMarkerIndices.end(),
                            [row](int m) { return std::isfinite(row[m]); }))
                finite.push_back(e);
        }
        if (static_cast<int64_t>(finite.size()) < events)
            std::cout << "\t" << events - static_cast<int64_t>(finite.size()) << " events of "
                      << registry->sampleHeader(f)->fileName()
                      << " have a value that is not a finite number in an active marker; they take no part in "
                         "densities, downsampling and clustering.\n";
    }
}

std::vector<int32_t> MCV_SpadeAnalysis::finiteDensities(int file) const
{
    std::vector<int32_t> densities;
    densities.reserve(m_finiteEvents[file].size());
    for (int64_t e : m_finiteEvents[file])
        densities.push_back(m_densities[file][e]);
    return densities;
}

bool MCV_SpadeAnalysis::loadCachedDensities(int file)
{
    if (!m_densitiesDirty)
        return true;
    std::cout << "\tTrying to load cached densities .." << std::flush;
    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    SpadeDensityCache::Parameters current;
    current.activeMarkers = m_activeMarkers;
    current.activeMarkers.resize(static_cast<size_t>(registry->parameterCount()), false);
    current.sampleSize = m_sampleSize;
    current.alpha = m_alpha;
    current.dataHash = m_dataHashes[file];
    std::vector<int32_t> densities;
    if (!SpadeDensityCache::load(registry->samplePath(file), current, eventCountOf(*registry, file), densities))
        return false;
    m_densities[file] = std::move(densities);
    m_sortedDensities[file] = finiteDensities(file);
    std::sort(m_sortedDensities[file].begin(), m_sortedDensities[file].end());
    std::cout << " succes.\n";
    return true;
}

const SpadeDensityCounter& MCV_SpadeAnalysis::counter(int file)
{
    if (!m_counter || m_counterFile != file) {
        MCV_DataRegistry* registry = MCV_DataRegistry::instance();
        m_counter = std::make_unique<SpadeDensityCounter>(registry->sampleData(file), m_finiteEvents[file],
                                                          registry->parameterCount(), m_activeMarkerIndices);
        m_counterFile = file;
    }
    return *m_counter;
}

bool MCV_SpadeAnalysis::computeMedianDistance(int file)
{
    if (!m_densitiesDirty)
        return false;
    std::cout << "\tComputing median minimum distance ..\n";
    const int64_t events = counter(file).eventCount();
    const int64_t samples = std::min<int64_t>(events, std::max(m_sampleSize, 0));
    std::cout << "\tCreating " << samples << " random samples\n\t\t";

    std::mt19937 engine(static_cast<uint32_t>(orb::currentTicks() - m_creationTime));
    std::vector<int64_t> sampleList;
    if (samples > 0 && events >= 2 * samples) {
        std::uniform_int_distribution<int64_t> draw(0, events - 1);
        sampleList.resize(static_cast<size_t>(samples));
        const int64_t tenth = samples / 10;
        for (int64_t s = 0; s < samples; ++s) {
            if (tenth > 0 && s % tenth == 0 && s / tenth < 10)
                std::cout << s / tenth * 10 << "%..";
            sampleList[s] = draw(engine);
        }
    } else if (samples > 0) {
        // More than half of the file: draw the events left out instead, so
        // that the samples are distinct events of the file.
        std::uniform_int_distribution<int64_t> draw(0, events - 1);
        std::vector<bool> leftOut(static_cast<size_t>(events), false);
        for (int64_t dropped = 0; dropped < events - samples;) {
            const int64_t e = draw(engine);
            if (!leftOut[e]) {
                leftOut[e] = true;
                ++dropped;
            }
        }
        for (int64_t e = 0; e < events; ++e)
            if (!leftOut[e])
                sampleList.push_back(e);
    }
    std::cout << " done.\n" << "\tComputing median distance to nearest neighbor ";
    const int threads = omp_get_max_threads();
    std::cout << "using " << threads << " threads ..\n\t\t";
    std::vector<float> nearest = counter(file).nearestDistances(sampleList, threads, printPercent);
    std::sort(nearest.begin(), nearest.end());
    if (nearest.empty())
        std::cout << "No random samples to measure, the median distance is 0. ";
    const float median = nearest.empty() ? 0.0f : nearest[nearest.size() / 2];
    m_medianDistances[file] = median;
    m_densityRadii[file] = median * m_alpha;
    std::cout << "done.\n" << "\t\tMedian distance is " << median << ". " << "Scaled: " << m_densityRadii[file]
              << ".\n";
    return true;
}

bool MCV_SpadeAnalysis::computeLocalDensities(int file)
{
    if (!m_densitiesDirty)
        return false;
    std::cout << "\tComputing local densities ";
    const int threads = std::max(1, omp_get_max_threads() - 1);
    std::cout << "using " << threads << " threads ..\n\t\t";
    // Counted over the finite events; the others keep a density of 0.
    const std::vector<int32_t> counted = counter(file).countWithin(m_densityRadii[file], threads, printPercent);
    const std::vector<int64_t>& finite = m_finiteEvents[file];
    m_densities[file].assign(static_cast<size_t>(eventCountOf(*MCV_DataRegistry::instance(), file)), 0);
    for (size_t i = 0; i < finite.size(); ++i)
        m_densities[file][finite[i]] = counted[i];
    m_sortedDensities[file] = counted;
    std::sort(m_sortedDensities[file].begin(), m_sortedDensities[file].end());
    std::cout << " done.\n";
    writeDensityCache(file);
    return true;
}

void MCV_SpadeAnalysis::writeDensityCache(int file)
{
    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    SpadeDensityCache::Parameters parameters;
    parameters.activeMarkers = m_activeMarkers;
    parameters.activeMarkers.resize(static_cast<size_t>(registry->parameterCount()), false);
    parameters.sampleSize = m_sampleSize;
    parameters.alpha = m_alpha;
    parameters.targetDensityPercentile = m_targetDensityPercentile;
    parameters.outlierDensityPercentile = m_outlierDensityPercentile;
    parameters.keepPercentage = m_keepPercentage;
    parameters.targetClusterCount = m_targetClusterCount;
    parameters.dataHash = m_dataHashes[file];
    SpadeDensityCache::write(registry->samplePath(file), parameters, m_densities[file]);
}

bool MCV_SpadeAnalysis::downsample(int file)
{
    if (!m_densitiesDirty && !m_downsamplingDirty)
        return false;
    // Only finite events take part; the others are assigned when upsampling.
    const std::vector<bool> finiteKept =
        SpadeDownsampler::keepFlags(finiteDensities(file), m_sortedDensities[file], m_outlierDensityPercentile,
                                    m_targetDensityPercentile, m_keepPercentage);
    const std::vector<int64_t>& finite = m_finiteEvents[file];
    m_keptFlags[file].assign(m_densities[file].size(), false);
    std::vector<int>& kept = m_keptEvents[file];
    kept.clear();
    for (size_t i = 0; i < finite.size(); ++i) {
        if (finiteKept[i]) {
            m_keptFlags[file][finite[i]] = true;
            kept.push_back(static_cast<int>(finite[i]));
        }
    }
    return true;
}

bool MCV_SpadeAnalysis::buildDendrogram()
{
    if (!m_densitiesDirty && !m_downsamplingDirty)
        return false;
    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    std::cout << "\nFiles Combined.\n\nComputing hierachical clustering and Dendrogram ..";
    const int64_t stride = registry->parameterCount();
    std::vector<DendrogramNode> pool;
    for (int f = 0; f < static_cast<int>(m_keptEvents.size()); ++f) {
        if (m_keptEvents[f].empty()) {
            std::cout << "\tNo active samples in file " << registry->sampleHeader(f)->fileName() << ".";
            continue;
        }
        const float* matrix = registry->sampleData(f);
        for (int e : m_keptEvents[f]) {
            DendrogramNode node;
            node.values.reserve(m_activeMarkerIndices.size());
            for (int m : m_activeMarkerIndices)
                node.values.push_back(matrix[e * stride + m]);
            node.event = e;
            node.file = f;
            pool.push_back(std::move(node));
        }
    }
    std::cout << "\n\tInput reduced, " << pool.size() << " points remain.";
    if (pool.empty())
        std::cout << "\n\tNo events were kept, the dendrogram is empty.";
    m_dendrogram = SpadeDendrogram::computeDendrogram(std::move(pool));
    return true;
}

bool MCV_SpadeAnalysis::clusterDendrogram()
{
    if (!m_densitiesDirty && !m_downsamplingDirty && !m_clusteringDirty)
        return false;
    const int nodes = static_cast<int>(m_dendrogram.size());
    std::cout << "\tTargeting " << m_targetClusterCount << " clusters from Dendrogram .. ";
    int target = m_targetClusterCount;
    if (target > nodes) {
        std::cout << "only " << nodes << " events were kept, targeting " << nodes << " clusters .. ";
        target = nodes;
    }
    if (target <= 0)
        std::cout << "no clusters to make .. ";
    std::vector<std::vector<int>> lists;
    SpadeDendrogram::cutDendrogram(target, m_dendrogram, lists);
    std::cout << "done with " << lists.size() << " clusters.\n";

    const int count = static_cast<int>(lists.size());
    m_clusters.assign(static_cast<size_t>(count), {});
    int64_t total = 0;
#pragma omp parallel for schedule(static) reduction(+ : total)
    for (int c = 0; c < count; ++c) {
        std::vector<MCV_PointIndex>& members = m_clusters[c];
        members.reserve(lists[c].size());
        for (int id : lists[c]) {
            const DendrogramNode& node = m_dendrogram[id - 1];
            members.push_back({node.file, node.event});
        }
        total += static_cast<int64_t>(members.size());
    }
    std::cout << "\tTotal number of points in clusters: " << total << ".\n";
    computeClusterMedians();
    return true;
}

void MCV_SpadeAnalysis::computeClusterMedians()
{
    m_medians = clusterMedians(*MCV_DataRegistry::instance(), m_clusters, m_activeMarkerIndices);
}

bool MCV_SpadeAnalysis::buildMst()
{
    if (!m_densitiesDirty && !m_downsamplingDirty && !m_clusteringDirty)
        return false;
    if (m_clusters.empty() || m_activeMarkerIndices.empty()) {
        m_links.clear();
        return true;
    }
    std::cout << "\nBuilding minimum spanning tree.. ";
    m_spanningTree = std::make_unique<BoruvkaMst>();
    m_spanningTree->initialize(m_medians);
    m_spanningTree->run();
    m_links = m_spanningTree->edges();
    return true;
}

bool MCV_SpadeAnalysis::upsample(int file)
{
    if (!m_densitiesDirty && !m_downsamplingDirty && !m_clusteringDirty)
        return false;
    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    if (file == 0)
        std::cout << "\nUpsampling data ..";
    std::cout << "\n\tFile " << registry->samplePath(file) << " (" << file + 1 << " of " << registry->sampleCount()
              << ").\n\t";
    if (m_clusters.empty()) {
        std::cout << "No clusters, no events assigned.\n";
        return true;
    }

    const SpadeNearestMedian nearest(m_medians);
    const int64_t events = eventCountOf(*registry, file);
    const int64_t stride = registry->parameterCount();
    const float* matrix = registry->sampleData(file);
    const std::vector<bool>& kept = m_keptFlags[file];
    std::vector<int> assigned(static_cast<size_t>(events), -1);
    // Ten slices, so that progress appears in order; the events of a slice in parallel.
    for (int slice = 0; slice < 10; ++slice) {
        const int64_t from = events * slice / 10, to = events * (slice + 1) / 10;
#pragma omp parallel for schedule(static)
        for (int64_t e = from; e < to; ++e)
            if (!kept[e])
                assigned[e] = nearest.nearest(matrix + e * stride, m_activeMarkerIndices);
        if (events >= 10)
            std::cout << (slice + 1) * 10 << "%..";
    }
    for (int64_t e = 0; e < events; ++e)
        if (assigned[e] >= 0)
            m_clusters[assigned[e]].push_back({file, static_cast<int32_t>(e)});
    std::cout << " done.\n";
    return true;
}

void MCV_SpadeAnalysis::publishClusters(bool reuse)
{
    publishClustersSet(m_clusters, m_links, reuse);
}

std::string MCV_SpadeAnalysis::createSubtreeData(const std::string& name, const std::vector<int>& clusters)
{
    std::vector<MCV_PointIndex> points;
    for (int c : clusters) {
        if (c < 0 || c >= static_cast<int>(m_clusters.size())) {
            std::cout << "Cluster " << c << " does not exist, left out of the subtree.\n";
            continue;
        }
        points.insert(points.end(), m_clusters[c].begin(), m_clusters[c].end());
    }

    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    if (registry->generation() != m_bubbleGeneration) {
        m_bubbleSets.clear();
        m_bubbleGeneration = registry->generation();
    }
    auto recordOf = [this](const std::string& bubble) {
        return std::find_if(m_bubbleSets.begin(), m_bubbleSets.end(),
                            [&bubble](const auto& entry) { return entry.first == bubble; });
    };
    MCV_DerivedDataPoints* set = nullptr;
    if (auto record = recordOf(name); record != m_bubbleSets.end())
        for (MCV_DerivedDataPoints* candidate : registry->pointsDataList())
            if (candidate->name() == record->second)
                set = candidate;
    const int tag = m_targetClusterCount;
    if (set == nullptr) {
        const std::weak_ptr<const bool> alive = lifetime();
        // Not createPointsData: it hands out the shared selection for "Selection".
        set = registry->createData<MCV_DerivedDataPoints>(MCV_DerivedDataTypePoints, name, false);
        // The announcement may have reopened the files or deleted this analysis.
        if (set == nullptr)
            return std::string();
        if (!alive.expired()) {
            if (auto record = recordOf(name); record != m_bubbleSets.end())
                record->second = set->name();
            else
                m_bubbleSets.emplace_back(name, set->name());
        }
    }
    const std::string setName = set->name();
    set->setTag(tag);
    // Announced last: its slot may reopen the files or delete this analysis.
    set->setPoints(std::move(points), true);
    return setName;
}

MCV_DerivedData* MCV_SpadeAnalysis::createDerivedData(const std::vector<std::vector<unsigned>>&, std::string)
{
    return MCV_DataRegistry::instance()->createClustersData(m_name, true);
}

void MCV_SpadeAnalysis::setPreviewImages(std::vector<unsigned char*>) {}

float MCV_SpadeAnalysis::manhattanDistance(int file, int64_t a, int64_t b) const
{
    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    const int64_t stride = registry->parameterCount();
    const float* matrix = registry->sampleData(file);
    float sum = 0.0f;
    for (int m : m_activeMarkerIndices)
        sum += std::fabs(matrix[a * stride + m] - matrix[b * stride + m]);
    return sum;
}
