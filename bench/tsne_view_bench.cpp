// The t-SNE view on a live A-tSNE run of generated events, point mode, in a
// 1000 x 1000 window. Per iteration it prints the view's share beside the
// engine's iteration: refreshEmbedding (copy, normalise, upload), the frame
// (painted and finished on the GPU) and the other event processing; then the
// peak memory without and with the view, and one rectangle selection over
// half the view (scatterplot -> "Selection" -> the view's flags -> the
// statistics tabs; continuous statistics off). Run under scripts/with-display;
// the frame is the device's: software GL rasterises every point. Painting
// inside event processing (the spinner's animation, the window's composition
// of the view, the frame after a selection) is timed apart as drawing.
//
//     tsne_view_bench [events=100000] [markers=30] [iterations=200]
#include "BenchSupport.h"
#include "shared/ViewIterationTiming.h"

#include "docks/UI_TsneWidget.h"
#include "render/applicationSurfaceFormat.h"
#include "scatterplot/UI_ScatterplotWidget.h"

#include "analyses/MCV_TsneAnalysis.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataPoints.h"
#include "helpers/clock.h"
#include "support/FcsTestFile.h"
#include "support/SilentUiInterface.h"

#include <QApplication>
#include <QEventLoop>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QSurfaceFormat>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using bench::millisecondsSince;
using bench::PaintTimingApplication;

/// Passes the run to the view as the shell's notification object does, and
/// times the view's steps of each iteration apart (the view's own slot does
/// the same three steps, with a deferred repaint).
class ViewInterface : public SilentUiInterface
{
public:
    UI_TsneWidget* view = nullptr;
    PaintTimingApplication* application = nullptr;
    bench::ViewIterationTimes times;
    std::vector<int64_t> updateTicks;

    void analysisUpdatedSignal(void*) override
    {
        updateTicks.push_back(orb::currentTicks());
        if (view)
            times.measure(view->scatterplot(), *application);
    }
    void analysisInitializedSignal(void* analysis) override
    {
        if (view)
            view->initComputation(analysis);
    }
    void dataRefreshedSignal(void* data) override
    {
        if (view)
            view->dataRefreshed(data);
    }
};

/// Runs the analysis; returns the mean interval between iterations in ms.
double run(MCV_TsneAnalysis& analysis, ViewInterface& ui, MCV_DerivedDataPoints* input, int markers,
           int iterations, const std::string& name)
{
    analysis.initialize(&ui, name);
    analysis.setMarkerActive(markers, false);
    analysis.setMarkerActive(markers + 1, false);
    analysis.setInputData(input);
    analysis.setIterations(iterations);
    analysis.compute();
    if (ui.updateTicks.size() < 2)
        return 0.0;
    return static_cast<double>(ui.updateTicks.back() - ui.updateTicks.front()) * 1e-4
           / static_cast<double>(ui.updateTicks.size() - 1);
}

void send(QWidget* widget, QEvent::Type type, QPoint position, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, position, widget->mapToGlobal(position), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

} // namespace

int main(int argc, char** argv)
{
    const int events = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int markers = argc > 2 ? std::atoi(argv[2]) : 30;
    const int iterations = argc > 3 ? std::atoi(argv[3]) : 200;
    QSurfaceFormat::setDefaultFormat(applicationSurfaceFormat());
    PaintTimingApplication application(argc, argv);

    QTemporaryDir dir;
    FcsTestFile file(events, markers);
    const std::vector<float> values = bench::cytometryLikeData<float>(events, markers, 7);
    std::copy(values.begin(), values.end(), file.values.begin());
    const std::string path = dir.filePath("events.fcs").toStdString();
    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    // As in the program, the registry and every set it makes notify from the
    // start: the selection comes back to the view through them.
    ViewInterface shown;
    shown.application = &application;
    registry->setUiInterface(&shown);
    if (!file.write(path) || registry->loadFcsFile(path) != 0) {
        std::fprintf(stderr, "cannot write or load %s\n", path.c_str());
        return 1;
    }
    registry->appendChannels({"VSRNE_TsneX", "VSRNE_TsneY"}, 0.0f);
    MCV_DerivedDataPoints* all = registry->createAllPointsData();

    // Without a view first: peak memory only grows. The analysis goes before
    // the run with the view, so the second peak adds only the view.
    double bareIterationMs = 0.0;
    {
        ViewInterface plain;
        MCV_TsneAnalysis bare;
        bareIterationMs = run(bare, plain, all, markers, iterations, "Bare");
    }
    const double peakWithout = bench::peakMemoryGiB();

    MCV_TsneAnalysis analysis;
    UI_TsneWidget view(nullptr, &analysis);
    view.resize(1000, 1000);
    view.show();
    shown.view = &view;
    const double iterationMs = run(analysis, shown, all, markers, iterations, "Shown");
    const double peakWith = bench::peakMemoryGiB();
    const double perIteration = 1.0 / static_cast<double>(shown.updateTicks.size());
    const double refresh = shown.times.refreshMs * perIteration, frame = shown.times.frameMs * perIteration,
                 other = shown.times.eventsMs * perIteration;
    const double otherPainting = shown.times.eventsPaintingMs * perIteration;
    const double rest = iterationMs - refresh - frame - other;

    // One selection over the left half of the plot, as a user drags it.
    UI_ScatterplotWidget* plot = view.scatterplot();
    const int64_t start = orb::currentTicks();
    const double paintedBefore = application.paintingMs;
    send(plot, QEvent::MouseButtonPress, QPoint(0, 0), Qt::LeftButton, Qt::LeftButton);
    send(plot, QEvent::MouseMove, QPoint(plot->width() / 2, plot->height() - 1), Qt::NoButton, Qt::LeftButton);
    send(plot, QEvent::MouseButtonRelease, QPoint(plot->width() / 2, plot->height() - 1), Qt::LeftButton,
         Qt::NoButton);
    // Until the timers the selection started (the statistics' refresh) have
    // fired: a zero-interval timer started now fires after them.
    QEventLoop settle;
    QTimer::singleShot(0, &settle, &QEventLoop::quit);
    settle.exec();
    const double selectionMs = millisecondsSince(start);
    const double selectionPaintingMs = application.paintingMs - paintedBefore;

    plot->makeCurrent();
    const QString device = reinterpret_cast<const char*>(
        QOpenGLContext::currentContext()->functions()->glGetString(GL_RENDERER));
    plot->doneCurrent();
    std::printf("\nevents %d, markers %d, iterations %d, view %d x %d, GL device: %s\n", events, markers, iterations,
                plot->width(), plot->height(), device.toUtf8().constData());
    std::printf("iteration without a view:      %9.2f ms\n", bareIterationMs);
    std::printf("iteration with the view:       %9.2f ms, of which\n", iterationMs);
    std::printf("  refreshEmbedding:            %9.2f ms = %6.2f %% of the rest\n", refresh, 100.0 * refresh / rest);
    std::printf("  frame (GPU finished):        %9.2f ms = %6.2f %% of the rest\n", frame, 100.0 * frame / rest);
    std::printf("  other event processing:      %9.2f ms = %6.2f %% of the rest, of which painting %.2f ms\n", other,
                100.0 * other / rest, otherPainting);
    std::printf("  the rest (engine, analysis): %9.2f ms\n", rest);
    std::printf("view's work other than drawing: %.2f ms = %.2f %% of the rest (target <= 5 %%)\n",
                refresh + other - otherPainting, 100.0 * (refresh + other - otherPainting) / rest);
    std::printf("peak memory without the view:  %9.3f GiB, with it %.3f GiB\n", peakWithout, peakWith);
    std::printf("selection of half the view:    %9.2f ms without drawing (target <= 50 ms), %zu points selected;\n"
                "  with its frame:              %9.2f ms\n",
                selectionMs - selectionPaintingMs, MCV_DataRegistry::instance()->selectionData()->points().size(),
                selectionMs);
    return 0;
}
