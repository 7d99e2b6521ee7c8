// Slots that reopen the files or delete the analysis inside an announcement:
// the announcing method must touch nothing the slot freed (the sanitizer
// build reports any such access).
#include "analyses/MCV_SpadeAnalysis.h"
#include "analyses/MCV_TsneAnalysis.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataPoints.h"
#include "support/RecordingUiInterface.h"
#include "support/RegistryTestData.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <functional>
#include <memory>

namespace {

class AnnouncementSlotsTest : public testing::Test
{
protected:
    void SetUp() override { open(); }
    void TearDown() override { RegistryTestData::dropRegistry(); }

    /// A new registry holding one file of three blobs, as opening files makes it.
    void open()
    {
        RegistryTestData::freshRegistry()->setUiInterface(&ui);
        std::vector<float> values;
        for (int e = 0; e < 270; ++e)
            values.push_back(static_cast<float>(20 * (e / 3 % 3) + e % 3));
        ASSERT_EQ(registry()->loadFcsFile(RegistryTestData::writeFcs(dir.path().toStdString(), "a.fcs", 3, values)), 0);
    }
    /// The n-th next announcement of the operation runs the slot (then none again).
    void on(const std::string& operation, std::function<void()> slot, int n = 1)
    {
        auto seen = std::make_shared<int>(0);
        ui.onCall = [this, operation, slot, n, seen](const RecordingUiInterface::Call& call) {
            if (call.operation != operation || ++*seen != n)
                return;
            const std::function<void()> run = slot; // disarming destroys this lambda
            RecordingUiInterface& recorder = ui;
            recorder.onCall = nullptr;
            run();
        };
    }
    void reopenOn(const std::string& operation, int n = 1)
    {
        on(operation, [this] { open(); }, n);
    }
    static MCV_DataRegistry* registry() { return MCV_DataRegistry::instance(); }

    QTemporaryDir dir;
    RecordingUiInterface ui;
};

} // namespace

TEST_F(AnnouncementSlotsTest, RegistryAndClustersTouchNothingOfReopenedFiles)
{
    // "All Points" announces its registration and twice its points.
    for (const auto& [operation, n] : {std::pair<const char*, int>{"newDerivedDataAddedSignal", 1},
                                       {"dataRefreshedSignal", 1}, {"dataRefreshedSignal", 2}}) {
        reopenOn(operation, n);
        EXPECT_EQ(registry()->createAllPointsData(), nullptr) << operation << " " << n;
    }
    MCV_DerivedDataPoints* all = registry()->createAllPointsData();
    testing::internal::CaptureStdout();
    reopenOn("newDerivedDataAddedSignal");
    EXPECT_EQ(registry()->createDownsampledData("Down", all, {10}), nullptr);
    testing::internal::GetCapturedStdout();

    all = registry()->createAllPointsData();
    MCV_DerivedDataClusters* clusters = registry()->createClustersData("Clusters", false);
    clusters->setClusters({{{0, 0}}, {{0, 1}}}, all, {});
    reopenOn("selectionRefreshedSignal");
    EXPECT_EQ(clusters->setSelectedClusters({1}), 0);
    EXPECT_TRUE(registry()->selectionData()->points().empty());
}

TEST_F(AnnouncementSlotsTest, TsneClustersWithADeletedAnalysisOrReopenedFiles)
{
    registry()->appendChannels({"VSRNE_TsneX", "VSRNE_TsneY"}, 0.0f);
    auto analysis = std::make_unique<MCV_TsneAnalysis>();
    analysis->initialize(&ui, "tSNE");
    analysis->setInputData(registry()->createAllPointsData());
    analysis->setIterations(2);
    testing::internal::CaptureStdout();
    analysis->compute();
    const std::vector<MCV_PointIndex> points = analysis->points();

    // The owner deletes the analysis while the new set is announced: the set is still filled.
    on("newDerivedDataAddedSignal", [&] { analysis.reset(); });
    auto* clusters = dynamic_cast<MCV_DerivedDataClusters*>(analysis->createDerivedData({{4, 2}}, "D"));
    ASSERT_NE(clusters, nullptr);
    EXPECT_EQ(analysis, nullptr);
    EXPECT_EQ(clusters->members()[0], (std::vector<MCV_PointIndex>{points[4], points[2]}));

    // Files reopened while the existing set's clusters, then a new set, are announced.
    analysis = std::make_unique<MCV_TsneAnalysis>();
    analysis->initialize(&ui, "tSNE");
    for (const char* operation : {"dataRefreshedSignal", "newDerivedDataAddedSignal"}) {
        analysis->setInputData(registry()->createPointsData("All Points", true));
        reopenOn(operation);
        EXPECT_EQ(analysis->createDerivedData({{0}}, "D"), nullptr) << operation;
    }
    testing::internal::GetCapturedStdout();
}

TEST_F(AnnouncementSlotsTest, SpadeWithADeletedAnalysisOrReopenedFiles)
{
    registry()->createAllPointsData();
    testing::internal::CaptureStdout();
    auto analysis = std::make_unique<MCV_SpadeAnalysis>();
    on("newDerivedDataAddedSignal", [&] { analysis.reset(); }); // its clusters set
    analysis->initialize(&ui, "SPADE");
    EXPECT_EQ(analysis, nullptr);

    analysis = std::make_unique<MCV_SpadeAnalysis>();
    analysis->initialize(&ui, "SPADE");
    analysis->setTargetClusterCount(3);
    analysis->setKeepPercentage(100.0f);
    reopenOn("dataRefreshedSignal"); // the published tree
    analysis->computeSpadeTree();
    on("newDerivedDataAddedSignal", [&] { analysis.reset(); }); // a subtree
    MCV_SpadeAnalysis* doomed = analysis.get();
    EXPECT_EQ(doomed->createSubtreeData("Gone", {0}), "Gone");
    EXPECT_EQ(analysis, nullptr);
    analysis = std::make_unique<MCV_SpadeAnalysis>();
    analysis->initialize(&ui, "SPADE");
    analysis->setTargetClusterCount(3);
    analysis->setKeepPercentage(100.0f);
    analysis->computeSpadeTree();
    reopenOn("newDerivedDataAddedSignal"); // a subtree
    EXPECT_EQ(analysis->createSubtreeData("Subtree", {0}), "");
    // The reopened files have no "All Points" yet: the run makes it.
    on("newDerivedDataAddedSignal", [&] { analysis.reset(); });
    analysis->computeSpadeTree();
    EXPECT_EQ(analysis, nullptr);
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(registry()->clustersDataList().empty());
}
