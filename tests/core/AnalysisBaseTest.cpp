#include "analyses/MCV_Analysis.h"
#include "analyses/MCV_SpadeAnalysis.h"
#include "analyses/MCV_TsneAnalysis.h"
#include "data/FcsError.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataPoints.h"
#include "support/RecordingUiInterface.h"
#include "support/RegistryTestData.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <random>

namespace {

/// The smallest concrete analysis: the base's behaviour only.
class PlainAnalysis : public MCV_Analysis
{
public:
    explicit PlainAnalysis(bool* destroyed = nullptr) : m_destroyed(destroyed) {}
    ~PlainAnalysis() override
    {
        if (m_destroyed)
            *m_destroyed = true;
    }
    MCV_DerivedData* createDerivedData(const std::vector<std::vector<unsigned>>&, std::string) override
    {
        return nullptr;
    }
    void setPreviewImages(std::vector<unsigned char*>) override {}

private:
    bool* m_destroyed;
};

class AnalysisBaseTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        registry = RegistryTestData::freshRegistry();
        const std::vector<float> values(4 * 3, 1.0f);
        ASSERT_EQ(registry->loadFcsFile(RegistryTestData::writeFcs(dir.path().toStdString(), "a.fcs", 3, values)),
                  FcsErrorNone);
    }
    void TearDown() override { RegistryTestData::dropRegistry(); }

    QTemporaryDir dir;
    MCV_DataRegistry* registry = nullptr;
};

TEST_F(AnalysisBaseTest, FreshInitializedAndDestroyedThroughTheBase)
{
    bool destroyed = false;
    MCV_Analysis* analysis = new PlainAnalysis(&destroyed);
    EXPECT_EQ(analysis->analysisType(), MCV_AnalysisTypeUnset);
    EXPECT_TRUE(analysis->activeMarkerIndices().empty());
    EXPECT_EQ(analysis->inputData(), nullptr);

    analysis->setMarkersChanged(false);
    analysis->initialize(nullptr, "An analysis");
    EXPECT_EQ(analysis->name(), "An analysis");
    EXPECT_EQ(analysis->activeMarkers(), std::vector<bool>(3, true));
    EXPECT_EQ(analysis->activeMarkerIndices(), (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(analysis->markersChanged());
    delete analysis;
    EXPECT_TRUE(destroyed);
}

TEST_F(AnalysisBaseTest, MarkerSelectionAndResize)
{
    PlainAnalysis analysis;
    analysis.initialize(nullptr, "A");
    analysis.setMarkersChanged(false);
    analysis.setMarkerActive(1, true); // already active
    EXPECT_FALSE(analysis.markersChanged());
    analysis.setMarkerActive(7, false); // not a marker
    EXPECT_FALSE(analysis.markersChanged());

    analysis.setMarkerActive(1, false);
    EXPECT_EQ(analysis.activeMarkerIndices(), (std::vector<int>{0, 2}));
    analysis.setMarkersChanged(false);
    analysis.setMarkerActive(1, false);
    EXPECT_FALSE(analysis.markersChanged());
    analysis.setMarkerActive(1, true);
    EXPECT_TRUE(analysis.markersChanged());
    analysis.setMarkerActive(0, false);

    analysis.setMarkersChanged(false);
    registry->appendChannels({"X", "Y"}, 0.0f);
    analysis.resizeMarkerFlags();
    EXPECT_EQ(analysis.activeMarkers(), (std::vector<bool>{false, true, true, false, false}));
    EXPECT_EQ(analysis.activeMarkerIndices(), (std::vector<int>{1, 2}));
    EXPECT_FALSE(analysis.markersChanged());
}

/// Files of `parameters` channels, values of three blobs, events in blob order e % 3.
std::vector<float> blobRows(int events, int parameters, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    std::vector<float> values;
    for (int e = 0; e < events; ++e)
        for (int m = 0; m < parameters; ++m)
            values.push_back(30.0f * static_cast<float>(e % 3) + noise(random));
    return values;
}

TEST_F(AnalysisBaseTest, BothAnalysesComputeOnFilesReopenedWithFewerParameters)
{
    // Six markers, all active; then files of three parameters, with the sample
    // tag and without it: both analyses compute on the markers the new files have.
    const std::string folder = dir.path().toStdString();
    RecordingUiInterface ui;
    for (const bool sampleTag : {true, false}) {
        SCOPED_TRACE(sampleTag ? "with the sample tag" : "without the sample tag");
        registry = RegistryTestData::freshRegistry();
        registry->setUiInterface(&ui);
        ASSERT_EQ(registry->loadFcsFile(RegistryTestData::writeFcs(folder, "wide.fcs", 6, blobRows(150, 6, 1))),
                  FcsErrorNone);
        registry->createAllPointsData();
        MCV_SpadeAnalysis spade;
        spade.initialize(&ui, "SPADE");
        spade.setTargetClusterCount(3);
        spade.setSampleSize(100);
        MCV_TsneAnalysis tsne;
        tsne.initialize(&ui, "tSNE");
        tsne.setIterations(5);

        registry = RegistryTestData::freshRegistry();
        registry->setUiInterface(&ui);
        const std::string path = RegistryTestData::writeFcs(folder, "narrow.fcs", 3, blobRows(120, 3, 2));
        ASSERT_EQ(registry->loadFcsFile(path), FcsErrorNone);
        MCV_DerivedDataPoints* all = registry->createAllPointsData();
        // Marker states go by index: the tag takes the place of marker 3, which was active.
        const std::vector<int> markers = sampleTag ? std::vector<int>{0, 1, 2, 3} : std::vector<int>{0, 1, 2};
        if (sampleTag) {
            registry->appendChannels({"VSRNE_ST"}, -1.0f);
            // What the main window does when channels were added.
            spade.resizeMarkerFlags();
            tsne.resizeMarkerFlags();
            EXPECT_EQ(spade.activeMarkerIndices(), markers);
            EXPECT_TRUE(tsne.markersChanged());
        }
        testing::internal::CaptureStdout();
        spade.computeSpadeTree();
        tsne.setInputData(all);
        ui.clear();
        tsne.compute();
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out.find("not in the loaded data"), std::string::npos) << out;
        EXPECT_EQ(spade.activeMarkerIndices(), markers);
        ASSERT_EQ(spade.clusters().size(), 3u);
        EXPECT_EQ(spade.medians().front().size(), markers.size());
        EXPECT_EQ(tsne.activeMarkerIndices(), markers);
        EXPECT_EQ(ui.count("analysisFinishedSignal", &tsne), 1);
        EXPECT_EQ(tsne.pointCount(), 120);
    }
}

TEST_F(AnalysisBaseTest, InputSetIsDroppedWhenTheRegistryIsReplaced)
{
    PlainAnalysis analysis;
    MCV_DerivedDataPoints* all = registry->createAllPointsData();
    analysis.setInputData(all);
    EXPECT_EQ(analysis.inputData(), all);

    registry = RegistryTestData::freshRegistry();
    EXPECT_EQ(analysis.inputData(), nullptr);
    RegistryTestData::dropRegistry();
    EXPECT_EQ(analysis.inputData(), nullptr);

    registry = RegistryTestData::freshRegistry();
    MCV_DerivedDataPoints* again = registry->createPointsData("All Points", true);
    analysis.setInputData(again);
    EXPECT_EQ(analysis.inputData(), again);
}

} // namespace
