#include "analyses/MCV_Analysis.h"
#include "data/FcsError.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataPoints.h"
#include "support/RegistryTestData.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

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
