// The renderer on a hierarchical SNE level: point scales from the landmark
// weights of the shown files, files hidden through the scales above scale
// 0, and previews of higher scales drawn with finer points.
#include "GlTarget.h"
#include "GlTestContext.h"
#include "RendererOnTarget.h"

#include "analyses/MCV_HsneAnalysis.h"
#include "analyses/MCV_HsneAnalysisHierarchy.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataPoints.h"
#include "support/RegistryTestData.h"

#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <random>

namespace {

using HsneRendererTest = GlTest;

/// Records the look (size, point size, opacity, halo) of every offscreen image.
class RecordingRenderer : public PointRenderer
{
public:
    void drawOffscreen(int mode, int size) override
    {
        looks.push_back({static_cast<float>(size), pointSize(), pointOpacity(), pointHaloSize()});
        PointRenderer::drawOffscreen(mode, size);
    }
    std::vector<std::array<float, 4>> looks;
};

} // namespace

TEST_P(HsneRendererTest, PointScalesFollowTheShownFilesAndPreviewsUseFinerPoints)
{
    QTemporaryDir dir;
    MCV_DataRegistry* registry = RegistryTestData::freshRegistry();
    std::mt19937 random(3);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    for (int f = 0; f < 2; ++f)
    {
        std::vector<float> values;
        for (int e = 0; e < 1500; ++e)
            for (int m = 0; m < 3; ++m)
                values.push_back(noise(random) + 20.0f * ((e % 3) == m) + 10.0f * f);
        ASSERT_EQ(registry->loadFcsFile(RegistryTestData::writeFcs(dir.path().toStdString(),
                                                                   "s" + std::to_string(f) + ".fcs", 3, values)),
                  0);
    }
    MCV_HsneAnalysisHierarchy hierarchy;
    hierarchy.initialize(nullptr, "H");
    hierarchy.setInputData(registry->createAllPointsData());
    MCV_HsneAnalysis level;
    level.initialize(nullptr, "H - Overview Level");
    level.setIterations(50);
    hierarchy.addLevel(&level);
    {
        CoutCapture quiet;
        ASSERT_TRUE(hierarchy.computeHierarchy());
    }
    ASSERT_GT(level.scale(), 0);

    RendererOnTarget view(768, 768);
    view.files = {true, true};
    view.renderer.setSampleSelection(&view.files);
    view.renderer.setAnalysis(&level, 3);
    std::vector<float> weights;
    const float largest = level.landmarkSelectionWeights({true, true}, weights);
    EXPECT_TRUE(view.renderer.pointScalesInUse());
    EXPECT_EQ(view.renderer.pointScales(), weights);
    EXPECT_EQ(bufferContents<float>(view.renderer.glNames().buffers[7]), weights);
    EXPECT_GT(largest, 0.0f);

    // Hiding the second file: landmarks made only of it get -1, the files stay active.
    view.files = {true, false};
    view.renderer.setSampleSelection(&view.files);
    level.landmarkSelectionWeights({true, false}, weights);
    EXPECT_EQ(bufferContents<float>(view.renderer.glNames().buffers[7]), weights);
    EXPECT_GT(std::count(weights.begin(), weights.end(), -1.0f), 0);
    EXPECT_EQ(view.renderer.activeSamples(), (std::vector<int>{1, 1}));

    // Previews of landmarks use the finer second set; the same points as
    // plain points the first. Both are drawn and read back.
    GlTarget target(768, 768);
    const std::vector<std::array<float, 4>> second{
        {768, 0.01f, 0.8f, 0.2f}, {384, 0.015f, 0.5f, 0.05f}, {192, 0.025f, 0.25f, 0.0f}};
    const std::vector<std::array<float, 4>> first{
        {768, 0.015f, 0.8f, 0.2f}, {384, 0.025f, 0.6f, 0.1f}, {192, 0.035f, 0.35f, 0.05f}};
    for (bool asLevel : {true, false}) {
        RecordingRenderer recording;
        recording.init();
        recording.setMVP(unitSquareMvp().data());
        recording.setViewport(768, 768, target.name());
        std::vector<float> positions = level.embeddingPositions();
        std::vector<float> markers = level.markerValues();
        if (asLevel)
            recording.setAnalysis(&level, 3);
        else
            recording.setData(&positions, &markers, level.pointCount(), 3, nullptr, false);
        recording.renderPreviews();
        EXPECT_EQ(recording.looks, asLevel ? second : first);
        EXPECT_EQ(recording.previewImages()[2].size(), 192u * 192u * 3u);
        recording.setPointSize(0.5f);
        recording.renderPreviews();
        EXPECT_EQ(recording.pointSize(), 0.5f) << "the shown look comes back";
        recording.release();
    }
    RegistryTestData::dropRegistry();
}

INSTANTIATE_TEST_SUITE_P(Formats, HsneRendererTest, testing::Values(GlFormat::Product), glFormatName);
