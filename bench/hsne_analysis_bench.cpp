// The hierarchical SNE end to end on generated events, in the program's own
// window (run under scripts/with-display): FCS files opened through the
// window -> registry -> MainWindow::createHsneAnalysis -> hierarchy (scales
// and the points-per-landmark cache) -> the overview embedded in its level
// view, a drill-in of about 10^4 landmarks one scale down through the
// window's drill, the point scales after a file is hidden, and the window's
// hierarchy page with a 100-node exploration tree. The level views and the
// page are floated at the sizes a user would give them.
//
// Prints the build's time per scale (the engine's own totals) and for the
// cache, the landmarks per scale and the peak memory; per iteration of each
// level, the engine beside the view's share (the rest of the iteration: the
// notification and the view's slot, with the painting in it timed as
// drawing); the point-scale update; and for the page, qt_setData until drawn
// and the frames per second of a zoom.
//
//     hsne_analysis_bench [events=1000000] [markers=30] [iterations=1000]
#include "BenchSupport.h"
#include "shared/PageBenchSupport.h"
#include "shared/ViewIterationTiming.h"

#include "MainWindow.h"
#include "UI_Interface.h"
#include "scatterplot/UI_ScatterplotWidget.h"
#include "render/applicationSurfaceFormat.h"
#include "docks/UI_HierarchyWidget.h"
#include "analysis_settings/UI_HsneSettingsWidget.h"
#include "docks/UI_HsneWidget.h"
#include "framework/UI_Settings.h"

#include "analyses/MCV_HsneAnalysis.h"
#include "analyses/MCV_HsneAnalysisHierarchy.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataExploration.h"
#include "data/MCV_DerivedDataHierarchy.h"
#include "helpers/clock.h"
#include "support/FcsTestFile.h"
#include "support/IsolatedSettings.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPushButton>
#include <QSurfaceFormat>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebView>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using bench::millisecondsSince;
using bench::PaintTimingApplication;

/// Opens the files through the window's "Open FCS File(s) ..." action,
/// answering its file dialog with `typedNames` and its post-load dialog with "OK".
void openThroughWindow(MainWindow& window, const QString& folder, const QString& typedNames)
{
    UI_Settings::instance()->setValue("dataDefaultFilePath", folder);
    UI_Settings::instance()->sync();
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&typedNames] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible())
            return;
        if (auto* files = qobject_cast<QFileDialog*>(modal)) {
            if (auto* name = files->findChild<QLineEdit*>("fileNameEdit")) {
                name->setText(typedNames);
                static_cast<QDialog*>(files)->accept();
            }
        } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            for (QPushButton* button : dialog->findChildren<QPushButton*>())
                if (button->text() == "OK") {
                    button->click();
                    return;
                }
        }
    });
    answer.start(10);
    window.findChild<QAction*>("actionOpenFile")->trigger();
}

UI_HsneWidget* levelView(const MainWindow& window, const MCV_HsneAnalysis* level)
{
    for (UI_HsneWidget* view : window.findChildren<UI_HsneWidget*>())
        if (level != nullptr && view->level() == level)
            return view;
    return nullptr;
}

/// A level's iterations as the program announces them, and the painting meanwhile.
struct IterationCount
{
    PaintTimingApplication* application = nullptr;
    int updates = 0;
    double paintedBefore = 0.0;

    void reset()
    {
        updates = 0;
        paintedBefore = application->paintingMs;
    }
};

/// Prints a level's run: per iteration the engine, and the rest of the
/// iteration (the notification and the view's slot) with its painting.
void printRun(MCV_HsneAnalysis& level, const IterationCount& count, const vel::SparseTsne::StageTimes& before,
              double totalMs, const char* label)
{
    const vel::SparseTsne::StageTimes& after = level.sparseTsne().stageTimes();
    const double engineMs = 1e3 * ((after.tree - before.tree) + (after.attraction - before.attraction)
                                   + (after.repulsion - before.repulsion) + (after.update - before.update));
    const double n = std::max(1, count.updates);
    const double iteration = totalMs / n, engine = engineMs / n, view = iteration - engine,
                 painting = (count.application->paintingMs - count.paintedBefore) / n, nonDrawing = view - painting;
    std::printf("%s: %d landmarks, theta %.2f, %d iterations in %.1f s; per iteration %.2f ms:\n", label,
                level.pointCount(), level.sparseTsne().theta(), count.updates, totalMs * 1e-3, iteration);
    std::printf("  engine %.2f ms, the view's share %.2f ms, of which drawing (painting) %.2f ms\n", engine, view,
                painting);
    std::printf("  view's work other than drawing: %.3f ms = %.2f %% of the iteration (target <= 5 %%)\n", nonDrawing,
                100.0 * nonDrawing / iteration);
}

/// The point scales after the second file is hidden, as the sample panel asks.
double pointScalesAfterToggle(UI_HsneWidget& view)
{
    static std::vector<bool> files{true, false};
    static std::vector<unsigned char> colours(6, 80);
    UI_ScatterplotWidget* plot = view.scatterplot();
    const int64_t start = orb::currentTicks();
    plot->setSampleSources(&files, &colours);
    plot->makeCurrent();
    QOpenGLContext::currentContext()->functions()->glFinish();
    plot->doneCurrent();
    return millisecondsSince(start);
}

/// 100 nodes under the overview's: 9 clusters of the overview's landmarks,
/// each with 10 clusters below it, named as the program names them.
void buildHundredNodes(MCV_HsneAnalysisHierarchy& hierarchy, MCV_HsneAnalysis& overview)
{
    const unsigned landmarks = static_cast<unsigned>(overview.pointCount());
    const auto split = [landmarks](unsigned parts, unsigned offset) {
        std::vector<std::vector<unsigned>> lists(parts);
        for (unsigned k = offset; k < landmarks; k += 10)
            lists[(k / 10) % parts].push_back(k);
        return lists;
    };
    auto* top = static_cast<MCV_DerivedDataClusters*>(overview.createDerivedData(split(9, 0), "Top"));
    if (top == nullptr)
        return;
    overview.drillIntoCluster(top->name());
    for (int c = 0; c < top->clusterCount(); ++c) {
        auto* below = static_cast<MCV_DerivedDataClusters*>(
            overview.createDerivedData(split(10, static_cast<unsigned>(c % 10)), "Below " + std::to_string(c)));
        if (below != nullptr)
            hierarchy.addClusterToExploration(below->name(), top->name() + top->clusterName(c), true);
    }
}

/// The window's hierarchy page, floated at 1000 x 800.
void benchPage(MainWindow& window, MCV_HsneAnalysisHierarchy& hierarchy, MCV_HsneAnalysis& overview)
{
    buildHundredNodes(hierarchy, overview);
    MCV_DerivedDataExploration* tree = hierarchy.exploration();
    auto* page = window.findChild<UI_HierarchyWidget*>();
    if (tree == nullptr || page == nullptr)
        return;
    page->setFloating(true);
    page->resize(1000, 800);
    page->show();
    QWebView* web = page->webView();
    while (!evaluate(web, "typeof hierarchyView !== 'undefined' && typeof Hierarchy !== 'undefined'").toBool())
        wait(10);
    wait(200);

    QElapsedTimer timer;
    timer.start();
    page->js_selectData(QString::fromStdString(tree->name()));
    web->repaint();
    const double drawnMs = timer.nsecsElapsed() * 1e-6;
    const int nodes = evaluate(web, "document.querySelectorAll('g.node').length").toInt();

    // Animation frames while a zoom runs (1000 ms), and one zoom frame's layout work.
    evaluate(web, "var benchFrames = 0; (function benchTick() { ++benchFrames; requestAnimationFrame(benchTick); })();"
                  "var benchRoot = hierarchyView.viewRoot();");
    wait(200);
    evaluate(web, "benchFrames = 0; hierarchyView.zoomTo(benchRoot.children[0]);");
    timer.restart();
    wait(1000);
    const double zoomSeconds = timer.nsecsElapsed() * 1e-9;
    const int frames = evaluate(web, "benchFrames").toInt();
    const double layoutMs =
        evaluate(web, "(function () { var t = performance.now(); for (var i = 0; i < 10; ++i) hierarchyView.resize();"
                      " return (performance.now() - t) / 10; })()")
            .toDouble();
    std::printf("hierarchy page, %d nodes drawn, %d x %d: qt_setData to drawn %.1f ms (target < 1000 ms); zoom %.1f"
                " frames/s; one zoom frame's layout %.2f ms\n",
                nodes, web->width(), web->height(), drawnMs, frames / zoomSeconds, layoutMs);
}

} // namespace

int main(int argc, char** argv)
{
    const int events = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const int markers = argc > 2 ? std::atoi(argv[2]) : 30;
    const int iterations = argc > 3 ? std::atoi(argv[3]) : 1000;
    // The window's settings go to a folder of this run, not the user's.
    if (!isolateSettings()) {
        std::fprintf(stderr, "cannot set up a settings folder\n");
        return 1;
    }
    QSurfaceFormat::setDefaultFormat(applicationSurfaceFormat());
    PaintTimingApplication application(argc, argv);

    // Two files, so that hiding one changes the point scales.
    QTemporaryDir dir;
    const std::vector<float> values = bench::cytometryLikeData<float>(events, markers, 7);
    for (int f = 0; f < 2; ++f) {
        const int first = f * (events / 2);
        const int count = f == 0 ? events / 2 : events - events / 2;
        FcsTestFile file(count, markers);
        std::copy(values.begin() + static_cast<int64_t>(first) * markers,
                  values.begin() + static_cast<int64_t>(first + count) * markers, file.values.begin());
        if (!file.write(dir.filePath(QString("f%1.fcs").arg(f)).toStdString())) {
            std::fprintf(stderr, "cannot write f%d.fcs\n", f);
            return 1;
        }
    }
    MainWindow window;
    window.resize(1200, 900);
    window.show();
    openThroughWindow(window, dir.path(), "\"f0.fcs\" \"f1.fcs\"");
    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    auto* notifications = dynamic_cast<UI_Interface*>(registry->uiInterface());
    if (registry->sampleCount() != 2 || notifications == nullptr) {
        std::fprintf(stderr, "the window did not open the two files\n");
        return 1;
    }

    // Each level as it starts: floated at 1000 x 1000 and given the
    // iterations of the phase; every iteration announced is counted.
    IterationCount count;
    count.application = &application;
    int levelIterations = 0;
    int64_t levelStarted = 0;
    QObject::connect(notifications, &UI_Interface::analysisInitializedSignal, &window, [&](void* analysis) {
        auto* level = dynamic_cast<MCV_HsneAnalysis*>(static_cast<MCV_Analysis*>(analysis));
        if (level == nullptr)
            return;
        levelStarted = orb::currentTicks();
        level->setIterations(levelIterations);
        if (UI_HsneWidget* view = levelView(window, level)) {
            view->setFloating(true);
            view->resize(1000, 1000);
        }
    });
    QObject::connect(notifications, &UI_Interface::analysisUpdatedSignal, &window, [&count](void*) { ++count.updates; });

    MCV_HsneAnalysisHierarchy* hierarchy = window.createHsneAnalysis("Bench");
    auto* panel = window.findChild<UI_HsneSettingsWidget*>();
    if (hierarchy == nullptr || panel == nullptr || hierarchy->levels().empty()) {
        std::fprintf(stderr, "the window made no hierarchical SNE\n");
        return 1;
    }
    for (int m = 0; m < markers; ++m)
        hierarchy->setMarkerActive(m, true);
    hierarchy->setSeed(1);
    MCV_HsneAnalysis* overview = hierarchy->levels().front();

    // The build alone (no iteration), the engine's lines kept for their totals.
    std::stringstream engineLines;
    std::streambuf* console = std::cout.rdbuf(engineLines.rdbuf());
    int64_t start = orb::currentTicks();
    const double cpuBefore = bench::cpuSeconds();
    panel->computeHSNE();
    const double buildSeconds = millisecondsSince(start) * 1e-3;
    const double cpu = bench::cpuSeconds() - cpuBefore;
    std::cout.rdbuf(console);
    if (hierarchy->hierarchy() == nullptr || overview->scale() < 1) {
        std::fprintf(stderr, "the hierarchy was not built:\n%s\n", engineLines.str().c_str());
        return 1;
    }
    const MCV_DerivedDataHierarchy& data = *hierarchy->hierarchy();
    const double peakAfterBuild = bench::peakMemoryGiB();
    start = orb::currentTicks();
    std::cout.rdbuf(engineLines.rdbuf());
    hierarchy->hierarchy()->cachePointsPerLandmark();
    std::cout.rdbuf(console);
    const double cacheSeconds = millisecondsSince(start) * 1e-3;

    UI_HsneWidget* overviewView = levelView(window, overview);
    overviewView->scatterplot()->makeCurrent();
    QOpenGLContext* context = QOpenGLContext::currentContext();
    const QString device = context ? reinterpret_cast<const char*>(context->functions()->glGetString(GL_RENDERER))
                                   : QString("none");
    overviewView->scatterplot()->doneCurrent();
    std::printf("\n%d events x %d markers in 2 files, GL device: %s\n", events, markers, device.toUtf8().constData());
    std::printf("hierarchy with its cache: %.1f s (CPU %.1f s), peak memory %.2f GiB (target < 3 min, < 6 GiB)\n",
                buildSeconds, cpu, peakAfterBuild);
    std::string line;
    int scale = 0;
    for (std::istringstream lines(engineLines.str()); std::getline(lines, line);)
        if (line.rfind("Total time", 0) == 0)
            std::printf("  scale %d: %d landmarks, %s s\n", scale, data.landmarkCount(scale), line.c_str()), ++scale;
    std::printf("  points-per-landmark cache (computed again): %.2f s\n", cacheSeconds);

    // The overview resumed as its slide-in panel resumes it.
    levelIterations = iterations;
    overview->setIterations(iterations);
    count.reset();
    vel::SparseTsne::StageTimes before = overview->sparseTsne().stageTimes();
    start = orb::currentTicks();
    overview->runGradientDescent();
    printRun(*overview, count, before, millisecondsSince(start), "overview");

    // A drill-in of about 10^4 landmarks one scale down, through the overview
    // view's drill: landmarks of the top scale taken in order until the
    // points they stand for at the scale below reach it.
    const int top = overview->scale();
    std::vector<unsigned> chosen;
    std::vector<unsigned> subset;
    std::vector<vel::MapMemEff> rows;
    const unsigned available = static_cast<unsigned>(overview->pointCount());
    for (unsigned step = 1; subset.size() < 10000 && chosen.size() < available;) {
        for (unsigned k = 0; k < step && chosen.size() < available; ++k)
            chosen.push_back(static_cast<unsigned>(chosen.size()));
        MCV_HsneAnalysisHierarchy::drillSubset(data, top, chosen, subset, rows);
        step = std::max<unsigned>(1, static_cast<unsigned>(chosen.size() / 4));
    }
    std::vector<unsigned> landmarks = overview->selectionToLandmarks(chosen);
    const size_t levelsBefore = hierarchy->levels().size();
    count.reset();
    before = {};
    start = orb::currentTicks();
    levelStarted = start;
    emit overviewView->newHsneLevelTriggered(overview, hierarchy, &landmarks);
    const double drillMs = millisecondsSince(start);
    MCV_HsneAnalysis* level = hierarchy->levels().size() > levelsBefore ? hierarchy->levels().back() : nullptr;
    UI_HsneWidget* drilledView = levelView(window, level);
    if (level != nullptr && drilledView != nullptr) {
        std::printf("drill-in of %zu top-scale landmarks: set-up %.1f ms\n", chosen.size(),
                    static_cast<double>(levelStarted - start) * 1e-4);
        printRun(*level, count, before, drillMs - static_cast<double>(levelStarted - start) * 1e-4, "drill-in");
    }

    std::printf("point scales after hiding a file: overview %.2f ms", pointScalesAfterToggle(*overviewView));
    if (drilledView != nullptr)
        std::printf(", drill-in %.2f ms", pointScalesAfterToggle(*drilledView));
    std::printf(" (target < 50 ms)\n");

    benchPage(window, *hierarchy, *overview);
    std::printf("peak memory %.2f GiB\n", bench::peakMemoryGiB());
    std::fflush(stdout);
    return 0;
}
