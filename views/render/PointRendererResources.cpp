// The renderer's GL objects: programs, buffers, textures and framebuffers,
// built from the CPU-side copies and released with every name zeroed.
#include "render/PointRenderer.h"

#include "render/GlslProgram.h"

#include <GL/glew.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <numeric>
#include <random>

namespace {

/// Where a non-finite coordinate is drawn: far outside the view and every kernel.
constexpr float farOutside = -1.0e4f;

struct ProgramStages
{
    const char* vertex;
    const char* geometry;
    const char* fragment;
    const char* name;
};

// In the order of PointRenderer::Program.
const ProgramStages programStages[] = {
    {"glslProgramSimplePoints_vertex", "glslProgramSimplePoints_geometry", "glslProgramSimplePointsMarkers_fragment",
     "glslProgramSimplePointsMarkers"},
    {"glslProgramBasicGL_vertex", "", "glslProgramBasicGL_fragment", "glslProgramSingleColor"},
    {"glslProgramBasicGL_vertex", "glslProgramBasicGL_geometry", "glslProgramSimplePoints_fragment",
     "glslProgramSimplePoints"},
    {"glslProgramBasicGL_vertex", "", "glslProgramSimplePointsDensity_fragment", "glslProgramSimplePointsDensity"},
    {"glslProgramSimplePointsDensityOffscreen_vertex", "glslProgramSimplePointsDensityOffscreen_geometry",
     "glslProgramSimplePointsDensityOffscreen_fragment", "glslProgramSimplePointsDensityOffscreen"},
    {"glslProgramBasicGL_vertex", "", "glslProgramGradientOffscreen_fragment", "glslProgramGradientOffscreen"},
    {"glslProgramBasicGL_vertex", "", "glslProgramMeanShiftOffscreen_fragment", "glslProgramMeanShiftOffscreen"},
};

void deleteBuffer(GLuint& name)
{
    if (name != 0)
        glDeleteBuffers(1, &name);
    name = 0;
}

void deleteTexture(GLuint& name)
{
    if (name != 0)
        glDeleteTextures(1, &name);
    name = 0;
}

void deleteFramebuffer(GLuint& name)
{
    if (name != 0)
        glDeleteFramebuffers(1, &name);
    name = 0;
}

void setTextureParameters(GLenum target, GLint filter)
{
    glTexParameteri(target, GL_TEXTURE_MIN_FILTER, filter);
    glTexParameteri(target, GL_TEXTURE_MAG_FILTER, filter);
    glTexParameteri(target, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    if (target == GL_TEXTURE_2D)
        glTexParameteri(target, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
}

/// Creates a texture name (when it is 0) with its filter, clamped to its edges.
void createTextureName(GLuint& name, GLenum target, GLint filter)
{
    if (name == 0)
        glGenTextures(1, &name);
    glBindTexture(target, name);
    setTextureParameters(target, filter);
    glBindTexture(target, 0);
}

/// Creates a buffer (when its name is 0) and gives it size bytes of data.
void fillBuffer(GLuint& name, GLenum target, size_t bytes, const void* data, GLenum usage)
{
    if (name == 0)
        glGenBuffers(1, &name);
    glBindBuffer(target, name);
    glBufferData(target, static_cast<GLsizeiptr>(bytes), data, usage);
}

} // namespace

bool PointRenderer::contextUsable()
{
    const GLubyte* version = glGetString(GL_VERSION);
    if (version == nullptr)
        return false;
    int major = 0;
    int minor = 0;
    if (std::sscanf(reinterpret_cast<const char*>(version), "%d.%d", &major, &minor) != 2)
        return false;
    if (major * 10 + minor < 33)
        return false;
    // Entry points beyond OpenGL 1.1 come through GLEW; all must be there.
    const void* entryPoints[] = {
        reinterpret_cast<const void*>(glGenVertexArrays),     reinterpret_cast<const void*>(glBindVertexArray),
        reinterpret_cast<const void*>(glGenBuffers),          reinterpret_cast<const void*>(glBufferSubData),
        reinterpret_cast<const void*>(glVertexAttribPointer), reinterpret_cast<const void*>(glVertexAttribIPointer),
        reinterpret_cast<const void*>(glVertexAttribI1i),     reinterpret_cast<const void*>(glGenFramebuffers),
        reinterpret_cast<const void*>(glFramebufferTexture2D), reinterpret_cast<const void*>(glCheckFramebufferStatus),
        reinterpret_cast<const void*>(glDrawBuffers),         reinterpret_cast<const void*>(glCreateShader),
        reinterpret_cast<const void*>(glUniform4i),           reinterpret_cast<const void*>(glActiveTexture),
        reinterpret_cast<const void*>(glBlendFuncSeparate),
    };
    return std::all_of(std::begin(entryPoints), std::end(entryPoints), [](const void* p) { return p != nullptr; });
}

// ---- GL life ---------------------------------------------------------------------

void PointRenderer::init()
{
    release();
    m_glReady = contextUsable();
    if (!m_glReady) {
        std::cout << "Point Renderer: no OpenGL 3.3 context with its functions loaded; nothing is drawn."
                  << std::endl;
        return;
    }
    loadPrograms();
    compilePrograms();
    createTextures();
    // The new grids hold no density: it is splatted anew when next needed.
    // Clusters found for this embedding stay and go into the new objects.
    m_densityDirty = true;
    uploadPositions();
    uploadAllData();
    if (!m_clustersDirty)
        restoreClusterGrids();
    glEnable(GL_PROGRAM_POINT_SIZE);
    glEnable(GL_CULL_FACE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glClearColor(m_clearColor[0], m_clearColor[1], m_clearColor[2], m_clearColor[3]);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void PointRenderer::release()
{
    releasePrograms();
    releaseTextures();
    m_glReady = false;
}

bool PointRenderer::loadPrograms()
{
    if (!m_glReady)
        return false;
    bool allExist = true;
    for (int p = 0; p < ProgramCount; ++p) {
        m_programs[p] = std::make_unique<GlslProgram>();
        const ProgramStages& stages = programStages[p];
        m_programs[p]->load(stages.vertex, stages.geometry, stages.fragment, stages.name);
        allExist = allExist && m_programs[p]->programId() != 0;
    }
    m_programsReady = allExist;
    if (!allExist) {
        std::cout << "Could not load shader programs for Point Renderer." << std::endl;
        releasePrograms();
    }
    return allExist;
}

void PointRenderer::compilePrograms()
{
    for (auto& program : m_programs)
        if (program)
            program->compileAndLink();
}

void PointRenderer::releasePrograms()
{
    for (auto& program : m_programs) {
        if (program)
            program->release();
        program.reset();
    }
    m_programsReady = false;
}

void PointRenderer::createTextures()
{
    createBuffers();
    createFramebuffers();
    createColormapTexture();
    createGaussianKernelTexture();
    createActiveSampleTexture();
    createSampleColorTexture();
}

// ---- Buffers ---------------------------------------------------------------------

void PointRenderer::createBuffers()
{
    if (!m_glReady)
        return;
    const size_t n = static_cast<size_t>(m_pointCount);
    if (m_vertexArray == 0)
        glGenVertexArrays(1, &m_vertexArray);
    glBindVertexArray(m_vertexArray);

    fillBuffer(m_positionsBuffer, GL_ARRAY_BUFFER, 2 * n * sizeof(float), nullptr, GL_DYNAMIC_DRAW);

    // Drawn in a fixed random order, so no file or cluster always lies on top.
    m_drawOrder.resize(n);
    std::iota(m_drawOrder.begin(), m_drawOrder.end(), 0u);
    std::shuffle(m_drawOrder.begin(), m_drawOrder.end(), std::mt19937());
    fillBuffer(m_drawOrderBuffer, GL_ELEMENT_ARRAY_BUFFER, n * sizeof(unsigned), m_drawOrder.data(), GL_STATIC_DRAW);

    const float quad[] = {0.0f, 1.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f, 0.0f};
    fillBuffer(m_quadBuffer, GL_ARRAY_BUFFER, sizeof(quad), quad, GL_STATIC_DRAW);
    const float rectangle[] = {0.001f, 0.001f, 1.0f, 0.001f, 1.0f, 1.0f, 0.001f, 1.0f, 0.001f, 0.0f, 1.0f, 1.0f};
    fillBuffer(m_rectangleBuffer, GL_ARRAY_BUFFER, sizeof(rectangle), rectangle, GL_STATIC_DRAW);
    fillBuffer(m_centresBuffer, GL_ARRAY_BUFFER, 2 * n * sizeof(float), nullptr, GL_DYNAMIC_DRAW);
    fillBuffer(m_markerBuffer, GL_ARRAY_BUFFER, n * sizeof(float), nullptr, GL_STATIC_DRAW);

    m_selectionFlags.resize(n);
    fillBuffer(m_selectionBuffer, GL_ARRAY_BUFFER, n * sizeof(uint16_t), m_selectionFlags.data(), GL_DYNAMIC_DRAW);
    m_pointScales.resize(n);
    fillBuffer(m_scaleBuffer, GL_ARRAY_BUFFER, n * sizeof(float), m_pointScales.data(), GL_DYNAMIC_DRAW);
    m_sampleIds.resize(n);
    fillBuffer(m_sampleIdBuffer, GL_ARRAY_BUFFER, n * sizeof(int), m_sampleIds.data(), GL_STATIC_DRAW);

    glBindVertexArray(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}

void PointRenderer::recreateBuffers()
{
    releaseBuffers();
    createBuffers();
}

void PointRenderer::releaseBuffers()
{
    if (m_vertexArray == 0)
        return;
    glBindVertexArray(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    for (GLuint* buffer : {&m_positionsBuffer, &m_drawOrderBuffer, &m_centresBuffer, &m_quadBuffer,
                           &m_rectangleBuffer, &m_markerBuffer, &m_selectionBuffer, &m_scaleBuffer,
                           &m_sampleIdBuffer})
        deleteBuffer(*buffer);
    glDeleteVertexArrays(1, &m_vertexArray);
    m_vertexArray = 0;
}

void PointRenderer::uploadPositions()
{
    if (const std::vector<float>* source = positionsSource())
        m_positionsFinite = normalizePositions(*source);
    else if (m_pointCount > 0)
        std::cout << "Point Renderer: the embedding does not hold " << m_pointCount
                  << " points; the positions stay as they were." << std::endl;
    if (m_vertexArray == 0 || m_normalizedPositions.size() != 2 * static_cast<size_t>(m_pointCount))
        return;
    const GLsizeiptr bytes = static_cast<GLsizeiptr>(m_normalizedPositions.size() * sizeof(float));
    glBindBuffer(GL_ARRAY_BUFFER, m_positionsBuffer);
    if (m_positionsFinite) {
        glBufferSubData(GL_ARRAY_BUFFER, 0, bytes, m_normalizedPositions.data());
    } else {
        // Points with a non-finite coordinate go far outside the view, so no
        // pass draws, splats or grids them.
        m_drawnPositions.resize(m_normalizedPositions.size());
        std::transform(m_normalizedPositions.begin(), m_normalizedPositions.end(), m_drawnPositions.begin(),
                       [](float c) { return std::isfinite(c) ? c : farOutside; });
        glBufferSubData(GL_ARRAY_BUFFER, 0, bytes, m_drawnPositions.data());
    }
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}

void PointRenderer::uploadAllData()
{
    uploadMarkerValues();
    if (m_vertexArray != 0) {
        glBindBuffer(GL_ARRAY_BUFFER, m_selectionBuffer);
        glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(m_selectionFlags.size() * sizeof(uint16_t)),
                        m_selectionFlags.data());
        glBindBuffer(GL_ARRAY_BUFFER, 0);
    }
    uploadScales();
    uploadSampleIds();
    updateActiveSampleTexture();
    updateSampleColorTexture();
}

void PointRenderer::uploadScales()
{
    if (m_vertexArray == 0)
        return;
    m_pointScales.resize(static_cast<size_t>(m_pointCount));
    glBindBuffer(GL_ARRAY_BUFFER, m_scaleBuffer);
    glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(m_pointScales.size() * sizeof(float)),
                    m_pointScales.data());
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}

void PointRenderer::uploadSampleIds()
{
    if (m_vertexArray == 0)
        return;
    m_sampleIds.resize(static_cast<size_t>(m_pointCount));
    glBindBuffer(GL_ARRAY_BUFFER, m_sampleIdBuffer);
    glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(m_sampleIds.size() * sizeof(int)),
                    m_sampleIds.data());
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}

// ---- Framebuffers ------------------------------------------------------------------

GlName PointRenderer::createGridTexture(int internalFormat, unsigned format, unsigned type, int filter,
                                        const void* data)
{
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    setTextureParameters(GL_TEXTURE_2D, filter);
    const GLsizei res = static_cast<GLsizei>(m_look.msGridSize);
    glTexImage2D(GL_TEXTURE_2D, 0, internalFormat, res, res, 0, format, type, data);
    glBindTexture(GL_TEXTURE_2D, 0);
    return texture;
}

bool PointRenderer::createDensityFramebuffer(int internalFormat)
{
    glGenFramebuffers(1, &m_densityFramebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, m_densityFramebuffer);
    for (size_t a = 0; a < m_densityTextures.size(); ++a) {
        m_densityTextures[a] = createGridTexture(internalFormat, GL_RGB, GL_FLOAT, GL_LINEAR, nullptr);
        glFramebufferTexture2D(GL_FRAMEBUFFER, static_cast<GLenum>(GL_COLOR_ATTACHMENT0 + a), GL_TEXTURE_2D,
                               m_densityTextures[a], 0);
    }
    const bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    glBindFramebuffer(GL_FRAMEBUFFER, m_targetFramebuffer);
    if (!complete) {
        for (GLuint& texture : m_densityTextures)
            deleteTexture(texture);
        deleteFramebuffer(m_densityFramebuffer);
    }
    return complete;
}

void PointRenderer::createScreenshotFramebuffer()
{
    glGenFramebuffers(1, &m_screenshotFramebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, m_screenshotFramebuffer);
    glGenTextures(1, &m_screenshotTexture);
    glBindTexture(GL_TEXTURE_2D, m_screenshotTexture);
    setTextureParameters(GL_TEXTURE_2D, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB8, m_maxOffscreenSize, m_maxOffscreenSize, 0, GL_RGB, GL_UNSIGNED_BYTE,
                 nullptr);
    glBindTexture(GL_TEXTURE_2D, 0);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, m_screenshotTexture, 0);
    m_screenshotFramebufferUsable = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    glBindFramebuffer(GL_FRAMEBUFFER, m_targetFramebuffer);
    if (!m_screenshotFramebufferUsable) {
        std::cout << "Point Renderer: the screenshot framebuffer is incomplete; no screenshots or previews."
                  << std::endl;
        deleteTexture(m_screenshotTexture);
        deleteFramebuffer(m_screenshotFramebuffer);
    }
}

void PointRenderer::createFramebuffers()
{
    if (!m_glReady)
        return;
    GLint maxTextureSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTextureSize);
    if (maxTextureSize < static_cast<GLint>(m_squareSide)) {
        std::cout << "Current view size is not supported.\n";
        return;
    }
    if (m_densityFramebuffer == 0) {
        // Three-channel float targets need not be renderable; four always are.
        m_densityFramebufferUsable = createDensityFramebuffer(GL_RGB32F) || createDensityFramebuffer(GL_RGBA32F);
        if (!m_densityFramebufferUsable)
            std::cout << "Point Renderer: no float framebuffer; density display and clusters are off." << std::endl;
    }
    if (m_clusterIdTexture == 0) {
        const size_t cells = static_cast<size_t>(m_look.msGridSize) * m_look.msGridSize;
        if (m_clusterIdImage.size() != cells)
            m_clusterIdImage.assign(cells, -1);
        m_clusterIdTexture = createGridTexture(GL_R32I, GL_RED_INTEGER, GL_INT, GL_NEAREST, m_clusterIdImage.data());
    }
    if (maxTextureSize < m_maxOffscreenSize) {
        std::cout << "High-res screenshots are not supported.\n";
        return;
    }
    if (m_screenshotFramebuffer == 0)
        createScreenshotFramebuffer();
}

void PointRenderer::recreateFramebuffers()
{
    releaseFramebuffers();
    createFramebuffers();
}

void PointRenderer::releaseFramebuffers()
{
    for (GLuint& texture : m_densityTextures)
        deleteTexture(texture);
    deleteTexture(m_clusterIdTexture);
    deleteFramebuffer(m_densityFramebuffer);
    deleteTexture(m_screenshotTexture);
    deleteFramebuffer(m_screenshotFramebuffer);
    m_densityFramebufferUsable = false;
    m_screenshotFramebufferUsable = false;
}

void PointRenderer::releaseTextures()
{
    releaseBuffers();
    releaseFramebuffers();
    deleteTexture(m_colormapTexture);
    deleteTexture(m_gaussTexture);
    deleteTexture(m_activeSampleTexture);
    deleteTexture(m_sampleColorTexture);
}

// ---- Textures ------------------------------------------------------------------------

void PointRenderer::createColormapTexture()
{
    if (!m_glReady)
        return;
    createTextureName(m_colormapTexture, GL_TEXTURE_1D, GL_LINEAR);
    updateColormapTexture();
}

void PointRenderer::updateColormapTexture()
{
    if (m_colormapTexture == 0)
        return;
    glBindTexture(GL_TEXTURE_1D, m_colormapTexture);
    glTexImage1D(GL_TEXTURE_1D, 0, GL_RGB8, colormapWidth, 0, GL_RGB, GL_UNSIGNED_BYTE,
                 m_colormaps[static_cast<size_t>(getColormap())].data());
    glBindTexture(GL_TEXTURE_1D, 0);
}

void PointRenderer::createGaussianKernelTexture()
{
    if (!m_glReady)
        return;
    createTextureName(m_gaussTexture, GL_TEXTURE_2D, GL_LINEAR);
    const std::vector<float> kernel = gaussianKernel();
    glBindTexture(GL_TEXTURE_2D, m_gaussTexture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_R32F, 32, 32, 0, GL_RED, GL_FLOAT, kernel.data());
    glBindTexture(GL_TEXTURE_2D, 0);
}

void PointRenderer::createActiveSampleTexture()
{
    if (!m_glReady)
        return;
    createTextureName(m_activeSampleTexture, GL_TEXTURE_1D, GL_NEAREST);
    updateActiveSampleTexture();
}

void PointRenderer::updateActiveSampleTexture()
{
    if (m_activeSampleTexture == 0)
        return;
    // One texel per file flag; the shaders draw no point of a file beyond them.
    // An empty list keeps one cleared texel so the texture stays complete.
    std::vector<int> flags(m_activeSamples);
    if (flags.empty())
        flags.push_back(0);
    glBindTexture(GL_TEXTURE_1D, m_activeSampleTexture);
    glTexImage1D(GL_TEXTURE_1D, 0, GL_R32I, static_cast<GLsizei>(flags.size()), 0, GL_RED_INTEGER, GL_INT,
                 flags.data());
    glBindTexture(GL_TEXTURE_1D, 0);
}

void PointRenderer::createSampleColorTexture()
{
    if (!m_glReady)
        return;
    createTextureName(m_sampleColorTexture, GL_TEXTURE_1D, GL_NEAREST);
    updateSampleColorTexture();
}

void PointRenderer::updateSampleColorTexture()
{
    if (m_sampleColorTexture == 0)
        return;
    // One texel per file flag, so a file's texel centre is (file + 0.5) / flags;
    // files without a colour given are black.
    const size_t files = std::max<size_t>(1, m_activeSamples.size());
    std::vector<unsigned char> texels(files * 3, 0);
    std::copy_n(m_sampleColors.begin(), std::min(texels.size(), m_sampleColors.size() / 3 * 3), texels.begin());
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glBindTexture(GL_TEXTURE_1D, m_sampleColorTexture);
    glTexImage1D(GL_TEXTURE_1D, 0, GL_RGB8, static_cast<GLsizei>(files), 0, GL_RGB, GL_UNSIGNED_BYTE, texels.data());
    glBindTexture(GL_TEXTURE_1D, 0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
}

// ---- Names for views and tests ----------------------------------------------------------

PointRenderer::GlNames PointRenderer::glNames() const
{
    GlNames names;
    names.buffers = {m_positionsBuffer, m_drawOrderBuffer, m_centresBuffer, m_quadBuffer,  m_rectangleBuffer,
                     m_markerBuffer,    m_selectionBuffer, m_scaleBuffer,   m_sampleIdBuffer};
    names.textures = {m_activeSampleTexture, m_colormapTexture, m_sampleColorTexture, m_gaussTexture,
                      m_clusterIdTexture,    m_densityTextures[0], m_densityTextures[1], m_densityTextures[2],
                      m_screenshotTexture};
    names.framebuffers = {m_densityFramebuffer, m_screenshotFramebuffer};
    names.vertexArray = m_vertexArray;
    for (const auto& program : m_programs) {
        names.programs.push_back(program ? program->programId() : 0);
        for (GLuint shader : {program ? program->vertexShaderId() : 0u, program ? program->geometryShaderId() : 0u,
                              program ? program->fragmentShaderId() : 0u})
            names.shaders.push_back(shader);
    }
    return names;
}
