#include "data/FcsError.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataPoints.h"
#include "support/CsvRecords.h"
#include "support/RecordingUiInterface.h"
#include "support/RegistryTestData.h"
#include "support/runNode.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

class DerivedDataClustersTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        registry = RegistryTestData::freshRegistry();
        registry->setUiInterface(&ui);
    }
    void TearDown() override { RegistryTestData::dropRegistry(); }

    std::string folder() const { return dir.path().toStdString(); }

    void load(int parameters, const std::vector<float>& values,
              const std::vector<std::pair<std::string, std::string>>& keywords = {})
    {
        const std::string name = "s" + std::to_string(registry->sampleCount()) + ".fcs";
        ASSERT_EQ(registry->loadFcsFile(RegistryTestData::writeFcs(folder(), name, parameters, values, keywords)),
                  FcsErrorNone);
    }

    /// One sample of events (1,10), (2,20), (3,30), (4,40); two clusters of two.
    MCV_DerivedDataClusters* twoClusters(const std::vector<MCV_DerivedDataClusters::Link>& links)
    {
        load(2, {1, 10, 2, 20, 3, 30, 4, 40});
        MCV_DerivedDataPoints* all = registry->createAllPointsData();
        MCV_DerivedDataClusters* clusters = registry->createClustersData("Tree", false);
        clusters->setClusters({{{0, 0}, {0, 1}}, {{0, 2}, {0, 3}}}, all, links);
        return clusters;
    }

    QTemporaryDir dir;
    RecordingUiInterface ui;
    MCV_DataRegistry* registry = nullptr;
};

const char* const kNodes = "{\n\"nodes\":[\n"
                           "{\"name\":\"1\", \"size\":2, \"expression\":[2.000000,20.000000], "
                           "\"stddev\":[0.500000,5.000000]},\n"
                           "{\"name\":\"2\", \"size\":2, \"expression\":[4.000000,40.000000], "
                           "\"stddev\":[0.500000,5.000000]}\n]";

TEST_F(DerivedDataClustersTest, GoldenTextsWithoutLinks)
{
    MCV_DerivedDataClusters* clusters = twoClusters({});
    EXPECT_EQ(clusters->jsonString(), std::string(kNodes) + ",\n\"names\":[\"P1\",\"P2\"]\n}");
    EXPECT_EQ(clusters->escapedJsonString(),
              "{\\\"nodes\\\":[{\\\"name\\\":\\\"1\\\", \\\"size\\\":2, \\\"expression\\\":[2.000000,20.000000], "
              "\\\"stddev\\\":[0.500000,5.000000]},{\\\"name\\\":\\\"2\\\", \\\"size\\\":2, "
              "\\\"expression\\\":[4.000000,40.000000], \\\"stddev\\\":[0.500000,5.000000]}],"
              "\\\"names\\\":[\\\"P1\\\",\\\"P2\\\"]}");
    EXPECT_EQ(clusters->statisticsCsv(), "Subset,P1,P2\n1,2.000000,20.000000\n2,4.000000,40.000000\n");
    EXPECT_EQ(clusters->selectionStatistics(1),
              "Idx, Filename, Total events, in selection, % in selection, % of selection, "
              "% of selection normalized\n1, "
                  + registry->samplePath(0)
                  + ", 4.000000, 2.000000, 50.000000, 100.000000, 100.000000\n");
}

TEST_F(DerivedDataClustersTest, GoldenJsonWithLinksAndNonFiniteNumbers)
{
    const float inf = std::numeric_limits<float>::infinity();
    MCV_DerivedDataClusters* clusters = twoClusters({{1.5f, 1, 0}, {std::nanf(""), 0, 1}, {-inf, 1, 1}});
    EXPECT_EQ(clusters->jsonString(), std::string(kNodes)
                                          + ",\n\"links\":[\n"
                                            "{\"source\":0, \"target\":1, \"value\":1.500000},\n"
                                            "{\"source\":1, \"target\":0, \"value\":0.000000},\n"
                                            "{\"source\":1, \"target\":1, \"value\":0.000000}\n]"
                                            ",\n\"names\":[\"P1\",\"P2\"]\n}");
    // No clusters give empty nodes, and no links.
    clusters->setClusters({}, nullptr, {});
    EXPECT_TRUE(clusters->links().empty());
    EXPECT_EQ(clusters->jsonString().substr(0, 14), "{\n\"nodes\":[\n],");
}

TEST_F(DerivedDataClustersTest, LinksAndHighlightFollowEachNewSet)
{
    MCV_DerivedDataClusters* clusters = twoClusters({{1.0f, 1, 0}});
    MCV_DerivedDataPoints* all = clusters->parentData();
    // A tree of three clusters, then one of a single cluster without links.
    clusters->setClusters({{{0, 0}}, {{0, 1}}, {{0, 2}, {0, 3}}}, all, {{1.0f, 1, 0}, {2.0f, 2, 1}});
    clusters->setHighlightedCluster(2);
    ASSERT_EQ(clusters->links().size(), 2u);
    clusters->setClusters({{{0, 0}, {0, 1}, {0, 2}, {0, 3}}}, all, {});
    EXPECT_TRUE(clusters->links().empty());
    EXPECT_EQ(clusters->jsonString().find("links"), std::string::npos);
    EXPECT_EQ(clusters->highlightedCluster(), -1);

    // A highlight inside the new set stays; given links naming no cluster are left out.
    clusters->setClusters({{{0, 0}}, {{0, 1}}, {{0, 2}, {0, 3}}}, all, {});
    clusters->setHighlightedCluster(1);
    testing::internal::CaptureStdout();
    clusters->setClusters({{{0, 0}, {0, 1}}, {{0, 2}, {0, 3}}}, all, {{1.0f, 1, 0}, {2.0f, 2, 1}, {3.0f, 0, -1}});
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "ERROR: link 1 - 2 names no cluster, left out.\nERROR: link -1 - 0 names no cluster, left out.\n");
    ASSERT_EQ(clusters->links().size(), 1u);
    EXPECT_EQ(clusters->links()[0].target, 1);
    EXPECT_EQ(clusters->highlightedCluster(), 1);
}

/// Writes text to a file; false when it cannot.
bool writeText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out);
}

std::string hexOf(const std::string& text)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : text) {
        hex += digits[c >> 4];
        hex += digits[c & 0xf];
    }
    return hex;
}

TEST_F(DerivedDataClustersTest, HostileNamesRoundTripThroughJsonParseAndCsv)
{
    const std::string marker = "CD3,\"x\"</script>";
    load(2, {1, 2, 3, 4, 5, 6}, {{"$P1N", marker}});
    MCV_DerivedDataPoints* all = registry->createAllPointsData();
    MCV_DerivedDataClusters* clusters = registry->createClustersData("Hostile", false);
    const std::vector<std::string> names = {
        "quote\"d", "back\\slash\\", "com,ma", "line\nbreak\r\nend", "ünïcødé ✓ 細胞",
        "</script><script>alert(1)</script>", std::string("ctl\t\x01\x1f\x7f", 7), "sep\xe2\x80\xa8\xe2\x80\xa9",
        "'single' \"\"double\"\" \\\"mixed\\\""};
    std::vector<std::vector<MCV_PointIndex>> members(names.size(), {{0, 0}});
    clusters->setClusters(members, all, {{1.0f, 1, 0}});
    for (int i = 0; i < static_cast<int>(names.size()); ++i)
        clusters->setClusterName(i, names[i]);

    const std::string jsonPath = folder() + "/clusters.json";
    const std::string scriptPath = folder() + "/check.js";
    ASSERT_TRUE(writeText(jsonPath, clusters->jsonString()));
    // The escaped text goes into a double-quoted literal, as a page receives it.
    ASSERT_TRUE(writeText(scriptPath,
                          "const fs = require('fs');\n"
                          "const hex = s => Buffer.from(s, 'utf8').toString('hex');\n"
                          "const direct = JSON.parse(fs.readFileSync(process.argv[2], 'utf8'));\n"
                          "const embedded = JSON.parse(\"" + clusters->escapedJsonString() + "\");\n"
                          "for (const data of [direct, embedded]) {\n"
                          "  for (const node of data.nodes) console.log(hex(node.name));\n"
                          "  console.log(hex(data.names[0]) + ' ' + data.links.length);\n"
                          "}\n"));
    std::string expected;
    for (int pass = 0; pass < 2; ++pass) {
        for (const std::string& name : names)
            expected += hexOf(name) + "\n";
        expected += hexOf(marker) + " 1\n";
    }
    EXPECT_EQ(runNode(scriptPath + " " + jsonPath), expected);
    // Nothing a name holds can close the page's script element.
    EXPECT_EQ(clusters->jsonString().find("</"), std::string::npos);

    const std::vector<std::vector<std::string>> records = parseCsv(clusters->statisticsCsv());
    ASSERT_EQ(records.size(), names.size() + 1);
    EXPECT_EQ(records[0], (std::vector<std::string>{"Subset", marker, "P2"}));
    for (std::size_t i = 0; i < names.size(); ++i) {
        ASSERT_EQ(records[i + 1].size(), 3u) << i;
        EXPECT_EQ(records[i + 1][0], names[i]);
        EXPECT_EQ(records[i + 1][1], "1.000000");
    }
}

TEST_F(DerivedDataClustersTest, MergeRemapsIdsNamesPointsAndPositions)
{
    load(1, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    MCV_DerivedDataPoints* all = registry->createAllPointsData();
    MCV_DerivedDataClusters* clusters = registry->createClustersData("Five", false);
    std::vector<std::vector<MCV_PointIndex>> members;
    std::vector<std::vector<int64_t>> positions;
    for (int i = 0; i < 5; ++i) {
        members.push_back({{0, 2 * i}, {0, 2 * i + 1}});
        positions.push_back({2 * i, 2 * i + 1});
    }
    // A chain 0-1-2-3-4 and a link inside the merged pair.
    clusters->setClusters(members, all, {{1, 1, 0}, {2, 2, 1}, {3, 3, 2}, {4, 4, 3}, {5, 3, 1}}, positions);
    clusters->setHighlightedCluster(2);
    clusters->setSelectedClusters({4});
    ui.clear();

    clusters->mergeClusters({3, 1});
    EXPECT_EQ(clusters->clusterCount(), 4);
    EXPECT_EQ(clusters->clusterIds(), (std::vector<int>{0, 1, 2, 1, 3}));
    EXPECT_EQ(clusters->members()[1], (std::vector<MCV_PointIndex>{{0, 2}, {0, 3}, {0, 6}, {0, 7}}));
    EXPECT_EQ(clusters->memberPositions()[1], (std::vector<int64_t>{2, 3, 6, 7}));
    EXPECT_EQ(clusters->memberPositions()[3], (std::vector<int64_t>{8, 9}));
    std::vector<std::string> names;
    for (int i = 0; i < clusters->clusterCount(); ++i)
        names.push_back(clusters->clusterName(i));
    EXPECT_EQ(names, (std::vector<std::string>{"1", "2", "3", "5"}));
    EXPECT_EQ(clusters->highlightedCluster(), -1);
    EXPECT_EQ(clusters->selectedClusters(), std::vector<bool>(4, false));
    EXPECT_EQ(clusters->clusterMedians(1), std::vector<float>{6.0f});
    EXPECT_EQ(ui.count("dataRefreshedSignal", clusters), 1);
    // Links follow (3 -> 1, 4 -> 3): 2-3 repeats 1-2 and 1-3 became a loop.
    auto linkEnds = [clusters] {
        std::vector<std::vector<float>> ends;
        for (const MCV_DerivedDataClusters::Link& link : clusters->links())
            ends.push_back({float(link.source), float(link.target), link.value});
        return ends;
    };
    EXPECT_EQ(linkEnds(), (std::vector<std::vector<float>>{{0, 1, 1}, {1, 2, 2}, {1, 3, 4}}));
    EXPECT_NE(clusters->jsonString().find("{\"source\":1, \"target\":3, \"value\":4.000000}"), std::string::npos);

    // A second merge remaps the ids already merged.
    clusters->mergeClusters({0, 2});
    EXPECT_EQ(clusters->clusterIds(), (std::vector<int>{0, 1, 0, 1, 2}));
    EXPECT_EQ(linkEnds(), (std::vector<std::vector<float>>{{0, 1, 1}, {1, 2, 4}}));

    // Out-of-range or repeated indices change nothing and say so.
    ui.clear();
    for (const std::vector<int>& bad : {std::vector<int>{0, 3}, {-1, 1}, {1, 1}}) {
        testing::internal::CaptureStdout();
        clusters->mergeClusters(bad);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: clusters could not be merged.\n");
    }
    EXPECT_EQ(clusters->clusterCount(), 3);
    EXPECT_TRUE(ui.calls.empty());

    // Merging the selection needs two selected clusters.
    clusters->setSelectedClusters({2});
    clusters->mergeSelectedClusters();
    EXPECT_EQ(clusters->clusterCount(), 3);
    clusters->setSelectedClusters({2, 0});
    clusters->mergeSelectedClusters();
    EXPECT_EQ(clusters->clusterCount(), 2);
    EXPECT_EQ(clusters->clusterIds(), (std::vector<int>{0, 1, 0, 1, 0}));
}

TEST_F(DerivedDataClustersTest, RenameSelectToggleAndHighlightCheckTheirIndices)
{
    MCV_DerivedDataClusters* clusters = twoClusters({});
    const std::string before = clusters->jsonString();
    ui.clear();

    clusters->setClusterName(1, "B cells");
    EXPECT_NE(clusters->jsonString().find("{\"name\":\"B cells\", \"size\":2"), std::string::npos);
    EXPECT_NE(clusters->statisticsCsv().find("\nB cells,4.000000"), std::string::npos);
    testing::internal::CaptureStdout();
    clusters->setClusterName(2, "nowhere");
    clusters->setClusterName(-1, "nowhere");
    EXPECT_FALSE(testing::internal::GetCapturedStdout().empty());
    EXPECT_EQ(ui.count("dataRefreshedSignal", clusters), 1);
    EXPECT_EQ(clusters->clusterName(0), "1");

    ui.clear();
    testing::internal::CaptureStdout();
    EXPECT_EQ(clusters->setSelectedClusters({1, 7}), 2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: problem with selection computation.\n");
    EXPECT_EQ(clusters->selectedClusters(), (std::vector<bool>{false, true}));
    EXPECT_EQ(registry->selectionData()->points(), (std::vector<MCV_PointIndex>{{0, 2}, {0, 3}}));
    EXPECT_EQ(ui.operations(), (std::vector<std::string>{"selectionRefreshedSignal", "dataRefreshedSignal"}));

    std::vector<int64_t> positions = {42};
    clusters->toggleCluster(1, false, positions);
    EXPECT_EQ(clusters->selectedClusterCount(), 0);
    EXPECT_TRUE(positions.empty());
    testing::internal::CaptureStdout();
    clusters->toggleCluster(2, true, positions);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: cluster could not be selected.\n");

    ui.clear();
    clusters->setHighlightedCluster(1);
    clusters->setHighlightedCluster(1);
    testing::internal::CaptureStdout();
    clusters->setHighlightedCluster(5);
    EXPECT_FALSE(testing::internal::GetCapturedStdout().empty());
    clusters->setHighlightedCluster(-1);
    EXPECT_EQ(ui.count("highlightRefreshedSignal", clusters), 2);
    EXPECT_EQ(clusters->highlightedCluster(), -1);

    EXPECT_EQ(clusters->clusterSize(9), 0);
    EXPECT_TRUE(clusters->clusterMedians(9).empty());
    EXPECT_TRUE(clusters->clusterStdDevs(-3).empty());
    testing::internal::CaptureStdout();
    EXPECT_EQ(clusters->selectionStatistics(2), "");
    testing::internal::GetCapturedStdout();
    EXPECT_NE(before, clusters->jsonString());
}

TEST_F(DerivedDataClustersTest, SampleStatisticsKeepTheirColumnsWithHostilePaths)
{
    const std::string folder = DerivedDataClustersTest::folder() + "/in \"quotes\", with commas";
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
    const std::vector<std::string> paths = {
        RegistryTestData::writeFcs(folder, "a,b.fcs", 1, {1, 2}),
        RegistryTestData::writeFcs(DerivedDataClustersTest::folder(), "plain.fcs", 1, {3, 4}),
        RegistryTestData::writeFcs(folder, "\"quoted\".fcs", 1, {5, 6})};
    for (const std::string& path : paths)
        ASSERT_EQ(registry->loadFcsFile(path), FcsErrorNone);
    MCV_DerivedDataPoints* all = registry->createAllPointsData();
    MCV_DerivedDataClusters* clusters = registry->createClustersData("Paths", false);
    clusters->setClusters({{{0, 0}, {1, 0}, {2, 1}}}, all, {});

    const std::string text = clusters->selectionStatistics(0);
    const std::vector<std::vector<std::string>> records = parseCsv(text);
    ASSERT_EQ(records.size(), 4u) << text;
    for (std::size_t line = 0; line < records.size(); ++line)
        ASSERT_EQ(records[line].size(), 7u) << text;
    for (std::size_t s = 0; s < paths.size(); ++s) {
        EXPECT_EQ(records[s + 1][0], std::to_string(s + 1));
        EXPECT_EQ(records[s + 1][1], s == 1 ? " " + paths[s] : paths[s]);
        EXPECT_EQ(records[s + 1][2], " 2.000000");
    }
    // Only a field that needs quoting loses the blank after its comma.
    EXPECT_NE(text.find("\n2, " + paths[1] + ", 2.000000, 1.000000, "), std::string::npos) << text;
}

TEST_F(DerivedDataClustersTest, AbsentSampleAffectsOnlyItsOwnStatisticsLine)
{
    load(1, {1, 2, 3, 4});
    load(1, {5, 6});
    load(1, {7, 8, 9, 10, 11, 12, 13, 14});
    MCV_DerivedDataPoints* parent = registry->createPointsData("Parent", false);
    parent->setPoints({{0, 0}, {0, 1}, {0, 2}, {0, 3}, {2, 0}, {2, 1}, {2, 2}, {2, 3}, {2, 4}}, false);
    MCV_DerivedDataClusters* clusters = registry->createClustersData("Parted", false);
    clusters->setClusters({{{0, 0}, {2, 0}, {2, 1}, {2, 2}}}, parent, {});

    std::istringstream text(clusters->selectionStatistics(0));
    std::string header, line0, line1, line2;
    std::getline(text, header);
    std::getline(text, line0);
    std::getline(text, line1);
    std::getline(text, line2);
    // in%: 25 and 60 (sum 85); of%: 25 and 75; normalised: 29.41 and 70.59.
    EXPECT_EQ(line0, "1, " + registry->samplePath(0) + ", 4.000000, 1.000000, 25.000000, 25.000000, 29.411764");
    EXPECT_EQ(line2, "3, " + registry->samplePath(2) + ", 5.000000, 3.000000, 60.000000, 75.000000, 70.588234");
    EXPECT_EQ(line1.rfind("2, " + registry->samplePath(1) + ", 0.000000, 0.000000, ", 0), 0u);
    EXPECT_NE(line1.find("nan"), std::string::npos);
    EXPECT_EQ(clusters->clusterMedians(0), std::vector<float>{8.0f});  // 1, 7, 8, 9
}

} // namespace
