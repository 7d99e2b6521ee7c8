// The template-matching analysis against an independent reference: the walk
// over the templates transcribed as the single-precision loop with its early
// stop, medians from sorted values and a Kruskal tree.
#include "analyses/MCV_TemplateAnalysis.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataPoints.h"
#include "support/LinkTreeCheck.h"
#include "support/RecordingUiInterface.h"
#include "support/RegistryTestData.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kParameters = 8;
/// Not contiguous; the other parameters hold values that would change every class if read.
const std::vector<int> kActive = {0, 2, 3, 5, 7};
/// More than one block of the matching kernel.
constexpr int kTemplates = 21;
/// Template 18 repeats template 4: events at it go to 4.
constexpr int kCopy = 18, kOriginal = 4;
const float kNaN = std::numeric_limits<float>::quiet_NaN();

using Table = MCV_TemplateAnalysis::Table;
using Clusters = std::vector<std::vector<MCV_PointIndex>>;

/// What the walk gives, computed without any code of the analysis.
struct Reference
{
    Clusters clusters;
    std::vector<int> outcome; ///< per event in file order: -1 matched, 0 single, 1 combined, 2 mixed
    int64_t failures[3] = {0, 0, 0};
    std::vector<std::vector<float>> medians;
    std::vector<float> treeWeights; ///< ascending
};

float l1(const std::vector<float>& a, const std::vector<float>& b)
{
    float sum = 0.0f;
    for (size_t k = 0; k < a.size(); ++k)
        sum += std::fabs(a[k] - b[k]);
    return sum;
}

Reference reference(const MCV_DataRegistry& registry, const Table& table, const std::vector<int>& markers,
                    float single, float total)
{
    const int T = static_cast<int>(table.size());
    Reference r;
    r.clusters.resize(static_cast<size_t>(T) + 1);
    const int64_t P = registry.parameterCount();
    for (int f = 0; f < registry.sampleCount(); ++f)
        for (int e = 0; e < registry.sampleHeader(f)->eventCount(); ++e) {
            const float* row = registry.sampleData(f) + e * P;
            float best = total;
            int h = T, singleFailures = 0, totalFailures = 0;
            for (int u = 0; u < T; ++u) {
                float sum = 0.0f;
                bool failed = false;
                for (int m : markers) {
                    const float d = std::fabs(row[m] - table[u][m]);
                    sum += d;
                    if (d > single) {
                        failed = true;
                        break;
                    }
                }
                if (failed)
                    ++singleFailures;
                else if (sum < best) {
                    h = u;
                    best = sum;
                } else if (sum > total)
                    ++totalFailures;
            }
            r.clusters[h].push_back({f, e});
            int outcome = -1;
            if (h == T)
                outcome = singleFailures == T ? 0 : totalFailures == T ? 1 : 2;
            if (outcome >= 0)
                ++r.failures[outcome];
            r.outcome.push_back(outcome);
        }

    for (const auto& members : r.clusters) {
        std::vector<float> medians;
        for (int m : markers) {
            std::vector<float> values;
            for (const MCV_PointIndex& p : members) {
                const float x = registry.sampleData(p.sampleIndex)[p.eventIndex * P + m];
                if (!std::isnan(x))
                    values.push_back(x);
            }
            std::sort(values.begin(), values.end());
            medians.push_back(values.empty() ? 0.0f : values[values.size() / 2]);
        }
        r.medians.push_back(medians);
    }

    // Kruskal over all pairs.
    struct Edge { float w; int i, j; };
    std::vector<Edge> edges;
    const int n = static_cast<int>(r.medians.size());
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
            edges.push_back({l1(r.medians[i], r.medians[j]), i, j});
    std::stable_sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.w < b.w; });
    std::vector<int> parent(static_cast<size_t>(n));
    std::iota(parent.begin(), parent.end(), 0);
    auto root = [&](int v) { while (parent[v] != v) v = parent[v]; return v; };
    if (!markers.empty())
        for (const Edge& edge : edges)
            if (root(edge.i) != root(edge.j)) {
                parent[root(edge.i)] = root(edge.j);
                r.treeWeights.push_back(edge.w);
            }
    return r;
}

/// The summary lines the run prints for these clusters and failures.
std::string summary(const Clusters& clusters, const int64_t failures[3])
{
    std::string text = "\n\n";
    size_t total = 0;
    for (size_t c = 0; c < clusters.size(); ++c) {
        text += "Cluster " + std::to_string(c) + " contains " + std::to_string(clusters[c].size()) + " cells.\n";
        total += clusters[c].size();
    }
    return text + std::to_string(total) + " total cells clustered.\n" + std::to_string(failures[0]) +
           " failed because all matches resulted in failures in a single marker.\n" + std::to_string(failures[1]) +
           " failed because all matches resulted in failures the combined markers.\n" + std::to_string(failures[2]) +
           " failed because of a mix of both.\n";
}

bool sameBits(const std::vector<std::vector<float>>& a, const std::vector<std::vector<float>>& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].size() != b[i].size() || std::memcmp(a[i].data(), b[i].data(), a[i].size() * sizeof(float)) != 0)
            return false;
    return true;
}

/// Integer templates on all parameters; any two distinct ones differ by at
/// least 6 in some active marker, so an event within 1 of one is more than
/// a single-marker limit of 2.5 away from every other.
Table makeTemplates(std::mt19937& rng)
{
    std::uniform_int_distribution<int> value(0, 50);
    Table table;
    while (static_cast<int>(table.size()) < kTemplates) {
        if (static_cast<int>(table.size()) == kCopy) {
            table.push_back(table[kOriginal]);
            continue;
        }
        std::vector<float> row(kParameters);
        for (float& v : row)
            v = static_cast<float>(value(rng));
        bool apart = true;
        for (const auto& other : table) {
            float widest = 0.0f;
            for (int m : kActive)
                widest = std::max(widest, std::fabs(row[m] - other[m]));
            apart = apart && widest >= 6.0f;
        }
        if (apart)
            table.push_back(row);
    }
    return table;
}

/// Event kinds, cycled through the events of every file.
enum Kind { AtTemplate, Within, BeyondOneMarker, AtTotalLimit, BeyondTotalOnly, NanActive, NanInactive, KindCount };

/// The event of a kind near template u; inactive parameters 100 away from it.
std::vector<float> makeEvent(const Table& table, int u, Kind kind, std::mt19937& rng)
{
    std::vector<float> row = table[u];
    for (int m = 0; m < kParameters; ++m)
        if (std::find(kActive.begin(), kActive.end(), m) == kActive.end())
            row[m] += 100.0f;
    std::uniform_int_distribution<int> step(-1, 1);
    for (size_t i = 0; i < kActive.size(); ++i) {
        float& x = row[kActive[i]];
        switch (kind) {
        case Within: x += 0.5f * static_cast<float>(step(rng)); break;
        case BeyondOneMarker: x += i == 2 ? 1000.0f : 0.0f; break;
        case AtTotalLimit: x += i < 4 ? 1.0f : 0.0f; break; // total 4
        case BeyondTotalOnly: x += 1.0f; break;             // total 5, every marker within 2.5
        case NanActive: x = i == 1 ? kNaN : x; break;
        default: break;
        }
    }
    if (kind == NanInactive)
        row[1] = kNaN;
    return row;
}

class TemplateAnalysisTest : public testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    void TearDown() override { RegistryTestData::dropRegistry(); }

    /// A new registry with the files loaded and "All Points" made.
    MCV_DataRegistry* open(const std::vector<std::vector<float>>& files,
                           const std::vector<std::pair<std::string, std::string>>& keywords = {},
                           int parameters = kParameters)
    {
        MCV_DataRegistry* registry = RegistryTestData::freshRegistry();
        registry->setUiInterface(&m_ui);
        for (size_t f = 0; f < files.size(); ++f) {
            const std::string path = RegistryTestData::writeFcs(m_dir.path().toStdString(),
                                                                "f" + std::to_string(f) + ".fcs", parameters,
                                                                files[f], keywords);
            EXPECT_EQ(registry->loadFcsFile(path), 0);
        }
        registry->createAllPointsData();
        return registry;
    }

    /// Three files (one of 7 events) of every kind near every template.
    MCV_DataRegistry* openKnownClasses(const Table& table, std::mt19937& rng)
    {
        std::vector<std::vector<float>> files(3);
        const int sizes[3] = {260, 7, 190};
        for (int f = 0; f < 3; ++f)
            for (int e = 0; e < sizes[f]; ++e) {
                const Kind kind = static_cast<Kind>((e + f) % KindCount);
                const int u = (e / KindCount + 5 * f) % kTemplates;
                m_kinds.push_back(kind);
                m_near.push_back(u == kCopy ? kOriginal : u);
                const std::vector<float> row = makeEvent(table, u, kind, rng);
                files[f].insert(files[f].end(), row.begin(), row.end());
            }
        return open(files);
    }

    /// Initialises an analysis on the table with the test's active markers.
    void start(MCV_TemplateAnalysis& analysis, const Table& table, const std::string& name = "Templates")
    {
        analysis.initialize(&m_ui, name, table);
        for (int m = 0; m < kParameters; ++m)
            analysis.setMarkerActive(m, std::find(kActive.begin(), kActive.end(), m) != kActive.end());
    }

    /// Runs classify with the limits; returns what it printed.
    static std::string classify(MCV_TemplateAnalysis& analysis, float single, float total, bool expected = true)
    {
        analysis.setMaxMarkerDistance(single);
        analysis.setMaxProfileDistance(total);
        testing::internal::CaptureStdout();
        const bool done = analysis.classify();
        std::string text = testing::internal::GetCapturedStdout();
        EXPECT_EQ(done, expected) << text;
        return text;
    }

    /// The analysis equals the reference in every published detail.
    static void expectEqual(const MCV_TemplateAnalysis& analysis, const Reference& ref, const std::string& printed)
    {
        EXPECT_EQ(analysis.clusters().size(), ref.clusters.size());
        for (size_t c = 0; c < std::min(analysis.clusters().size(), ref.clusters.size()); ++c)
            EXPECT_TRUE(analysis.clusters()[c] == ref.clusters[c]) << "cluster " << c;
        EXPECT_EQ(analysis.failures().singleMarker, ref.failures[0]);
        EXPECT_EQ(analysis.failures().combinedMarkers, ref.failures[1]);
        EXPECT_EQ(analysis.failures().mixed, ref.failures[2]);
        EXPECT_NE(printed.find(summary(ref.clusters, ref.failures)), std::string::npos) << printed;
        EXPECT_TRUE(sameBits(analysis.medians(), ref.medians));
        const int count = static_cast<int>(ref.clusters.size());
        if (ref.treeWeights.empty() && count > 1) {
            EXPECT_TRUE(analysis.links().empty());
            return;
        }
        EXPECT_TRUE(linksFormTree(analysis.links(), count));
        std::vector<float> weights;
        for (const auto& link : analysis.links()) {
            weights.push_back(link.value);
            EXPECT_EQ(link.value, l1(ref.medians[link.source], ref.medians[link.target]));
        }
        std::sort(weights.begin(), weights.end());
        EXPECT_EQ(weights, ref.treeWeights);
    }

    MCV_DerivedDataClusters* publishedSet(const std::string& name) const
    {
        for (MCV_DerivedDataClusters* set : MCV_DataRegistry::instance()->clustersDataList())
            if (set->name() == name)
                return set;
        return nullptr;
    }

    QTemporaryDir m_dir;
    RecordingUiInterface m_ui;
    std::vector<Kind> m_kinds;
    std::vector<int> m_near;
};

} // namespace

TEST_F(TemplateAnalysisTest, KnownClassesAllFailureKindsAndReferenceAgree)
{
    std::mt19937 rng(7);
    const Table table = makeTemplates(rng);
    MCV_DataRegistry* registry = openKnownClasses(table, rng);
    MCV_TemplateAnalysis analysis;
    start(analysis, table);
    EXPECT_EQ(analysis.analysisType(), 0);
    EXPECT_EQ(analysis.maxMarkerDistance(), 2.5f);
    EXPECT_EQ(analysis.maxProfileDistance(), 20.0f);

    // Single limit 2.5, total 4: single-marker and mixed failures.
    const std::string printed = classify(analysis, 2.5f, 4.0f);
    const Reference ref = reference(*registry, table, kActive, 2.5f, 4.0f);
    for (size_t i = 0; i < m_kinds.size(); ++i) {
        const Kind kind = m_kinds[i];
        const int expected = kind == AtTemplate || kind == Within || kind == NanInactive ? -1
                             : kind == BeyondOneMarker                                  ? 0
                                                                                        : 2;
        EXPECT_EQ(ref.outcome[i], expected) << "event " << i << " kind " << kind;
    }
    int64_t at = 0;
    for (size_t c = 0; c < ref.clusters.size(); ++c)
        for (const MCV_PointIndex& p : ref.clusters[c]) {
            const size_t i = p.sampleIndex == 0 ? p.eventIndex : p.sampleIndex == 1 ? 260 + p.eventIndex
                                                                                     : 267 + p.eventIndex;
            if (ref.outcome[i] == -1) {
                EXPECT_EQ(static_cast<int>(c), m_near[i]) << "event " << i;
                ++at;
            }
        }
    EXPECT_GT(at, 0);
    EXPECT_TRUE(ref.clusters[kCopy].empty());
    expectEqual(analysis, ref, printed);

    // No single-marker limit to speak of, total 0.75: combined failures too.
    const std::string second = classify(analysis, 1000.0f, 0.75f);
    const Reference wide = reference(*registry, table, kActive, 1000.0f, 0.75f);
    EXPECT_GT(wide.failures[1], 0);
    EXPECT_GT(wide.failures[2], 0);
    expectEqual(analysis, wide, second);

    MCV_DerivedDataClusters* set = publishedSet("Templates");
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->clusterCount(), kTemplates + 1);
    EXPECT_EQ(set->parentData()->name(), "All Points");
    EXPECT_EQ(set->links().size(), static_cast<size_t>(kTemplates));
}

TEST_F(TemplateAnalysisTest, RandomEventsAtSeveralSeedsEqualTheReferenceAtOneAndEightThreads)
{
    for (unsigned seed : {1u, 2u, 3u}) {
        std::mt19937 rng(seed);
        const Table table = makeTemplates(rng);
        std::uniform_int_distribution<int> u(0, kTemplates - 1), step(-3, 3);
        std::vector<std::vector<float>> files(2);
        // One cluster large enough for the medians to be gathered in parallel.
        const int events = seed == 1 ? 25000 : 900;
        for (auto& file : files)
            for (int e = 0; e < events; ++e)
                for (float x : table[u(rng)])
                    file.push_back(x + 0.5f * static_cast<float>(step(rng)));
        MCV_DataRegistry* registry = open(files);
        const float single = seed == 3 ? 1.0f : 1.5f, total = seed == 2 ? 3.0f : 4.5f;
        const Reference ref = reference(*registry, table, kActive, single, total);

        MCV_TemplateAnalysis analysis;
        start(analysis, table);
        const int previous = omp_get_max_threads();
        omp_set_num_threads(1);
        const std::string one = classify(analysis, single, total);
        const Clusters clusters = analysis.clusters();
        const auto medians = analysis.medians();
        const auto links = analysis.links();
        omp_set_num_threads(8);
        const std::string eight = classify(analysis, single, total);
        omp_set_num_threads(previous);

        expectEqual(analysis, ref, eight);
        if (seed == 1) {
            size_t largest = 0;
            for (const auto& members : ref.clusters)
                largest = std::max(largest, members.size());
            EXPECT_GE(largest, 20000u) << "medians gathered in parallel and selected by radix";
        }
        EXPECT_EQ(one, eight);
        EXPECT_TRUE(clusters == analysis.clusters());
        EXPECT_TRUE(sameBits(medians, analysis.medians()));
        ASSERT_EQ(links.size(), analysis.links().size());
        for (size_t i = 0; i < links.size(); ++i)
            EXPECT_TRUE(links[i].source == analysis.links()[i].source && links[i].target == analysis.links()[i].target
                        && links[i].value == analysis.links()[i].value);
    }
}

TEST_F(TemplateAnalysisTest, TinyRunPrintsTheseLines)
{
    const std::vector<float> values = {1, 2, 5, 5, 1.5f, 2, 9, 9};
    open({values}, {}, 2);
    MCV_TemplateAnalysis analysis;
    testing::internal::CaptureStdout();
    analysis.initialize(nullptr, "Tiny", {{0, 0}, {1, 2}, {5, 6}});
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Updating Clusters.\n");
    std::string printed = classify(analysis, 2.5f, 20.0f);
    const std::string path = MCV_DataRegistry::instance()->samplePath(0);
    printed.replace(printed.find(path), path.size(), "PATH");
    EXPECT_EQ(printed, "\nUpsampling data ..\nMaximum Distance for a single marker is 2.5"
                       "\nMaximum Distance for the complete marker profile is 20"
                       "\n\tFile PATH (1 of 1).\n\t\n\n"
                       "Cluster 0 contains 0 cells.\nCluster 1 contains 2 cells.\nCluster 2 contains 1 cells.\n"
                       "Cluster 3 contains 1 cells.\n4 total cells clustered.\n"
                       "1 failed because all matches resulted in failures in a single marker.\n"
                       "0 failed because all matches resulted in failures the combined markers.\n"
                       "0 failed because of a mix of both.\n"
                       "\nBuilding minimum spanning tree..  Found in: 1 iteration(s) \nUpdating Clusters.\n done.\n");
    EXPECT_EQ(analysis.medians(), (std::vector<std::vector<float>>{{0, 0}, {1.5f, 2}, {5, 5}, {9, 9}}));
}

TEST_F(TemplateAnalysisTest, NoTemplatesNoMarkersAndAnExactTotal)
{
    open({{1, 2, 3, 4, 5, 6}}, {}, 2);
    MCV_TemplateAnalysis empty;
    empty.initialize(nullptr, "Empty", {});
    classify(empty, 2.5f, 20.0f);
    ASSERT_EQ(empty.clusters().size(), 1u);
    EXPECT_EQ(empty.clusters()[0].size(), 3u);
    EXPECT_EQ(empty.failures().singleMarker, 3);
    EXPECT_TRUE(empty.links().empty());

    MCV_TemplateAnalysis none;
    none.initialize(nullptr, "None", {{9, 9}, {9, 9}});
    none.setMarkerActive(0, false);
    none.setMarkerActive(1, false);
    classify(none, 2.5f, 20.0f);
    EXPECT_EQ(none.clusters()[0].size(), 3u) << "every event matches the first template";
    EXPECT_TRUE(none.links().empty());

    // Totals 3, 7 and 11 against a limit of 7: only the first matches, the
    // second is neither a match nor a combined failure.
    MCV_TemplateAnalysis exact;
    exact.initialize(nullptr, "Exact", {{0, 0}});
    classify(exact, 10.0f, 7.0f);
    EXPECT_EQ(exact.clusters()[0].size(), 1u);
    EXPECT_EQ(exact.failures().mixed, 1);
    EXPECT_EQ(exact.failures().combinedMarkers, 1);
}

TEST_F(TemplateAnalysisTest, NarrowTableLeavesOutTheSampleTagAndRefusesWhenNothingIsLeft)
{
    std::mt19937 rng(11);
    const Table full = makeTemplates(rng);
    openKnownClasses(full, rng);
    MCV_TemplateAnalysis analysis;
    start(analysis, full);
    const std::string before = classify(analysis, 2.5f, 4.0f);
    const Clusters expected = analysis.clusters();

    MCV_DataRegistry::instance()->appendChannels({"VSRNE_ST"}, -1.0f);
    analysis.resizeMarkerFlags();
    analysis.setMarkerActive(kParameters, true);
    const std::string printed = classify(analysis, 2.5f, 4.0f);
    EXPECT_NE(printed.find("take no part: \"VSRNE_ST\" (parameter 9)."), std::string::npos) << printed;
    EXPECT_TRUE(analysis.clusters() == expected);
    EXPECT_EQ(analysis.runMarkers(), kActive);

    Table narrow = full;
    for (auto& row : narrow)
        row.resize(2);
    MCV_TemplateAnalysis cut;
    start(cut, narrow, "Narrow");
    classify(cut, 2.5f, 4.0f);
    EXPECT_EQ(cut.runMarkers(), std::vector<int>{0});
    cut.setMarkerActive(0, false);
    const std::string refused = classify(cut, 2.5f, 4.0f, false);
    EXPECT_EQ(cut.refusalReason(), "none of the active markers has a column in the template table (2 columns).");
    EXPECT_NE(refused.find("Template matching refused: none of the active markers"), std::string::npos);
    EXPECT_EQ(cut.clusters().size(), narrow.size() + 1) << "the previous results stay";
}

TEST_F(TemplateAnalysisTest, ReopenedFilesMustNameTheTablesParameters)
{
    std::mt19937 rng(5);
    const Table table = makeTemplates(rng);
    openKnownClasses(table, rng);
    MCV_TemplateAnalysis analysis;
    start(analysis, table);
    classify(analysis, 2.5f, 4.0f);
    const Clusters first = analysis.clusters();
    EXPECT_EQ(analysis.columnNames().front(), "P1");

    std::vector<float> values(3 * kParameters, 1.0f);
    open({values}, {{"$P3N", "CD4"}});
    m_ui.clear();
    classify(analysis, 2.5f, 4.0f, false);
    EXPECT_EQ(analysis.refusalReason(),
              "column 3 of the template table stands for parameter \"P3\", but the loaded files have \"CD4\" there.");
    EXPECT_TRUE(analysis.clusters() == first);
    EXPECT_EQ(m_ui.count("dataRefreshedSignal"), 0) << "nothing published";

    open({std::vector<float>(3 * 5, 1.0f)}, {}, 5);
    classify(analysis, 2.5f, 4.0f, false);
    EXPECT_EQ(analysis.refusalReason(), "the template table has 8 columns, but the loaded files have only 5 parameters.");

    open({values});
    classify(analysis, 2.5f, 4.0f);
    EXPECT_EQ(analysis.clusters().size(), table.size() + 1);
    MCV_DerivedDataClusters* set = publishedSet(analysis.name());
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->parentData(), analysis.inputData());
    EXPECT_EQ(set->parentData()->name(), "All Points");
}
