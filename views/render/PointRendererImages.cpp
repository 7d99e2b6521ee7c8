// Offscreen images: screenshots and the analysis' previews.
#include "render/PointRenderer.h"

#include "analyses/MCV_Analysis.h"
#include "analyses/MCV_HsneAnalysis.h"

#include <GL/glew.h>

#include <iostream>

void PointRenderer::drawOffscreen(int mode, int size)
{
    if (!m_glReady || !m_screenshotFramebufferUsable)
        return;
    // Points need no density; a density image does.
    if (mode == 3 && m_densityDirty) {
        computeDensity();
        m_densityDirty = false;
    }
    glBindFramebuffer(GL_FRAMEBUFFER, m_screenshotFramebuffer);
    glDrawBuffer(GL_COLOR_ATTACHMENT0);
    setClearColor(m_screenshotMode ? m_screenshotBackground : std::array<float, 4>{1.0f, 1.0f, 1.0f, 1.0f});
    if (mode == 0)
        drawPoints(size);
    else if (mode == 3)
        drawDensity(size);
    glBindFramebuffer(GL_FRAMEBUFFER, m_targetFramebuffer);
    setClearColor(m_clearColor);
}

void PointRenderer::readOffscreen(int size, std::vector<unsigned char>& output)
{
    output.resize(static_cast<size_t>(size) * static_cast<size_t>(size) * 3);
    glBindFramebuffer(GL_FRAMEBUFFER, m_screenshotFramebuffer);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, size, size, GL_RGB, GL_UNSIGNED_BYTE, output.data());
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glBindFramebuffer(GL_FRAMEBUFFER, m_targetFramebuffer);
}

bool PointRenderer::renderScreenshot(int mode, int size, std::vector<unsigned char>& output)
{
    if (size <= 0 || size > m_maxOffscreenSize)
        return false;
    if (!m_glReady || !m_screenshotFramebufferUsable) {
        std::cout << "Point Renderer: no screenshot framebuffer; no screenshot taken." << std::endl;
        return false;
    }
    const int effectiveMode = mode >= 0 ? mode : m_screenshotMode ? 0 : m_look.renderMode;
    drawOffscreen(effectiveMode, size);
    readOffscreen(size, output);
    return true;
}

void PointRenderer::renderPreviews()
{
    if (!m_glReady)
        return;
    if (m_clustersDirty) {
        computeDensity();
        m_densityDirty = false;
        computeGradient();
        computeMeanShift();
    }
    const int advancedMode = m_look.advancedMode;
    const int previewFlag = m_previewFlag;
    const float pointSize = m_look.pointSize;
    const float opacity = m_look.pointOpacity;
    const float haloSize = m_look.haloSize;
    m_look.advancedMode = 0; // cluster colours
    m_previewFlag = 1;

    // Point size, opacity and halo per image size: the first set for
    // events, the finer second set for the landmarks above scale 0.
    struct PreviewLook
    {
        int size;
        float pointSize;
        float opacity;
        float haloSize;
    };
    const PreviewLook eventLooks[] = {
        {768, 0.015f, 0.8f, 0.2f}, {384, 0.025f, 0.6f, 0.1f}, {192, 0.035f, 0.35f, 0.05f}};
    const PreviewLook landmarkLooks[] = {
        {768, 0.01f, 0.8f, 0.2f}, {384, 0.015f, 0.5f, 0.05f}, {192, 0.025f, 0.25f, 0.0f}};
    const MCV_HsneAnalysis* level = dynamic_cast<const MCV_HsneAnalysis*>(m_analysis);
    const PreviewLook* looks = level != nullptr && level->scale() > 0 ? landmarkLooks : eventLooks;
    std::vector<unsigned char*> images;
    for (size_t i = 0; i < m_previewImages.size(); ++i) {
        const PreviewLook& look = looks[i];
        m_previewImages[i].clear();
        if (m_screenshotFramebufferUsable && m_maxOffscreenSize > look.size - 1) {
            m_look.pointSize = look.pointSize;
            m_look.pointOpacity = look.opacity;
            m_look.haloSize = look.haloSize;
            drawOffscreen(0, look.size);
            readOffscreen(look.size, m_previewImages[i]);
        }
        images.push_back(m_previewImages[i].empty() ? nullptr : m_previewImages[i].data());
    }
    if (m_analysis != nullptr)
        m_analysis->setPreviewImages(images);

    m_look.advancedMode = advancedMode;
    m_previewFlag = previewFlag;
    m_look.pointSize = pointSize;
    m_look.pointOpacity = opacity;
    m_look.haloSize = haloSize;
}
