#include "analyses/MCV_SpadeAnalysis.h"
#include "analyses/spade/SpadeDensityCache.h"
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
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr int kMarkers = 4;
constexpr int kBlobs = 3;

/// Events of three blobs far apart (blob = event index mod 3), with noise.
std::vector<float> blobEvents(int events, unsigned seed, float shift = 0.0f)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    std::vector<float> values(static_cast<size_t>(events) * kMarkers);
    for (int e = 0; e < events; ++e)
        for (int k = 0; k < kMarkers; ++k)
            values[e * kMarkers + k] = 20.0f * static_cast<float>(e % kBlobs) + noise(rng) + shift;
    return values;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class SpadeAnalysisTest : public testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    void TearDown() override { RegistryTestData::dropRegistry(); }

    std::string writeFile(const std::string& name, const std::vector<float>& values)
    {
        return RegistryTestData::writeFcs(m_dir.path().toStdString(), name, kMarkers, values);
    }

    /// A new registry with the files loaded and "All Points" made, as opening files does.
    MCV_DataRegistry* open(const std::vector<std::string>& paths)
    {
        MCV_DataRegistry* registry = RegistryTestData::freshRegistry();
        registry->setUiInterface(&m_ui);
        for (const std::string& path : paths)
            EXPECT_EQ(registry->loadFcsFile(path), 0) << path;
        registry->createAllPointsData();
        return registry;
    }

    static std::string run(MCV_SpadeAnalysis& analysis)
    {
        testing::internal::CaptureStdout();
        analysis.computeSpadeTree();
        return testing::internal::GetCapturedStdout();
    }

    static bool contains(const std::string& text, const std::string& part)
    {
        return text.find(part) != std::string::npos;
    }

    /// Every event of every file is in exactly one cluster.
    static void expectEveryEventOnce(const MCV_SpadeAnalysis& analysis, const MCV_DataRegistry& registry)
    {
        std::vector<std::vector<int>> seen(registry.sampleCount());
        for (int f = 0; f < registry.sampleCount(); ++f)
            seen[f].assign(registry.sampleHeader(f)->eventCount(), 0);
        for (const auto& cluster : analysis.clusters())
            for (const MCV_PointIndex& p : cluster)
                ++seen[p.sampleIndex][p.eventIndex];
        for (int f = 0; f < registry.sampleCount(); ++f)
            for (size_t e = 0; e < seen[f].size(); ++e)
                ASSERT_EQ(seen[f][e], 1) << "file " << f << " event " << e;
    }

    QTemporaryDir m_dir;
    RecordingUiInterface m_ui;
};

} // namespace

TEST_F(SpadeAnalysisTest, FindsTheBlobsAssignsEveryEventAndPublishesTheTree)
{
    const std::string a = writeFile("a.fcs", blobEvents(900, 1));
    const std::string b = writeFile("b.fcs", blobEvents(600, 2));
    MCV_DataRegistry* registry = open({a, b});
    MCV_SpadeAnalysis analysis;
    analysis.initialize(&m_ui, "SPADE");
    EXPECT_EQ(analysis.analysisType(), 0);
    analysis.setTargetClusterCount(kBlobs);
    std::srand(1);
    const std::string out = run(analysis);

    EXPECT_TRUE(contains(out, "\nProcessing File: " + a + " (File 1 of 2, containing 900 data points)\n")) << out;
    EXPECT_TRUE(contains(out, "Done, "));
    ASSERT_EQ(analysis.clusters().size(), static_cast<size_t>(kBlobs));
    expectEveryEventOnce(analysis, *registry);
    // Each cluster holds one blob, whole.
    for (const auto& cluster : analysis.clusters()) {
        const int blob = cluster.front().eventIndex % kBlobs;
        for (const MCV_PointIndex& p : cluster)
            ASSERT_EQ(p.eventIndex % kBlobs, blob);
        EXPECT_EQ(cluster.size(), 500u);
    }
    EXPECT_TRUE(linksFormTree(analysis.links(), kBlobs));
    EXPECT_EQ(analysis.medians().size(), static_cast<size_t>(kBlobs));

    // Published under the analysis name, with the input set as parent.
    const auto sets = registry->clustersDataList();
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0]->name(), "SPADE");
    EXPECT_EQ(sets[0]->clusterCount(), kBlobs);
    EXPECT_EQ(sets[0]->links().size(), 2u);
    EXPECT_EQ(sets[0]->parentData(), analysis.inputData());
    EXPECT_EQ(analysis.createDerivedData({}, "ignored"), sets[0]);

    // The cache files sit beside the samples.
    EXPECT_EQ(readFile(SpadeDensityCache::densitiesPath(a)).size(), 900u * 4);
    EXPECT_EQ(readFile(SpadeDensityCache::densitiesPath(b)).size(), 600u * 4);

    // A subtree of clusters 2 and 0, in that order, tagged with the cluster count.
    EXPECT_EQ(analysis.createSubtreeData("Subtree", {2, 0}), "Subtree");
    MCV_DerivedDataPoints* subtree = registry->createPointsData("Subtree", true);
    ASSERT_EQ(subtree->points().size(), 1000u);
    EXPECT_EQ(subtree->points().front(), analysis.clusters()[2].front());
    EXPECT_EQ(subtree->points().back(), analysis.clusters()[0].back());
    EXPECT_EQ(subtree->tag(), kBlobs);

    // A bubble fills only its own set again; taken and reserved names get free ones.
    EXPECT_EQ(analysis.createSubtreeData("Subtree", {1}), "Subtree");
    EXPECT_EQ(subtree->points(), analysis.clusters()[1]);
    EXPECT_EQ(analysis.createSubtreeData("All Points", {1}), "All Points-1");
    EXPECT_EQ(registry->createPointsData("All Points", true)->points().size(), 1500u);
    EXPECT_EQ(analysis.createSubtreeData("Selection", {1}), "Selection-1");
    EXPECT_TRUE(registry->selectionData()->points().empty());
    registry->createPointsData("Theirs", false)->setPoints({{0, 0}}, false);
    EXPECT_EQ(analysis.createSubtreeData("Theirs", {0}), "Theirs-1");
    EXPECT_EQ(analysis.createSubtreeData("Theirs", {0, 1}), "Theirs-1");
    EXPECT_EQ(registry->createPointsData("Theirs", true)->points().size(), 1u);
    EXPECT_EQ(registry->createPointsData("Theirs-1", true)->points().size(), 1000u);

    // A second analysis of the same name gets its own clusters set.
    MCV_SpadeAnalysis second;
    second.initialize(&m_ui, "SPADE");
    EXPECT_EQ(second.name(), "SPADE-1");
}

TEST_F(SpadeAnalysisTest, RerunsOnlyWhatChangedAndReusesTheCache)
{
    const std::string a = writeFile("a.fcs", blobEvents(700, 3));
    MCV_DataRegistry* registry = open({a});
    MCV_SpadeAnalysis analysis;
    analysis.initialize(&m_ui, "SPADE");
    analysis.setTargetClusterCount(kBlobs);
    std::srand(2);
    std::string out = run(analysis);
    EXPECT_TRUE(contains(out, "\tComputing local densities "));
    const std::string cache = readFile(SpadeDensityCache::densitiesPath(a));
    const std::vector<int32_t> densities = analysis.densities()[0];

    out = run(analysis);
    EXPECT_TRUE(contains(out, "No parameters changed, no update necessary.\n"));

    // Only the cluster count: no densities, no downsampling, a new cut.
    analysis.setTargetClusterCount(5);
    const std::vector<int> kept = analysis.keptEvents()[0];
    out = run(analysis);
    EXPECT_FALSE(contains(out, "Trying to load cached densities"));
    EXPECT_FALSE(contains(out, "Downsampling"));
    EXPECT_TRUE(contains(out, "\tTargeting 5 clusters from Dendrogram .. done with 5 clusters.\n"));
    EXPECT_EQ(analysis.keptEvents()[0], kept);
    EXPECT_EQ(analysis.clusters().size(), 5u);
    expectEveryEventOnce(analysis, *registry);
    EXPECT_EQ(readFile(SpadeDensityCache::densitiesPath(a)), cache);

    // Reopened files: the densities in memory are not trusted; the cache is.
    registry = open({a});
    out = run(analysis);
    EXPECT_TRUE(contains(out, "\tTrying to load cached densities .. succes.\n")) << out;
    EXPECT_FALSE(contains(out, "Computing local densities"));
    EXPECT_EQ(analysis.densities()[0], densities);
    expectEveryEventOnce(analysis, *registry);

    // The file replaced by one of the same size: the cache is stale.
    writeFile("a.fcs", blobEvents(700, 3, 0.5f));
    registry = open({a});
    out = run(analysis);
    EXPECT_TRUE(contains(out, "Data in cache differs")) << out;
    EXPECT_TRUE(contains(out, "\tComputing local densities "));
    expectEveryEventOnce(analysis, *registry);

    // Data changed in place (a transform) without reopening: recomputed as well.
    std::vector<bool> all(static_cast<size_t>(registry->parameterCount()), true);
    registry->applyArcsinh(5, all);
    out = run(analysis);
    EXPECT_TRUE(contains(out, "Data in cache differs")) << out;

    // A marker switched off and on again: the cache still matches.
    analysis.setMarkerActive(1, false);
    analysis.setMarkerActive(1, true);
    out = run(analysis);
    EXPECT_TRUE(contains(out, "\tTrying to load cached densities .. succes.\n")) << out;
}

TEST_F(SpadeAnalysisTest, SettingsAtTheirLimitsEndWithAValidResult)
{
    const std::string a = writeFile("a.fcs", blobEvents(300, 4));
    const std::string empty = writeFile("empty.fcs", {});
    MCV_DataRegistry* registry = open({a, empty});
    ASSERT_EQ(registry->sampleCount(), 2);
    MCV_SpadeAnalysis analysis;
    analysis.initialize(&m_ui, "SPADE");

    struct Setting
    {
        const char* what;
        int sampleSize;
        float alpha;
        float keep;
        int clusters;
        const char* line;
    };
    const Setting settings[] = {
        {"sample size 0", 0, 3.0f, 10.0f, 4, "No random samples to measure, the median distance is 0."},
        {"sample size above the file", 5000, 3.0f, 10.0f, 4, "\tCreating 300 random samples\n"},
        {"alpha 0", 200, 0.0f, 10.0f, 4, "Scaled: 0.\n"},
        {"keep 0", 200, 3.0f, 0.0f, 4, "Target count is 0, no events are kept."},
        {"no clusters", 200, 3.0f, 10.0f, 0, "no clusters to make"},
        {"more clusters than kept events", 200, 3.0f, 10.0f, 99999, "events were kept, targeting"},
        {"keep everything", 200, 3.0f, 100.0f, 50, "Done, 300 (100%) active Samples remain."},
    };
    for (const Setting& s : settings) {
        analysis.setSampleSize(s.sampleSize);
        analysis.setAlpha(s.alpha);
        analysis.setKeepPercentage(s.keep);
        analysis.setTargetClusterCount(s.clusters);
        std::srand(3);
        const std::string out = run(analysis);
        EXPECT_TRUE(contains(out, s.line)) << s.what << "\n" << out;
        if (contains(out, "Done, ")) { // the file without events, when downsampling ran
            EXPECT_TRUE(contains(out, "\tNo events in this file, nothing to downsample.\n")) << s.what;
        }
        if (!analysis.clusters().empty()) {
            expectEveryEventOnce(analysis, *registry);
            EXPECT_TRUE(linksFormTree(analysis.links(), static_cast<int>(analysis.clusters().size()))) << s.what;
        }
        EXPECT_EQ(registry->clustersDataList().front()->clusterCount(), static_cast<int>(analysis.clusters().size()));
    }

    // No samples at all.
    open({});
    MCV_SpadeAnalysis none;
    none.initialize(&m_ui, "Empty");
    const std::string out = run(none);
    EXPECT_TRUE(contains(out, "No samples loaded, the SPADE tree is empty.")) << out;
    EXPECT_TRUE(none.clusters().empty());
}

TEST_F(SpadeAnalysisTest, SameTreeAtOneAndEightThreads)
{
    const std::string a = writeFile("a.fcs", blobEvents(1500, 5));
    const std::string b = writeFile("b.fcs", blobEvents(1200, 6));
    const int saved = omp_get_max_threads();
    std::vector<MCV_SpadeAnalysis*> runs;
    for (int threads : {1, 8}) {
        omp_set_num_threads(threads);
        open({a, b});
        // A sample as large as the file measures every event: no random draw of samples.
        auto* analysis = new MCV_SpadeAnalysis;
        analysis->initialize(&m_ui, "SPADE");
        analysis->setSampleSize(1500);
        analysis->setKeepPercentage(20.0f);
        analysis->setTargetClusterCount(12);
        QFile::remove(QString::fromStdString(SpadeDensityCache::parametersPath(a)));
        QFile::remove(QString::fromStdString(SpadeDensityCache::parametersPath(b)));
        std::srand(7);
        run(*analysis);
        runs.push_back(analysis);
    }
    omp_set_num_threads(saved);
    EXPECT_EQ(runs[0]->densities(), runs[1]->densities());
    EXPECT_EQ(runs[0]->keptEvents(), runs[1]->keptEvents());
    EXPECT_EQ(runs[0]->clusters(), runs[1]->clusters());
    EXPECT_EQ(runs[0]->medians(), runs[1]->medians());
    ASSERT_EQ(runs[0]->links().size(), runs[1]->links().size());
    for (size_t l = 0; l < runs[0]->links().size(); ++l) {
        EXPECT_EQ(runs[0]->links()[l].source, runs[1]->links()[l].source);
        EXPECT_EQ(runs[0]->links()[l].target, runs[1]->links()[l].target);
        EXPECT_EQ(runs[0]->links()[l].value, runs[1]->links()[l].value);
    }
    EXPECT_EQ(runs[0]->clusters().size(), 12u);
    for (MCV_SpadeAnalysis* analysis : runs)
        delete analysis;
}

TEST_F(SpadeAnalysisTest, ATreeWithoutLinksLeavesNoneOfThePreviousTree)
{
    MCV_DataRegistry* registry = open({writeFile("a.fcs", blobEvents(300, 9))});
    MCV_SpadeAnalysis analysis;
    analysis.initialize(&m_ui, "SPADE");
    analysis.setTargetClusterCount(3);
    run(analysis);
    MCV_DerivedDataClusters* set = registry->clustersDataList().front();
    ASSERT_EQ(set->links().size(), 2u);
    analysis.setTargetClusterCount(1);
    run(analysis);
    EXPECT_EQ(set->clusterCount(), 1);
    EXPECT_TRUE(set->links().empty());

    // No active markers: clusters (every event kept, all at distance 0) but no tree.
    analysis.setTargetClusterCount(3);
    analysis.setKeepPercentage(100.0f);
    run(analysis);
    ASSERT_EQ(set->links().size(), 2u);
    for (int m = 0; m < kMarkers; ++m)
        analysis.setMarkerActive(m, false);
    run(analysis);
    EXPECT_EQ(set->clusterCount(), 3);
    EXPECT_TRUE(set->links().empty());
}

TEST_F(SpadeAnalysisTest, GroupsFarApartGiveATreeWhoseNodesAllHaveAParent)
{
    // Two groups 2e17 apart (L1 about 8e17), as large integer data can hold.
    std::vector<float> values(300 * kMarkers);
    for (int e = 0; e < 300; ++e)
        for (int k = 0; k < kMarkers; ++k)
            values[e * kMarkers + k] = (e % 2 ? 1e17f : -1e17f) + 1e11f * static_cast<float>(e % 7 + k);
    MCV_DataRegistry* registry = open({writeFile("far.fcs", values)});
    MCV_SpadeAnalysis analysis;
    analysis.initialize(&m_ui, "SPADE");
    analysis.setTargetClusterCount(50);
    for (float keep : {10.0f, 100.0f}) {
        analysis.setKeepPercentage(keep);
        std::srand(11);
        run(analysis);
        const std::vector<DendrogramNode>& nodes = analysis.dendrogram();
        ASSERT_GT(nodes.size(), 2u) << keep;
        for (size_t i = 1; i < nodes.size(); ++i) {
            ASSERT_GE(nodes[i].parent, 1) << keep << "% node " << nodes[i].id;
            ASSERT_LT(nodes[i].parent, nodes[i].id) << keep << "% node " << nodes[i].id;
        }
        expectEveryEventOnce(analysis, *registry);
    }
}

TEST_F(SpadeAnalysisTest, EventsWithNonFiniteValuesAreLeftOutUntilUpsampling)
{
    // Event 4 (blob 1) has one NaN, event 8 (blob 2) an infinity, event 9 no finite marker.
    std::vector<float> values = blobEvents(300, 10);
    values[4 * kMarkers + 1] = NAN;
    values[8 * kMarkers + 0] = INFINITY;
    for (int k = 0; k < kMarkers; ++k)
        values[9 * kMarkers + k] = NAN;
    const std::string path = writeFile("gaps.fcs", values);
    MCV_DataRegistry* registry = open({path});
    MCV_SpadeAnalysis analysis;
    analysis.initialize(&m_ui, "SPADE");
    analysis.setTargetClusterCount(kBlobs);
    for (const float keep : {100.0f, 10.0f}) {
        SCOPED_TRACE(keep);
        analysis.setKeepPercentage(keep);
        std::srand(5);
        const std::string out = run(analysis);
        EXPECT_TRUE(contains(out, "\t3 events of " + path + " have a value that is not a finite number in an active "
                                  "marker; they take no part in densities, downsampling and clustering.\n")) << out;
        EXPECT_EQ(analysis.sortedDensities()[0].size(), 297u);
        for (int e : {4, 8, 9}) {
            EXPECT_EQ(analysis.densities()[0][e], 0);
            EXPECT_FALSE(analysis.keptFlags()[0][e]);
        }
        ASSERT_EQ(analysis.clusters().size(), static_cast<size_t>(kBlobs));
        expectEveryEventOnce(analysis, *registry);
        // Assigned by their finite markers: each joins the cluster of its blob;
        // the event without any finite marker joins the first cluster.
        for (size_t c = 0; c < analysis.clusters().size(); ++c) {
            const std::vector<MCV_PointIndex>& cluster = analysis.clusters()[c];
            auto holds = [&](int event) {
                return std::find(cluster.begin(), cluster.end(), MCV_PointIndex{0, event}) != cluster.end();
            };
            EXPECT_EQ(holds(4), holds(1));
            EXPECT_EQ(holds(8), holds(2));
            EXPECT_EQ(holds(9), c == 0);
        }
    }
}

TEST(SpadeAnalysisSettings, SettersMarkTheirStage)
{
    RegistryTestData::freshRegistry();
    MCV_SpadeAnalysis analysis;
    EXPECT_EQ(analysis.sampleSize(), 2000);
    EXPECT_EQ(analysis.alpha(), 3.0f);
    EXPECT_EQ(analysis.targetDensityPercentile(), 3.0f);
    EXPECT_EQ(analysis.outlierDensityPercentile(), 1.0f);
    EXPECT_EQ(analysis.keepPercentage(), 10.0f);
    EXPECT_EQ(analysis.targetClusterCount(), 50);
    EXPECT_TRUE(analysis.densitiesDirty() && analysis.downsamplingDirty() && analysis.clusteringDirty());

    testing::internal::CaptureStdout();
    analysis.computeSpadeTree();
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(analysis.densitiesDirty() || analysis.downsamplingDirty() || analysis.clusteringDirty());

    analysis.setAlpha(3.0f);
    analysis.setTargetClusterCount(50);
    analysis.setKeepPercentage(10.0f);
    EXPECT_FALSE(analysis.densitiesDirty() || analysis.downsamplingDirty() || analysis.clusteringDirty());
    analysis.setTargetClusterCount(51);
    EXPECT_TRUE(analysis.clusteringDirty());
    EXPECT_FALSE(analysis.densitiesDirty() || analysis.downsamplingDirty());
    analysis.setOutlierDensityPercentile(2.0f);
    EXPECT_TRUE(analysis.downsamplingDirty());
    analysis.setAlpha(NAN);
    EXPECT_TRUE(analysis.densitiesDirty());
    RegistryTestData::dropRegistry();
}

TEST_F(SpadeAnalysisTest, ReopenedFilesWithFewerParametersKeepOnlyTheirMarkers)
{
    MCV_SpadeAnalysis analysis;
    open({writeFile("a.fcs", blobEvents(300, 8))});
    analysis.initialize(&m_ui, "SPADE");
    analysis.setMarkerActive(3, false);
    analysis.setTargetClusterCount(kBlobs);
    run(analysis);

    std::vector<float> narrow(2 * 200);
    for (size_t i = 0; i < narrow.size(); ++i)
        narrow[i] = static_cast<float>(i % 7);
    MCV_DataRegistry* registry =
        open({RegistryTestData::writeFcs(m_dir.path().toStdString(), "narrow.fcs", 2, narrow)});
    run(analysis);
    EXPECT_EQ(analysis.activeMarkerIndices(), (std::vector<int>{0, 1}));
    EXPECT_EQ(analysis.medians().front().size(), 2u);
    expectEveryEventOnce(analysis, *registry);
}
