#include "data/FcsError.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataPoints.h"
#include "support/RecordingUiInterface.h"
#include "support/RegistryTestData.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <omp.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <set>

namespace {

const float nan = std::numeric_limits<float>::quiet_NaN();

class DerivedDataPointsTest : public ::testing::Test
{
protected:
    void SetUp() override { registry = RegistryTestData::freshRegistry(); }
    void TearDown() override { RegistryTestData::dropRegistry(); }

    void load(int parameters, const std::vector<float>& values)
    {
        const std::string name = "s" + std::to_string(registry->sampleCount()) + ".fcs";
        ASSERT_EQ(registry->loadFcsFile(
                      RegistryTestData::writeFcs(dir.path().toStdString(), name, parameters, values)),
                  FcsErrorNone);
    }

    QTemporaryDir dir;
    MCV_DataRegistry* registry = nullptr;
};

TEST_F(DerivedDataPointsTest, StatisticsSkipNaNAndGiveZeroWhereNothingCounts)
{
    // Columns: plain 1..4; NaN-laden; all NaN; one value among NaN.
    load(4, {1, nan, nan, nan,
             2, 10, nan, nan,
             3, nan, nan, 7,
             4, 30, nan, nan});
    MCV_DerivedDataPoints* all = registry->createAllPointsData();
    EXPECT_EQ(all->medians(), (std::vector<float>{3, 30, 0, 7}));  // sorted value at count / 2
    EXPECT_EQ(all->means(), (std::vector<float>{2.5f, 20, 0, 7}));
    const std::vector<float>& sd = all->stdDevs();
    ASSERT_EQ(sd.size(), 4u);
    EXPECT_FLOAT_EQ(sd[0], std::sqrt(1.25f));
    EXPECT_FLOAT_EQ(sd[1], 10.0f);
    EXPECT_EQ(sd[2], 0.0f);
    EXPECT_EQ(sd[3], 0.0f);

    MCV_DerivedDataPoints empty;
    EXPECT_EQ(empty.means(), std::vector<float>(4, 0.0f));
    EXPECT_EQ(empty.medians(), std::vector<float>(4, 0.0f));
    EXPECT_EQ(empty.stdDevs(), std::vector<float>(4, 0.0f));

    // Points that name no loaded event are left out, not read.
    MCV_DerivedDataPoints stray;
    stray.setPoints({{0, 1}, {0, 99}, {5, 0}, {-1, 0}}, false);
    EXPECT_EQ(stray.means()[0], 2.0f);
}

TEST_F(DerivedDataPointsTest, SumsDoNotLoseSmallValuesNextToLargeOnes)
{
    // In single precision 2^24 + 1 == 2^24: a float sum would drop every 1.
    std::vector<float> values(1001, 1.0f);
    values[0] = 16777216.0f;
    load(1, values);
    MCV_DerivedDataPoints* all = registry->createAllPointsData();
    EXPECT_EQ(all->means()[0], static_cast<float>((16777216.0 + 1000.0) / 1001.0));
    const double mean = static_cast<float>((16777216.0 + 1000.0) / 1001.0);
    const double squares = (16777216.0 - mean) * (16777216.0 - mean) + 1000.0 * (1.0 - mean) * (1.0 - mean);
    EXPECT_EQ(all->stdDevs()[0], static_cast<float>(std::sqrt(squares / 1001.0)));
}

TEST_F(DerivedDataPointsTest, StatisticsAreIdenticalAtOneAndEightThreads)
{
    std::mt19937 engine(7);
    std::normal_distribution<float> normal(3.0f, 100.0f);
    std::vector<float> values(20000 * 12);
    for (float& v : values)
        v = normal(engine);
    for (std::size_t i = 0; i < values.size(); i += 13)
        values[i] = nan;
    load(12, values);
    MCV_DerivedDataPoints* all = registry->createAllPointsData();

    const int threads = omp_get_max_threads();
    omp_set_num_threads(1);
    const std::vector<float> means1 = all->means(), medians1 = all->medians(), sd1 = all->stdDevs();
    all->setDirty();
    omp_set_num_threads(8);
    const std::vector<float> means8 = all->means(), medians8 = all->medians(), sd8 = all->stdDevs();
    omp_set_num_threads(threads);
    EXPECT_EQ(std::memcmp(means1.data(), means8.data(), 12 * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(medians1.data(), medians8.data(), 12 * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(sd1.data(), sd8.data(), 12 * sizeof(float)), 0);
}

TEST_F(DerivedDataPointsTest, ChangesMarkStatisticsStaleAndNotifyOnlyWhenAsked)
{
    load(1, {1, 2, 3, 4});
    RecordingUiInterface ui;
    MCV_DerivedDataPoints set;
    set.setPoints({{0, 0}}, true);  // no observer: nothing to call
    EXPECT_EQ(set.means()[0], 1.0f);
    set.setUiInterface(&ui);
    set.setPoints({{0, 3}}, false);
    EXPECT_TRUE(ui.calls.empty());
    EXPECT_EQ(set.means()[0], 4.0f);
    set.setNameAndPoints("Fresh", {{0, 1}});
    EXPECT_EQ(set.name(), "Fresh");
    EXPECT_EQ(set.means()[0], 4.0f);  // stale flags untouched
    set.invalidate(this);
    EXPECT_EQ(set.means()[0], 2.0f);
    EXPECT_EQ(set.lastSender(), this);
    EXPECT_EQ(ui.count("dataRefreshedSignal", &set), 1);
}

class DownsampleTest : public DerivedDataPointsTest
{
protected:
    void SetUp() override
    {
        DerivedDataPointsTest::SetUp();
        load(1, std::vector<float>(10, 1.0f));
        load(1, std::vector<float>(10, 2.0f));
        load(1, std::vector<float>(6, 3.0f));
        all = registry->createAllPointsData();
    }

    /// The events kept of one sample, in order.
    static std::vector<int32_t> eventsOf(const MCV_DerivedDataPoints& set, int sample)
    {
        std::vector<int32_t> events;
        for (const MCV_PointIndex& p : set.points())
            if (p.sampleIndex == sample)
                events.push_back(p.eventIndex);
        return events;
    }

    MCV_DerivedDataPoints* all = nullptr;
};

TEST_F(DownsampleTest, KeepsExactlyTheTargetsInSourceOrder)
{
    RecordingUiInterface ui;
    MCV_DerivedDataPoints set;
    set.setUiInterface(&ui);
    testing::internal::CaptureStdout();
    set.downsample(all, {5, 4, 6});
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("\nDownsampling to 15 points total.\n"), std::string::npos);
    EXPECT_NE(out.find("\nFile 0 target is 5 from 10.\nInversing sampling.\n"), std::string::npos);
    EXPECT_NE(out.find("\nFile 1 target is 4 from 10.\n\nFile 2"), std::string::npos);
    EXPECT_NE(out.find("\nFile 2 target is 6 from 6.\nInversing sampling.\n"), std::string::npos);

    ASSERT_EQ(set.points().size(), 15u);
    int previousSample = 0;
    for (const MCV_PointIndex& p : set.points()) {
        EXPECT_GE(p.sampleIndex, previousSample);
        previousSample = p.sampleIndex;
    }
    for (int s = 0; s < 3; ++s) {
        const std::vector<int32_t> events = eventsOf(set, s);
        EXPECT_TRUE(std::is_sorted(events.begin(), events.end()));
        EXPECT_EQ(std::adjacent_find(events.begin(), events.end()), events.end());
        EXPECT_EQ(events, set.sampleEvents()[s]);
    }
    EXPECT_EQ(eventsOf(set, 2), (std::vector<int32_t>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(set.sampleCounts(), (std::vector<int64_t>{5, 4, 6}));
    EXPECT_EQ(ui.count("dataRefreshedSignal", &set), 1);
    EXPECT_EQ(set.means()[0], (5 * 1.0f + 4 * 2.0f + 6 * 3.0f) / 15.0f);
}

TEST_F(DownsampleTest, EqualSamplesKeepEqualPositionsAndTargetsAreClamped)
{
    MCV_DerivedDataPoints set;
    testing::internal::CaptureStdout();
    set.downsample(all, {3, 3, 50});
    const std::string out = testing::internal::GetCapturedStdout();
    // Every sample draws the same sequence.
    EXPECT_EQ(eventsOf(set, 0), eventsOf(set, 1));
    EXPECT_EQ(eventsOf(set, 0).size(), 3u);
    // A target beyond the sample keeps all of it, no default-made points.
    EXPECT_EQ(eventsOf(set, 2).size(), 6u);
    EXPECT_EQ(set.points().size(), 12u);
    EXPECT_EQ(set.sampleCounts(), (std::vector<int64_t>{3, 3, 6}));
    EXPECT_NE(out.find("Downsampling to 12 points total."), std::string::npos);

    // Missing targets count as 0; a source with gaps keeps its own events.
    MCV_DerivedDataPoints gappy;
    gappy.setPoints({{1, 9}, {1, 2}, {1, 5}, {0, 4}}, false);
    MCV_DerivedDataPoints fromGappy;
    testing::internal::CaptureStdout();
    fromGappy.downsample(&gappy, {1, 3});
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(fromGappy.points(), (std::vector<MCV_PointIndex>{{0, 4}, {1, 9}, {1, 2}, {1, 5}}));
    MCV_DerivedDataPoints none;
    testing::internal::CaptureStdout();
    none.downsample(&gappy, {});
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(none.points().empty());
    EXPECT_EQ(none.sampleCounts(), (std::vector<int64_t>{0, 0, 0}));
}

TEST_F(DownsampleTest, SetsDownsampledRightAfterTheyAreMadeDrawDifferentSubsets)
{
    // 3 of 10 events: 120 subsets. 2000 uniform draws miss any of them with a
    // chance of 120 x (119/120)^2000, about 1e-5; a clock-only seed gave about 28.
    std::set<std::vector<int32_t>> subsets;
    testing::internal::CaptureStdout();
    for (int draw = 0; draw < 2000; ++draw) {
        MCV_DerivedDataPoints set;
        set.downsample(all, {3, 0, 0});
        subsets.insert(eventsOf(set, 0));
    }
    testing::internal::GetCapturedStdout();
    EXPECT_GE(subsets.size(), 110u);
}

TEST_F(DownsampleTest, RegistryRegistersTheDownsampledSet)
{
    testing::internal::CaptureStdout();
    MCV_DerivedDataPoints* down = registry->createDownsampledData("Down", all, {2, 2, 2});
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(down->name(), "Down");
    EXPECT_EQ(down->points().size(), 6u);
    ASSERT_EQ(registry->pointsDataList().size(), 2u);
    EXPECT_EQ(registry->pointsDataList()[1], down);
}

} // namespace
