#include "analyses/spade/SpadeDensityCache.h"
#include "analyses/spade/SpadeDownsampler.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <numeric>
#include <string>
#include <vector>

namespace {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

SpadeDensityCache::Parameters settings()
{
    SpadeDensityCache::Parameters p;
    p.activeMarkers = {true, false, true};
    p.sampleSize = 2000;
    p.alpha = 3.0f;
    p.targetDensityPercentile = 3.0f;
    p.outlierDensityPercentile = 1.0f;
    p.keepPercentage = 10.5f;
    p.targetClusterCount = 50;
    p.dataHash = 0x0123456789abcdefull;
    return p;
}

std::vector<bool> keep(const std::vector<int32_t>& densities, float outlier, float target, float keepPercentage,
                       std::string* output = nullptr)
{
    std::vector<int32_t> sorted = densities;
    std::sort(sorted.begin(), sorted.end());
    testing::internal::CaptureStdout();
    std::vector<bool> flags = SpadeDownsampler::keepFlags(densities, sorted, outlier, target, keepPercentage);
    const std::string text = testing::internal::GetCapturedStdout();
    if (output)
        *output = text;
    return flags;
}

} // namespace

TEST(SpadeDensityCache, FileNamesCutThePathAtItsLastDot)
{
    EXPECT_EQ(SpadeDensityCache::parametersPath("/data/run/sample.fcs"), "/data/run/sample_parameters.txt");
    EXPECT_EQ(SpadeDensityCache::densitiesPath("/data/run/sample.fcs"), "/data/run/sample_densities.raw");
    // No extension, a dot in the folder name: cut at that dot, beside the folder.
    EXPECT_EQ(SpadeDensityCache::parametersPath("/data/a.b/sample"), "/data/a_parameters.txt");
    EXPECT_EQ(SpadeDensityCache::densitiesPath("/data/sample"), "/data/sample_densities.raw");
    EXPECT_EQ(SpadeDensityCache::parametersPath("/data/x.y.fcs"), "/data/x.y_parameters.txt");
}

TEST(SpadeDensityCache, ParameterLineKeepsTheOldLayoutAndAppendsTheHash)
{
    EXPECT_EQ(SpadeDensityCache::parameterLine(settings()), "1 0 1 2000 3 3 1 10.5 50 0123456789abcdef ");
    const float values[] = {1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f};
    const uint64_t h = SpadeDensityCache::dataHash(values, 2, 3, {0, 2});
    EXPECT_EQ(SpadeDensityCache::dataHash(values, 2, 3, {0, 2}), h);
    EXPECT_NE(SpadeDensityCache::dataHash(values, 2, 3, {0, 1}), h);
    const float changed[] = {1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.5f};
    EXPECT_NE(SpadeDensityCache::dataHash(changed, 2, 3, {0, 2}), h);
    EXPECT_EQ(SpadeDensityCache::dataHash(changed, 2, 3, {0, 1}), SpadeDensityCache::dataHash(values, 2, 3, {0, 1}));
}

TEST(SpadeDensityCache, HitMissStaleAndTruncated)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string sample = dir.path().toStdString() + "/sample.fcs";
    writeFile(sample, "FCS3.1 not touched");
    const std::vector<int32_t> densities{5, 0, 7, 7, 123456};
    std::vector<int32_t> loaded;

    testing::internal::CaptureStdout();
    EXPECT_FALSE(SpadeDensityCache::load(sample, settings(), 5, loaded)); // nothing written yet: silent
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    ASSERT_TRUE(SpadeDensityCache::write(sample, settings(), densities));
    EXPECT_EQ(readFile(sample), "FCS3.1 not touched");
    EXPECT_EQ(readFile(SpadeDensityCache::densitiesPath(sample)).size(), 20u);
    EXPECT_EQ(readFile(SpadeDensityCache::parametersPath(sample)), SpadeDensityCache::parameterLine(settings()));
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).size() == 3); // no temporary files left

    // Hit: the percentages and cluster count do not matter.
    SpadeDensityCache::Parameters other = settings();
    other.keepPercentage = 50.0f;
    other.targetClusterCount = 3;
    EXPECT_TRUE(SpadeDensityCache::load(sample, other, 5, loaded));
    EXPECT_EQ(loaded, densities);

    struct Miss { SpadeDensityCache::Parameters p; int64_t events; const char* message; };
    std::vector<Miss> misses;
    Miss marker{settings(), 5, "\n\t\tMarker state 1 in cache differs from current setting, cache file is invalid. Recomputing.\n"};
    marker.p.activeMarkers[1] = true;
    Miss size{settings(), 5, "\n\t\tRandom sample size in cache differs from current setting, cache file is invalid. Recomputing.\n"};
    size.p.sampleSize = 2001;
    Miss alpha{settings(), 5, "\n\t\tAlpha in cache differs from current setting, cache file is invalid. Recomputing.\n"};
    alpha.p.alpha = 3.01f;
    Miss stale{settings(), 5, "\n\t\tData in cache differs from the loaded data, cache file is invalid. Recomputing.\n"};
    stale.p.dataHash ^= 1;
    Miss count{settings(), 6, "\n\t\tSize of cache does not match data. Reading cache failed.\n"};
    for (const Miss& miss : {marker, size, alpha, stale, count}) {
        loaded = {42};
        testing::internal::CaptureStdout();
        EXPECT_FALSE(SpadeDensityCache::load(sample, miss.p, miss.events, loaded));
        EXPECT_EQ(testing::internal::GetCapturedStdout(), miss.message);
        EXPECT_EQ(loaded, std::vector<int32_t>{42});
    }

    // A cache of the old layout (no hash) is read by the same rule and found stale.
    writeFile(SpadeDensityCache::parametersPath(sample), "1 0 1 2000 3 3 1 10 50 ");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(SpadeDensityCache::load(sample, settings(), 5, loaded));
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Data in cache differs"), std::string::npos);

    // Truncated files.
    ASSERT_TRUE(SpadeDensityCache::write(sample, settings(), densities));
    writeFile(SpadeDensityCache::densitiesPath(sample), readFile(SpadeDensityCache::densitiesPath(sample)).substr(0, 18));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(SpadeDensityCache::load(sample, settings(), 5, loaded));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n\t\tSize of cache does not match data. Reading cache failed.\n");
    ASSERT_TRUE(SpadeDensityCache::write(sample, settings(), densities));
    writeFile(SpadeDensityCache::parametersPath(sample), "1 0");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(SpadeDensityCache::load(sample, settings(), 5, loaded));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\n\t\tMarker state 2 in cache differs from current setting, cache file is invalid. Recomputing.\n");

    // Zero events: an empty density file matches.
    ASSERT_TRUE(SpadeDensityCache::write(sample, settings(), {}));
    EXPECT_TRUE(SpadeDensityCache::load(sample, settings(), 0, loaded));
    EXPECT_TRUE(loaded.empty());
}

TEST(SpadeDensityCache, WriteFailuresAreReportedAndSpareTheSample)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    testing::internal::CaptureStdout();
    EXPECT_FALSE(SpadeDensityCache::write(dir.path().toStdString() + "/missing/sample.fcs", settings(), {1, 2}));
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Could not write the density cache"), std::string::npos);

    // A cache name that leads to the sample file itself (a link) is never written through.
    const std::string sample = dir.path().toStdString() + "/s.fcs";
    writeFile(sample, "sample bytes");
    ASSERT_TRUE(QFile::link(QString::fromStdString(sample),
                            QString::fromStdString(SpadeDensityCache::densitiesPath(sample))));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(SpadeDensityCache::write(sample, settings(), {1, 2, 3}));
    EXPECT_NE(testing::internal::GetCapturedStdout().find("would replace the sample file"), std::string::npos);
    EXPECT_EQ(readFile(sample), "sample bytes");
}

TEST(SpadeDownsampler, KeepAllAllOutliersAndNothing)
{
    std::vector<int32_t> densities(1000);
    std::iota(densities.begin(), densities.end(), 0);

    std::string out;
    std::vector<bool> all = keep(densities, 1.0f, 3.0f, 100.0f, &out);
    EXPECT_EQ(std::count(all.begin(), all.end(), true), 1000);
    EXPECT_EQ(out.find("\tDownsampling ..\n"), std::string::npos);
    EXPECT_EQ(out, "\t\tDone, 1000 (100%) active Samples remain.\n");

    // Every density at the outlier density: nothing stays.
    std::vector<bool> none = keep(std::vector<int32_t>(500, 4), 1.0f, 3.0f, 10.0f, &out);
    EXPECT_EQ(std::count(none.begin(), none.end(), true), 0);
    EXPECT_NE(out.find("\t\tDone, 0 (0%) active Samples remain.\n"), std::string::npos);

    std::vector<bool> zero = keep(densities, 1.0f, 3.0f, 0.0f, &out);
    EXPECT_EQ(std::count(zero.begin(), zero.end(), true), 0);
    EXPECT_NE(out.find("Target count is 0"), std::string::npos);

    EXPECT_TRUE(keep({}, 1.0f, 3.0f, 10.0f, &out).empty());
    EXPECT_EQ(out, "\tNo events in this file, nothing to downsample.\n");
    // Percentiles beyond the list stay inside it.
    EXPECT_EQ(keep(densities, -5.0f, 500.0f, 50.0f).size(), 1000u);
}

TEST(SpadeDownsampler, TargetCountIsExactForTheHundredthsOfThePanel)
{
    // E x keep / 100 exactly, also where a float share falls short.
    const struct
    {
        int events;
        float percentage;
        const char* expected;
    } cases[] = {{3000, 10.0f, "max cellcount = 300,"},  {20000, 10.0f, "max cellcount = 2000,"},
                 {1000, 0.7f, "max cellcount = 7,"},     {20000, 0.01f, "max cellcount = 2,"},
                 {100000, 12.34f, "max cellcount = 12340,"}, {999, 0.29f, "max cellcount = 2,"}};
    for (const auto& c : cases) {
        std::vector<int32_t> many(static_cast<size_t>(c.events));
        std::iota(many.begin(), many.end(), 0);
        std::string text;
        keep(many, 1.0f, 3.0f, c.percentage, &text);
        EXPECT_NE(text.find(c.expected), std::string::npos) << c.events << " at " << c.percentage << " %: " << text;
    }
}

TEST(SpadeDownsampler, RareEventsStayAndDenseOnesThinOut)
{
    // d = 9.99: outlier density = sorted[9] = 9, target density = sorted[29] = 29; the target
    // count is 1000 x 10 / 100 = 100.
    std::vector<int32_t> densities(1000);
    std::iota(densities.begin(), densities.end(), 0);
    std::srand(11);
    std::string out;
    const std::vector<bool> flags = keep(densities, 1.0f, 3.0f, 10.0f, &out);
    for (int e = 0; e <= 9; ++e)
        EXPECT_FALSE(flags[e]) << e;
    for (int e = 10; e <= 29; ++e)
        EXPECT_TRUE(flags[e]) << e;
    const auto kept = std::count(flags.begin(), flags.end(), true);
    EXPECT_LT(kept, 300);
    EXPECT_NE(out.find("\t\toutlier density = 9, target density = 29, max cellcount = 100, curve exponent = 1 .. "),
              std::string::npos) << out;
    // The draws follow the runtime generator: the same seed gives the same events.
    std::srand(11);
    EXPECT_EQ(keep(densities, 1.0f, 3.0f, 10.0f), flags);
}
