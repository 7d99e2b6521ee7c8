#include "data/FcsError.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataPoints.h"
#include "support/RecordingUiInterface.h"
#include "support/RegistryTestData.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cmath>
#include <cstring>

namespace {

class DataRegistryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        registry = RegistryTestData::freshRegistry();
        registry->setUiInterface(&ui);
    }
    void TearDown() override { RegistryTestData::dropRegistry(); }

    std::string write(const std::string& name, int parameters, const std::vector<float>& values,
                      const std::vector<std::pair<std::string, std::string>>& keywords = {})
    {
        return RegistryTestData::writeFcs(dir.path().toStdString(), name, parameters, values, keywords);
    }

    /// events x parameters values e * 10 + p + offset.
    static std::vector<float> grid(int events, int parameters, float offset = 0.0f)
    {
        std::vector<float> values;
        for (int e = 0; e < events; ++e)
            for (int p = 0; p < parameters; ++p)
                values.push_back(static_cast<float>(e * 10 + p) + offset);
        return values;
    }

    QTemporaryDir dir;
    RecordingUiInterface ui;
    MCV_DataRegistry* registry = nullptr;
};

bool sameBits(float a, float b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST_F(DataRegistryTest, MergesEqualAndUnequalKeywordsOfThreeFiles)
{
    const std::string a = write("a.fcs", 2, grid(3, 2), {{"$DATE", "01-JAN-2020"}, {"$CYT", "C1"}});
    const std::string b = write("b.fcs", 2, grid(3, 2, 100), {{"$DATE", "02-JAN-2020"}, {"$CYT", "C1"}});
    const std::string c = write("c.fcs", 2, grid(5, 2, 200), {{"$DATE", "01-JAN-2020"}, {"$CYT", "C1"}});
    ASSERT_EQ(registry->loadFcsFile(a), FcsErrorNone);
    EXPECT_EQ(registry->mergedHeader()->fileName(), a);
    EXPECT_EQ(registry->mergedHeader()->eventCount(), 3);
    ASSERT_EQ(registry->loadFcsFile(b), FcsErrorNone);
    EXPECT_EQ(registry->mergedHeader()->eventCount(), 3);
    ASSERT_EQ(registry->loadFcsFile(c), FcsErrorNone);

    const FcsHeader* merged = registry->mergedHeader();
    EXPECT_EQ(merged->fileName(), "multiple files");
    EXPECT_EQ(merged->date(), "multiple");  // once "multiple", a later equal file keeps it
    EXPECT_EQ(merged->eventCount(), -1);
    EXPECT_EQ(merged->cyt(), "C1");
    EXPECT_EQ(merged->version(), "FCS3.1");
    EXPECT_EQ(registry->sampleCount(), 3);
    EXPECT_EQ(registry->samplePath(2), c);
    EXPECT_EQ(registry->sampleHeader(2)->eventCount(), 5);
    EXPECT_FLOAT_EQ(registry->sampleData(1)[2 * 2 + 1], 121.0f);
    EXPECT_EQ(registry->loadLog(), a + ": 0\n" + b + ": 1\n" + c + ": 2\n");

    // Loading announces nothing; setUiInterface starts a new log.
    EXPECT_TRUE(ui.calls.empty());
    registry->setUiInterface(nullptr);
    EXPECT_EQ(registry->loadLog(), "");
}

TEST_F(DataRegistryTest, FileThatDoesNotFitGivesCode4AndNothingChanges)
{
    ASSERT_EQ(registry->loadFcsFile(write("a.fcs", 2, grid(3, 2))), FcsErrorNone);
    const std::string logBefore = registry->loadLog();

    EXPECT_EQ(registry->loadFcsFile(write("n.fcs", 2, grid(3, 2), {{"$P2N", "Other"}})), FcsErrorFilesDiffer);
    EXPECT_EQ(registry->loadFcsFile(write("e.fcs", 2, grid(3, 2), {{"$P2E", "4,1"}})), FcsErrorFilesDiffer);
    EXPECT_EQ(registry->loadFcsFile(write("p.fcs", 3, grid(3, 3))), FcsErrorFilesDiffer);
    EXPECT_EQ(registry->sampleCount(), 1);
    EXPECT_EQ(registry->loadLog(), logBefore);
    EXPECT_EQ(registry->mergedHeader()->fileName(), registry->samplePath(0));
    EXPECT_EQ(registry->mergedHeader()->eventCount(), 3);

    // Long name and range are not compared.
    EXPECT_EQ(registry->loadFcsFile(write("s.fcs", 2, grid(4, 2), {{"$P2S", "Else"}, {"$P2R", "7"}})),
              FcsErrorNone);
    EXPECT_EQ(registry->sampleCount(), 2);
}

TEST_F(DataRegistryTest, UnopenableFileStopsWithItsCodeAndAddsNoSample)
{
    EXPECT_EQ(registry->loadFcsFile(dir.path().toStdString() + "/missing.fcs"), FcsErrorCannotOpen);
    EXPECT_EQ(registry->sampleCount(), 0);
    EXPECT_EQ(registry->mergedHeader(), nullptr);
    EXPECT_EQ(registry->loadLog(), "");
    // A later good file still becomes the first sample.
    EXPECT_EQ(registry->loadFcsFile(write("a.fcs", 2, grid(3, 2))), FcsErrorNone);
    EXPECT_EQ(registry->sampleCount(), 1);
}

TEST_F(DataRegistryTest, GenerationsAndInstanceReplacement)
{
    const uint64_t first = registry->generation();
    EXPECT_EQ(MCV_DataRegistry::currentGeneration(), first);
    EXPECT_EQ(MCV_DataRegistry::instance(), registry);
    delete registry;
    EXPECT_EQ(MCV_DataRegistry::currentGeneration(), 0u);
    registry = MCV_DataRegistry::instance();
    EXPECT_GT(registry->generation(), first);
    EXPECT_EQ(MCV_DataRegistry::currentGeneration(), registry->generation());
}

TEST_F(DataRegistryTest, NamesAreUniqueOverEveryKind)
{
    MCV_DerivedDataClusters* n0 = registry->createClustersData("N", false);
    MCV_DerivedDataClusters* n1 = registry->createClustersData("N", false);
    MCV_DerivedDataClusters* n2 = registry->createClustersData("N", false);
    EXPECT_EQ(n0->name(), "N");
    EXPECT_EQ(n1->name(), "N-1");
    EXPECT_EQ(n2->name(), "N-2");
    EXPECT_EQ(registry->createClustersData("N", true), n0);

    // A points set asking for a clusters set's name gets its own name and
    // evicts nothing, also with reuse set.
    MCV_DerivedDataPoints* points = registry->createPointsData("N", true);
    EXPECT_EQ(points->name(), "N-3");
    EXPECT_EQ(registry->clustersDataList().size(), 3u);
    EXPECT_EQ(registry->createPointsData("N-3", true), points);
    // Asked again under the same name, reuse finds what the first request made.
    EXPECT_EQ(registry->createPointsData("N", true), points);
    MCV_DerivedDataClusters* clusters = registry->createClustersData("N-3", true);
    EXPECT_EQ(clusters->name(), "N-3-1");
    EXPECT_EQ(registry->createClustersData("N-3", true), clusters);
    testing::internal::CaptureStdout();
    MCV_DerivedDataPoints* down = registry->createDownsampledData("N-1", points, {});
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(down->name(), "N-1-1");

    // "Selection" is never registered.
    const std::size_t entries = registry->derivedDataEntries().size();
    EXPECT_EQ(registry->createPointsData("Selection", false), registry->selectionData());
    EXPECT_EQ(registry->selectionData()->name(), "Selection");
    EXPECT_EQ(registry->derivedDataEntries().size(), entries);
    EXPECT_EQ(ui.count("newDerivedDataAddedSignal"), 6);
    for (const MCV_DataRegistry::DerivedDataEntry& entry : registry->derivedDataEntries())
        EXPECT_EQ(entry.data->uiInterface(), &ui);
}

TEST_F(DataRegistryTest, ReplacedSetStaysAliveUntilTheRegistryGoes)
{
    MCV_DerivedDataPoints* old = registry->createPointsData("Shown", false);
    auto* replacement = new MCV_DerivedDataClusters();
    ui.clear();
    testing::internal::CaptureStdout();
    registry->addDerivedData(MCV_DerivedDataTypeClusters, "Shown", replacement);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[ERROR] Tried to add new derived data Shown, but already exists.\n");
    EXPECT_TRUE(ui.calls.empty());
    EXPECT_TRUE(registry->pointsDataList().empty());
    ASSERT_EQ(registry->clustersDataList().size(), 1u);
    EXPECT_EQ(registry->clustersDataList()[0], replacement);
    // The old set is still a valid object (the sanitizer build checks this).
    old->setPoints({{0, 0}}, true);
    EXPECT_EQ(old->points().size(), 1u);
}

TEST_F(DataRegistryTest, AllPointsListsEveryEventAndAnnouncesItTwice)
{
    ASSERT_EQ(registry->loadFcsFile(write("a.fcs", 2, grid(3, 2))), FcsErrorNone);
    ASSERT_EQ(registry->loadFcsFile(write("b.fcs", 2, grid(2, 2))), FcsErrorNone);
    MCV_DerivedDataPoints* all = registry->createAllPointsData();
    EXPECT_EQ(all->name(), "All Points");
    EXPECT_EQ(all->tag(), 1);
    const std::vector<MCV_PointIndex> expected = {{0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 1}};
    EXPECT_EQ(all->points(), expected);
    EXPECT_EQ(ui.operations(),
              (std::vector<std::string>{"newDerivedDataAddedSignal", "dataRefreshedSignal", "dataRefreshedSignal"}));
    EXPECT_EQ(ui.count("dataRefreshedSignal", all), 2);
    EXPECT_EQ(registry->createAllPointsData(), all);
}

TEST_F(DataRegistryTest, AppendChannelsWidensEveryRowAndMakesEveryStatisticStale)
{
    for (int s = 0; s < 3; ++s)
        ASSERT_EQ(registry->loadFcsFile(write("f" + std::to_string(s) + ".fcs", 2, grid(2 + s, 2, 100.0f * s))),
                  FcsErrorNone);
    MCV_DerivedDataPoints* all = registry->createAllPointsData();
    MCV_DerivedDataClusters* clusters = registry->createClustersData("C", false);
    clusters->setClusters({{{0, 0}, {2, 3}}}, all, {});
    MCV_DerivedDataPoints* selection = registry->selectionData();
    selection->setPoints({{1, 1}}, false);
    ASSERT_EQ(all->means().size(), 2u);
    ASSERT_EQ(selection->medians().size(), 2u);
    ASSERT_EQ(clusters->clusterMedians(0).size(), 2u);
    ui.clear();

    registry->appendChannels({"VSRNE_ST"}, -1.0f);
    EXPECT_EQ(ui.operations(), std::vector<std::string>{"dimensionsAddedSignal"});
    EXPECT_EQ(registry->parameterCount(), 3);
    for (int s = 0; s < 3; ++s) {
        const float* m = registry->sampleData(s);
        EXPECT_EQ(registry->sampleHeader(s)->parameterCount(), 3u);
        EXPECT_EQ(registry->sampleHeader(s)->parameterName(2), "VSRNE_ST");
        for (int e = 0; e < 2 + s; ++e) {
            EXPECT_EQ(m[e * 3 + 0], e * 10 + 100.0f * s);
            EXPECT_EQ(m[e * 3 + 1], e * 10 + 1 + 100.0f * s);
            EXPECT_EQ(m[e * 3 + 2], static_cast<float>(s));
        }
    }
    const FcsParameter& added = registry->mergedHeader()->parameters()[2];
    EXPECT_EQ(added.longName, "VSRNE_ST");
    EXPECT_EQ(added.bits, 32);

    // Every set recomputes over the new width.
    ASSERT_EQ(all->means().size(), 3u);
    EXPECT_FLOAT_EQ(all->means()[2], (0 * 2 + 1 * 3 + 2 * 4) / 9.0f);
    ASSERT_EQ(selection->medians().size(), 3u);
    EXPECT_EQ(selection->medians()[2], 1.0f);
    ASSERT_EQ(clusters->clusterMedians(0).size(), 3u);
    EXPECT_EQ(clusters->clusterStdDevs(0).size(), 3u);

    registry->appendChannels({"VSRNE_TsneX", "VSRNE_TsneY"}, 0.0f);
    EXPECT_EQ(registry->sampleData(2)[3 * 5 + 3], 0.0f);
    EXPECT_EQ(registry->sampleData(2)[3 * 5 + 4], 0.0f);
    EXPECT_EQ(registry->sampleData(2)[3 * 5 + 2], 2.0f);
    EXPECT_EQ(registry->mergedHeader()->parameterIndex("VSRNE_TsneY"), 4);

    registry->appendChannels({}, 1.0f);
    EXPECT_EQ(registry->parameterCount(), 5);
}

TEST_F(DataRegistryTest, ArcsinhIsBitExactOnFlaggedParametersOnly)
{
    std::vector<float> values = grid(4, 3, -17.25f);
    values[1] = 1.0e6f;
    values[5] = -3.0e-7f;
    ASSERT_EQ(registry->loadFcsFile(write("a.fcs", 3, values)), FcsErrorNone);
    ASSERT_EQ(registry->loadFcsFile(write("b.fcs", 3, grid(2, 3, 5.5f))), FcsErrorNone);
    MCV_DerivedDataPoints* all = registry->createAllPointsData();
    const float meanBefore = all->means()[1];
    const std::size_t callsBefore = ui.calls.size();

    // Bits beyond the vector count as 0: parameter 2 stays untouched.
    registry->applyArcsinh(5, {false, true});
    const float* m = registry->sampleData(0);
    for (int e = 0; e < 4; ++e) {
        EXPECT_TRUE(sameBits(m[e * 3 + 0], values[e * 3 + 0]));
        EXPECT_TRUE(sameBits(m[e * 3 + 1], asinhf(values[e * 3 + 1] / 5.0f))) << e;
        EXPECT_TRUE(sameBits(m[e * 3 + 2], values[e * 3 + 2]));
    }
    EXPECT_TRUE(sameBits(registry->sampleData(1)[3 + 1], asinhf((10 + 1 + 5.5f) / 5.0f)));
    EXPECT_NE(all->means()[1], meanBefore);
    EXPECT_EQ(ui.calls.size(), callsBefore);

    // A cofactor <= 0 changes nothing and says so.
    const std::vector<float> before(m, m + 12);
    for (int cofactor : {0, -5}) {
        testing::internal::CaptureStdout();
        registry->applyArcsinh(cofactor, {true, true, true});
        EXPECT_FALSE(testing::internal::GetCapturedStdout().empty());
    }
    for (int i = 0; i < 12; ++i)
        EXPECT_TRUE(sameBits(m[i], before[i]));
}

} // namespace
