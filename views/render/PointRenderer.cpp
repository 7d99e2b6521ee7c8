// The renderer's CPU side: defaults, colour maps, the data it is given and
// the settings it keeps. GL objects live in PointRendererResources.cpp.
#include "render/PointRenderer.h"

#include "render/GlslProgram.h"

#include <GL/glew.h>

#include "analyses/MCV_HsneAnalysis.h"
#include "analyses/MCV_TsneAnalysis.h"
#include "data/DefaultStateStore.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataHierarchy.h"

#include <QImage>
#include <QString>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>

namespace {

/// Registry samples when the renderer is made; no registry means none.
int loadedSampleCount()
{
    return MCV_DataRegistry::currentGeneration() != 0 ? MCV_DataRegistry::instance()->sampleCount() : 0;
}

MCV_TsneAnalysis* asTsne(MCV_Analysis* analysis)
{
    if (analysis == nullptr || analysis->analysisType() != MCV_AnalysisTypeTsne)
        return nullptr;
    return dynamic_cast<MCV_TsneAnalysis*>(analysis);
}

MCV_HsneAnalysis* asHsne(MCV_Analysis* analysis)
{
    if (analysis == nullptr || analysis->analysisType() != MCV_AnalysisTypeHsne)
        return nullptr;
    return dynamic_cast<MCV_HsneAnalysis*>(analysis);
}

} // namespace

const std::array<const char*, 15> PointRenderer::colormapNames{
    "Spectral", "RdYlBu", "PiYG", "PuOr", "Magma", "Plasma", "Viridis", "RdPu",
    "YlGnBu",   "GnBu",   "BuPu", "YlOrRd", "Reds", "qualitative", "Q_BlGrRd"};

PointRenderer::PointRenderer()
{
    for (const char* name : colormapNames)
        m_colormaps.push_back(loadColormapImage(std::string(":/colormaps/") + name + ".png"));
    const int samples = loadedSampleCount();
    m_sampleSelection.assign(static_cast<size_t>(samples), true);
    m_activeSamples.assign(static_cast<size_t>(samples), 1);
    m_clusterIdImage.assign(static_cast<size_t>(m_look.msGridSize) * m_look.msGridSize, -1);
    m_pixelModeImage.assign(static_cast<size_t>(m_look.msGridSize) * m_look.msGridSize, -1);
}

PointRenderer::~PointRenderer() = default;

std::vector<unsigned char> PointRenderer::loadColormapImage(const std::string& path)
{
    const QImage image = QImage(QString::fromStdString(path)).convertToFormat(QImage::Format_RGB888);
    std::vector<unsigned char> bytes;
    if (image.width() == colormapWidth && image.height() == 1) {
        const unsigned char* row = image.constScanLine(0);
        bytes.assign(row, row + colormapWidth * 3);
        return bytes;
    }
    std::cout << "Point Renderer: colour map " << path << " is not a 200 x 1 image; a grey ramp replaces it."
              << std::endl;
    for (int i = 0; i < colormapWidth; ++i)
        bytes.insert(bytes.end(), 3, static_cast<unsigned char>(i * 255 / (colormapWidth - 1)));
    return bytes;
}

std::vector<float> PointRenderer::gaussianKernel()
{
    std::vector<float> kernel(32 * 32);
    for (int j = 0; j < 32; ++j)
        for (int i = 0; i < 32; ++i) {
            const double d2 = static_cast<double>((i - 16) * (i - 16) + (j - 16) * (j - 16));
            kernel[static_cast<size_t>(j * 32 + i)] =
                static_cast<float>(std::exp(-d2 / 56.888888888888886) / 178.7217153991111 * 1000.0);
        }
    return kernel;
}

// ---- Data in ------------------------------------------------------------------

void PointRenderer::setAnalysis(MCV_Analysis* analysis, int markerCount)
{
    m_analysis = analysis;
    if (MCV_TsneAnalysis* tsne = asTsne(analysis))
        setData(&tsne->embeddingPositions(), &tsne->markerValues(), tsne->pointCount(), markerCount,
                tsne->sampleIndices(), false);
    else if (MCV_HsneAnalysis* level = asHsne(analysis))
        setData(&level->embeddingPositions(), &level->markerValues(), level->pointCount(), markerCount,
                level->sampleIndices(), true);
}

void PointRenderer::setData(const std::vector<float>* positions, const std::vector<float>* markers, int pointCount,
                            int markerCount, const int* sampleIds, bool pointScales)
{
    m_callerPositions = positions;
    m_callerMarkers = markers;
    m_callerSampleIds = sampleIds;
    m_pointCount = std::max(0, pointCount);
    m_markerCount = std::max(0, markerCount);
    const size_t n = static_cast<size_t>(m_pointCount);
    m_normalizedPositions.assign(2 * n, std::numeric_limits<float>::quiet_NaN());
    m_hasSampleIds = sampleIdsSource() != nullptr;
    // Point scales come from a hierarchical analysis' landmark weights; no
    // other source provides them.
    m_pointScalesInUse = false;
    m_pointScaleMax = -1.0f;
    m_pointScales.assign(n, 0.0f);
    if (pointScales)
        computePointScales();
    m_selectionFlags.assign(n, 0);
    m_selectedIndices.clear();
    recreateBuffers();
    uploadData();
}

void PointRenderer::computePointScales()
{
    MCV_HsneAnalysis* level = asHsne(m_analysis);
    if (level == nullptr || level->pointCount() != m_pointCount)
        return;
    std::vector<bool> bits = m_sampleSelection;
    // Without a file selection every file is shown.
    if (m_callerSampleSelection == nullptr)
        bits.assign(std::max<size_t>(m_activeSamples.size(), static_cast<size_t>(loadedSampleCount())), true);
    std::vector<float> weights;
    const float largest = level->landmarkSelectionWeights(bits, weights);
    // Scale 0, reopened files, or no usable weight: every point at its own size.
    if (!(largest > 0.0f) || !std::isfinite(largest) || weights.size() != static_cast<size_t>(m_pointCount)) {
        m_pointScalesInUse = false;
        m_pointScaleMax = -1.0f;
        return;
    }
    m_pointScales = std::move(weights);
    m_pointScaleMax = largest;
    m_pointScalesInUse = true;
}

const std::vector<float>* PointRenderer::positionsSource() const
{
    const std::vector<float>* source = m_callerPositions;
    if (MCV_TsneAnalysis* tsne = asTsne(m_analysis))
        source = &tsne->embeddingPositions();
    else if (MCV_HsneAnalysis* level = asHsne(m_analysis))
        source = &level->embeddingPositions();
    if (source == nullptr || source->size() != 2 * static_cast<size_t>(m_pointCount))
        return nullptr;
    return source;
}

const std::vector<float>* PointRenderer::markersSource() const
{
    if (MCV_TsneAnalysis* tsne = asTsne(m_analysis))
        return &tsne->markerValues();
    if (MCV_HsneAnalysis* level = asHsne(m_analysis))
        return &level->markerValues();
    return m_callerMarkers;
}

const int* PointRenderer::sampleIdsSource() const
{
    if (MCV_TsneAnalysis* tsne = asTsne(m_analysis))
        return tsne->pointCount() == m_pointCount ? tsne->sampleIndices() : nullptr;
    if (MCV_HsneAnalysis* level = asHsne(m_analysis))
        return level->pointCount() == m_pointCount ? level->sampleIndices() : nullptr;
    return m_callerSampleIds;
}

void PointRenderer::uploadData()
{
    uploadPositions();
    m_densityDirty = true;
    m_clustersDirty = true;

    // The row width comes from the buffer itself, so a caller's marker count
    // (the current header's, possibly larger) never makes us read past it.
    const size_t n = static_cast<size_t>(m_pointCount);
    const std::vector<float>* markers = markersSource();
    m_markerRowWidth = (markers != nullptr && n > 0) ? static_cast<int>(markers->size() / n) : 0;
    if (markers != nullptr && n > 0)
        m_markers.assign(markers->begin(), markers->begin() + static_cast<std::ptrdiff_t>(n * m_markerRowWidth));
    else
        m_markers.clear();
    computeMarkerRanges();

    m_sampleIds.assign(n, 0);
    if (const int* ids = sampleIdsSource()) {
        std::copy(ids, ids + n, m_sampleIds.begin());
        // An analysis computed before the files were reopened numbers them as
        // they were loaded then; the sample panel's rows follow the live ones.
        if (const std::vector<std::string>* keys = formerSampleKeys())
            renumberSampleIds(DefaultStateStore::renumbering(*keys, MCV_DataRegistry::instance()->sampleKeys()));
    }
    uploadAllData();
}

const std::vector<std::string>* PointRenderer::formerSampleKeys() const
{
    const uint64_t live = MCV_DataRegistry::currentGeneration();
    if (live == 0)
        return nullptr;
    if (MCV_TsneAnalysis* tsne = asTsne(m_analysis))
        return tsne->pointsGeneration() != live ? &tsne->sampleKeys() : nullptr;
    if (MCV_HsneAnalysis* level = asHsne(m_analysis)) {
        const MCV_DerivedDataHierarchy* hierarchy = level->hierarchy().get();
        return hierarchy != nullptr && hierarchy->registryGeneration() != live ? &hierarchy->sampleKeys() : nullptr;
    }
    return nullptr;
}

void PointRenderer::renumberSampleIds(const std::vector<int>& newIndex)
{
    for (int& id : m_sampleIds)
        id = id >= 0 && static_cast<size_t>(id) < newIndex.size() ? newIndex[static_cast<size_t>(id)] : -1;
}

void PointRenderer::refreshEmbedding()
{
    uploadPositions();
    m_densityDirty = true;
    m_clustersDirty = true;
}

bool PointRenderer::normalizePositions(const std::vector<float>& source)
{
    // One range over both axes keeps the embedding's aspect ratio. Non-finite
    // coordinates take no part and stay non-finite. This runs after every
    // iteration, beside the engine's threads: one thread passes 10^6 points
    // in about a millisecond, where a parallel region waits for every thread
    // a busy machine schedules late.
    const size_t points = source.size() / 2;
    const float* in = source.data();
    const float huge = std::numeric_limits<float>::infinity();
    float lowX = huge, lowY = huge, highX = -huge, highY = -huge;
    bool allFinite = true;
    for (size_t k = 0; k < points; ++k) {
        const float x = in[2 * k];
        const float y = in[2 * k + 1];
        if (std::isfinite(x)) {
            lowX = std::min(lowX, x);
            highX = std::max(highX, x);
        } else {
            allFinite = false;
        }
        if (std::isfinite(y)) {
            lowY = std::min(lowY, y);
            highY = std::max(highY, y);
        } else {
            allFinite = false;
        }
    }
    const float low = std::min(lowX, lowY);
    const float range = std::max(highX, highY) - low;
    // Every finite point in one place (one point, a collapsed embedding):
    // all of them in the middle.
    const bool collapsed = !(highX > lowX || highY > lowY) || !std::isfinite(range);
    const float scale = 0.8f / range;
    m_normalizedPositions.resize(source.size());
    float* out = m_normalizedPositions.data();
    const size_t count = source.size();
    if (allFinite && !collapsed) {
        for (size_t i = 0; i < count; ++i)
            out[i] = (in[i] - low) * scale + 0.1f;
        return true;
    }
    for (size_t i = 0; i < count; ++i) {
        const float c = in[i];
        out[i] = !std::isfinite(c) ? c : collapsed ? 0.5f : (c - low) * scale + 0.1f;
    }
    return allFinite;
}

void PointRenderer::computeMarkerRanges()
{
    // Per marker, over the finite values only; none finite gives (0, 1).
    const int width = m_markerRowWidth;
    const std::ptrdiff_t n = static_cast<std::ptrdiff_t>(m_pointCount);
    std::vector<float> low(static_cast<size_t>(width), std::numeric_limits<float>::infinity());
    std::vector<float> high(static_cast<size_t>(width), -std::numeric_limits<float>::infinity());
#pragma omp parallel if (n * width > 262144)
    {
        std::vector<float> threadLow(low), threadHigh(high);
#pragma omp for schedule(static)
        for (std::ptrdiff_t k = 0; k < n; ++k) {
            const float* row = m_markers.data() + k * width;
            for (int m = 0; m < width; ++m) {
                const float v = row[m];
                if (std::isfinite(v)) {
                    threadLow[m] = std::min(threadLow[m], v);
                    threadHigh[m] = std::max(threadHigh[m], v);
                }
            }
        }
#pragma omp critical
        for (int m = 0; m < width; ++m) {
            low[m] = std::min(low[m], threadLow[m]);
            high[m] = std::max(high[m], threadHigh[m]);
        }
    }
    m_markerMinMax.assign(static_cast<size_t>(m_markerCount), Range(0.0f, 1.0f));
    m_markerBoundaries.assign(static_cast<size_t>(m_markerCount), Range(0.0f, 5.0f));
    for (int m = 0; m < std::min(width, m_markerCount); ++m) {
        if (!(low[m] <= high[m]))
            continue;
        m_markerMinMax[m] = Range(low[m], high[m]);
        m_markerBoundaries[m] = Range(std::min(low[m], 0.0f), std::max(high[m], 5.0f));
    }
}

void PointRenderer::setMarker(int index)
{
    m_look.marker = index;
    uploadMarkerValues();
}

void PointRenderer::checkMarkerCopySize(const char* label) const
{
    const size_t expected = static_cast<size_t>(m_pointCount) * static_cast<size_t>(m_markerCount);
    if (m_markers.size() != expected)
        std::cout << label << m_markers.size() << " but should be " << m_pointCount << "x" << m_markerCount
                  << " = " << expected << std::endl;
}

void PointRenderer::extractMarkerValues()
{
    const size_t n = static_cast<size_t>(m_pointCount);
    m_activeMarkerValues.assign(n, 0.0f);
    if (m_look.marker < 0 || m_look.marker >= m_markerRowWidth)
        return;
    const size_t width = static_cast<size_t>(m_markerRowWidth);
    for (size_t k = 0; k < n; ++k)
        m_activeMarkerValues[k] = m_markers[k * width + static_cast<size_t>(m_look.marker)];
}

void PointRenderer::uploadMarkerValues()
{
    if (m_look.marker < 0)
        return;
    checkMarkerCopySize("Problem: localMarkers size = ");
    extractMarkerValues();
    if (m_vertexArray == 0)
        return;
    glBindBuffer(GL_ARRAY_BUFFER, m_markerBuffer);
    glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(m_activeMarkerValues.size() * sizeof(float)),
                    m_activeMarkerValues.data());
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}

void PointRenderer::setSampleSelection(const std::vector<bool>* selection)
{
    m_callerSampleSelection = selection;
    if (selection == nullptr)
        return;
    const bool changed = *selection != m_sampleSelection;
    m_sampleSelection = *selection;
    // Above scale 0 a landmark stands for events of several files: the
    // point scales hide it (weight -1) once none of its files is shown, and
    // the per-file flags stay on, one per file loaded. Everywhere else the
    // flags are the selection.
    MCV_HsneAnalysis* level = asHsne(m_analysis);
    if (level != nullptr) {
        computePointScales();
        uploadScales();
    }
    if (level == nullptr || level->scale() <= 0) {
        m_activeSamples.assign(m_sampleSelection.size(), 0);
        for (size_t i = 0; i < m_sampleSelection.size(); ++i)
            m_activeSamples[i] = m_sampleSelection[i] ? 1 : 0;
    } else {
        m_activeSamples.resize(m_sampleSelection.size(), 1);
    }
    updateActiveSampleTexture();
    if (changed) {
        m_densityDirty = true;
        m_clustersDirty = true;
    }
}

void PointRenderer::setSampleColors(const std::vector<unsigned char>* colors)
{
    m_callerSampleColors = colors;
    if (colors == nullptr)
        return;
    m_sampleColors = *colors;
    updateSampleColorTexture();
}

void PointRenderer::renumberFiles(const std::vector<int>& newIndex)
{
    if (!m_hasSampleIds)
        return;
    renumberSampleIds(newIndex);
    uploadSampleIds();
    m_densityDirty = true;
    m_clustersDirty = true;
}

void PointRenderer::setSelection(const std::vector<uint16_t>* flags, bool useIndexList)
{
    m_callerSelection = flags;
    if (flags == nullptr)
        return;
    // With the index list the flags are rebuilt from it: nothing to copy.
    if (useIndexList) {
        uploadSelection(true);
        return;
    }
    copyCallerSelection();
    const size_t n = static_cast<size_t>(m_pointCount);
    m_selectedIndices.clear();
    for (size_t k = 0; k < n; ++k)
        if (m_selectionFlags[k] != 0)
            m_selectedIndices.push_back(static_cast<int>(k));
    uploadSelection(false);
}

void PointRenderer::copyCallerSelection()
{
    const size_t n = static_cast<size_t>(m_pointCount);
    m_selectionFlags.assign(n, 0);
    std::copy_n(m_callerSelection->begin(), std::min(n, m_callerSelection->size()), m_selectionFlags.begin());
}

void PointRenderer::uploadSelection(bool useIndexList)
{
    if (useIndexList) {
        const size_t n = static_cast<size_t>(m_pointCount);
        m_selectionFlags.assign(n, 0);
        for (int index : m_selectedIndices) {
            if (index < 0)
                continue;
            if (static_cast<size_t>(index) >= n) {
                std::cout << "Problem creating selection buffer index " << index << " too large for buffer of size "
                          << n << std::endl;
                continue;
            }
            m_selectionFlags[static_cast<size_t>(index)] = 255;
        }
    }
    if (m_vertexArray == 0)
        return;
    glBindBuffer(GL_ARRAY_BUFFER, m_selectionBuffer);
    glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(m_selectionFlags.size() * sizeof(uint16_t)),
                    m_selectionFlags.data());
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}

std::vector<int>& PointRenderer::selectAll()
{
    m_selectedIndices.resize(static_cast<size_t>(m_pointCount));
    for (int k = 0; k < m_pointCount; ++k)
        m_selectedIndices[static_cast<size_t>(k)] = k;
    return m_selectedIndices;
}

std::vector<int>& PointRenderer::clearSelection()
{
    m_selectedIndices.clear();
    return m_selectedIndices;
}

// ---- Settings ------------------------------------------------------------------

void PointRenderer::setViewport(unsigned width, unsigned height, GLuint targetFramebuffer)
{
    m_targetFramebuffer = targetFramebuffer;
    if (m_glReady)
        glBindFramebuffer(GL_FRAMEBUFFER, targetFramebuffer);
    m_viewWidth = width;
    m_viewHeight = height;
    m_squareSide = std::min(width, height);
    m_aspectRatio = height > 0 ? std::fabs(static_cast<float>(width) / static_cast<float>(height)) : 0.0f;
}

void PointRenderer::setMVP(const float* columnMajor16)
{
    std::copy(columnMajor16, columnMajor16 + 16, m_mvp.begin());
}

bool PointRenderer::Look::setColormap(int index)
{
    if (index < 0 || index >= static_cast<int>(colormapNames.size()))
        return false;
    if (renderMode == 0)
        colormap[0] = index;
    else if (renderMode == 3)
        colormap[1] = index;
    return true;
}

void PointRenderer::Look::setColormapDiscrete(bool discrete)
{
    if (renderMode == 0)
        colormapDiscrete[0] = discrete;
    else if (renderMode == 3)
        colormapDiscrete[1] = discrete;
}

void PointRenderer::setLook(const Look& look)
{
    if (look.renderMode != m_look.renderMode)
        setRenderMode(look.renderMode);
    if (look.colormap != m_look.colormap) {
        for (size_t slot = 0; slot < look.colormap.size(); ++slot)
            if (look.colormap[slot] >= 0 && look.colormap[slot] < static_cast<int>(colormapNames.size()))
                m_look.colormap[slot] = look.colormap[slot];
        updateColormapTexture();
    }
    m_look.colormapDiscrete = look.colormapDiscrete;
    if (look.marker != m_look.marker)
        setMarker(look.marker);
    if (look.sigma != m_look.sigma)
        setSigma(look.sigma);
    if (look.saturation != m_look.saturation)
        setSaturation(look.saturation);
    if (look.otfClustering != m_look.otfClustering)
        setOtfClustering(look.otfClustering);
    if (look.darkMode != m_look.darkMode)
        setDarkMode(look.darkMode);
    setMsGridSize(look.msGridSize);
    m_look.pointSize = look.pointSize;
    m_look.pointOpacity = look.pointOpacity;
    m_look.haloSize = look.haloSize;
    m_look.advancedMode = look.advancedMode;
}

void PointRenderer::setRenderMode(int mode)
{
    m_look.renderMode = mode;
    if (m_callerSelection != nullptr) {
        copyCallerSelection();
        uploadSelection(false);
    }
    updateColormapTexture();
}

void PointRenderer::setColormap(int index)
{
    if (!m_look.setColormap(index)) {
        std::cout << "Point Renderer: there is no colour map " << index << "." << std::endl;
        return;
    }
    updateColormapTexture();
}

void PointRenderer::setColormapDiscrete(bool discrete)
{
    m_look.setColormapDiscrete(discrete);
}

int PointRenderer::getColormap() const
{
    return m_look.colormap[m_look.modeSlot()];
}

bool PointRenderer::isColormapDiscrete() const
{
    return m_look.colormapDiscrete[m_look.modeSlot()];
}

void PointRenderer::setSigma(float sigma)
{
    m_look.sigma = sigma;
    m_densityDirty = true;
    m_clustersDirty = true;
}

void PointRenderer::setSaturation(float saturation)
{
    m_look.saturation = saturation;
    m_densityDirty = true;
    m_clustersDirty = true;
}

void PointRenderer::setMsGridSize(unsigned res)
{
    if (res == m_look.msGridSize || res == 0)
        return;
    m_look.msGridSize = res;
    m_densityDirty = true;
    m_clustersDirty = true;
    m_clusterIdImage.assign(static_cast<size_t>(m_look.msGridSize) * m_look.msGridSize, -1);
    m_pixelModeImage.assign(static_cast<size_t>(m_look.msGridSize) * m_look.msGridSize, -1);
    recreateFramebuffers();
}

void PointRenderer::setOtfClustering(int on)
{
    m_look.otfClustering = on;
    // Turning it off keeps what is dirty dirty: the next frame must still
    // recompute a density that changed.
    if (on != 0) {
        m_densityDirty = true;
        m_clustersDirty = true;
    }
}

void PointRenderer::setDarkMode(bool dark)
{
    m_look.darkMode = dark;
    const float grey = dark ? 50.0f / 255.0f : 252.0f / 255.0f;
    m_clearColor[0] = m_clearColor[1] = m_clearColor[2] = grey;
    if (!m_glReady)
        return;
    glClearColor(m_clearColor[0], m_clearColor[1], m_clearColor[2], m_clearColor[3]);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void PointRenderer::setScreenshotParameters(const std::vector<float>& range, const std::vector<float>& background)
{
    m_screenshotRange = range;
    for (size_t c = 0; c < m_screenshotBackground.size() && c < background.size(); ++c)
        m_screenshotBackground[c] = background[c];
}

void PointRenderer::setScreenshotMode(bool on)
{
    if (on) {
        m_savedMarker = m_look.marker;
        m_screenshotMode = true;
        return;
    }
    m_look.marker = m_savedMarker;
    uploadMarkerValues();
    m_screenshotMode = false;
}
