#include "data/ExportFileNames.h"
#include "data/FcsError.h"
#include "data/FcsReader.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataPoints.h"
#include "support/FcsStrictChecker.h"
#include "support/FcsTestFile.h"
#include "support/RegistryTestData.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>

namespace {

class DataRegistryExportsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        registry = RegistryTestData::freshRegistry();
        folder = dir.path().toStdString();
        ASSERT_TRUE(QDir(dir.path()).mkdir("out"));
        ASSERT_EQ(registry->loadFcsFile(RegistryTestData::writeFcs(folder, "s.fcs", 2, {1, 2, 3, 4, 5, 6})),
                  FcsErrorNone);
        points = registry->createPointsData("Bubble", false);
        points->setPoints({{0, 2}, {0, 0}}, false);
    }
    void TearDown() override { RegistryTestData::dropRegistry(); }

    std::string out(const std::string& name) const { return folder + "/out/" + name; }
    QStringList outFiles() const
    {
        QStringList files = QDir(QString::fromStdString(folder + "/out")).entryList(QDir::Files);
        files.sort();
        return files;
    }

    MCV_DerivedDataClusters* clusters(const std::vector<std::string>& names)
    {
        MCV_DerivedDataClusters* set = registry->createClustersData("Clusters", false);
        std::vector<std::vector<MCV_PointIndex>> members;
        for (std::size_t i = 0; i < names.size(); ++i)
            members.push_back({{0, static_cast<int>(i % 3)}});
        set->setClusters(members, points, {});
        for (std::size_t i = 0; i < names.size(); ++i)
            set->setClusterName(static_cast<int>(i), names[i]);
        return set;
    }

    QTemporaryDir dir;
    std::string folder;
    MCV_DataRegistry* registry = nullptr;
    MCV_DerivedDataPoints* points = nullptr;
};

} // namespace

TEST_F(DataRegistryExportsTest, ExportDataChoosesTheWriterByExtension)
{
    EXPECT_EQ(registry->exportData("Bubble", out("set.fcs"), 0, {}), 0);
    EXPECT_TRUE(FcsStrictChecker::checkFile(out("set.fcs")).empty());

    EXPECT_EQ(registry->exportData("Bubble", out("set.bin"), 0, {1}), 1);
    EXPECT_EQ(FcsTestFile::readBytes(out("set.bin")).size(), 8u);

    // Only a lower-case "bin" means raw floats.
    EXPECT_EQ(registry->exportData("Bubble", out("upper.BIN"), 0, {1}), 0);
    EXPECT_TRUE(FcsStrictChecker::checkFile(out("upper.BIN")).empty());
}

TEST_F(DataRegistryExportsTest, PerSampleFcsExportWritesTheSamplesThatHoldEvents)
{
    for (const char* name : {"t.fcs", "u.fcs"})
        ASSERT_EQ(registry->loadFcsFile(RegistryTestData::writeFcs(folder, name, 2, {7, 8, 9, 10})), FcsErrorNone);
    points->setPoints({{1, 1}, {0, 2}, {1, 0}}, false);
    testing::internal::CaptureStdout();
    EXPECT_EQ(registry->exportData("Bubble", out("b.fcs"), 1, {0}), 0);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("u.fcs in Bubble: no file for it."), std::string::npos);
    EXPECT_EQ(outFiles(), (QStringList{"b-s.fcs", "b-t.fcs"}));
    // Each file holds that sample's events of the set, in set order, every parameter.
    const std::vector<std::pair<std::string, std::vector<float>>> expected{{"b-s.fcs", {5, 6}},
                                                                          {"b-t.fcs", {9, 10, 7, 8}}};
    for (const auto& [name, values] : expected) {
        EXPECT_TRUE(FcsStrictChecker::checkFile(out(name)).empty()) << name;
        FcsHeader header;
        header.setFileName(out(name));
        float* block = nullptr;
        ASSERT_EQ(FcsReader().read(&block, header), FcsErrorNone) << name;
        EXPECT_EQ(std::vector<float>(block, block + values.size()), values) << name;
        EXPECT_EQ(header.eventCount() * header.parameterCount(), static_cast<int64_t>(values.size()));
        delete[] block;
    }
}

TEST_F(DataRegistryExportsTest, ExportDataOfAnUnknownSetFailsWithoutWriting)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(registry->exportData("Nothing", out("x.fcs"), 0, {0}), 1);
    EXPECT_EQ(registry->exportData("Nothing", out("x.bin"), 0, {0}), 0);
    EXPECT_EQ(registry->exportData("", out("y.fcs"), 0, {0}), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(outFiles().isEmpty());
}

TEST_F(DataRegistryExportsTest, ClusterNamesBecomeSafeUniqueFileNamesInsideTheFolder)
{
    clusters({"CD4+", "../x", "a/b\\c", "", "T:*?\"<>|\x01", "CD4+", "cd4+", "\xce\xb1"});
    testing::internal::CaptureStdout();
    EXPECT_TRUE(registry->exportClustersToFcs("Clusters", out("export.fcs")));
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find(out("export") + "\n"), std::string::npos);
    EXPECT_NE(printed.find("Clusters exported succesfully.\n"), std::string::npos);

    QStringList expected = {"export-CD4+.fcs",    "export-.._x.fcs",      "export-a_b_c.fcs",
                            "export-4.fcs",       "export-T________.fcs", "export-CD4+-6.fcs",
                            "export-cd4+-7.fcs",  QString::fromUtf8("export-\xce\xb1.fcs")};
    expected.sort();
    EXPECT_EQ(outFiles(), expected);
    for (const QString& file : outFiles())
        EXPECT_TRUE(FcsStrictChecker::checkFile(out(file.toStdString())).empty()) << file.toStdString();
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(folder + "/x.fcs")));
}

TEST_F(DataRegistryExportsTest, ClusterExportNeedsAnFcsPathAndAKnownSet)
{
    clusters({"A", "B"});
    EXPECT_FALSE(registry->exportClustersToFcs("Clusters", out("export.bin")));
    EXPECT_FALSE(registry->exportClustersToFcs("Clusters", out("export")));
    EXPECT_FALSE(registry->exportClustersToFcs("Clusters", out("export.FCS")));
    EXPECT_FALSE(registry->exportClustersToFcs("", out("export.fcs")));
    EXPECT_FALSE(registry->exportClustersToFcs("Unknown", out("export.fcs")));
    EXPECT_TRUE(outFiles().isEmpty());

    testing::internal::CaptureStdout();
    EXPECT_FALSE(registry->exportClustersToFcs("Clusters", folder + "/missing/export.fcs"));
    EXPECT_EQ(testing::internal::GetCapturedStdout().find("exported succesfully"), std::string::npos);

    MCV_DerivedDataClusters* none = registry->createClustersData("None", false);
    none->setClusters({}, points, {});
    EXPECT_TRUE(registry->exportClustersToFcs("None", out("export.fcs")));
}

TEST(ExportFileNamesTest, SanitisesAndNumbersParts)
{
    EXPECT_EQ(ExportFileNames::sanitize(std::string("a\0b", 3)), "a_b");
    EXPECT_EQ(ExportFileNames::sanitize("x\ty\x7f"), "x_y_");
    EXPECT_EQ(ExportFileNames::uniqueParts({"A", "", "A", "A-3", "a"}),
              (std::vector<std::string>{"A", "2", "A-3", "A-3-4", "a-5"}));
}

TEST_F(DataRegistryExportsTest, ConvertedIntegerFilesExportTheSameFloats)
{
    // Mixed widths, big-endian, values beyond float's 24-bit mantissa.
    RegistryTestData::freshRegistry();
    registry = MCV_DataRegistry::instance();
    FcsTestFile file(5, 3);
    file.setIntegers({16, 32, 8}, {1, 4294967295u, 255, 1024, 16777217, 7, 65535, 123456789, 0, 2, 3, 4, 5, 6, 9});
    file.setBigEndian(true);
    file.setKeyword("$P1R", "65536");
    file.setKeyword("$P2R", "4294967296");
    file.setKeyword("$P3R", "256");
    const std::string source = folder + "/integers.fcs";
    ASSERT_TRUE(file.write(source));
    ASSERT_EQ(registry->loadFcsFile(source), FcsErrorNone);
    registry->createAllPointsData();
    const float* matrix = registry->sampleData(0);
    const std::vector<float> loaded(matrix, matrix + 15);
    EXPECT_EQ(loaded[4], 16777216.0f);  // rounded as float rounds

    ASSERT_EQ(registry->exportData("All Points", out("all.fcs"), 0, {}), 0);
    EXPECT_TRUE(FcsStrictChecker::checkFile(out("all.fcs")).empty())
        << FcsStrictChecker::join(FcsStrictChecker::checkFile(out("all.fcs")));
    ASSERT_EQ(registry->exportData("All Points", out("all.bin"), 0, {0, 1, 2}), 1);
    EXPECT_EQ(FcsTestFile::readBytes(out("all.bin")),
              std::string(reinterpret_cast<const char*>(loaded.data()), loaded.size() * 4));

    ASSERT_EQ(registry->loadFcsFile(out("all.fcs")), FcsErrorFilesDiffer);  // 32-bit floats now
    RegistryTestData::freshRegistry();
    registry = MCV_DataRegistry::instance();
    ASSERT_EQ(registry->loadFcsFile(out("all.fcs")), FcsErrorNone);
    EXPECT_EQ(std::vector<float>(registry->sampleData(0), registry->sampleData(0) + 15), loaded);
}
