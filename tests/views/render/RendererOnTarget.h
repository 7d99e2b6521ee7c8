#pragma once

#include "GlTarget.h"
#include "GlTestContext.h"

#include "render/PointRenderer.h"

#include <array>
#include <random>
#include <vector>

/// A renderer drawing into a framebuffer of its own with the scatterplot's
/// projection, released before the framebuffer goes. One file, shown.
struct RendererOnTarget
{
    RendererOnTarget(int width, int height) : target(width, height)
    {
        renderer.init();
        renderer.setSampleSelection(&files);
        renderer.setMVP(unitSquareMvp().data());
        renderer.setViewport(static_cast<unsigned>(width), static_cast<unsigned>(height), target.name());
    }
    ~RendererOnTarget() { renderer.release(); }

    std::vector<bool> files{true};
    GlTarget target;
    PointRenderer renderer;
};

/// Points around centres (Gaussian, standard deviation sd) plus a share of
/// uniform noise over the unit square; label -1 marks noise.
struct Blobs
{
    std::vector<float> positions;
    std::vector<int> labels;
};

inline Blobs makeBlobs(const std::vector<std::array<float, 2>>& centres, float sd, int perBlob, float noiseShare,
                       unsigned seed)
{
    std::mt19937 random(seed);
    std::normal_distribution<float> normal(0.0f, sd);
    std::uniform_real_distribution<float> uniform(0.0f, 1.0f);
    Blobs blobs;
    for (int k = 0; k < perBlob; ++k)
        for (size_t b = 0; b < centres.size(); ++b) {
            blobs.positions.push_back(centres[b][0] + normal(random));
            blobs.positions.push_back(centres[b][1] + normal(random));
            blobs.labels.push_back(static_cast<int>(b));
        }
    const int noise = static_cast<int>(noiseShare * static_cast<float>(perBlob * centres.size()));
    for (int k = 0; k < noise; ++k) {
        blobs.positions.push_back(uniform(random));
        blobs.positions.push_back(uniform(random));
        blobs.labels.push_back(-1);
    }
    return blobs;
}
