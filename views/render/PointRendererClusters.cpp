// Density clusters (labelling, the published clusters set, picking, hovering,
// merging) and rectangle selection.
#include "render/PointRenderer.h"

#include "analyses/MCV_Analysis.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"

#include <GL/glew.h>

#include <algorithm>

void PointRenderer::computeDensityClusters()
{
    if (m_pointCount == 0)
        return;
    m_labeling.label(m_meanShiftReadback, m_look.msGridSize, m_normalizedPositions);
    m_clusterIdImage = m_labeling.cellClusters();
    m_pixelModeImage = m_labeling.cellClusters();
    m_clusterCentres = m_labeling.centres();
    if (m_analysis != nullptr) {
        MCV_DerivedData* data = m_analysis->createDerivedData(m_labeling.members(), "Density Clusters");
        m_densityClusters = dynamic_cast<MCV_DerivedDataClusters*>(data);
        m_clustersGeneration = MCV_DataRegistry::currentGeneration();
    }
    uploadClusterImages();
    m_clustersDirty = false;
}

void PointRenderer::uploadClusterImages()
{
    if (!m_glReady)
        return;
    if (m_vertexArray != 0) {
        const size_t floats = std::min(m_clusterCentres.size(), 2 * static_cast<size_t>(m_pointCount));
        glBindBuffer(GL_ARRAY_BUFFER, m_centresBuffer);
        glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(floats * sizeof(float)), m_clusterCentres.data());
        glBindBuffer(GL_ARRAY_BUFFER, 0);
    }
    const unsigned res = m_look.msGridSize;
    if (m_clusterIdTexture != 0 && m_clusterIdImage.size() == static_cast<size_t>(res) * res) {
        glBindTexture(GL_TEXTURE_2D, m_clusterIdTexture);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, static_cast<GLsizei>(res), static_cast<GLsizei>(res),
                        GL_RED_INTEGER, GL_INT, m_clusterIdImage.data());
        glBindTexture(GL_TEXTURE_2D, 0);
    }
}

void PointRenderer::restoreClusterGrids()
{
    uploadClusterImages();
    // The partitions display reads every cell's mode from the mean-shift grid.
    const unsigned res = m_look.msGridSize;
    if (m_densityTextures[2] == 0 || m_meanShiftReadback.size() != static_cast<size_t>(res) * res * 3)
        return;
    glBindTexture(GL_TEXTURE_2D, m_densityTextures[2]);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, static_cast<GLsizei>(res), static_cast<GLsizei>(res), GL_RGB, GL_FLOAT,
                    m_meanShiftReadback.data());
    glBindTexture(GL_TEXTURE_2D, 0);
}

MCV_DerivedDataClusters* PointRenderer::densityClusters() const
{
    // A set of files since closed belongs to a registry that is gone.
    if (m_densityClusters == nullptr || m_clustersGeneration != MCV_DataRegistry::currentGeneration())
        return nullptr;
    return m_densityClusters;
}

void PointRenderer::cluster()
{
    const int onTheFly = m_look.otfClustering;
    m_look.otfClustering = 1;
    m_densityDirty = true;
    m_clustersDirty = true;
    render(m_targetFramebuffer);
    m_look.otfClustering = onTheFly != 0 ? 1 : 0;
}

bool PointRenderer::viewSquarePixel(int x, int y, float& squareX, float& squareY) const
{
    if (m_squareSide == 0)
        return false;
    const int side = static_cast<int>(m_squareSide);
    if (m_viewWidth > m_viewHeight)
        x -= static_cast<int>(m_viewWidth - m_squareSide) / 2;
    else
        y -= static_cast<int>(m_viewHeight - m_squareSide) / 2;
    if (x < 0 || y < 0 || x >= side || y >= side)
        return false;
    squareX = static_cast<float>(x) / static_cast<float>(side);
    squareY = static_cast<float>(y) / static_cast<float>(side);
    return true;
}

int PointRenderer::clusterAt(int x, int y) const
{
    float sx = 0.0f;
    float sy = 0.0f;
    if (m_clustersDirty || densityClusters() == nullptr || !viewSquarePixel(x, y, sx, sy))
        return -1;
    const float last = static_cast<float>(m_look.msGridSize - 1);
    const size_t cx = static_cast<size_t>(sx * last);
    const size_t cy = static_cast<size_t>(sy * last);
    const size_t cell = cy * m_look.msGridSize + cx;
    return cell < m_clusterIdImage.size() ? m_clusterIdImage[cell] : -1;
}

void PointRenderer::hoverCluster(int x, int y)
{
    m_activeCluster = -1;
    MCV_DerivedDataClusters* clusters = densityClusters();
    if (m_clustersDirty || clusters == nullptr)
        return;
    const int id = clusterAt(x, y);
    if (id < clusters->clusterCount())
        m_activeCluster = id;
    if (m_activeCluster != clusters->highlightedCluster())
        clusters->setHighlightedCluster(m_activeCluster);
}

std::vector<int>& PointRenderer::selectClusterAt(int x, int y, bool additive)
{
    if (!m_clustersDirty)
        hoverCluster(x, y);
    MCV_DerivedDataClusters* clusters = densityClusters();
    if (m_clustersDirty || m_activeCluster < 0 || clusters == nullptr) {
        m_selectedIndices.clear();
        return m_selectedIndices;
    }
    std::vector<int64_t> members;
    clusters->toggleCluster(m_activeCluster, additive, members);
    m_selectedIndices.assign(members.begin(), members.end());
    return m_selectedIndices;
}

void PointRenderer::updateClusters(MCV_DerivedDataClusters* clusters)
{
    const size_t cells = static_cast<size_t>(m_look.msGridSize) * m_look.msGridSize;
    if (clusters == nullptr || clusters != densityClusters() || m_clustersDirty || m_pixelModeImage.size() != cells
        || m_clusterIdImage.size() != cells)
        return;
    // Merged clusters share the index their originals now map to.
    const std::vector<int>& ids = clusters->clusterIds();
    for (size_t c = 0; c < cells; ++c) {
        const int original = m_pixelModeImage[c];
        if (original >= 0 && original < static_cast<int>(ids.size()))
            m_clusterIdImage[c] = ids[static_cast<size_t>(original)];
    }
    uploadClusterImages();
    m_activeCluster = clusters->highlightedCluster();
}

void PointRenderer::setActiveCluster(MCV_DerivedDataClusters* clusters)
{
    if (clusters != nullptr && clusters == densityClusters())
        m_activeCluster = clusters->highlightedCluster();
}

std::string PointRenderer::saveClusters() const
{
    MCV_DerivedDataClusters* clusters = densityClusters();
    return clusters == nullptr || m_clustersDirty ? std::string() : clusters->name();
}

void PointRenderer::mergeClusters()
{
    if (MCV_DerivedDataClusters* clusters = densityClusters())
        clusters->mergeSelectedClusters();
}

int PointRenderer::countSelectedClusters() const
{
    MCV_DerivedDataClusters* clusters = densityClusters();
    return clusters == nullptr ? 0 : clusters->selectedClusterCount();
}

void PointRenderer::clearClusterSelection()
{
    if (MCV_DerivedDataClusters* clusters = densityClusters())
        clusters->clearSelection();
}

// ---- Rectangle selection ----------------------------------------------------------

void PointRenderer::beginRectSelect()
{
    m_pressSelection = m_selectedIndices;
    m_rectSelecting = true;
}

void PointRenderer::endRectSelect()
{
    m_pressSelection.clear();
    m_rectSelecting = false;
}

std::vector<int>& PointRenderer::rectSelect(int x0, int y0, int x1, int y1, int mode)
{
    m_rectPixels = {std::min(x0, x1), std::min(y0, y1), std::max(x0, x1), std::max(y0, y1), std::abs(x1 - x0),
                    std::abs(y1 - y0)};
    if (m_squareSide == 0)
        return m_selectedIndices;
    const float side = static_cast<float>(m_squareSide);
    const float offsetX = m_viewWidth > m_viewHeight ? static_cast<float>((m_viewWidth - m_squareSide) / 2) : 0.0f;
    const float offsetY = m_viewWidth > m_viewHeight ? 0.0f : static_cast<float>((m_viewHeight - m_squareSide) / 2);
    m_rectUnit = {(static_cast<float>(m_rectPixels[0]) - offsetX) / side,
                  (static_cast<float>(m_rectPixels[1]) - offsetY) / side,
                  (static_cast<float>(m_rectPixels[2]) - offsetX) / side,
                  (static_cast<float>(m_rectPixels[3]) - offsetY) / side};
    if (!(m_rectUnit[0] < 1.0f && m_rectUnit[1] < 1.0f && m_rectUnit[2] > 0.0f && m_rectUnit[3] > 0.0f))
        return m_selectedIndices;

    const size_t n = static_cast<size_t>(m_pointCount);
    const float* p = m_normalizedPositions.data();
    auto inside = [&](size_t k) {
        const float x = p[2 * k];
        const float y = p[2 * k + 1];
        return x >= m_rectUnit[0] && x <= m_rectUnit[2] && y >= m_rectUnit[1] && y <= m_rectUnit[3];
    };
    if (mode == 0) {
        m_selectedIndices.clear();
        for (size_t k = 0; k < n; ++k)
            if (inside(k))
                m_selectedIndices.push_back(static_cast<int>(k));
        return m_selectedIndices;
    }
    // Adding and removing start from the selection at the press, so a drag
    // applies its last rectangle only; marks keep both linear in N.
    const std::vector<int> base = m_rectSelecting ? m_pressSelection : m_selectedIndices;
    std::vector<unsigned char> marked(n, 0);
    std::vector<int> result;
    if (mode == 1) {
        for (int index : base)
            if (index >= 0 && static_cast<size_t>(index) < n && !marked[static_cast<size_t>(index)]) {
                marked[static_cast<size_t>(index)] = 1;
                result.push_back(index);
            }
        for (size_t k = 0; k < n; ++k)
            if (!marked[k] && inside(k))
                result.push_back(static_cast<int>(k));
    } else if (mode == 2) {
        for (size_t k = 0; k < n; ++k)
            marked[k] = inside(k) ? 1 : 0;
        for (int index : base)
            if (index >= 0 && static_cast<size_t>(index) < n && !marked[static_cast<size_t>(index)])
                result.push_back(index);
    } else {
        return m_selectedIndices;
    }
    m_selectedIndices = std::move(result);
    return m_selectedIndices;
}
