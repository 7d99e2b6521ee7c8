// The renderer's passes: the frame, the offscreen density, gradient and
// mean-shift passes, and the density, point and rectangle displays.
#include "render/PointRenderer.h"

#include "render/GlslProgram.h"
#include "render/VertexAttributes.h"

#include "data/MCV_DerivedDataClusters.h"

#include <GL/glew.h>

#include <algorithm>

namespace {

/// (x, y) -> (x, 1 - y) before the unit square is projected: offscreen images
/// are read from the bottom row up, so drawing them mirrored stands them upright.
std::array<float, 16> mirroredVertically(const std::array<float, 16>& mvp)
{
    // Column-major; the flip's columns are (1,0,0,0), (0,-1,0,0), (0,0,1,0), (0,1,0,1).
    std::array<float, 16> result = mvp;
    for (int row = 0; row < 4; ++row) {
        result[4 + row] = -mvp[4 + row];
        result[12 + row] = mvp[4 + row] + mvp[12 + row];
    }
    return result;
}

} // namespace

void PointRenderer::render(GlName targetFramebuffer)
{
    if (!m_glReady)
        return;
    m_targetFramebuffer = targetFramebuffer;
    glBindFramebuffer(GL_FRAMEBUFFER, targetFramebuffer);
    setClearColor(m_clearColor);
    // The density is computed only when something shows or uses it; a frame
    // of points leaves it dirty for whoever needs it later.
    const bool clustering = m_look.otfClustering != 0;
    if (m_densityDirty && (m_look.renderMode == 3 || clustering)) {
        computeDensity();
        m_densityDirty = false;
    }
    if (clustering && m_clustersDirty && !m_densityDirty) {
        computeGradient();
        computeMeanShift();
    }
    if (m_look.renderMode == 0)
        drawPoints(0);
    else if (m_look.renderMode == 3)
        drawDensity(0);
    drawSelectionRect();
}

void PointRenderer::setClearColor(const std::array<float, 4>& color)
{
    glClearColor(color[0], color[1], color[2], color[3]);
}

void PointRenderer::setViewportFor(int size)
{
    if (size > 0)
        glViewport(0, 0, size, size);
    else
        glViewport(static_cast<GLint>((m_viewWidth - m_squareSide) / 2),
                   static_cast<GLint>((m_viewHeight - m_squareSide) / 2), static_cast<GLsizei>(m_squareSide),
                   static_cast<GLsizei>(m_squareSide));
}

void PointRenderer::readBackGrid(unsigned attachment, std::vector<float>& values)
{
    const unsigned res = m_look.msGridSize;
    values.assign(static_cast<size_t>(res) * res * 3, 0.0f);
    glReadBuffer(attachment);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, static_cast<GLsizei>(res), static_cast<GLsizei>(res), GL_RGB, GL_FLOAT, values.data());
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
}

bool PointRenderer::beginGridPass(unsigned attachment)
{
    if (!m_glReady || !m_programsReady || !m_densityFramebufferUsable)
        return false;
    glBindFramebuffer(GL_FRAMEBUFFER, m_densityFramebuffer);
    glDrawBuffer(attachment);
    glViewport(0, 0, static_cast<GLsizei>(m_look.msGridSize), static_cast<GLsizei>(m_look.msGridSize));
    setClearColor(m_densityClearColor);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    return true;
}

void PointRenderer::endGridPass()
{
    glBindFramebuffer(GL_FRAMEBUFFER, m_targetFramebuffer);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    setClearColor(m_clearColor);
}

void PointRenderer::drawUnitQuad(GlslProgram& program)
{
    glBindVertexArray(m_vertexArray);
    {
        VertexAttributes attributes(program);
        attributes.floats("position", m_quadBuffer, 2);
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    }
    glBindVertexArray(0);
}

void PointRenderer::bindSampleIds(VertexAttributes& attributes)
{
    if (m_hasSampleIds)
        attributes.integers("sampleIdBuffer", m_sampleIdBuffer, GL_INT);
    else
        attributes.constantInteger("sampleIdBuffer", 0); // every point in file 0
}

float PointRenderer::pointScaleFactor() const
{
    return m_pointScalesInUse && m_pointScaleMax > 0.0f ? 1.0f / m_pointScaleMax : -1.0f;
}

void PointRenderer::computeDensity()
{
    m_maxDensity = 0.0f;
    if (!beginGridPass(GL_COLOR_ATTACHMENT0))
        return;
    glBlendFunc(GL_ONE, GL_ONE);
    GlslProgram& program = *m_programs[DensityOffscreenProgram];
    program.bind();
    program.setUniformMatrix4fv(program.uniformLocation("modelViewProjectionMatrix"), m_mvp.data());
    program.setUniform1f(program.uniformLocation("sigma"), m_look.sigma);
    program.setUniform4f(program.uniformLocation("advancedParams"), pointScaleFactor(), 0.0f, 0.0f, 0.0f);
    program.setSampler("gaussSampler", 0, GL_TEXTURE_2D, m_gaussTexture);
    program.setSampler("activeSampleSampler", 1, GL_TEXTURE_1D, m_activeSampleTexture);
    glBindVertexArray(m_vertexArray);
    {
        VertexAttributes attributes(program);
        attributes.floats("position", m_positionsBuffer, 2);
        attributes.floats("scaleBuffer", m_scaleBuffer, 1);
        bindSampleIds(attributes);
        if (m_pointCount > 0)
            glDrawArrays(GL_POINTS, 0, m_pointCount);
    }
    glBindVertexArray(0);
    program.unbind();
    readBackGrid(GL_COLOR_ATTACHMENT0, m_densityReadback);
    float maximum = -100000000.0f;
    for (size_t c = 0; c < m_densityReadback.size(); c += 3)
        maximum = std::max(maximum, m_densityReadback[c]);
    m_maxDensity = std::max(maximum, 0.0f);
    endGridPass();
}

void PointRenderer::computeGradient()
{
    // Without density (no points shown) there is nothing to walk on.
    if (m_maxDensity <= 0.0f || !beginGridPass(GL_COLOR_ATTACHMENT1))
        return;
    glDisable(GL_BLEND);
    GlslProgram& program = *m_programs[GradientProgram];
    program.bind();
    program.setUniformMatrix4fv(program.uniformLocation("modelViewProjectionMatrix"), m_mvp.data());
    const float texel = 1.0f / static_cast<float>(m_look.msGridSize);
    program.setUniform4f(program.uniformLocation("renderParams"), 1.0f / m_maxDensity, 0.001f, texel, texel);
    program.setSampler("pdfSampler", 0, GL_TEXTURE_2D, m_densityTextures[0]);
    drawUnitQuad(program);
    program.unbind();
    endGridPass();
}

void PointRenderer::computeMeanShift()
{
    if (m_maxDensity <= 0.0f || !beginGridPass(GL_COLOR_ATTACHMENT2))
        return;
    glDisable(GL_BLEND);
    GlslProgram& program = *m_programs[MeanShiftProgram];
    program.bind();
    program.setUniformMatrix4fv(program.uniformLocation("modelViewProjectionMatrix"), m_mvp.data());
    const float texel = 1.0f / static_cast<float>(m_look.msGridSize);
    program.setUniform4f(program.uniformLocation("renderParams"), 0.25f, 0.0f, texel, texel);
    program.setSampler("gradientSampler", 0, GL_TEXTURE_2D, m_densityTextures[1]);
    drawUnitQuad(program);
    program.unbind();
    readBackGrid(GL_COLOR_ATTACHMENT2, m_meanShiftReadback);
    glBindFramebuffer(GL_FRAMEBUFFER, m_targetFramebuffer);
    computeDensityClusters();
    endGridPass();
}

void PointRenderer::drawDensity(int size)
{
    if (!m_glReady || !m_programsReady)
        return;
    setViewportFor(size);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    const int side = size > 0 ? size : static_cast<int>(m_squareSide);
    if (side <= 0 || m_maxDensity <= 0.0f || !m_densityFramebufferUsable || m_pointCount == 0)
        return;
    const std::array<float, 16> mvp = size > 0 ? mirroredVertically(m_mvp) : m_mvp;

    GlslProgram& program = *m_programs[DensityProgram];
    program.bind();
    program.setUniformMatrix4fv(program.uniformLocation("modelViewProjectionMatrix"), mvp.data());
    program.setUniform4f(program.uniformLocation("renderParams"), 1.0f / m_maxDensity,
                         m_look.colormapDiscrete[1] ? 1.0f : -1.0f, 2.0f / static_cast<float>(m_pointCount),
                         1.0f / static_cast<float>(side));
    program.setUniform4f(program.uniformLocation("advancedParams"), 0.0f, 0.0f, 0.0f,
                         static_cast<float>(m_look.advancedMode));
    program.setSampler("colormapSampler", 0, GL_TEXTURE_1D, m_colormapTexture);
    program.setSampler("pdfSampler", 1, GL_TEXTURE_2D, m_densityTextures[0]);
    program.setSampler("msSampler", 2, GL_TEXTURE_2D, m_densityTextures[2]);
    // Mirrored, the quad turns its back: no culling for it.
    glDisable(GL_CULL_FACE);
    drawUnitQuad(program);
    glEnable(GL_CULL_FACE);
    program.unbind();

    const int centres = static_cast<int>(m_clusterCentres.size() / 2);
    if (m_clustersDirty || centres == 0)
        return;
    GlslProgram& dots = *m_programs[SimplePointsProgram];
    dots.bind();
    dots.setUniformMatrix4fv(dots.uniformLocation("modelViewProjectionMatrix"), mvp.data());
    dots.setUniform4f(dots.uniformLocation("visParams"), 0.0075f, 0.1f, 0.1f, 0.1f);
    glBindVertexArray(m_vertexArray);
    {
        VertexAttributes attributes(dots);
        attributes.floats("position", m_centresBuffer, 2);
        glDrawArrays(GL_POINTS, 0, centres);
    }
    glBindVertexArray(0);
    dots.unbind();
}

void PointRenderer::drawPoints(int size)
{
    if (!m_glReady || !m_programsReady)
        return;
    setViewportFor(size);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (m_pointCount == 0 || (size <= 0 && m_squareSide == 0))
        return;

    Range range(0.0f, 1.0f);
    if (m_screenshotMode && m_screenshotRange.size() >= 2)
        range = Range(m_screenshotRange[0], m_screenshotRange[1]);
    else if (m_look.marker >= 0 && m_look.marker < static_cast<int>(m_markerMinMax.size()))
        range = m_markerMinMax[static_cast<size_t>(m_look.marker)];
    // Stale clusters colour and enlarge nothing.
    const MCV_DerivedDataClusters* clusters = m_clustersDirty ? nullptr : densityClusters();

    GlslProgram& program = *m_programs[SimplePointsMarkersProgram];
    program.bind();
    program.setUniformMatrix4fv(program.uniformLocation("modelViewProjectionMatrix"), m_mvp.data());
    program.setUniform4i(program.uniformLocation("dataParams"), clusters ? clusters->clusterCount() : 0,
                         m_look.marker, static_cast<int>(m_activeSamples.size()), clusters ? m_activeCluster : -1);
    program.setUniform4f(program.uniformLocation("markerRange"), range.first, range.second,
                         range.second - range.first, pointScaleFactor());
    program.setUniform1i(program.uniformLocation("flipY"), size > 0 ? 1 : 0);
    program.setUniform4f(program.uniformLocation("visParams"), m_look.pointSize, m_look.pointOpacity, m_look.haloSize,
                         static_cast<float>(m_look.advancedMode));
    program.setUniform4f(program.uniformLocation("colormapParams"), m_look.colormapDiscrete[0] ? 1.0f : -1.0f,
                         static_cast<float>(m_previewFlag), 0.0f, 0.0f);
    program.setSampler("colormapSampler", 0, GL_TEXTURE_1D,
                m_look.marker < 0 ? m_sampleColorTexture : m_colormapTexture);
    program.setSampler("clusterIdSampler", 1, GL_TEXTURE_2D, m_clusterIdTexture);
    program.setSampler("activeSampleSampler", 2, GL_TEXTURE_1D, m_activeSampleTexture);
    glBindVertexArray(m_vertexArray);
    {
        VertexAttributes attributes(program);
        attributes.floats("position", m_positionsBuffer, 2);
        attributes.floats("markerBuffer", m_markerBuffer, 1);
        attributes.integers("selectionBuffer", m_selectionBuffer, GL_UNSIGNED_SHORT);
        attributes.floats("scaleBuffer", m_scaleBuffer, 1);
        bindSampleIds(attributes);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, m_drawOrderBuffer);
        glDrawElements(GL_POINTS, m_pointCount, GL_UNSIGNED_INT, nullptr);
    }
    glBindVertexArray(0);
    program.unbind();
}

void PointRenderer::drawSelectionRect()
{
    if (!m_showSelectionRect || !m_glReady || !m_programsReady)
        return;
    glViewport(m_rectPixels[0], m_rectPixels[1], m_rectPixels[4], m_rectPixels[5]);
    GlslProgram& program = *m_programs[SingleColorProgram];
    program.bind();
    program.setUniformMatrix4fv(program.uniformLocation("modelViewProjectionMatrix"), m_mvp.data());
    const int color = program.uniformLocation("color");
    glBindVertexArray(m_vertexArray);
    {
        VertexAttributes attributes(program);
        attributes.floats("position", m_rectangleBuffer, 2);
        program.setUniform4f(color, 60.0f / 255.0f, 150.0f / 255.0f, 250.0f / 255.0f, 1.0f);
        glDrawArrays(GL_LINE_STRIP, 0, 5);
        program.setUniform4f(color, 60.0f / 255.0f, 150.0f / 255.0f, 250.0f / 255.0f, 0.05f);
        glDrawArrays(GL_TRIANGLES, 0, 6);
    }
    glBindVertexArray(0);
    program.unbind();
}
