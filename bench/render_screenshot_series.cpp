// A screenshot series as the scatterplot takes one: 4096-pixel images of a
// generated embedding, one per marker, with a fixed colour range and a dark
// background. For each image, in milliseconds: render and read back, then
// encode and write the PNG. Runs on an offscreen OpenGL context; under Xvfb
// use scripts/with-display.
//
//     render_screenshot_series [points=1000000] [markers=10]
#include "framework/screenshotFilePath.h"
#include "render/PointRenderer.h"

#include "helpers/clock.h"
#include "shared/RenderBenchSetup.h"

#include <QDateTime>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

double millisecondsSince(int64_t ticks)
{
    return static_cast<double>(orb::currentTicks() - ticks) * 1e-4;
}

} // namespace

int main(int argc, char** argv)
{
    const int points = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const int markers = argc > 2 ? std::atoi(argv[2]) : 10;
    QGuiApplication application(argc, argv);
    OffscreenGl gl;
    if (!gl.ready()) {
        std::printf("no OpenGL context\n");
        return 1;
    }

    std::mt19937 random(11);
    std::vector<float> positions = blobPositions(points, random);
    std::vector<float> values = uniformMarkerValues(points, markers, random);
    const std::vector<int> sampleIds = filesInTurn(points);
    std::vector<bool> files(3, true);

    PointRenderer renderer;
    renderer.init();
    renderer.setSampleSelection(&files);
    renderer.setData(&positions, &values, points, markers, sampleIds.data(), false);
    std::printf("points %d, markers %d, OpenGL %s\n", points, markers,
                reinterpret_cast<const char*>(glGetString(GL_VERSION)));

    QTemporaryDir folder;
    renderer.setScreenshotParameters({0.5f, 5.0f}, {0.08f, 0.1f, 0.12f, 1.0f});
    renderer.setScreenshotMode(true);
    const int side = PointRenderer::defaultMaxOffscreenSize;
    std::vector<unsigned char> bytes;
    double renderTotal = 0.0, writeTotal = 0.0;
    for (int marker = 0; marker < markers; ++marker) {
        renderer.setMarker(marker);
        int64_t start = orb::currentTicks();
        renderer.renderScreenshot(-1, side, bytes);
        const double render = millisecondsSince(start);

        start = orb::currentTicks();
        const QString path = screenshotFilePath(folder.path(), "marker" + std::to_string(marker),
                                                QDateTime::currentDateTime());
        const bool written = QImage(bytes.data(), side, side, side * 3, QImage::Format_RGB888).save(path, "PNG");
        const double write = millisecondsSince(start);
        std::printf("marker %2d  render + read-back %9.2f ms   encode + write %9.2f ms%s\n", marker, render, write,
                    written ? "" : "  (not written)");
        renderTotal += render;
        writeTotal += write;
    }
    renderer.setScreenshotMode(false);
    std::printf("series     render + read-back %9.2f ms   encode + write %9.2f ms\n", renderTotal, writeTotal);
    renderer.release();
    return 0;
}
