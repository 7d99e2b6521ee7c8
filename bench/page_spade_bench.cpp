// The SPADE tree page in a real master view (run under scripts/with-display):
// a SPADE run over generated files, then the tree sent to the page.
//
//   page_spade_bench [clusters...]   default: 300 1000
//
// Prints, per tree size: qt_setData to the first drawing painted; layout
// ticks per second and milliseconds per tick (positions report included)
// over the first seconds; ticks and seconds until the layout settled; a
// click on a node until "Selection" holds its events, and a hover until the
// highlighted cluster is set, both while the layout runs.

#include "docks/UI_SpadeWidget.h"

#include "analyses/MCV_SpadeAnalysis.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataPoints.h"
#include "helpers/clock.h"
#include "shared/PageBenchSupport.h"
#include "shared/PopulationEvents.h"
#include "support/SilentUiInterface.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QWebFrame>
#include <QWebPage>
#include <QWebView>

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

/// Routes the core's data announcements to the view, as the main window does.
class Wiring : public SilentUiInterface
{
public:
    UI_SpadeWidget* view = nullptr;
    void dataRefreshedSignal(void* data) override
    {
        if (view)
            view->dataRefreshed(data);
    }
};

void mouse(QWebView* view, QEvent::Type type, QPoint point)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
    QMouseEvent event(type, point, view->mapToGlobal(point), button, held, Qt::NoModifier);
    QApplication::sendEvent(view, &event);
}

QPoint nodeCentre(QWebView* view, int node)
{
    const QVariantList xy =
        evaluate(view, QString("[screenX(graph.nodes[%1]), screenY(graph.nodes[%1])]").arg(node)).toList();
    return QPoint(qRound(xy[0].toDouble()), qRound(xy[1].toDouble()));
}

void run(int clusters)
{
    QTemporaryDir dir;
    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    Wiring wiring;
    registry->setUiInterface(&wiring);
    // Enough kept events for the dendrogram to cut `clusters` nodes.
    const int64_t events = 20 * static_cast<int64_t>(clusters);
    PopulationEvents generator(7);
    for (int file = 0; file < 2; ++file) {
        const std::string path = dir.filePath(QString("f%1.fcs").arg(file)).toStdString();
        PopulationEvents::writeFcs(path, generator.events(events), events);
        registry->loadFcsFile(path);
    }
    registry->createAllPointsData();
    MCV_SpadeAnalysis analysis;
    analysis.initialize(&wiring, "Bench");
    analysis.setKeepPercentage(20.0f);
    analysis.setTargetClusterCount(clusters);
    std::stringstream silenced;
    std::streambuf* previous = std::cout.rdbuf(silenced.rdbuf());
    analysis.computeSpadeTree();
    std::cout.rdbuf(previous);
    MCV_DerivedDataClusters* tree = registry->clustersDataList().front();

    QMainWindow window;
    UI_SpadeWidget view(&window, &analysis, false);
    view.setFloating(true);
    view.resize(1000, 800);
    view.show();
    QWebView* web = view.webView();
    while (!evaluate(web, "typeof spadePage !== 'undefined' && typeof simulation !== 'undefined'").toBool())
        wait(10);
    // Each tick's time and count, measured around the page's own tick.
    evaluate(web, "var benchTicks = 0, benchTotalTicks = 0, benchTickMs = 0; var benchTick = layoutTicked;"
                  " layoutTicked = function () { var t = performance.now(); benchTick();"
                  " benchTickMs += performance.now() - t; ++benchTicks; ++benchTotalTicks; };");

    QElapsedTimer sinceData;
    QElapsedTimer timer;
    sinceData.start();
    timer.start();
    wiring.view = &view;
    emit view.qt_setData(QString::fromStdString(tree->jsonString()));
    web->repaint();
    const double firstDrawing = timer.nsecsElapsed() * 1e-6;

    // The layout runs; a hover and a click meanwhile.
    wait(1000);
    const QPoint node = nodeCentre(web, 1);
    timer.restart();
    mouse(web, QEvent::MouseMove, node);
    const double hover = tree->highlightedCluster() == 1 ? timer.nsecsElapsed() * 1e-6 : -1.0;
    timer.restart();
    mouse(web, QEvent::MouseButtonPress, node);
    mouse(web, QEvent::MouseButtonRelease, node);
    const bool selected = registry->selectionData()->points().size() == static_cast<size_t>(tree->clusterSize(1));
    const double click = selected ? timer.nsecsElapsed() * 1e-6 : -1.0;
    mouse(web, QEvent::MouseMove, QPoint(2, 2));

    evaluate(web, "benchTicks = 0; benchTickMs = 0;");
    timer.restart();
    wait(3000);
    const double seconds = timer.nsecsElapsed() * 1e-9;
    const int ticks = evaluate(web, "benchTicks").toInt();
    const double tickMs = evaluate(web, "benchTickMs").toDouble() / std::max(1, ticks);

    // Until the layout settles (its alpha below the minimum).
    while (evaluate(web, "simulation.alpha() >= simulation.alphaMin()").toBool() && sinceData.elapsed() < 120000)
        wait(50);
    const double settled = sinceData.nsecsElapsed() * 1e-9;
    const int totalTicks = evaluate(web, "benchTotalTicks").toInt();

    std::printf("%5d nodes (%d links): first drawing %.1f ms; %.1f ticks/s, %.2f ms/tick; settled after about"
                " %d ticks in %.1f s; hover %.2f ms, click to Selection %.2f ms\n",
                tree->clusterCount(), static_cast<int>(tree->links().size()), firstDrawing, ticks / seconds, tickMs,
                totalTicks, settled, hover, click);
    std::fflush(stdout);
    wiring.view = nullptr;
    registry->setUiInterface(nullptr);
    delete registry;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty())
        sizes = {300, 1000};
    for (int clusters : sizes)
        run(clusters);
    return 0;
}
