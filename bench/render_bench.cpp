// The point renderer on generated embeddings, in milliseconds: the data path
// (setData, refreshEmbedding as after every t-SNE iteration, setMarker,
// setSelection), then frames in a 1000 x 1000 view at grid 256 (points,
// density cached and recomputed), the density-cluster pass by stage,
// rectangle selection per mode over half the view and a 4096 screenshot.
// Runs on an offscreen OpenGL context; under Xvfb use scripts/with-display.
//
//     render_bench [points=1000000] [markers=40]
#include "render/DensityClusterLabeling.h"
#include "render/PointRenderer.h"

#include "data/MCV_DataRegistry.h"
#include "helpers/clock.h"
#include "shared/RenderBenchSetup.h"
#include "support/ClusteringTestAnalysis.h"

#include <QGuiApplication>
#include <QImage>
#include <QMatrix4x4>
#include <QOpenGLFramebufferObject>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <vector>

namespace {

double millisecondsSince(int64_t ticks)
{
    return static_cast<double>(orb::currentTicks() - ticks) * 1e-4;
}

/// Median time of `runs` calls of work, each finished on the GPU side.
double medianMilliseconds(int runs, const std::function<void()>& work)
{
    std::vector<double> times;
    for (int r = 0; r < runs; ++r) {
        const int64_t start = orb::currentTicks();
        work();
        glFinish();
        times.push_back(millisecondsSince(start));
    }
    std::nth_element(times.begin(), times.begin() + runs / 2, times.end());
    return times[static_cast<size_t>(runs / 2)];
}

} // namespace

int main(int argc, char** argv)
{
    const int points = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const int markers = argc > 2 ? std::atoi(argv[2]) : 40;
    QGuiApplication application(argc, argv);
    OffscreenGl gl;
    if (!gl.ready()) {
        std::printf("no OpenGL context\n");
        return 1;
    }

    std::mt19937 random(7);
    std::vector<float> positions = blobPositions(points, random);
    std::vector<float> values = uniformMarkerValues(points, markers, random);
    const std::vector<int> sampleIds = filesInTurn(points);
    std::vector<bool> files(3, true);

    PointRenderer renderer;
    renderer.init();
    renderer.setSampleSelection(&files);
    std::printf("points %d, markers %d, OpenGL %s\n", points, markers,
                reinterpret_cast<const char*>(glGetString(GL_VERSION)));

    const double setData = medianMilliseconds(3, [&] {
        renderer.setData(&positions, &values, points, markers, sampleIds.data(), false);
    });
    std::printf("setData                 %9.2f ms\n", setData);

    std::normal_distribution<float> jitter(0.0f, 0.01f);
    auto refresh = [&](std::vector<float>& source) {
        for (size_t i = 0; i < source.size(); i += 97)
            source[i] += jitter(random);
        renderer.refreshEmbedding();
    };
    std::printf("refreshEmbedding 10^6   %9.2f ms\n", medianMilliseconds(21, [&] { refresh(positions); }));
    std::printf("setMarker               %9.2f ms\n",
                medianMilliseconds(9, [&] { renderer.setMarker(static_cast<int>(random() % markers)); }));
    std::vector<uint16_t> flags(static_cast<size_t>(points), 0);
    for (int k = 0; k < points; k += 10)
        flags[k] = 1;
    std::printf("setSelection (10 %%)     %9.2f ms\n",
                medianMilliseconds(9, [&] { renderer.setSelection(&flags, false); }));

    // Frames and clusters in a 1000 x 1000 view at grid 256.
    QOpenGLFramebufferObject view(1000, 1000, QOpenGLFramebufferObject::Depth);
    renderer.setViewport(1000, 1000, view.handle());
    QMatrix4x4 projection;
    projection.ortho(0.0f, 1.0f, 0.0f, 1.0f, 1.0f, -1.0f);
    projection.translate(0.0f, 0.0f, -1.0f);
    renderer.setMVP(projection.constData());
    std::printf("frame, points             %9.2f ms\n",
                medianMilliseconds(5, [&] { renderer.render(view.handle()); }));
    renderer.setRenderMode(3);
    renderer.render(view.handle());
    std::printf("frame, density cached     %9.2f ms\n",
                medianMilliseconds(5, [&] { renderer.render(view.handle()); }));
    std::printf("frame, density recomputed %9.2f ms\n", medianMilliseconds(5, [&] {
                    renderer.refreshEmbedding();
                    renderer.render(view.handle());
                }));
    renderer.setRenderMode(0);

    ClusteringTestAnalysis analysis;
    MCV_DataRegistry registry;
    renderer.setAnalysis(&analysis, markers); // a t-SNE-free analysis: the data stay
    std::printf("density splat + read-back %9.2f ms\n", medianMilliseconds(3, [&] { renderer.computeDensity(); }));
    std::printf("gradient                  %9.2f ms\n", medianMilliseconds(3, [&] { renderer.computeGradient(); }));
    std::printf("mean-shift, read-back, labels, set %9.2f ms\n",
                medianMilliseconds(3, [&] { renderer.computeMeanShift(); }));
    DensityClusterLabeling labeling;
    std::printf("  of which labelling      %9.2f ms\n", medianMilliseconds(5, [&] {
                    labeling.label(renderer.meanShiftReadback(), renderer.msGridSize(), renderer.normalizedPositions());
                }));
    std::printf("  of which clusters set   %9.2f ms  (%zu clusters)\n", medianMilliseconds(3, [&] {
                    analysis.createDerivedData(labeling.members(), "Density Clusters");
                }),
                labeling.members().size());

    for (int mode : {0, 1, 2}) {
        renderer.selectedIndices().clear();
        std::printf("rectangle selection mode %d %8.2f ms\n", mode, medianMilliseconds(5, [&] {
                        renderer.beginRectSelect();
                        renderer.rectSelect(0, 0, 500, 1000, mode);
                        renderer.endRectSelect();
                    }));
    }

    std::vector<unsigned char> screenshot;
    std::printf("4096 screenshot, render + read-back %9.2f ms\n",
                medianMilliseconds(3, [&] { renderer.renderScreenshot(0, 4096, screenshot); }));
    QTemporaryDir folder;
    const int64_t start = orb::currentTicks();
    QImage(screenshot.data(), 4096, 4096, 4096 * 3, QImage::Format_RGB888).save(folder.filePath("shot.png"), "PNG");
    std::printf("4096 screenshot, PNG      %9.2f ms\n", millisecondsSince(start));

    const int small = std::min(points, 100000);
    std::vector<float> smallPositions = blobPositions(small, random);
    std::vector<float> smallValues(static_cast<size_t>(small) * markers, 1.0f);
    renderer.setData(&smallPositions, &smallValues, small, markers, sampleIds.data(), false);
    std::printf("refreshEmbedding 10^5   %9.2f ms\n", medianMilliseconds(51, [&] { refresh(smallPositions); }));
    renderer.release();
    return 0;
}
