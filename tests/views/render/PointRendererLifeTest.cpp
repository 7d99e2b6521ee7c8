// The renderer across context loss and live embedding updates.
#include "GlTarget.h"
#include "GlTestContext.h"

#include "render/PointRenderer.h"

#include <cmath>

namespace {

bool anyNameAlive(const PointRenderer::GlNames& names)
{
    for (GLuint name : names.buffers)
        if (name != 0 && glIsBuffer(name))
            return true;
    for (GLuint name : names.textures)
        if (name != 0 && glIsTexture(name))
            return true;
    for (GLuint name : names.framebuffers)
        if (name != 0 && glIsFramebuffer(name))
            return true;
    for (GLuint name : names.programs)
        if (name != 0 && glIsProgram(name))
            return true;
    for (GLuint name : names.shaders)
        if (name != 0 && glIsShader(name))
            return true;
    return names.vertexArray != 0 && glIsVertexArray(names.vertexArray);
}

bool allNamesZero(const PointRenderer::GlNames& names)
{
    for (const auto* list : {&names.buffers, &names.textures, &names.framebuffers, &names.programs, &names.shaders})
        for (GLuint name : *list)
            if (name != 0)
                return false;
    return names.vertexArray == 0;
}

/// A spiral of n points.
std::vector<float> spiral(int n, float phase)
{
    std::vector<float> positions;
    for (int k = 0; k < n; ++k) {
        const float angle = 0.1f * static_cast<float>(k) + phase;
        positions.push_back(static_cast<float>(k) * std::cos(angle));
        positions.push_back(static_cast<float>(k) * std::sin(angle));
    }
    return positions;
}

using PointRendererLifeTest = GlTest;

} // namespace

TEST_P(PointRendererLifeTest, ReleaseDeletesEveryNameAndInitRebuildsTheSameObjects)
{
    std::vector<float> positions = spiral(50, 0.0f);
    std::vector<float> markers(150);
    for (size_t i = 0; i < markers.size(); ++i)
        markers[i] = static_cast<float>(i % 7);
    std::vector<int> sampleIds(50, 1);
    PointRenderer renderer;
    renderer.setData(&positions, &markers, 50, 3, sampleIds.data(), false); // before any context
    renderer.init();
    ASSERT_TRUE(renderer.isReady());
    ASSERT_TRUE(renderer.programsReady());
    renderer.setMarker(2);
    std::vector<uint16_t> flags(50, 0);
    flags[3] = 1;
    renderer.setSelection(&flags, false);

    const PointRenderer::GlNames first = renderer.glNames();
    for (GLuint name : first.buffers)
        EXPECT_NE(name, 0u);
    const auto positionsBefore = bufferContents<float>(first.buffers[0]);
    const auto markersBefore = bufferContents<float>(first.buffers[5]);
    const auto selectionBefore = bufferContents<uint16_t>(first.buffers[6]);
    const auto idsBefore = bufferContents<int>(first.buffers[8]);

    renderer.release();
    EXPECT_FALSE(anyNameAlive(first));
    EXPECT_TRUE(allNamesZero(renderer.glNames()));
    renderer.release(); // twice is harmless

    renderer.init();
    const PointRenderer::GlNames second = renderer.glNames();
    EXPECT_EQ(bufferContents<float>(second.buffers[0]), positionsBefore);
    EXPECT_EQ(bufferContents<float>(second.buffers[5]), markersBefore);
    EXPECT_EQ(bufferContents<uint16_t>(second.buffers[6]), selectionBefore);
    EXPECT_EQ(bufferContents<int>(second.buffers[8]), idsBefore);
    renderer.release();
}

TEST_P(PointRendererLifeTest, WithoutAContextTheRendererStaysEmpty)
{
    PointRenderer renderer;
    m_gl->doneCurrent();
    CoutCapture output;
    renderer.init();
    EXPECT_FALSE(renderer.isReady());
    EXPECT_NE(output.text().find("no OpenGL 3.3 context"), std::string::npos);
    std::vector<float> positions{0, 0, 1, 1};
    renderer.setData(&positions, nullptr, 2, 0, nullptr, false);
    renderer.setMarker(0);
    renderer.setMsGridSize(64);
    renderer.setDarkMode(true);
    ASSERT_EQ(renderer.normalizedPositions().size(), 4u);
    EXPECT_NEAR(renderer.normalizedPositions()[0], 0.1f, 1e-6f);
    EXPECT_NEAR(renderer.normalizedPositions()[3], 0.9f, 1e-6f);
    EXPECT_TRUE(allNamesZero(renderer.glNames()));
    m_gl->makeCurrent();
}

TEST_P(PointRendererLifeTest, LiveRefreshesWriteIntoTheSameBuffer)
{
    std::vector<float> positions = spiral(300, 0.0f);
    std::vector<float> markers(300, 1.0f);
    PointRenderer renderer;
    renderer.init();
    renderer.setData(&positions, &markers, 300, 1, nullptr, false);
    const PointRenderer::GlNames names = renderer.glNames();
    const std::vector<unsigned> order = renderer.drawOrder();
    GLint size = 0;
    for (int iteration = 1; iteration <= 100; ++iteration) {
        positions = spiral(300, 0.05f * static_cast<float>(iteration)); // same size, new values
        markers.assign(300, 2.0f);                                       // markers are not read again
        renderer.refreshEmbedding();
        ASSERT_TRUE(renderer.densityDirty() && renderer.clustersDirty());
    }
    const PointRenderer::GlNames after = renderer.glNames();
    EXPECT_EQ(after.buffers, names.buffers);
    EXPECT_EQ(after.vertexArray, names.vertexArray);
    EXPECT_EQ(renderer.drawOrder(), order);
    EXPECT_EQ(bufferContents<unsigned>(names.buffers[1]), order);
    glBindBuffer(GL_ARRAY_BUFFER, names.buffers[0]);
    glGetBufferParameteriv(GL_ARRAY_BUFFER, GL_BUFFER_SIZE, &size);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    EXPECT_EQ(size, static_cast<GLint>(600 * sizeof(float)));
    EXPECT_EQ(bufferContents<float>(names.buffers[0]), renderer.normalizedPositions());
    EXPECT_EQ(renderer.getMarkerMinMax()[0], PointRenderer::Range(1.0f, 1.0f));

    // A source that no longer fits is not read; the positions stay.
    const std::vector<float> kept = renderer.normalizedPositions();
    positions.resize(10);
    CoutCapture output;
    renderer.refreshEmbedding();
    EXPECT_EQ(renderer.normalizedPositions(), kept);
    EXPECT_NE(output.text().find("does not hold 300 points"), std::string::npos);
    renderer.release();
}

INSTANTIATE_TEST_SUITE_P(Formats, PointRendererLifeTest, testing::Values(GlFormat::Product, GlFormat::CoreDebug),
                         glFormatName);
