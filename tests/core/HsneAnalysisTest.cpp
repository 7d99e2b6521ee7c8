#include "analyses/MCV_HsneAnalysis.h"
#include "analyses/MCV_HsneAnalysisHierarchy.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataExploration.h"
#include "data/MCV_DerivedDataHierarchy.h"
#include "data/MCV_DerivedDataPoints.h"
#include "support/RecordingUiInterface.h"
#include "support/RegistryTestData.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <omp.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <numeric>
#include <random>
#include <set>

namespace {

const int kMarkers = 4;
const int kBlobs = 3;

/// Event e of a file lies in blob e % 3, far from the other two.
std::vector<float> blobValues(int events, unsigned seed)
{
    std::mt19937 random(seed);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::vector<float> values;
    for (int e = 0; e < events; ++e)
        for (int m = 0; m < kMarkers; ++m)
            values.push_back(noise(random) + 25.0f * ((e % kBlobs) == m % kBlobs));
    return values;
}

class HsneAnalysisTest : public ::testing::Test
{
protected:
    void SetUp() override { load({3000, 3000}); }

    void TearDown() override
    {
        levels.clear();
        hierarchy.reset();
        if (MCV_DataRegistry::currentGeneration() != 0)
            MCV_DataRegistry::instance()->setUiInterface(nullptr);
        RegistryTestData::dropRegistry();
    }

    void load(const std::vector<int>& eventsPerFile)
    {
        registry = RegistryTestData::freshRegistry();
        for (size_t f = 0; f < eventsPerFile.size(); ++f)
            ASSERT_EQ(registry->loadFcsFile(RegistryTestData::writeFcs(
                          dir.path().toStdString(), "s" + std::to_string(f) + ".fcs", kMarkers,
                          blobValues(eventsPerFile[f], static_cast<unsigned>(f + 1)))),
                      0);
        all = registry->createAllPointsData();
        registry->setUiInterface(&ui);
    }

    /// A hierarchy analysis "H" on "All Points" with a fixed seed and an
    /// overview level of `iterations` iterations, owned by the test.
    MCV_HsneAnalysis* makeHierarchy(int iterations)
    {
        hierarchy = std::make_unique<MCV_HsneAnalysisHierarchy>();
        hierarchy->initialize(&ui, "H");
        hierarchy->setInputData(all);
        hierarchy->setSeed(7);
        exploration = registry->createExplorationData("H", true);
        hierarchy->setExploration(exploration);
        MCV_HsneAnalysis* overview = addLevel();
        overview->setIterations(iterations);
        hierarchy->addLevel(overview);
        return overview;
    }

    MCV_HsneAnalysis* addLevel(MCV_HsneAnalysis* level = nullptr)
    {
        if (level == nullptr)
        {
            level = new MCV_HsneAnalysis();
            level->initialize(&ui, "level");
        }
        levels.emplace_back(level);
        return level;
    }

    /// Deletes removed levels as the main window does: they are asked to go
    /// and deleted when they announce it.
    void deleteLevelsLikeTheWindow()
    {
        ui.onCall = [this](const RecordingUiInterface::Call& call) {
            if (call.operation == "analysesRemovedSignal")
                for (const std::string& name : ui.removedAnalysisNames.back())
                    for (auto& level : levels)
                        if (level && level->name() == name)
                            level->requestDeletion();
            if (call.operation == "readyForDeletionSignal")
                for (auto& level : levels)
                    if (level.get() == call.argument)
                        level.reset();
        };
    }

    QTemporaryDir dir;
    MCV_DataRegistry* registry = nullptr;
    MCV_DerivedDataPoints* all = nullptr;
    MCV_DerivedDataExploration* exploration = nullptr;
    RecordingUiInterface ui;
    std::unique_ptr<MCV_HsneAnalysisHierarchy> hierarchy;
    std::vector<std::unique_ptr<MCV_HsneAnalysis>> levels;
};

/// Share of points whose 10 nearest embedding neighbours carry their label.
double neighbourAgreement(const std::vector<float>& xy, const std::vector<int>& labels)
{
    const size_t n = labels.size();
    size_t agreeing = 0;
    for (size_t i = 0; i < n; ++i)
    {
        std::vector<std::pair<float, size_t>> distances;
        for (size_t j = 0; j < n; ++j)
            if (j != i)
            {
                const float dx = xy[2 * i] - xy[2 * j];
                const float dy = xy[2 * i + 1] - xy[2 * j + 1];
                distances.push_back({dx * dx + dy * dy, j});
            }
        std::partial_sort(distances.begin(), distances.begin() + 10, distances.end());
        for (int k = 0; k < 10; ++k)
            agreeing += labels[distances[static_cast<size_t>(k)].second] == labels[i];
    }
    return static_cast<double>(agreeing) / static_cast<double>(n * 10);
}

} // namespace

TEST_F(HsneAnalysisTest, CacheHoldsEveryEventOncePerScaleAtAnyThreadCount)
{
    vel::HierarchicalSne::Parameters parameters;
    parameters.seed = 3;
    parameters.trees = 3;
    parameters.checks = 256;
    MCV_DerivedDataHierarchy data;
    data.initialize("h", 6000, kMarkers, 3, all->points(), parameters);
    for (size_t k = 0; k < all->points().size(); ++k)
    {
        const MCV_PointIndex& p = all->points()[k];
        std::copy_n(registry->sampleData(p.sampleIndex) + p.eventIndex * kMarkers, kMarkers,
                    data.data().begin() + static_cast<int64_t>(k) * kMarkers);
    }
    testing::internal::CaptureStdout();
    data.computeHierarchy();
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_NE(output.find("Caching Points per Landmark... "), std::string::npos);
    ASSERT_EQ(data.builtScaleCount(), 3);
    EXPECT_EQ(data.pointsPerLandmark(0), nullptr);
    EXPECT_EQ(data.pointsPerLandmark(3), nullptr);
    std::vector<std::vector<std::vector<MCV_PointIndex>>> eightThreads;
    for (int s = 1; s < 3; ++s)
    {
        const auto& lists = *data.pointsPerLandmark(s);
        ASSERT_EQ(static_cast<int>(lists.size()), data.landmarkCount(s));
        std::set<std::pair<int, int>> seen;
        size_t cached = 0;
        for (const auto& list : lists)
            for (const MCV_PointIndex& p : list)
            {
                seen.insert({p.sampleIndex, p.eventIndex});
                ++cached;
            }
        size_t misses = 0;
        const std::string miss = " at scale " + std::to_string(s) + " num possible";
        for (size_t at = output.find(miss); at != std::string::npos; at = output.find(miss, at + 1))
            ++misses;
        EXPECT_EQ(seen.size(), cached);
        EXPECT_EQ(cached + misses, 6000u);
        eightThreads.push_back(lists);
    }
    const int threads = omp_get_max_threads();
    omp_set_num_threads(1);
    testing::internal::CaptureStdout();
    data.cachePointsPerLandmark();
    testing::internal::GetCapturedStdout();
    omp_set_num_threads(threads);
    for (int s = 1; s < 3; ++s)
        EXPECT_TRUE(*data.pointsPerLandmark(s) == eightThreads[static_cast<size_t>(s - 1)]) << s;
}

TEST_F(HsneAnalysisTest, OverviewEmbedsTheTopScaleWithMilestonesAndSeparatesTheBlobs)
{
    EXPECT_EQ(MCV_HsneAnalysis::embeddingTheta(1000), 0.0f);
    EXPECT_EQ(MCV_HsneAnalysis::embeddingTheta(11000), 0.5f);
    EXPECT_GT(MCV_HsneAnalysis::embeddingTheta(1200), 0.0f);
    EXPECT_EQ(MCV_HsneAnalysis::embeddingParameters(200000, 250, 150).exaggerationFactor, 40.0);
    EXPECT_EQ(MCV_HsneAnalysis::embeddingParameters(5000, 250, 150).exaggerationFactor, 11.0);

    hierarchy = std::make_unique<MCV_HsneAnalysisHierarchy>();
    hierarchy->initialize(&ui, "H");
    hierarchy->setInputData(all);
    hierarchy->setSeed(11);
    ASSERT_TRUE(hierarchy->computeHierarchy()); // creates its own overview
    ASSERT_EQ(hierarchy->levels().size(), 1u);
    MCV_HsneAnalysis* overview = hierarchy->levels()[0];
    EXPECT_EQ(overview->name(), "H - Overview Level");
    EXPECT_EQ(overview->analysisType(), MCV_AnalysisTypeHsne);
    EXPECT_EQ(hierarchy->analysisType(), MCV_AnalysisTypeUnset);
    EXPECT_EQ(overview->scale(), hierarchy->hierarchy()->builtScaleCount() - 1);
    EXPECT_EQ(overview->scale(), 2);
    EXPECT_EQ(ui.count("analysisInitializedSignal", overview), 1);
    EXPECT_EQ(ui.count("analysisMilestoneSignal", overview), 10);
    EXPECT_EQ(ui.count("analysisUpdatedSignal", overview), 1000);
    EXPECT_EQ(ui.count("analysisFinishedSignal", overview), 1);
    EXPECT_EQ(overview->sparseTsne().theta(), MCV_HsneAnalysis::embeddingTheta(overview->pointCount()));
    const int n = overview->pointCount();
    ASSERT_GT(n, 30);
    std::vector<int> labels;
    for (const MCV_PointIndex& p : overview->landmarkPoints())
        labels.push_back(p.eventIndex % kBlobs);
    EXPECT_GE(neighbourAgreement(overview->embeddingPositions(), labels), 0.95);
    EXPECT_EQ(overview->markerValues().size(), static_cast<size_t>(n) * kMarkers);
    EXPECT_EQ(overview->markerValues()[kMarkers * 3 + 1],
              registry->sampleData(overview->landmarkPoints()[3].sampleIndex)
                  [overview->landmarkPoints()[3].eventIndex * kMarkers + 1]);
}

TEST_F(HsneAnalysisTest, SelectionsDrillsAndClustersFollowTheHierarchy)
{
    MCV_HsneAnalysis* overview = makeHierarchy(20);
    ASSERT_TRUE(hierarchy->computeHierarchy());
    const std::shared_ptr<MCV_DerivedDataHierarchy> data = hierarchy->hierarchy();
    const int top = overview->scale();
    const auto& lists = *data->pointsPerLandmark(top);

    // Selection members: the cached events of the landmarks, by sample.
    std::vector<MCV_PointIndex> members;
    const std::vector<bool> firstSample{true};
    ASSERT_TRUE(overview->collectSelectionMembers({0, 2, 99999}, members, &firstSample));
    std::vector<MCV_PointIndex> expected;
    for (unsigned l : {0u, 2u})
        for (const MCV_PointIndex& p : lists[l])
            if (p.sampleIndex == 0)
                expected.push_back(p);
    EXPECT_TRUE(members == expected);

    // Point scales: hiding sample 1 removes landmarks made only of it.
    std::vector<float> weights;
    std::vector<float> landmarkWeights;
    data->landmarkWeights(top, landmarkWeights);
    EXPECT_EQ(overview->landmarkSelectionWeights({true, false}, weights),
              *std::max_element(landmarkWeights.begin(), landmarkWeights.end()));
    for (size_t l = 0; l < lists.size(); ++l)
    {
        const auto zero = std::count_if(lists[l].begin(), lists[l].end(),
                                        [](const MCV_PointIndex& p) { return p.sampleIndex == 0; });
        EXPECT_FLOAT_EQ(weights[l], zero == 0 ? -1.0f
                                              : static_cast<float>(zero) / lists[l].size() * landmarkWeights[l]);
    }

    // A drill into the landmarks of blob 0: every point of the scale below
    // whose event lies in blob 0, for the blobs share no event.
    std::vector<unsigned> chosen;
    for (unsigned l = 0; l < overview->landmarkPoints().size(); ++l)
        if (overview->landmarkPoints()[l].eventIndex % kBlobs == 0)
            chosen.push_back(l);
    MCV_HsneAnalysis* level = addLevel(hierarchy->createLevel(overview, chosen, "H - Scale 1"));
    ASSERT_NE(level, nullptr);
    const vel::HierarchicalSne::Scale& lower = data->engine()->scales()[static_cast<size_t>(top - 1)];
    std::vector<unsigned> subset;
    for (unsigned i = 0; i < lower.size(); ++i)
        if (data->points()[lower.landmarkToDataPoint[i]].eventIndex % kBlobs == 0)
            subset.push_back(i);
    level->setHierarchy(data);
    ASSERT_NE(level->landmarkSubset(), nullptr);
    EXPECT_EQ(*level->landmarkSubset(), subset);
    ASSERT_EQ(level->transitionMatrix()->size(), subset.size());
    for (size_t j = 0; j < subset.size(); ++j)
    {
        std::map<uint32_t, double> row;
        double sum = 0;
        for (const auto& entry : lower.transitionMatrix[subset[j]])
        {
            const auto at = std::find(subset.begin(), subset.end(), entry.key);
            if (at != subset.end())
            {
                row[static_cast<uint32_t>(at - subset.begin())] = entry.value;
                sum += entry.value;
            }
        }
        const vel::MapMemEff& got = (*level->transitionMatrix())[j];
        ASSERT_EQ(got.size(), row.size());
        for (const auto& entry : got)
            EXPECT_NEAR(entry.value, row[entry.key] / sum, 1e-6);
    }
    EXPECT_EQ(exploration->nodes()[static_cast<size_t>(exploration->nodeIndex("H - Scale 1"))].parent,
              exploration->nodeIndex("H - Overview Level"));
    level->setIterations(20);
    level->runGradientDescent();
    EXPECT_EQ(level->scale(), top - 1);
    ASSERT_EQ(level->pointCount(), static_cast<int>(subset.size()));
    for (const MCV_PointIndex& p : level->landmarkPoints())
        EXPECT_EQ(p.eventIndex % kBlobs, 0);
    EXPECT_EQ(ui.count("analysisFinishedSignal", level), 1);

    // Clusters of a level describe events; a cluster drill finds its
    // landmarks, one that lists no event by its own event: here a landmark
    // beside the one that lists its event.
    const std::vector<unsigned>& shown = *level->landmarkSubset();
    const auto& listed = *data->pointsPerLandmark(top - 1);
    const auto positionOf = [&](int64_t landmark) {
        return static_cast<size_t>(std::find(shown.begin(), shown.end(), landmark) - shown.begin());
    };
    std::vector<unsigned> pair;
    for (size_t k = 0; k < shown.size() && pair.empty(); ++k)
    {
        const int32_t owner = (*data->eventLandmarks(top - 1))[lower.landmarkToDataPoint[shown[k]]];
        if (listed[shown[k]].empty() && positionOf(owner) < shown.size())
            pair = {static_cast<unsigned>(k), static_cast<unsigned>(positionOf(owner))};
    }
    ASSERT_FALSE(pair.empty()) << "about a tenth of the landmarks list no event";
    std::sort(pair.begin(), pair.end());
    std::vector<unsigned> others;
    for (unsigned k = 0; others.size() < 2; ++k)
        if (k != pair[0] && k != pair[1])
            others.push_back(k);
    MCV_DerivedData* set = level->createDerivedData({others, pair}, "Density Clusters");
    ASSERT_NE(set, nullptr);
    auto* clusters = static_cast<MCV_DerivedDataClusters*>(set);
    std::vector<MCV_PointIndex> first;
    level->collectSelectionMembers(others, first);
    EXPECT_TRUE(clusters->members()[0] == first);
    std::vector<unsigned> landmarks;
    // Each refusal says why in a line.
    const auto contains = [](const std::string& text, const char* part) { return text.find(part) != std::string::npos; };
    const auto refusal = [](const std::function<bool()>& refused) {
        testing::internal::CaptureStdout();
        const bool wasRefused = refused();
        const std::string line = testing::internal::GetCapturedStdout();
        return wasRefused ? line : std::string("(accepted)");
    };
    EXPECT_PRED2(contains, refusal([&] { return !hierarchy->clusterLandmarks(overview, clusters->name(), 0, landmarks); }), "is not one of H - Overview Level's");
    EXPECT_PRED2(contains, refusal([&] { return !hierarchy->clusterLandmarks(level, clusters->name(), 2, landmarks); }), "cluster 2 is not one of the 2 clusters");
    ASSERT_TRUE(hierarchy->clusterLandmarks(level, clusters->name(), 1, landmarks));
    EXPECT_EQ(landmarks, level->selectionToLandmarks(pair));
    level->drillIntoCluster(clusters->name());
    const int node = exploration->nodeIndex(clusters->name() + "2");
    ASSERT_GE(node, 0);
    EXPECT_EQ(exploration->nodes()[static_cast<size_t>(node)].parent, exploration->nodeIndex("H - Scale 1"));

    // Refusals: too few landmarks, out of range, scale 0, reopened files.
    const auto refusedLevel = [&](MCV_HsneAnalysis* parent, const std::vector<unsigned>& chosenLandmarks) {
        return refusal([&] { return hierarchy->createLevel(parent, chosenLandmarks, "x") == nullptr; });
    };
    EXPECT_PRED2(contains, refusedLevel(overview, {chosen[0]}), "it needs at least 2 landmarks, got 1");
    EXPECT_PRED2(contains, refusedLevel(overview, {0, 100000}), "landmark 100000 is not one of the");
    MCV_HsneAnalysis* finest = addLevel(hierarchy->createLevel(level, level->selectionToLandmarks({0, 1, 2, 3, 4, 5}), "f"));
    ASSERT_NE(finest, nullptr);
    finest->setHierarchy(data);
    EXPECT_EQ(finest->scale(), 0);
    EXPECT_PRED2(contains, refusedLevel(finest, {0, 1}), "scale 0 has no finer scale");
    load({40});
    EXPECT_PRED2(contains, refusedLevel(overview, chosen), "the data were reloaded since the hierarchy was built");
    EXPECT_FALSE(overview->collectSelectionMembers({0}, members));
    EXPECT_EQ(overview->landmarkSelectionWeights({true}, weights), -1.0f);
}

TEST_F(HsneAnalysisTest, ClusterDrillsKeepTheNodesOfShownLevels)
{
    MCV_HsneAnalysis* overview = makeHierarchy(10);
    ASSERT_TRUE(hierarchy->computeHierarchy());
    const std::string top = overview->name();
    const auto children = [this](const std::string& name) {
        std::vector<std::string> names;
        for (int child : exploration->nodes()[static_cast<size_t>(exploration->nodeIndex(name))].children)
            names.push_back(exploration->nodes()[static_cast<size_t>(child)].name);
        return names;
    };
    // A selection drill down to scale 0.
    std::vector<unsigned> all(static_cast<size_t>(overview->pointCount()));
    std::iota(all.begin(), all.end(), 0u);
    MCV_HsneAnalysis* scale1 = addLevel(hierarchy->createLevel(overview, all, "H - Scale 1"));
    ASSERT_NE(scale1, nullptr);
    scale1->setHierarchy(hierarchy->hierarchy());
    ASSERT_NE(addLevel(hierarchy->createLevel(scale1, scale1->selectionToLandmarks({0, 1, 2, 3}), "H - Scale 0")),
              nullptr);

    // Clusters of the overview: the levels' nodes stay with theirs.
    const std::vector<unsigned> firstHalf(all.begin(), all.begin() + static_cast<int64_t>(all.size() / 2));
    const std::vector<unsigned> secondHalf(all.begin() + static_cast<int64_t>(all.size() / 2), all.end());
    auto* a = static_cast<MCV_DerivedDataClusters*>(overview->createDerivedData({firstHalf, secondHalf}, "A"));
    ASSERT_NE(a, nullptr);
    overview->drillIntoCluster(a->name());
    EXPECT_EQ(children(top), (std::vector<std::string>{"H - Scale 1", a->name() + "1", a->name() + "2"}));
    EXPECT_EQ(children("H - Scale 1"), std::vector<std::string>{"H - Scale 0"});

    // A level of cluster A1, then other clusters: A1's node stays in its place, A2's goes.
    std::vector<unsigned> landmarks;
    ASSERT_TRUE(hierarchy->clusterLandmarks(overview, a->name(), 0, landmarks));
    MCV_HsneAnalysis* a1 = addLevel(hierarchy->createLevel(overview, landmarks, a->name() + "1"));
    ASSERT_NE(a1, nullptr);
    auto* b = static_cast<MCV_DerivedDataClusters*>(overview->createDerivedData({all}, "B"));
    ASSERT_NE(b, nullptr);
    overview->drillIntoCluster(b->name());
    EXPECT_EQ(children(top), (std::vector<std::string>{"H - Scale 1", a->name() + "1", b->name() + "1"}));
    EXPECT_EQ(children("H - Scale 1"), std::vector<std::string>{"H - Scale 0"});

    // Once A1's level is gone, the next clusters replace its node.
    levels.back().reset();
    overview->drillIntoCluster(b->name());
    EXPECT_EQ(children(top), (std::vector<std::string>{"H - Scale 1", b->name() + "1"}));
}

TEST_F(HsneAnalysisTest, ClusterLevelsHoldTheEventsOfTheirClusters)
{
    MCV_HsneAnalysis* overview = makeHierarchy(10);
    ASSERT_TRUE(hierarchy->computeHierarchy());
    const std::shared_ptr<MCV_DerivedDataHierarchy> data = hierarchy->hierarchy();
    // The overview's landmarks by population: blob 0 split at its marker 1's
    // middle (two sub-populations), blobs 1 and 2 whole.
    std::vector<std::vector<unsigned>> byPopulation(4);
    for (unsigned l = 0; l < static_cast<unsigned>(overview->pointCount()); ++l)
    {
        const int blob = overview->landmarkPoints()[l].eventIndex % kBlobs;
        byPopulation[blob == 0 ? overview->markerValues()[l * kMarkers + 1] < 0.0f : static_cast<size_t>(blob) + 1]
            .push_back(l);
    }
    auto* populations = static_cast<MCV_DerivedDataClusters*>(overview->createDerivedData(byPopulation, "P"));
    ASSERT_NE(populations, nullptr);

    const auto drill = [&](MCV_HsneAnalysis* parent, MCV_DerivedDataClusters* set, int cluster) {
        std::vector<unsigned> landmarks;
        EXPECT_TRUE(hierarchy->clusterLandmarks(parent, set->name(), cluster, landmarks));
        MCV_HsneAnalysis* level =
            addLevel(hierarchy->createLevel(parent, landmarks, set->name() + set->clusterName(cluster)));
        if (level != nullptr)
            level->setHierarchy(data);
        return level;
    };
    const auto keys = [](const std::vector<MCV_PointIndex>& events) {
        std::set<std::pair<int, int>> pairs;
        for (const MCV_PointIndex& p : events)
            pairs.insert({p.sampleIndex, p.eventIndex});
        return pairs;
    };
    const auto levelEvents = [&](MCV_HsneAnalysis& level) {
        std::vector<unsigned> all(static_cast<size_t>(level.pointCount()));
        std::iota(all.begin(), all.end(), 0u);
        std::vector<MCV_PointIndex> events;
        level.collectSelectionMembers(all, events);
        return keys(events);
    };
    // The level's events that are members, and the members in the level.
    const auto shares = [&](MCV_HsneAnalysis& level, const std::vector<MCV_PointIndex>& members) {
        const std::set<std::pair<int, int>> events = levelEvents(level), wanted = keys(members);
        const auto inside = std::count_if(events.begin(), events.end(),
                                          [&](const std::pair<int, int>& p) { return wanted.count(p) > 0; });
        return std::make_pair(static_cast<double>(inside) / std::max<size_t>(1, events.size()),
                              static_cast<double>(inside) / std::max<size_t>(1, wanted.size()));
    };
    MCV_HsneAnalysis* blob1 = nullptr;
    for (int c = 0; c < 4; ++c)
    {
        MCV_HsneAnalysis* level = drill(overview, populations, c);
        ASSERT_NE(level, nullptr) << c;
        const auto got = shares(*level, populations->members()[static_cast<size_t>(c)]);
        const double bound = c < 2 ? 0.85 : 0.99;
        EXPECT_GE(got.first, bound) << "cluster " << c << ", members in the level " << got.second;
        EXPECT_GE(got.second, bound) << "cluster " << c << ", level events that are members " << got.first;
        if (c == 2)
            blob1 = level;
    }

    // A landmark stands for events when more than half of those it lists are among them.
    const std::vector<int32_t>& owners = *data->eventLandmarks(overview->scale());
    std::vector<std::vector<size_t>> listed(static_cast<size_t>(data->landmarkCount(overview->scale())));
    for (size_t e = 0; e < owners.size(); ++e)
        if (owners[e] >= 0)
            listed[static_cast<size_t>(owners[e])].push_back(e);
    const auto even = std::find_if(listed.begin(), listed.end(), [](const std::vector<size_t>& events) {
        return !events.empty() && events.size() % 2 == 0;
    });
    ASSERT_NE(even, listed.end());
    std::vector<char> inside(owners.size(), 0);
    for (size_t k = 0; k < even->size() / 2; ++k)
        inside[(*even)[k]] = 1;
    const auto stands = [&] {
        const std::vector<unsigned> points = data->pointsWithin(overview->scale(), inside);
        return std::count(points.begin(), points.end(), static_cast<unsigned>(even - listed.begin()));
    };
    EXPECT_EQ(stands(), 0) << "exactly half";
    inside[(*even)[even->size() / 2]] = 1;
    EXPECT_EQ(stands(), 1) << "one more than half";

    // At scale 0 a level is its cluster's events: blob 1's halves at its marker 2's middle.
    std::vector<std::vector<unsigned>> halves(2);
    for (unsigned l = 0; l < static_cast<unsigned>(blob1->pointCount()); ++l)
        halves[blob1->markerValues()[l * kMarkers + 2] < 0.0f].push_back(l);
    auto* split = static_cast<MCV_DerivedDataClusters*>(blob1->createDerivedData(halves, "Halves"));
    ASSERT_NE(split, nullptr);
    for (int c = 0; c < 2; ++c)
    {
        MCV_HsneAnalysis* level = drill(blob1, split, c);
        ASSERT_NE(level, nullptr) << c;
        EXPECT_EQ(level->scale(), 0);
        EXPECT_TRUE(levelEvents(*level) == keys(split->members()[static_cast<size_t>(c)])) << c;
    }
}

TEST_F(HsneAnalysisTest, ARebuildOnReopenedFilesTakesTheTreeOfItsNameThere)
{
    MCV_HsneAnalysis* overview = makeHierarchy(10);
    ASSERT_TRUE(hierarchy->computeHierarchy());
    load({3000, 3000});
    MCV_DerivedDataExploration* shown = registry->createExplorationData("H", true); // as the page asks
    hierarchy->setInputData(all);
    ASSERT_TRUE(hierarchy->computeHierarchy());
    ASSERT_EQ(hierarchy->exploration(), shown);
    ASSERT_NE(addLevel(hierarchy->createLevel(overview, {0, 1, 2, 3}, "H - Scale 1")), nullptr);
    EXPECT_GE(shown->nodeIndex("H - Scale 1"), 0);
}

TEST_F(HsneAnalysisTest, RebuildRemovesRunningAndIdleLevelsAndDeletionKeepsTheContract)
{
    MCV_HsneAnalysis* overview = makeHierarchy(30);
    ASSERT_TRUE(hierarchy->computeHierarchy());
    std::vector<unsigned> half;
    for (unsigned l = 0; l < overview->landmarkPoints().size() / 2; ++l)
        half.push_back(l);
    MCV_HsneAnalysis* idle = addLevel(hierarchy->createLevel(overview, half, "idle"));
    MCV_HsneAnalysis* running = addLevel(hierarchy->createLevel(overview, half, "running"));
    ASSERT_NE(idle, nullptr);
    ASSERT_NE(running, nullptr);
    idle->setHierarchy(hierarchy->hierarchy());
    running->setHierarchy(hierarchy->hierarchy());
    const std::shared_ptr<MCV_DerivedDataHierarchy> old = hierarchy->hierarchy();

    // The rebuild starts inside the running level's loop, as a button pressed
    // while the view processes events.
    deleteLevelsLikeTheWindow();
    auto removeHook = ui.onCall;
    bool rebuilt = false;
    ui.onCall = [&](const RecordingUiInterface::Call& call) {
        removeHook(call);
        if (call.operation == "analysisUpdatedSignal" && call.argument == running && !rebuilt)
        {
            rebuilt = true;
            EXPECT_TRUE(hierarchy->computeHierarchy());
        }
    };
    ui.clear();
    running->runGradientDescent();
    ASSERT_TRUE(rebuilt);
    ASSERT_EQ(ui.removedAnalysisNames.size(), 1u);
    EXPECT_EQ(ui.removedAnalysisNames[0], (std::vector<std::string>{"idle", "running"}));
    EXPECT_EQ(levels[1], nullptr); // idle: deleted at once
    EXPECT_EQ(levels[2], nullptr); // running: deleted once its loop unwound
    EXPECT_EQ(ui.count("analysisUpdatedSignal"), 1 + 30);
    EXPECT_EQ(hierarchy->levels(), std::vector<MCV_HsneAnalysis*>{overview});
    EXPECT_NE(hierarchy->hierarchy(), old);
    EXPECT_EQ(exploration->nodes().size(), 1u);

    // Deletion of a running level: announced once, after its loop; of an idle one at once.
    ui.onCall = [&](const RecordingUiInterface::Call& call) {
        if (call.operation == "analysisUpdatedSignal" && call.argument == overview)
        {
            overview->requestDeletion();
            overview->requestDeletion();
        }
        if (call.operation == "readyForDeletionSignal")
            for (auto& level : levels)
                if (level.get() == call.argument)
                    level.reset();
    };
    ui.clear();
    overview->runGradientDescent();
    EXPECT_EQ(ui.operations(), (std::vector<std::string>{"analysisUpdatedSignal", "readyForDeletionSignal"}));
    EXPECT_TRUE(hierarchy->levels().empty());
    hierarchy->requestDeletion();
    EXPECT_EQ(ui.count("readyForDeletionSignal", hierarchy.get()), 1);
}

TEST_F(HsneAnalysisTest, NoInputEmptyInputAndTooFewEventsBuildNothing)
{
    makeHierarchy(10);
    hierarchy->setInputData(nullptr);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(hierarchy->computeHierarchy());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Initialzing HSNE.\n");
    hierarchy->setInputData(registry->createPointsData("Empty", false));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(hierarchy->computeHierarchy());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Initialzing HSNE.\n");

    load({20});
    makeHierarchy(10);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(hierarchy->computeHierarchy());
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_NE(output.find("HSNE: The hierarchy of H is not built: "), std::string::npos) << output;
    EXPECT_EQ(hierarchy->hierarchy(), nullptr);
    EXPECT_EQ(ui.count("analysisInitializedSignal"), 0);
}
