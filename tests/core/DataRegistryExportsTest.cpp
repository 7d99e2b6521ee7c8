#include "data/ExportFileNames.h"
#include "data/FcsError.h"
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
