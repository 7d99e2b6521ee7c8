// The point renderer's data path on generated embeddings, in milliseconds:
// setData, refreshEmbedding (as after every t-SNE iteration), setMarker and
// setSelection. Runs on an offscreen OpenGL context; under Xvfb use
// scripts/with-display.
//
//     render_bench [points=1000000] [markers=40]
#include "rendering/PointRenderer.h"
#include "rendering/applicationSurfaceFormat.h"
#include "rendering/initializeGlew.h"

#include "helpers/clock.h"

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>

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

/// Gaussian blobs in a t-SNE-like extent (tens of units).
std::vector<float> blobs(int points, std::mt19937& random)
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

} // namespace

int main(int argc, char** argv)
{
    const int points = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const int markers = argc > 2 ? std::atoi(argv[2]) : 40;
    QGuiApplication application(argc, argv);
    QOpenGLContext context;
    context.setFormat(applicationSurfaceFormat());
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!context.create() || !context.makeCurrent(&surface)) {
        std::printf("no OpenGL context\n");
        return 1;
    }
    initializeGlew();

    std::mt19937 random(7);
    std::vector<float> positions = blobs(points, random);
    std::vector<float> values(static_cast<size_t>(points) * markers);
    std::uniform_real_distribution<float> uniform(0.0f, 6.0f);
    for (float& v : values)
        v = uniform(random);
    std::vector<int> sampleIds(static_cast<size_t>(points));
    for (int k = 0; k < points; ++k)
        sampleIds[k] = k % 3;
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

    const int small = std::min(points, 100000);
    std::vector<float> smallPositions = blobs(small, random);
    std::vector<float> smallValues(static_cast<size_t>(small) * markers, 1.0f);
    renderer.setData(&smallPositions, &smallValues, small, markers, sampleIds.data(), false);
    std::printf("refreshEmbedding 10^5   %9.2f ms\n", medianMilliseconds(51, [&] { refresh(smallPositions); }));
    renderer.release();
    return 0;
}
