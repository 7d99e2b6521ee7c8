#include "analyses/MCV_TemplateAnalysis.h"

#include "analyses/clusterMedians.h"
#include "analyses/template/TemplateMatcher.h"
#include "data/FcsHeader.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataPoints.h"

#include <algorithm>
#include <iostream>
#include <sstream>
#include <utility>

namespace {

/// Below this many events a slice is matched on one thread: waking the team
/// costs more than the work.
constexpr int64_t kParallelEvents = 2048;

/// Short names of the live merged header; empty without loaded files.
std::vector<std::string> liveShortNames()
{
    if (MCV_DataRegistry::currentGeneration() == 0)
        return {};
    const FcsHeader* header = MCV_DataRegistry::instance()->mergedHeader();
    return header ? header->nameList(0) : std::vector<std::string>();
}

} // namespace

MCV_TemplateAnalysis::MCV_TemplateAnalysis()
{
    m_analysisType = MCV_AnalysisTypeSpade;
    setInputData(MCV_DataRegistry::instance()->createPointsData("All Points", true));
}

MCV_TemplateAnalysis::~MCV_TemplateAnalysis() = default;

void MCV_TemplateAnalysis::initialize(MCV_UiInterface* uiInterface, const std::string& name, Table table)
{
    MCV_Analysis::initialize(uiInterface, name);
    m_templates = std::move(table);
    std::vector<std::string> names = liveShortNames();
    names.resize(std::min<size_t>(names.size(), static_cast<size_t>(tableWidth())));
    m_columnNames = std::move(names);
    publishClusters(false); // last: it announces, and adopts the name of the set
}

int64_t MCV_TemplateAnalysis::tableWidth() const
{
    if (m_templates.empty())
        return 0;
    size_t width = m_templates.front().size();
    for (const std::vector<float>& row : m_templates)
        width = std::min(width, row.size());
    return static_cast<int64_t>(width);
}

std::string MCV_TemplateAnalysis::headerMismatch() const
{
    const std::vector<std::string> names = liveShortNames();
    std::ostringstream reason;
    if (names.size() < m_columnNames.size()) {
        reason << "the template table has " << m_columnNames.size() << " columns, but the loaded files have only "
               << names.size() << " parameters.";
        return reason.str();
    }
    for (size_t k = 0; k < m_columnNames.size(); ++k)
        if (names[k] != m_columnNames[k]) {
            reason << "column " << k + 1 << " of the template table stands for parameter \"" << m_columnNames[k]
                   << "\", but the loaded files have \"" << names[k] << "\" there.";
            return reason.str();
        }
    return std::string();
}

std::string MCV_TemplateAnalysis::chooseRunMarkers()
{
    // Files with fewer parameters may have been opened since the markers were chosen.
    resizeMarkerFlags();
    m_runMarkers = m_activeMarkerIndices;
    if (m_templates.empty())
        return std::string();
    const int64_t width = tableWidth();
    const std::vector<std::string> names = liveShortNames();
    std::vector<int> outside;
    m_runMarkers.clear();
    for (int m : m_activeMarkerIndices)
        (m < width ? m_runMarkers : outside).push_back(m);
    if (outside.empty())
        return std::string();
    if (m_runMarkers.empty()) {
        std::ostringstream reason;
        reason << "none of the active markers has a column in the template table (" << width << " columns).";
        return reason.str();
    }
    std::cout << "\n\tActive markers without a column in the template table take no part:";
    for (size_t i = 0; i < outside.size(); ++i)
        std::cout << (i ? ", \"" : " \"") << names[outside[i]] << "\" (parameter " << outside[i] + 1 << ")";
    std::cout << ".";
    return std::string();
}

bool MCV_TemplateAnalysis::classify()
{
    // After files were reopened, taking the new "All Points" is announced.
    const std::weak_ptr<const bool> alive = lifetime();
    currentInput();
    if (alive.expired())
        return false;
    m_refusalReason = headerMismatch();
    if (m_refusalReason.empty())
        m_refusalReason = chooseRunMarkers();
    if (!m_refusalReason.empty()) {
        std::cout << "\nTemplate matching refused: " << m_refusalReason << "\n";
        return false;
    }

    std::cout << "\nUpsampling data .."
              << "\nMaximum Distance for a single marker is " << m_maxMarkerDistance
              << "\nMaximum Distance for the complete marker profile is " << m_maxProfileDistance << std::flush;
    prepareTemplates();

    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    const int files = registry->sampleCount();
    std::vector<int64_t> firstEvent(static_cast<size_t>(files) + 1, 0);
    for (int f = 0; f < files; ++f)
        firstEvent[f + 1] = firstEvent[f] + std::max<int64_t>(0, registry->sampleHeader(f)->eventCount());
    // Not zero-filled: the matching threads write every entry (and touch its pages first).
    const std::unique_ptr<int32_t[]> assigned(new int32_t[static_cast<size_t>(firstEvent[files])]);
    Failures failures;
    for (int f = 0; f < files; ++f)
        matchFile(f, assigned.get() + firstEvent[f], failures);

    // Exact sizes first, so the clusters are filled without growing.
    const int templates = static_cast<int>(m_templates.size());
    std::vector<int64_t> sizes(static_cast<size_t>(templates) + 1, 0);
    for (int64_t i = 0; i < firstEvent[files]; ++i)
        ++sizes[assigned[i]];
    std::vector<std::vector<MCV_PointIndex>> clusters(sizes.size());
    for (size_t c = 0; c < clusters.size(); ++c)
        clusters[c].reserve(static_cast<size_t>(sizes[c]));
    for (int f = 0; f < files; ++f)
        for (int64_t e = 0; e < firstEvent[f + 1] - firstEvent[f]; ++e)
            clusters[assigned[firstEvent[f] + e]].push_back({f, static_cast<int32_t>(e)});

    std::cout << "\n\n";
    int64_t total = 0;
    for (size_t c = 0; c < clusters.size(); ++c) {
        std::cout << "Cluster " << c << " contains " << clusters[c].size() << " cells.\n";
        total += static_cast<int64_t>(clusters[c].size());
    }
    std::cout << total << " total cells clustered.\n"
              << failures.singleMarker << " failed because all matches resulted in failures in a single marker.\n"
              << failures.combinedMarkers << " failed because all matches resulted in failures the combined markers.\n"
              << failures.mixed << " failed because of a mix of both.\n";

    m_clusters = std::move(clusters);
    m_failures = failures;
    computeClusterMedians();
    buildMst();
    publishClusters(true); // last: it announces
    std::cout << " done.\n" << std::flush;
    return true;
}

void MCV_TemplateAnalysis::prepareTemplates()
{
    if (m_templates.empty())
        return;
    m_profiles.assign(m_templates.size(), {});
    for (size_t u = 0; u < m_templates.size(); ++u) {
        m_profiles[u].reserve(m_runMarkers.size());
        for (int m : m_runMarkers)
            m_profiles[u].push_back(m_templates[u][static_cast<size_t>(m)]);
    }
}

void MCV_TemplateAnalysis::matchFile(int file, int32_t* assigned, Failures& failures) const
{
    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    const int files = registry->sampleCount();
    std::cout << "\n\tFile " << registry->samplePath(file) << " (" << file + 1 << " of " << files << ").\n\t"
              << std::flush;

    const TemplateMatcher matcher(m_templates.empty() ? Table() : m_profiles, m_maxMarkerDistance,
                                  m_maxProfileDistance);
    const int64_t events = std::max<int64_t>(0, registry->sampleHeader(file)->eventCount());
    const int64_t stride = registry->parameterCount();
    const float* matrix = registry->sampleData(file);
    const std::vector<int>& markers = m_runMarkers;
    const int dims = static_cast<int>(markers.size());
    int64_t single = 0, combined = 0, mixed = 0;
    // Ten slices, so that progress appears in order; the events of a slice in parallel.
    for (int slice = 0; slice < 10; ++slice) {
        const int64_t from = events * slice / 10, to = events * (slice + 1) / 10;
#pragma omp parallel if (to - from >= kParallelEvents) reduction(+ : single, combined, mixed)
        {
            std::vector<float> values(static_cast<size_t>(dims));
#pragma omp for schedule(static)
            for (int64_t e = from; e < to; ++e) {
                const float* row = matrix + e * stride;
                for (int k = 0; k < dims; ++k)
                    values[k] = row[markers[k]];
                const TemplateMatcher::Match match = matcher.match(values.data());
                assigned[e] = match.cluster;
                single += match.outcome == TemplateMatcher::SingleMarkerFailure;
                combined += match.outcome == TemplateMatcher::CombinedFailure;
                mixed += match.outcome == TemplateMatcher::MixedFailure;
            }
        }
        if (events >= 10)
            std::cout << (slice + 1) * 10 << "%.." << std::flush;
    }
    failures.singleMarker += single;
    failures.combinedMarkers += combined;
    failures.mixed += mixed;
}

void MCV_TemplateAnalysis::computeClusterMedians()
{
    m_medians = clusterMedians(*MCV_DataRegistry::instance(), m_clusters, m_runMarkers);
}

void MCV_TemplateAnalysis::buildMst()
{
    if (m_clusters.empty() || m_runMarkers.empty()) {
        m_links.clear();
        return;
    }
    std::cout << "\nBuilding minimum spanning tree.. ";
    m_spanningTree = std::make_unique<BoruvkaMst>();
    m_spanningTree->initialize(m_medians);
    m_spanningTree->run();
    m_links = m_spanningTree->edges();
}

void MCV_TemplateAnalysis::publishClusters(bool reuse)
{
    std::cout << "Updating Clusters.\n";
    publishClustersSet(m_clusters, m_links, reuse);
}

MCV_DerivedData* MCV_TemplateAnalysis::createDerivedData(const std::vector<std::vector<unsigned>>&, std::string)
{
    return MCV_DataRegistry::instance()->createClustersData(m_name, true);
}

void MCV_TemplateAnalysis::setPreviewImages(std::vector<unsigned char*>) {}
