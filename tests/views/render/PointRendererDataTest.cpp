// The renderer's data: normalised positions, marker ranges, selection and
// file flags, colour maps and kernels, in its CPU copies and in GL objects.
#include "GlTarget.h"
#include "GlTestContext.h"

#include "render/PointRenderer.h"

#include "analyses/MCV_TsneAnalysis.h"

#include <QImage>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace {

const float notANumber = std::numeric_limits<float>::quiet_NaN();
const float infinite = std::numeric_limits<float>::infinity();

template <class T>
std::vector<T> textureContents(GLenum target, GLuint texture, GLenum format, GLenum type, size_t count)
{
    std::vector<T> values(count);
    glBindTexture(target, texture);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(target, 0, format, type, values.data());
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glBindTexture(target, 0);
    return values;
}

/// Texture names in the order of PointRenderer::glNames().
enum TextureSlot
{
    ActiveSamples,
    Colormap,
    SampleColors,
    Gaussian,
    ClusterIds
};

/// Buffer names in the order of PointRenderer::glNames().
enum BufferSlot
{
    Positions,
    DrawOrder,
    Centres,
    Quad,
    Rectangle,
    Markers,
    Selection,
    Scales,
    SampleIds
};

using PointRendererDataTest = GlTest;

} // namespace

TEST_P(PointRendererDataTest, PositionsKeepTheirAspectAndNonFiniteOnesStayOut)
{
    // x spans 10, y spans 2; one NaN and one infinite coordinate.
    std::vector<float> positions{0, 0, 10, 2, 5, 1, notANumber, 1, 3, infinite};
    PointRenderer renderer;
    renderer.init();
    renderer.setData(&positions, nullptr, 5, 0, nullptr, false);
    const std::vector<float>& p = renderer.normalizedPositions();
    ASSERT_EQ(p.size(), 10u);
    EXPECT_FLOAT_EQ(p[0], 0.1f);
    EXPECT_FLOAT_EQ(p[2], 0.9f);
    EXPECT_NEAR(p[3] - p[1], 0.16f, 1e-6f);
    EXPECT_FLOAT_EQ(p[4], 0.5f);
    EXPECT_TRUE(std::isnan(p[6]));
    EXPECT_FLOAT_EQ(p[7], 0.18f);
    EXPECT_TRUE(std::isinf(p[9]));

    // The buffer holds the normalised copy; non-finite coordinates lie far outside.
    const std::vector<float> uploaded = bufferContents<float>(renderer.glNames().buffers[Positions]);
    ASSERT_EQ(uploaded.size(), 10u);
    for (size_t i = 0; i < 10; ++i) {
        if (std::isfinite(p[i]))
            EXPECT_EQ(uploaded[i], p[i]) << i;
        else
            EXPECT_LT(uploaded[i], -100.0f) << i;
    }
    renderer.release();
}

TEST_P(PointRendererDataTest, EmptySingleAndCollapsedEmbeddings)
{
    PointRenderer renderer;
    renderer.init();
    std::vector<float> none;
    renderer.setData(&none, &none, 0, 3, nullptr, false);
    EXPECT_TRUE(renderer.normalizedPositions().empty());
    EXPECT_TRUE(bufferContents<float>(renderer.glNames().buffers[Positions]).empty());
    EXPECT_EQ(renderer.getMarkerMinMax().size(), 3u);

    std::vector<float> one{-3.0f, 7.0f};
    renderer.setData(&one, nullptr, 1, 0, nullptr, false);
    EXPECT_EQ(renderer.normalizedPositions(), (std::vector<float>{0.5f, 0.5f}));

    std::vector<float> equal(20, 4.25f);
    renderer.setData(&equal, nullptr, 10, 0, nullptr, false);
    for (float c : renderer.normalizedPositions())
        EXPECT_EQ(c, 0.5f);
    EXPECT_EQ(bufferContents<float>(renderer.glNames().buffers[Positions]), renderer.normalizedPositions());

    // An analysis that has not computed anything yet has no points.
    MCV_TsneAnalysis analysis;
    renderer.setAnalysis(&analysis, 5);
    EXPECT_EQ(renderer.pointCount(), 0);
    renderer.refreshEmbedding();
    renderer.setMarker(2);
    EXPECT_TRUE(bufferContents<float>(renderer.glNames().buffers[Markers]).empty());
    renderer.release();
}

TEST_P(PointRendererDataTest, MarkerRangesSkipNonFiniteValuesAndNeverReadPastTheRow)
{
    // Three markers per row: in [1, 3], in [-2, 8], never finite.
    std::vector<float> positions{0, 0, 1, 1, 2, 2, 3, 3};
    std::vector<float> markers{1, -2, notANumber, 3, 8, infinite, 2, notANumber, -infinite, infinite, 0, notANumber};
    PointRenderer renderer;
    renderer.init();
    CoutCapture output;
    renderer.setData(&positions, &markers, 4, 5, nullptr, false); // the caller's count is wider
    EXPECT_NE(output.text().find("Problem: localMarkers size = 12 but should be 4x5 = 20"), std::string::npos)
        << output.text();
    const auto& ranges = renderer.getMarkerMinMax();
    const auto& boundaries = renderer.getMarkerBoundaries();
    ASSERT_EQ(ranges.size(), 5u);
    EXPECT_EQ(ranges[0], PointRenderer::Range(1, 3));
    EXPECT_EQ(boundaries[0], PointRenderer::Range(0, 5));
    EXPECT_EQ(ranges[1], PointRenderer::Range(-2, 8));
    EXPECT_EQ(boundaries[1], PointRenderer::Range(-2, 8));
    for (int m : {2, 3, 4}) {
        EXPECT_EQ(ranges[m], PointRenderer::Range(0, 1)) << m;
        EXPECT_EQ(boundaries[m], PointRenderer::Range(0, 5)) << m;
    }

    renderer.setMarker(1);
    const std::vector<float> column1{-2, 8, notANumber, 0};
    const std::vector<float> uploaded = bufferContents<float>(renderer.glNames().buffers[Markers]);
    for (size_t k : {0u, 1u, 3u})
        EXPECT_EQ(uploaded[k], column1[k]);
    EXPECT_TRUE(std::isnan(uploaded[2]));

    // Colouring by file leaves the marker buffer as it was.
    renderer.setMarker(-1);
    EXPECT_EQ(bufferContents<float>(renderer.glNames().buffers[Markers])[1], 8.0f);
    // A marker beyond the row has no values.
    renderer.setMarker(4);
    EXPECT_EQ(bufferContents<float>(renderer.glNames().buffers[Markers]), (std::vector<float>{0, 0, 0, 0}));
    renderer.release();
}

TEST_P(PointRendererDataTest, SelectionFlagsAndIndexLists)
{
    std::vector<float> positions(12, 0.0f);
    std::iota(positions.begin(), positions.end(), 0.0f);
    PointRenderer renderer;
    renderer.init();
    renderer.setData(&positions, nullptr, 6, 0, nullptr, false);

    std::vector<uint16_t> flags{0, 1, 0, 0, 255, 0, 1}; // one more than there are points
    renderer.setSelection(&flags, false);
    EXPECT_EQ(renderer.selectedIndices(), (std::vector<int>{1, 4}));
    EXPECT_EQ(bufferContents<uint16_t>(renderer.glNames().buffers[Selection]),
              (std::vector<uint16_t>{0, 1, 0, 0, 255, 0}));

    renderer.selectedIndices() = {-1, 2, 9, 5};
    CoutCapture output;
    renderer.setSelection(&flags, true);
    EXPECT_EQ(output.text(), "Problem creating selection buffer index 9 too large for buffer of size 6\n");
    EXPECT_EQ(bufferContents<uint16_t>(renderer.glNames().buffers[Selection]),
              (std::vector<uint16_t>{0, 0, 255, 0, 0, 255}));

    renderer.setSelection(nullptr, false); // keeps the selection
    EXPECT_EQ(renderer.selectionFlags(), (std::vector<uint16_t>{0, 0, 255, 0, 0, 255}));
    EXPECT_EQ(renderer.selectAll().size(), 6u);
    EXPECT_TRUE(renderer.clearSelection().empty());
    renderer.release();
}

TEST_P(PointRendererDataTest, FileFlagsAndColoursFollowTheCallersCount)
{
    std::vector<float> positions{0, 0, 1, 1, 2, 2};
    const int sampleIds[] = {0, 2, 1};
    PointRenderer renderer;
    renderer.init();
    renderer.setData(&positions, nullptr, 3, 0, sampleIds, false);
    EXPECT_EQ(bufferContents<int>(renderer.glNames().buffers[SampleIds]), (std::vector<int>{0, 2, 1}));

    std::vector<bool> selection{true, false, true, true};
    std::vector<unsigned char> colors{10, 20, 30, 40, 50, 60}; // two files only
    renderer.setSampleSelection(&selection);
    renderer.setSampleColors(&colors);
    EXPECT_EQ(renderer.activeSamples(), (std::vector<int>{1, 0, 1, 1}));
    const auto names = renderer.glNames();
    EXPECT_EQ(textureContents<int>(GL_TEXTURE_1D, names.textures[ActiveSamples], GL_RED_INTEGER, GL_INT, 4),
              (std::vector<int>{1, 0, 1, 1}));
    EXPECT_EQ(textureContents<unsigned char>(GL_TEXTURE_1D, names.textures[SampleColors], GL_RGB,
                                             GL_UNSIGNED_BYTE, 12),
              (std::vector<unsigned char>{10, 20, 30, 40, 50, 60, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(renderer.densityDirty());

    // Reopened files: file 0 is now the second, file 1 is gone, file 2 beyond the list.
    renderer.renumberFiles({1, -1});
    EXPECT_EQ(bufferContents<int>(renderer.glNames().buffers[SampleIds]), (std::vector<int>{1, -1, -1}));
    renderer.release();
}

TEST_P(PointRendererDataTest, DrawOrderIsAPermutationAndTheKernelIsNormalised)
{
    std::vector<float> positions(2000);
    std::iota(positions.begin(), positions.end(), 0.0f);
    PointRenderer renderer;
    renderer.init();
    renderer.setData(&positions, nullptr, 1000, 0, nullptr, false);
    std::vector<unsigned> order = bufferContents<unsigned>(renderer.glNames().buffers[DrawOrder]);
    EXPECT_EQ(order, renderer.drawOrder());
    EXPECT_FALSE(std::is_sorted(order.begin(), order.end()));
    std::sort(order.begin(), order.end());
    for (unsigned k = 0; k < 1000; ++k)
        ASSERT_EQ(order[k], k);

    const std::vector<float> kernel = PointRenderer::gaussianKernel();
    EXPECT_NEAR(kernel[16 * 32 + 16], 5.5953f, 1e-4f);
    EXPECT_NEAR(std::accumulate(kernel.begin(), kernel.end(), 0.0), 994.45, 0.01);
    EXPECT_EQ(textureContents<float>(GL_TEXTURE_2D, renderer.glNames().textures[Gaussian], GL_RED, GL_FLOAT, 1024),
              kernel);
    renderer.release();
}

TEST_P(PointRendererDataTest, ColourMapTexturesFollowTheModesAndEqualTheirImages)
{
    PointRenderer renderer;
    renderer.init();
    const GLuint texture = renderer.glNames().textures[Colormap];
    auto current = [&] {
        return textureContents<unsigned char>(GL_TEXTURE_1D, texture, GL_RGB, GL_UNSIGNED_BYTE, 600);
    };
    for (int map = 0; map < 15; ++map) {
        renderer.setColormap(map);
        const QImage image = QImage(QString(":/colormaps/%1.png").arg(PointRenderer::colormapNames[map]))
                                 .convertToFormat(QImage::Format_RGB888);
        const std::vector<unsigned char> bytes(image.constBits(), image.constBits() + 600);
        EXPECT_EQ(renderer.colormapImage(map), bytes) << map;
        EXPECT_EQ(current(), bytes) << map;
    }
    EXPECT_EQ(renderer.getColormap(), 14);
    // Maps run from low to high values: the known end colours of two maps
    // (Spectral from its blue end, as the pages show it).
    auto ends = [&](int map) {
        const std::vector<unsigned char>& image = renderer.colormapImage(map);
        return std::vector<int>{image[0], image[1], image[2], image[597], image[598], image[599]};
    };
    EXPECT_EQ(ends(0), (std::vector<int>{94, 79, 162, 158, 1, 66})) << "Spectral";
    EXPECT_EQ(ends(6), (std::vector<int>{68, 1, 84, 253, 231, 37})) << "Viridis";

    // The density mode keeps its own map (Spectral) and discrete flag (on).
    renderer.setRenderMode(3);
    EXPECT_EQ(renderer.getColormap(), 0);
    EXPECT_TRUE(renderer.isColormapDiscrete());
    EXPECT_EQ(current(), renderer.colormapImage(0));
    renderer.setRenderMode(1); // neither points nor density: the discrete flag stays
    renderer.setColormapDiscrete(false);
    EXPECT_TRUE(renderer.isColormapDiscrete());
    renderer.setRenderMode(0);
    EXPECT_FALSE(renderer.isColormapDiscrete());
    EXPECT_EQ(current(), renderer.colormapImage(14));
    renderer.release();
}

TEST_P(PointRendererDataTest, GridChangesRebuildFramebuffersOnlyWhenTheyChange)
{
    PointRenderer renderer;
    renderer.init();
    const auto before = renderer.glNames();
    ASSERT_NE(before.framebuffers[0], 0u) << "density framebuffer";
    ASSERT_NE(before.framebuffers[1], 0u) << "screenshot framebuffer";
    glBindFramebuffer(GL_FRAMEBUFFER, before.framebuffers[0]);
    EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
    glBindFramebuffer(GL_FRAMEBUFFER, 0);

    renderer.setMsGridSize(256);
    EXPECT_EQ(renderer.glNames().textures, before.textures);
    renderer.setMsGridSize(64);
    const auto after = renderer.glNames();
    EXPECT_NE(after.framebuffers[0], 0u);
    GLint width = 0;
    glBindTexture(GL_TEXTURE_2D, after.textures[ClusterIds]);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    glBindTexture(GL_TEXTURE_2D, 0);
    EXPECT_EQ(width, 64);
    EXPECT_EQ(textureContents<int>(GL_TEXTURE_2D, after.textures[ClusterIds], GL_RED_INTEGER, GL_INT, 64 * 64),
              std::vector<int>(64 * 64, -1));
    renderer.release();
}

TEST_P(PointRendererDataTest, ColourMapThatIsNoStripBecomesAGreyRamp)
{
    CoutCapture output;
    const std::vector<unsigned char> ramp = PointRenderer::loadColormapImage(":/colormaps/Viridis_vert.png");
    EXPECT_NE(output.text().find("is not a 200 x 1 image"), std::string::npos);
    ASSERT_EQ(ramp.size(), 600u);
    EXPECT_EQ(ramp[0], 0);
    EXPECT_EQ(ramp[599], 255);
    EXPECT_EQ(ramp[300], ramp[302]);
}

INSTANTIATE_TEST_SUITE_P(Formats, PointRendererDataTest, testing::Values(GlFormat::Product, GlFormat::CoreDebug),
                         glFormatName);
