#include "data/MCV_DerivedDataClusters.h"

#include "analyses/MCV_UiInterface.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataPoints.h"
#include "data/PointStatistics.h"
#include "data/TextEscaping.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <iostream>

namespace {

uint64_t nextRevision()
{
    static std::atomic<uint64_t> last{0};
    return ++last;
}

std::string joinJsonNumbers(const std::vector<float>& values)
{
    std::string out;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0)
            out += ',';
        out += TextEscaping::jsonNumber(values[i]);
    }
    return out;
}

} // namespace

MCV_DerivedDataClusters::MCV_DerivedDataClusters()
{
    m_type = MCV_DerivedDataTypeClusters;
}

void MCV_DerivedDataClusters::setClusters(const std::vector<std::vector<MCV_PointIndex>>& clusters,
                                          MCV_DerivedDataPoints* parent,
                                          const std::vector<Link>& links,
                                          const std::vector<std::vector<int64_t>>& memberPositions)
{
    m_members = clusters;
    m_parent = parent;
    const int n = clusterCount();
    m_clusterIds.resize(n);
    m_names.resize(n);
    m_revisions.resize(n);
    for (int i = 0; i < n; ++i) {
        m_clusterIds[i] = i;
        m_names[i] = std::to_string(i + 1);
        m_revisions[i] = nextRevision();
    }
    // The links describe this partition only: a tree without links has none,
    // and a link naming a cluster outside the set would point the pages nowhere.
    m_links.clear();
    for (const Link& link : links) {
        if (link.source >= 0 && link.source < n && link.target >= 0 && link.target < n)
            m_links.push_back(link);
        else
            std::cout << "ERROR: link " << link.source << " - " << link.target << " names no cluster, left out.\n";
    }
    if (!memberPositions.empty())
        m_memberPositions = memberPositions;
    if (m_highlighted >= n)
        m_highlighted = -1;
    setDirty();
    m_selected.assign(n, false);
    if (m_uiInterface)
        m_uiInterface->dataRefreshedSignal(this);
}

int64_t MCV_DerivedDataClusters::clusterSize(int index) const
{
    if (index < 0 || index >= clusterCount())
        return 0;
    return static_cast<int64_t>(m_members[index].size());
}

std::string MCV_DerivedDataClusters::clusterName(int index) const
{
    if (index < 0 || index >= clusterCount()) {
        std::cout << "ERROR: cluster " << index << " does not exist.\n";
        return std::string();
    }
    return m_names[index];
}

uint64_t MCV_DerivedDataClusters::clusterRevision(int index) const
{
    return index >= 0 && index < clusterCount() ? m_revisions[index] : 0;
}

std::vector<float> MCV_DerivedDataClusters::clusterMedians(int index)
{
    if (index < 0 || index >= clusterCount())
        return {};
    computeMedians();
    return m_medians[index];
}

std::vector<float> MCV_DerivedDataClusters::clusterStdDevs(int index)
{
    if (index < 0 || index >= clusterCount())
        return {};
    computeStdDevs();
    return m_stdDevs[index];
}

void MCV_DerivedDataClusters::setClusterName(int index, const std::string& name)
{
    if (index < 0 || index >= clusterCount()) {
        std::cout << "ERROR: cluster " << index << " could not be renamed.\n";
        return;
    }
    m_names[index] = name;
    m_jsonDirty = true;
    m_csvDirty = true;
    m_selectionStatisticsDirty = true;
    if (m_uiInterface)
        m_uiInterface->dataRefreshedSignal(this);
}

void MCV_DerivedDataClusters::mergeClusters(const std::vector<int>& indices)
{
    std::vector<int> sorted = indices;
    std::sort(sorted.begin(), sorted.end());
    if (sorted.empty())
        return;
    if (sorted.front() < 0 || sorted.back() >= clusterCount()
        || std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) {
        std::cout << "ERROR: clusters could not be merged.\n";
        return;
    }

    m_highlighted = -1;
    const int base = sorted.front();
    remapLinks(sorted);
    const bool withPositions = m_memberPositions.size() == m_members.size();
    for (std::size_t k = 1; k < sorted.size(); ++k) {
        const int other = sorted[k];
        m_members[base].insert(m_members[base].end(), m_members[other].begin(), m_members[other].end());
        if (withPositions)
            m_memberPositions[base].insert(m_memberPositions[base].end(),
                                           m_memberPositions[other].begin(),
                                           m_memberPositions[other].end());
    }
    for (std::size_t k = sorted.size() - 1; k >= 1; --k) {
        const int removed = sorted[k];
        m_members.erase(m_members.begin() + removed);
        if (withPositions)
            m_memberPositions.erase(m_memberPositions.begin() + removed);
        m_names.erase(m_names.begin() + removed);
        m_revisions.erase(m_revisions.begin() + removed);
        // The original clusters that were `removed` now live in `base`; those
        // after it moved down by one.
        for (int& id : m_clusterIds) {
            if (id == removed)
                id = base;
            else if (id > removed)
                --id;
        }
    }

    m_revisions[base] = nextRevision();
    setDirty();
    m_selected.assign(clusterCount(), false);
    if (m_uiInterface)
        m_uiInterface->dataRefreshedSignal(this);
}

void MCV_DerivedDataClusters::remapLinks(const std::vector<int>& merged)
{
    // Old index -> index after the merge: the merged ones become the lowest,
    // every other one moves down by the number of merged-away clusters below it.
    const int base = merged.front();
    std::vector<int> newIndex(m_members.size());
    int removedBelow = 0;
    for (int i = 0; i < clusterCount(); ++i) {
        const bool mergedAway = i != base && std::binary_search(merged.begin(), merged.end(), i);
        newIndex[i] = mergedAway ? base : i - removedBelow;
        if (mergedAway)
            ++removedBelow;
    }
    std::vector<Link> links;
    for (Link link : m_links) {
        link.source = newIndex[link.source];
        link.target = newIndex[link.target];
        if (link.source == link.target)
            continue;
        const bool repeated = std::any_of(links.begin(), links.end(), [&link](const Link& kept) {
            return std::minmax(kept.source, kept.target) == std::minmax(link.source, link.target);
        });
        if (!repeated)
            links.push_back(link);
    }
    m_links = std::move(links);
}

void MCV_DerivedDataClusters::mergeSelectedClusters()
{
    if (selectedClusterCount() < 2)
        return;
    std::vector<int> indices;
    for (int i = 0; i < static_cast<int>(m_selected.size()); ++i)
        if (m_selected[i])
            indices.push_back(i);
    mergeClusters(indices);
}

int MCV_DerivedDataClusters::selectedClusterCount() const
{
    return static_cast<int>(std::count(m_selected.begin(), m_selected.end(), true));
}

void MCV_DerivedDataClusters::clearSelection()
{
    std::fill(m_selected.begin(), m_selected.end(), false);
}

int64_t MCV_DerivedDataClusters::setSelectedClusters(const std::vector<int>& indices)
{
    if (m_members.empty())
        return 0;
    m_selected.assign(clusterCount(), false);
    for (int index : indices) {
        if (index >= 0 && index < clusterCount())
            m_selected[index] = true;
        else
            std::cout << "ERROR: problem with selection computation.\n";
    }
    if (m_uiInterface) {
        // The slot may reopen the files, which deletes this set with the registry.
        const uint64_t generation = MCV_DataRegistry::currentGeneration();
        m_uiInterface->selectionRefreshedSignal(this);
        if (MCV_DataRegistry::currentGeneration() != generation)
            return 0;
    }
    return updateSelectionData();
}

void MCV_DerivedDataClusters::toggleCluster(int index, bool additive, std::vector<int64_t>& positions)
{
    if (index < 0 || index >= clusterCount()) {
        std::cout << "ERROR: cluster could not be selected.\n";
        return;
    }
    m_selected.resize(clusterCount(), false);
    const bool wasSelected = m_selected[index];
    if (!additive)
        clearSelection();
    m_selected[index] = !wasSelected;

    positions.clear();
    for (int i = 0; i < clusterCount(); ++i)
        if (m_selected[i] && i < static_cast<int>(m_memberPositions.size()))
            positions.insert(positions.end(), m_memberPositions[i].begin(), m_memberPositions[i].end());
    if (m_uiInterface)
        m_uiInterface->selectionRefreshedSignal(this);
}

int64_t MCV_DerivedDataClusters::updateSelectionData()
{
    std::vector<MCV_PointIndex> points;
    for (int i = 0; i < clusterCount(); ++i)
        if (i < static_cast<int>(m_selected.size()) && m_selected[i])
            points.insert(points.end(), m_members[i].begin(), m_members[i].end());
    const int64_t count = static_cast<int64_t>(points.size());
    MCV_DataRegistry::instance()->selectionData()->setPoints(std::move(points), true);
    return count;
}

void MCV_DerivedDataClusters::setHighlightedCluster(int index)
{
    if (index < -1 || index >= clusterCount()) {
        std::cout << "ERROR: cluster " << index << " could not be highlighted.\n";
        return;
    }
    if (index == m_highlighted)
        return;
    m_highlighted = index;
    if (m_uiInterface)
        m_uiInterface->highlightRefreshedSignal(this);
}

void MCV_DerivedDataClusters::setNodePositions(const std::string& positions)
{
    m_nodePositions = positions;
    if (m_uiInterface)
        m_uiInterface->spadeTreeRefreshedSignal(this);
}

// Reading the members' values is the costly part: every stale statistic is
// computed from the one read.
void MCV_DerivedDataClusters::computeMedians()
{
    if (m_mediansDirty)
        computeStale();
}

void MCV_DerivedDataClusters::computeMeans()
{
    if (m_meansDirty)
        computeStale();
}

void MCV_DerivedDataClusters::computeStdDevs()
{
    if (m_stdDevsDirty)
        computeStale();
}

void MCV_DerivedDataClusters::computeStale()
{
    const bool medians = m_mediansDirty;
    const bool means = m_meansDirty;
    const bool stdDevs = m_stdDevsDirty;
    const PointStatistics statistics(*MCV_DataRegistry::instance());
    const int64_t parameters = statistics.parameterCount();
    const int n = clusterCount();
    const std::vector<float> zeros(parameters, 0.0f);
    if (medians)
        m_medians.assign(n, zeros);
    if (means)
        m_means.assign(n, zeros);
    std::vector<std::vector<double>> squaredSums;
    if (stdDevs) {
        m_stdDevs.assign(n, zeros);
        squaredSums.assign(n, std::vector<double>(parameters, 0.0));
    }

    // Each cluster is computed by one thread in member order: the figures
    // are the same at any thread count.
#pragma omp parallel
    {
        std::vector<float> values;
#pragma omp for schedule(static)
        for (int c = 0; c < n; ++c)
            for (int64_t j = 0; j < parameters; ++j) {
                statistics.gather(m_members[c], j, values);
                if (means)
                    m_means[c][j] = PointStatistics::mean(values);
                if (stdDevs) {
                    squaredSums[c][j] = PointStatistics::squaredDeviationSum(values, m_means[c][j]);
                    m_stdDevs[c][j] = PointStatistics::stdDev(squaredSums[c][j], static_cast<int64_t>(values.size()));
                }
                if (medians)
                    m_medians[c][j] = PointStatistics::median(values);
            }
    }

    if (medians)
        m_mediansDirty = false;
    if (means)
        m_meansDirty = false;
    if (stdDevs) {
        m_stdDevsDirty = false;
        for (int c = 0; c < n; ++c)
            for (int64_t j = 0; j < parameters; ++j)
                if (std::isnan(m_stdDevs[c][j]))
                    PointStatistics::reportNanStdDev(clusterSize(c), squaredSums[c][j], m_stdDevs[c][j]);
    }
}

void MCV_DerivedDataClusters::refresh()
{
    if (!m_jsonDirty)
        return;
    computeMedians();
    computeStdDevs();
    const int n = clusterCount();

    std::string nodes = "\"nodes\":[\n";
    for (int c = 0; c < n; ++c) {
        nodes += "{\"name\":" + TextEscaping::jsonString(m_names[c]) + ", ";
        nodes += "\"size\":" + std::to_string(m_members[c].size()) + ", ";
        nodes += "\"expression\":[" + joinJsonNumbers(m_medians[c]);
        nodes += "], \"stddev\":[" + joinJsonNumbers(m_stdDevs[c]);
        nodes += c + 1 < n ? "]},\n" : "]}\n";
    }
    nodes += "]";

    std::string links;
    if (!m_links.empty()) {
        links = ",\n\"links\":[\n";
        for (std::size_t l = 0; l < m_links.size(); ++l) {
            const Link& link = m_links[l];
            links += "{\"source\":" + std::to_string(link.source) + ", \"target\":"
                     + std::to_string(link.target) + ", \"value\":" + TextEscaping::jsonNumber(link.value)
                     + "}";
            links += l + 1 < m_links.size() ? ",\n" : "\n";
        }
        links += "]";
    }

    std::string names = ",\n\"names\":[";
    const FcsHeader* header = MCV_DataRegistry::instance()->mergedHeader();
    const std::size_t parameters = header ? header->parameterCount() : 0;
    for (std::size_t p = 0; p < parameters; ++p) {
        names += TextEscaping::jsonString(header->parameters()[p].shortName);
        if (p + 1 < parameters)
            names += ",";
    }
    names += "]";

    m_jsonString = "{\n" + nodes + links + names + "\n}";
    m_escapedJsonString = TextEscaping::scriptLiteral(m_jsonString);
    m_jsonDirty = false;
}

const std::string& MCV_DerivedDataClusters::statisticsCsv()
{
    updateStatisticsCsv();
    return m_csvString;
}

void MCV_DerivedDataClusters::updateStatisticsCsv()
{
    if (!m_csvDirty)
        return;
    computeMedians();
    std::string csv = "Subset,";
    const FcsHeader* header = MCV_DataRegistry::instance()->mergedHeader();
    const std::size_t parameters = header ? header->parameterCount() : 0;
    for (std::size_t p = 0; p < parameters; ++p) {
        csv += TextEscaping::csvField(header->parameters()[p].shortName);
        if (p + 1 < parameters)
            csv += ",";
    }
    csv += "\n";
    for (int c = 0; c < clusterCount(); ++c) {
        csv += TextEscaping::csvField(m_names[c]) + ",";
        for (std::size_t j = 0; j < m_medians[c].size(); ++j) {
            if (j > 0)
                csv += ",";
            csv += TextEscaping::fixed(m_medians[c][j]);
        }
        csv += "\n";
    }
    m_csvString = csv;
    m_csvDirty = false;
}

const std::string& MCV_DerivedDataClusters::selectionStatistics(int index)
{
    static const std::string empty;
    if (index < 0 || index >= clusterCount()) {
        std::cout << "ERROR: cluster " << index << " has no statistics.\n";
        return empty;
    }
    updateSelectionStatistics();
    return m_selectionStatistics[index];
}

void MCV_DerivedDataClusters::updateSelectionStatistics()
{
    if (!m_selectionStatisticsDirty)
        return;
    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    const int samples = registry->sampleCount();
    std::vector<int64_t> totals(samples, 0);
    if (m_parent) {
        const std::vector<int64_t>& counts = m_parent->sampleCounts();
        std::copy(counts.begin(), counts.begin() + std::min<std::size_t>(counts.size(), samples), totals.begin());
    }

    const int n = clusterCount();
    m_selectionStatistics.assign(n, std::string());
    std::vector<int64_t> inCluster(samples);
    std::vector<float> inPercent(samples);
    for (int c = 0; c < n; ++c) {
        std::fill(inCluster.begin(), inCluster.end(), 0);
        for (const MCV_PointIndex& point : m_members[c])
            if (point.sampleIndex >= 0 && point.sampleIndex < samples)
                ++inCluster[point.sampleIndex];
        const float size = static_cast<float>(m_members[c].size());

        // A sample that the parent set lacks gives a non-finite share on its
        // own line; it must not spoil the normalisation of the others.
        float sum = 0.0f;
        for (int s = 0; s < samples; ++s) {
            inPercent[s] = static_cast<float>(inCluster[s]) * 100.0f / static_cast<float>(totals[s]);
            if (std::isfinite(inPercent[s]))
                sum += inPercent[s];
        }

        std::string text = "Idx, Filename, Total events, in selection, % in selection, % of selection, "
                           "% of selection normalized\n";
        for (int s = 0; s < samples; ++s) {
            const float ofPercent = static_cast<float>(inCluster[s]) * 100.0f / size;
            const float normalized = inPercent[s] * 100.0f / sum;
            text += std::to_string(s + 1) + TextEscaping::csvNextField(registry->sampleHeader(s)->fileName()) + ", "
                    + TextEscaping::fixed(static_cast<double>(totals[s])) + ", "
                    + TextEscaping::fixed(static_cast<double>(inCluster[s])) + ", "
                    + TextEscaping::fixed(inPercent[s]) + ", " + TextEscaping::fixed(ofPercent) + ", "
                    + TextEscaping::fixed(normalized) + "\n";
        }
        m_selectionStatistics[c] = text;
    }
    m_selectionStatisticsDirty = false;
}

void MCV_DerivedDataClusters::setDirty()
{
    m_mediansDirty = true;
    m_meansDirty = true;
    m_stdDevsDirty = true;
    m_jsonDirty = true;
    m_csvDirty = true;
    m_selectionStatisticsDirty = true;
}
