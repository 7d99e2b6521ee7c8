// Frames, offscreen images and previews read back: points at their pixels,
// images upright, every pass silent, bad input harmless.
#include "support/ClusteringTestAnalysis.h"
#include "RendererOnTarget.h"

#include "support/RegistryTestData.h"

#include <QImage>

#include <cmath>
#include <limits>

namespace {

using Rgb = std::array<int, 3>;

Rgb pixel(const QImage& image, int x, int yFromBottom)
{
    const QRgb c = image.pixel(x, image.height() - 1 - yFromBottom);
    return {qRed(c), qGreen(c), qBlue(c)};
}

/// An offscreen image's bytes (bottom row first) as a picture: its first row on top.
QImage picture(const std::vector<unsigned char>& bytes, int side)
{
    return QImage(bytes.data(), side, side, side * 3, QImage::Format_RGB888).copy();
}

/// Three points in three files: bottom left, right middle, top middle.
struct ThreePoints
{
    std::vector<float> positions{0.0f, 0.0f, 1.0f, 0.5f, 0.5f, 1.0f};
    std::vector<int> files{0, 1, 2};
    std::vector<bool> shown{true, true, true};
    std::vector<unsigned char> colors{200, 30, 30, 30, 200, 30, 30, 30, 200};

    void install(PointRenderer& renderer)
    {
        renderer.setData(&positions, nullptr, 3, 0, files.data(), false);
        renderer.setSampleSelection(&shown);
        renderer.setSampleColors(&colors);
        renderer.setMarker(-1);
        renderer.setPointOpacity(1.0f);
        renderer.setPointHaloSize(0.0f);
        renderer.setPointSize(0.06f);
    }
};

using RendererFramesTest = GlTest;

} // namespace

TEST_P(RendererFramesTest, SeparatedPointsShowTheirColoursAndRebuiltContextsTheSamePixels)
{
    RendererOnTarget view(200, 100); // the view square is x 50..150
    ThreePoints points;
    points.install(view.renderer);
    view.renderer.render(view.target.name());
    EXPECT_TRUE(view.renderer.densityDirty()) << "points need no density";
    const QImage frame = view.target.image();
    EXPECT_EQ(pixel(frame, 60, 10), (Rgb{200, 30, 30}));
    EXPECT_EQ(pixel(frame, 140, 50), (Rgb{30, 200, 30}));
    EXPECT_EQ(pixel(frame, 100, 90), (Rgb{30, 30, 200}));
    EXPECT_EQ(pixel(frame, 100, 50), (Rgb{252, 252, 252}));
    EXPECT_EQ(pixel(frame, 20, 50), (Rgb{252, 252, 252}));

    view.renderer.release();
    view.renderer.init();
    view.renderer.setViewport(200, 100, view.target.name());
    view.renderer.render(view.target.name());
    EXPECT_EQ(view.target.image(), frame);
}

TEST_P(RendererFramesTest, EveryPassRunsSilentlyAndImagesStandUpright)
{
    RegistryTestData::freshRegistry();
    ClusteringTestAnalysis analysis;
    RendererOnTarget view(128, 128);
    view.renderer.setMaxOffscreenSize(500);
    view.renderer.init(); // framebuffers for the smaller largest image
    view.renderer.setSampleSelection(&view.files);
    view.renderer.setAnalysis(&analysis, 0);
    // Two blobs near the top, one point near the bottom.
    Blobs blobs = makeBlobs({{0.3f, 0.9f}, {0.7f, 0.9f}}, 0.02f, 100, 0.0f, 1);
    blobs.positions.insert(blobs.positions.end(), {0.5f, 0.0f});
    view.renderer.setData(&blobs.positions, nullptr, 201, 0, nullptr, false);
    view.renderer.setPointOpacity(1.0f);

    CoutCapture output;
    view.renderer.setOtfClustering(1);
    view.renderer.setShowSelectionRect(true);
    view.renderer.rectSelect(10, 10, 60, 60, 0);
    view.renderer.render(view.target.name());
    ASSERT_FALSE(view.renderer.clustersDirty());
    EXPECT_EQ(analysis.setsMade, 1);
    view.renderer.setRenderMode(3);
    view.renderer.setAdvancedMode(1);
    view.renderer.render(view.target.name());

    // Upright images: the blobs (at columns 35 and 68) near the top, the lone
    // point (column 51) near the bottom; a mirrored image would swap them.
    auto white = [](const QImage& image, int x, int y) { return image.pixel(x, y) == qRgb(255, 255, 255); };
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(view.renderer.renderScreenshot(3, 100, bytes));
    view.renderer.setAdvancedMode(-1);
    ASSERT_TRUE(view.renderer.renderScreenshot(3, 100, bytes));
    const QImage density = picture(bytes, 100);
    EXPECT_FALSE(white(density, 35, 15));
    EXPECT_TRUE(white(density, 35, 85));
    view.renderer.setRenderMode(0);
    view.renderer.setPointSize(0.05f);
    ASSERT_TRUE(view.renderer.renderScreenshot(-1, 100, bytes));
    const QImage points = picture(bytes, 100);
    EXPECT_FALSE(white(points, 51, 90));
    EXPECT_TRUE(white(points, 51, 10));

    // Previews: the largest exceeds the offscreen size and stays empty.
    view.renderer.renderPreviews();
    ASSERT_EQ(analysis.previews.size(), 3u);
    EXPECT_EQ(analysis.previews[0], nullptr);
    EXPECT_TRUE(view.renderer.previewImages()[0].empty());
    EXPECT_EQ(view.renderer.previewImages()[1].size(), 384u * 384u * 3u);
    EXPECT_EQ(view.renderer.previewImages()[2].size(), 192u * 192u * 3u);
    EXPECT_EQ(analysis.previews[2], view.renderer.previewImages()[2].data());
    const QImage preview = picture(view.renderer.previewImages()[2], 192);
    EXPECT_FALSE(white(preview, 99, 173));
    EXPECT_TRUE(white(preview, 99, 19));
    EXPECT_EQ(view.renderer.selectedIndices().size(), 0u) << "nothing was selected in the rectangle";

    EXPECT_FALSE(view.renderer.renderScreenshot(0, 501, bytes));
    EXPECT_EQ(output.text().find("Failed"), std::string::npos) << output.text();
    RegistryTestData::dropRegistry();
}

TEST_P(RendererFramesTest, BadInputGoesThroughEveryPass)
{
    RegistryTestData::freshRegistry();
    ClusteringTestAnalysis analysis;
    RendererOnTarget view(64, 64);
    view.renderer.setAnalysis(&analysis, 0);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> odd{nan, 0.5f, 0.2f, inf, 0.3f, 0.3f, 0.31f, 0.3f, -inf, nan};
    std::vector<float> none;
    std::vector<unsigned char> bytes;
    for (std::vector<float>* positions : {&odd, &none}) {
        const int n = static_cast<int>(positions->size() / 2);
        view.renderer.setData(positions, nullptr, n, 0, nullptr, false);
        for (unsigned side : {64u, 0u}) {
            SCOPED_TRACE(std::to_string(n) + " points, side " + std::to_string(side));
            view.renderer.setViewport(side, side, view.target.name());
            view.renderer.setOtfClustering(1);
            view.renderer.render(view.target.name());
            view.renderer.setRenderMode(3);
            view.renderer.render(view.target.name());
            view.renderer.setRenderMode(0);
            view.renderer.cluster();
            // Near the two finite points lies their one cluster; with no
            // points or no view there is none.
            EXPECT_EQ(view.renderer.clusterAt(20, 20), n > 0 && side > 0 ? 0 : -1);
            view.renderer.hoverCluster(20, 20);
            view.renderer.selectClusterAt(20, 20, false);
            view.renderer.rectSelect(0, 0, 64, 64, 0);
            for (int k : view.renderer.selectedIndices())
                EXPECT_TRUE(std::isfinite(view.renderer.normalizedPositions()[2 * k])) << k;
            view.renderer.renderScreenshot(-1, 32, bytes);
            view.renderer.renderPreviews();
        }
        view.renderer.setViewport(64, 64, view.target.name());
    }
    // Every file hidden: no density, nothing divided by it.
    std::vector<bool> hidden{false};
    view.renderer.setSampleSelection(&hidden);
    view.renderer.setRenderMode(3);
    view.renderer.render(view.target.name());
    EXPECT_EQ(view.renderer.maxDensity(), 0.0f);
    view.renderer.setSampleSelection(&view.files);
    view.renderer.setRenderMode(0);
    // Only the two finite points were ever selected or clustered.
    view.renderer.setData(&odd, nullptr, 5, 0, nullptr, false);
    view.renderer.rectSelect(0, 0, 64, 64, 0);
    EXPECT_EQ(view.renderer.selectedIndices(), (std::vector<int>{2, 3}));
    view.renderer.cluster();
    for (const auto& members : view.renderer.labeling().members())
        for (unsigned k : members)
            EXPECT_TRUE(k == 2 || k == 3) << k;
    RegistryTestData::dropRegistry();
}

INSTANTIATE_TEST_SUITE_P(Formats, RendererFramesTest, testing::Values(GlFormat::Product, GlFormat::CoreDebug),
                         glFormatName);
