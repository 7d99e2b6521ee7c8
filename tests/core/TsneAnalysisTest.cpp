#include "analyses/MCV_TsneAnalysis.h"
#include "data/FcsError.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataPoints.h"
#include "support/RecordingUiInterface.h"
#include "support/RegistryTestData.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

namespace {

const int kMarkers = 5;

/// Events of `blobs` well separated Gaussian blobs in kMarkers dimensions;
/// blob b of event e is e % blobs.
std::vector<float> blobValues(int events, int blobs, unsigned seed)
{
    std::mt19937 random(seed);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::vector<float> values;
    for (int e = 0; e < events; ++e)
        for (int m = 0; m < kMarkers; ++m)
            values.push_back(noise(random) + ((e % blobs) == m % blobs ? 20.0f : 0.0f) + 5.0f * (e % blobs));
    return values;
}

double rms(const std::vector<float>& values)
{
    double sum = 0.0;
    for (float v : values)
        sum += static_cast<double>(v) * v;
    return values.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(values.size()));
}

class TsneAnalysisTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        analysis.reset();
        RegistryTestData::dropRegistry();
    }

    /// Loads one file per entry of eventsPerFile, with or without the two
    /// embedding channels, and returns "All Points".
    MCV_DerivedDataPoints* load(const std::vector<int>& eventsPerFile, bool channels = true)
    {
        registry = RegistryTestData::freshRegistry();
        for (size_t f = 0; f < eventsPerFile.size(); ++f)
        {
            const std::string path = RegistryTestData::writeFcs(
                dir.path().toStdString(), "f" + std::to_string(f) + ".fcs", kMarkers,
                blobValues(eventsPerFile[f], 3, static_cast<unsigned>(f + 1)));
            EXPECT_EQ(registry->loadFcsFile(path), FcsErrorNone);
        }
        if (channels)
            registry->appendChannels({"VSRNE_TsneX", "VSRNE_TsneY"}, 0.0f);
        MCV_DerivedDataPoints* all = registry->createAllPointsData();
        analysis = std::make_unique<MCV_TsneAnalysis>();
        analysis->initialize(&ui, "Test tSNE");
        analysis->setInputData(all);
        return all;
    }

    float value(int sample, int event, const std::string& channel) const
    {
        const int column = registry->mergedHeader()->parameterIndex(channel);
        return registry->sampleData(sample)[event * registry->parameterCount() + column];
    }

    QTemporaryDir dir;
    RecordingUiInterface ui;
    MCV_DataRegistry* registry = nullptr;
    std::unique_ptr<MCV_TsneAnalysis> analysis;
};

TEST_F(TsneAnalysisTest, FullRunWritesOnlyEmbeddedRowsAndSeparatesBlobs)
{
    MCV_DerivedDataPoints* all = load({1500, 900});
    // Every tenth event stays out of the input set.
    std::vector<MCV_PointIndex> subset;
    for (const MCV_PointIndex& p : all->points())
        if (p.eventIndex % 10 != 0)
            subset.push_back(p);
    MCV_DerivedDataPoints* input = registry->createPointsData("Subset", false);
    input->setPoints(subset, false);
    analysis->setInputData(input);
    analysis->setIterations(120);
    analysis->setExaggerationIterations(80);
    analysis->setExponentialDecayIterations(20);
    ui.clear();

    testing::internal::CaptureStdout();
    analysis->compute();
    const std::string out = testing::internal::GetCapturedStdout();

    EXPECT_NE(out.find("\n" + std::string(80, '=') + "\nA-tSNE: Compute probability distribution: "),
              std::string::npos);
    EXPECT_NE(out.find("Test tSNE: iteration: 100, KL-divergence: "), std::string::npos);
    EXPECT_EQ(out.find("iteration: 200"), std::string::npos);
    EXPECT_NE(out.find("A-tSNE: Finished embedding of Test tSNE in: "), std::string::npos);
    EXPECT_NE(out.find(" seconds .KL - divergence is : "), std::string::npos);

    ASSERT_EQ(ui.count("analysisInitializedSignal", analysis.get()), 1);
    EXPECT_EQ(ui.count("analysisUpdatedSignal", analysis.get()), 120);
    EXPECT_EQ(ui.operations().front(), "analysisInitializedSignal");
    EXPECT_EQ(ui.operations().back(), "analysisFinishedSignal");
    EXPECT_FALSE(analysis->isRunning());
    EXPECT_FALSE(analysis->isEmbeddingLive());

    const int n = analysis->pointCount();
    ASSERT_EQ(n, static_cast<int>(subset.size()));
    const std::vector<float>& positions = analysis->embeddingPositions();
    const int64_t p = registry->parameterCount();
    const int xColumn = registry->mergedHeader()->parameterIndex("VSRNE_TsneX");
    for (int k = 0; k < n; ++k)
    {
        const MCV_PointIndex& point = analysis->points()[k];
        ASSERT_TRUE(std::isfinite(positions[2 * k]) && std::isfinite(positions[2 * k + 1]));
        ASSERT_EQ(value(point.sampleIndex, point.eventIndex, "VSRNE_TsneX"), positions[2 * k]);
        ASSERT_EQ(value(point.sampleIndex, point.eventIndex, "VSRNE_TsneY"), positions[2 * k + 1]);
        // The renderer's copy of the row carries the new channel too.
        ASSERT_EQ(analysis->markerValues()[k * p + xColumn], positions[2 * k]);
    }
    for (int s = 0; s < 2; ++s)
        for (int e = 0; e < registry->sampleHeader(s)->eventCount(); e += 10)
        {
            ASSERT_EQ(value(s, e, "VSRNE_TsneX"), 0.0f);
            ASSERT_EQ(value(s, e, "VSRNE_TsneY"), 0.0f);
        }

    // Neighbours in the embedding come from the same blob (a blob may split; it must not mix).
    const int neighbours = 5;
    int sameBlob = 0;
    for (int k = 0; k < n; ++k)
    {
        std::vector<std::pair<double, int>> distances;
        for (int j = 0; j < n; ++j)
            if (j != k)
                distances.push_back({std::hypot(positions[2 * k] - positions[2 * j],
                                                positions[2 * k + 1] - positions[2 * j + 1]), j});
        std::partial_sort(distances.begin(), distances.begin() + neighbours, distances.end());
        for (int m = 0; m < neighbours; ++m)
            sameBlob += analysis->points()[distances[m].second].eventIndex % 3 == analysis->points()[k].eventIndex % 3;
    }
    EXPECT_GT(sameBlob, n * neighbours * 98 / 100);
}

TEST_F(TsneAnalysisTest, StopResumeAndRestart)
{
    load({400});
    analysis->setIterations(120);
    ui.onCall = [&](const RecordingUiInterface::Call& call) {
        const std::string op = call.operation; // calls made in here may move `call`
        if (op == "analysisUpdatedSignal" && ui.count("analysisUpdatedSignal") == 30)
            analysis->stop();
    };
    analysis->compute();
    EXPECT_EQ(ui.count("analysisUpdatedSignal"), 30);
    EXPECT_EQ(ui.count("analysisFinishedSignal"), 1);
    EXPECT_EQ(analysis->gradientDescent().iteration(), 30);

    // Resuming continues the same engine for a full count from 1 again.
    ui.clear();
    ui.onCall = nullptr;
    analysis->setIterations(100);
    testing::internal::CaptureStdout();
    analysis->runGradientDescent();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(ui.count("analysisInitializedSignal"), 0);
    EXPECT_EQ(ui.count("analysisUpdatedSignal"), 100);
    EXPECT_EQ(analysis->gradientDescent().iteration(), 130);
    EXPECT_NE(out.find("Test tSNE: iteration: 100, KL-divergence: "), std::string::npos);
    EXPECT_EQ(out.find("Compute probability distribution"), std::string::npos);

    // One more step keeps the scale of the stopped embedding...
    const double spread = rms(analysis->embeddingPositions());
    analysis->setIterations(1);
    analysis->runGradientDescent();
    EXPECT_GT(spread, 0.1);
    EXPECT_GT(rms(analysis->embeddingPositions()), 0.5 * spread);
    EXPECT_LT(rms(analysis->embeddingPositions()), 2.0 * spread);

    // ...while a restart begins again from the tiny random start, on the kept probabilities.
    ui.clear();
    testing::internal::CaptureStdout();
    analysis->restart();
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.find("Compute probability distribution"), std::string::npos);
    EXPECT_EQ(ui.count("analysisInitializedSignal"), 0);
    EXPECT_EQ(ui.count("analysisUpdatedSignal"), 1);
    EXPECT_EQ(analysis->gradientDescent().iteration(), 1);
    EXPECT_LT(rms(analysis->embeddingPositions()), 0.01 * spread);
}

TEST_F(TsneAnalysisTest, SetUpFollowsSizeAndExaggerationSettings)
{
    load({1200});
    analysis->setIterations(0);
    analysis->compute();
    const ApproxTsneGradientDescent::Parameters& parameters = analysis->gradientDescent().parameters();
    EXPECT_NEAR(parameters.theta, 0.01, 1e-12);
    EXPECT_EQ(parameters.momentumSwitchIteration, 250);
    EXPECT_TRUE(parameters.exponentialDecay);
    EXPECT_EQ(parameters.exaggerationRemovalIteration, 180);
    EXPECT_NEAR(parameters.exaggerationDecayFactor, std::exp(std::log(1.0 / (1200 / 5000.0 + 10)) / 70), 1e-15);

    analysis->setExponentialDecayIterations(1);
    analysis->setExaggerationIterations(100);
    analysis->restart();
    EXPECT_FALSE(analysis->gradientDescent().parameters().exponentialDecay);
    EXPECT_EQ(analysis->gradientDescent().parameters().exaggerationRemovalIteration, 100);
    EXPECT_EQ(analysis->gradientDescent().parameters().momentumSwitchIteration, 100);
}

TEST_F(TsneAnalysisTest, RequestsFromInsideTheLoopRunAfterItUnwinds)
{
    load({300});
    analysis->setIterations(40);
    int depth = 0;
    int maxDepth = 0;
    int restarts = 0;
    ui.onCall = [&](const RecordingUiInterface::Call& call) {
        const std::string op = call.operation; // calls made in here may move `call`
        ++depth;
        maxDepth = std::max(maxDepth, depth);
        const int updates = ui.count("analysisUpdatedSignal");
        if (op == "analysisUpdatedSignal" && updates == 10 && restarts++ == 0)
        {
            const size_t before = ui.calls.size();
            analysis->stop();    // the slide-in panel's restart: stop, then restart
            analysis->restart(); // recorded only: nothing runs inside this call
            analysis->setIterations(15);
            EXPECT_EQ(ui.calls.size(), before);
        }
        if (op == "analysisUpdatedSignal" && updates == 20)
            analysis->compute();
        --depth;
    };
    analysis->compute();
    EXPECT_EQ(maxDepth, 1);
    // 10 iterations, 10 of the restart, then a new computation of 15.
    EXPECT_EQ(ui.count("analysisUpdatedSignal"), 35);
    EXPECT_EQ(ui.count("analysisFinishedSignal"), 3);
    EXPECT_EQ(ui.count("analysisInitializedSignal"), 2);
    EXPECT_EQ(ui.operations().back(), "analysisFinishedSignal");
    EXPECT_EQ(analysis->gradientDescent().iteration(), 15);
}

TEST_F(TsneAnalysisTest, DeletionIsAnnouncedOnceAndLastAndMayDeleteInTheSlot)
{
    struct Case
    {
        const char* trigger;
        int at;
    };
    // Inside an iteration, inside the finish announcement, and while idle.
    for (const Case& c : {Case{"analysisUpdatedSignal", 5}, Case{"analysisFinishedSignal", 1}, Case{"", 0}})
    {
        SCOPED_TRACE(c.trigger);
        load({200});
        analysis->setIterations(20);
        MCV_TsneAnalysis* raw = analysis.release();
        ui.clear();
        bool deleted = false;
        ui.onCall = [&](const RecordingUiInterface::Call& call) {
            const std::string op = call.operation; // calls made in here may move `call`
            if (op == c.trigger && ui.count(c.trigger) == c.at)
            {
                raw->requestDeletion();
                raw->requestDeletion();
                raw->compute(); // ignored: the analysis is on its way out
            }
            if (op == "readyForDeletionSignal")
            {
                ASSERT_FALSE(deleted);
                delete raw; // the owner deletes inside the slot
                deleted = true;
            }
        };
        raw->compute();
        if (!deleted)
            raw->requestDeletion();
        ui.onCall = nullptr;
        ASSERT_TRUE(deleted);
        EXPECT_EQ(ui.count("readyForDeletionSignal"), 1);
        EXPECT_EQ(ui.operations().back(), "readyForDeletionSignal");
        if (c.at == 5)
        {
            EXPECT_EQ(ui.count("analysisUpdatedSignal"), 5);
            EXPECT_EQ(ui.count("analysisFinishedSignal"), 0);
            // The channels were written before the announcement.
            EXPECT_NE(value(0, 1, "VSRNE_TsneX"), 0.0f);
        }
        RegistryTestData::dropRegistry();
    }
}

TEST_F(TsneAnalysisTest, ReopenedFilesAndMissingChannelsAreNotWritten)
{
    load({200});
    analysis->setIterations(10);
    const uint64_t takenFrom = registry->generation();
    ui.onCall = [&](const RecordingUiInterface::Call& call) {
        const std::string op = call.operation; // calls made in here may move `call`
        if (op == "analysisUpdatedSignal" && ui.count("analysisUpdatedSignal") == 3)
        {
            // The rows' width and names are those the values were taken with.
            EXPECT_EQ(analysis->pointsGeneration(), takenFrom);
            EXPECT_EQ(analysis->markerCount(), kMarkers + 2);
            ASSERT_EQ(analysis->markerNames().size(), size_t(kMarkers + 2));
            EXPECT_EQ(analysis->markerNames()[kMarkers + 1], "VSRNE_TsneY");
            // Opening files inside the loop replaces the registry.
            registry = RegistryTestData::freshRegistry();
            const std::string path = RegistryTestData::writeFcs(dir.path().toStdString(), "g.fcs", kMarkers,
                                                                blobValues(200, 3, 9));
            EXPECT_EQ(registry->loadFcsFile(path), FcsErrorNone);
            registry->appendChannels({"VSRNE_TsneX", "VSRNE_TsneY"}, 0.0f);
        }
    };
    testing::internal::CaptureStdout();
    analysis->compute();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("A-tSNE: The data were reloaded; the embedding of Test tSNE is not written"),
              std::string::npos);
    for (int e = 0; e < 200; ++e)
        ASSERT_EQ(value(0, e, "VSRNE_TsneX"), 0.0f);
    EXPECT_EQ(analysis->inputData(), nullptr);
    EXPECT_EQ(ui.count("analysisFinishedSignal"), 1);
    EXPECT_EQ(analysis->pointsGeneration(), takenFrom);
    EXPECT_NE(MCV_DataRegistry::currentGeneration(), takenFrom);

    ui.onCall = nullptr;
    load({200}, false);
    analysis->setIterations(3);
    testing::internal::CaptureStdout();
    analysis->compute();
    out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("\"VSRNE_TsneX\" and \"VSRNE_TsneY\" are missing"), std::string::npos);
}

TEST_F(TsneAnalysisTest, RefusalsAndPerplexityLowering)
{
    MCV_DerivedDataPoints* all = load({100});
    const std::vector<MCV_PointIndex> points = all->points();
    analysis->setIterations(1);
    for (int m = 0; m < kMarkers + 2; ++m)
        analysis->setMarkerActive(m, false);
    ui.clear();
    testing::internal::CaptureStdout();
    analysis->compute();
    EXPECT_NE(testing::internal::GetCapturedStdout().find("No markers selected"), std::string::npos);
    EXPECT_TRUE(ui.calls.empty());

    analysis->setMarkerActive(0, true);
    analysis->setMarkerActive(1, true);
    analysis->compute();
    EXPECT_EQ(analysis->perplexity(), 25);
    EXPECT_EQ(ui.count("analysisFinishedSignal"), 1);

    // Three points would need perplexity 0: refused, the last value kept.
    all->setPoints(std::vector<MCV_PointIndex>(points.begin(), points.begin() + 3), false);
    ui.clear();
    testing::internal::CaptureStdout();
    analysis->compute();
    EXPECT_NE(testing::internal::GetCapturedStdout().find("is too small for 3 points"), std::string::npos);
    EXPECT_TRUE(ui.calls.empty());
    EXPECT_EQ(analysis->perplexity(), 25);
    EXPECT_EQ(analysis->pointCount(), 100);

    // The smallest input that works: 4 points at perplexity 1.
    all->setPoints(std::vector<MCV_PointIndex>(points.begin(), points.begin() + 4), false);
    analysis->compute();
    EXPECT_EQ(analysis->perplexity(), 1);
    EXPECT_EQ(ui.count("analysisFinishedSignal"), 1);

    // No input set, or an empty one: nothing happens.
    ui.clear();
    all->setPoints(std::vector<MCV_PointIndex>{}, false);
    analysis->compute();
    analysis->setInputData(nullptr);
    analysis->compute();
    EXPECT_TRUE(ui.calls.empty());
}

TEST_F(TsneAnalysisTest, EventsWithNonFiniteValuesStayOutOfTheEmbedding)
{
    MCV_DerivedDataPoints* all = load({500});
    const int64_t width = registry->parameterCount();
    float* rows = registry->sampleData(0);
    rows[10 * width + 1] = NAN;
    rows[20 * width + 4] = -INFINITY;
    analysis->setIterations(30);
    ui.clear();
    testing::internal::CaptureStdout();
    analysis->compute();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("A-tSNE: 2 events of Test tSNE have a value that is not a finite number in an active "
                       "marker and are left out of the embedding.\n"),
              std::string::npos) << out;
    EXPECT_EQ(ui.count("analysisFinishedSignal"), 1);
    ASSERT_EQ(analysis->pointCount(), 498);
    for (float v : analysis->embeddingPositions())
        ASSERT_TRUE(std::isfinite(v));
    for (const MCV_PointIndex& p : analysis->points())
        ASSERT_TRUE(p.eventIndex != 10 && p.eventIndex != 20);
    EXPECT_EQ(value(0, 10, "VSRNE_TsneX"), 0.0f);
    EXPECT_EQ(value(0, 20, "VSRNE_TsneY"), 0.0f);
    EXPECT_NE(value(0, 11, "VSRNE_TsneX"), 0.0f);

    // Fewer points than the stage needs remain: refused with a line.
    for (int e = 3; e < 500; ++e)
        rows[e * width] = NAN;
    ui.clear();
    testing::internal::CaptureStdout();
    analysis->compute();
    out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("497 events of Test tSNE have a value"), std::string::npos) << out;
    EXPECT_NE(out.find("is too small for 3 points"), std::string::npos) << out;
    EXPECT_TRUE(ui.calls.empty());
    EXPECT_EQ(all->points().size(), 500u);
}

TEST_F(TsneAnalysisTest, DensityClustersNameTheEmbeddedPoints)
{
    MCV_DerivedDataPoints* all = load({120});
    analysis->setIterations(1);
    analysis->compute();
    MCV_DerivedData* data = analysis->createDerivedData({{3, 1, 999}, {0}}, "Density Clusters");
    auto* clusters = dynamic_cast<MCV_DerivedDataClusters*>(data);
    ASSERT_NE(clusters, nullptr);
    EXPECT_EQ(clusters->name(), "Density Clusters - Test tSNE");
    ASSERT_EQ(clusters->clusterCount(), 2);
    const std::vector<MCV_PointIndex> expected = {analysis->points()[3], analysis->points()[1]};
    EXPECT_EQ(clusters->members()[0], expected);
    EXPECT_EQ(clusters->parentData(), all);
    // Reused under the same name while there is an input set.
    EXPECT_EQ(analysis->createDerivedData({{2}}, "Density Clusters"), data);
}

} // namespace
