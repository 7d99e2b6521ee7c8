#pragma once

#include "render/applicationSurfaceFormat.h"
#include "render/initializeGlew.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>

#include <cstddef>
#include <random>
#include <vector>

/// The program's OpenGL context on an offscreen surface, made current with
/// GLEW initialised, for the renderer benchmarks (a QGuiApplication must
/// exist; under Xvfb use scripts/with-display).
class OffscreenGl
{
public:
    OffscreenGl()
    {
        m_context.setFormat(applicationSurfaceFormat());
        m_surface.setFormat(m_context.format());
        m_surface.create();
        m_ready = m_context.create() && m_context.makeCurrent(&m_surface);
        if (m_ready)
            initializeGlew();
    }
    bool ready() const { return m_ready; }

private:
    QOpenGLContext m_context;
    QOffscreenSurface m_surface;
    bool m_ready = false;
};

/// Positions of `points` points in ten Gaussian blobs of a t-SNE-like
/// extent (tens of units), drawn from `random`.
inline std::vector<float> blobPositions(int points, std::mt19937& random)
{
    std::normal_distribution<float> normal(0.0f, 2.0f);
    std::uniform_int_distribution<int> blob(0, 9);
    std::vector<float> positions(2 * static_cast<size_t>(points));
    for (int k = 0; k < points; ++k) {
        const int b = blob(random);
        positions[2 * k] = 8.0f * static_cast<float>(b % 4) + normal(random);
        positions[2 * k + 1] = 8.0f * static_cast<float>(b / 4) + normal(random);
    }
    return positions;
}

/// Marker values uniform in 0 to 6, `markers` per point, drawn from `random`.
inline std::vector<float> uniformMarkerValues(int points, int markers, std::mt19937& random)
{
    std::vector<float> values(static_cast<size_t>(points) * static_cast<size_t>(markers));
    std::uniform_real_distribution<float> uniform(0.0f, 6.0f);
    for (float& v : values)
        v = uniform(random);
    return values;
}

/// File ids 0, 1, 2 in turn, one per point.
inline std::vector<int> filesInTurn(int points)
{
    std::vector<int> sampleIds(static_cast<size_t>(points));
    for (int k = 0; k < points; ++k)
        sampleIds[static_cast<size_t>(k)] = k % 3;
    return sampleIds;
}
