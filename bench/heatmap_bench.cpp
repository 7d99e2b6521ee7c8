// The heat map page with 200 clusters x 40 markers from generated data, in
// the real view. Run it under scripts/with-display.
//
//   heatmap_bench [C]   C clusters (default 200) of 20 events each, 40 markers
//
// Prints, as medians over five rounds: choosing the set to its drawing done
// (scripts, then painting); a press that reorders the columns (three
// selected, the transition excluded) and its painting; sorting by a marker;
// the dendrogram switched on, and the clustering alone; a rename round trip
// through the core; frames per second during a 500 ms column transition.

#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataPoints.h"
#include "docks/UI_HeatMapWidget.h"
#include "support/FcsTestFile.h"
#include "support/SilentUiInterface.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QWebFrame>
#include <QWebPage>
#include <QWebView>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <vector>

namespace {

constexpr int kMarkers = 40;
constexpr int kEventsPerCluster = 20;
constexpr int kRounds = 5;

/// Hands the core's announcements to the view, as the main window wires it.
class ViewWiring : public SilentUiInterface
{
public:
    UI_HeatMapWidget* view = nullptr;
    void dataRefreshedSignal(void* data) override { view->dataRefreshed(data); }
    void selectionRefreshedSignal(void* clusters) override { view->selectionRefreshed(clusters); }
    void highlightRefreshedSignal(void* clusters) override { view->highlightRefreshed(clusters); }
};

QVariant js(QWebView* view, const QString& script)
{
    return view->page()->mainFrame()->evaluateJavaScript(script);
}

bool waitFor(QWebView* view, const QString& condition)
{
    QElapsedTimer timer;
    timer.start();
    while (!js(view, condition).toBool()) {
        if (timer.elapsed() > 20000)
            return false;
        QTest::qWait(10);
    }
    return true;
}

double millisecondsOf(const std::function<void()>& work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void press(QWebView* view, int cluster, Qt::KeyboardModifiers modifiers)
{
    const QVariantList box = js(view, QString("(function () { var r = document.querySelector('#cluster%1 rect.cell:nth-of-type(2)')"
                                              ".getBoundingClientRect(); return [r.left + r.width / 2, r.top + r.height / 2]; })()")
                                          .arg(cluster))
                                 .toList();
    const QPoint at(box[0].toInt(), box[1].toInt());
    QMouseEvent down(QEvent::MouseButtonPress, at, view->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, modifiers);
    QMouseEvent up(QEvent::MouseButtonRelease, at, view->mapToGlobal(at), Qt::LeftButton, Qt::NoButton, modifiers);
    QApplication::sendEvent(view, &down);
    QApplication::sendEvent(view, &up);
}

/// Lets the running transitions end.
void settle()
{
    QTest::qWait(800);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    const int clusters = argc > 1 ? std::atoi(argv[1]) : 200;
    QTemporaryDir dir;

    // Cluster c's events lie around a profile of its own in every marker.
    std::mt19937 generator(7);
    std::normal_distribution<float> noise(0.0f, 0.2f);
    std::uniform_real_distribution<float> level(0.0f, 6.0f);
    FcsTestFile file(static_cast<int64_t>(clusters) * kEventsPerCluster, kMarkers);
    file.values.clear();
    std::vector<std::vector<MCV_PointIndex>> members(static_cast<std::size_t>(clusters));
    for (int c = 0; c < clusters; ++c) {
        std::vector<float> profile(kMarkers);
        for (float& value : profile)
            value = level(generator);
        for (int e = 0; e < kEventsPerCluster; ++e) {
            for (float value : profile)
                file.values.push_back(value + noise(generator));
            members[static_cast<std::size_t>(c)].push_back({0, c * kEventsPerCluster + e});
        }
    }
    const std::string path = dir.filePath("clusters.fcs").toStdString();
    ViewWiring wiring;
    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    registry->setUiInterface(&wiring);
    if (!file.write(path) || registry->loadFcsFile(path) != 0) {
        std::fprintf(stderr, "could not write and load %s\n", path.c_str());
        return 1;
    }

    UI_HeatMapWidget view;
    wiring.view = &view;
    MCV_DerivedDataPoints* all = registry->createAllPointsData();
    MCV_DerivedDataClusters* set = registry->createClustersData("Generated", false);
    set->setClusters(members, all, {});
    set->jsonString();
    view.resize(1400, 900);
    view.show();
    QWebView* web = view.webView();
    if (!waitFor(web, "typeof _availableDataSets !== 'undefined' && _availableDataSets.length === 1")) {
        std::fprintf(stderr, "the page did not list the set\n");
        return 1;
    }
    std::printf("heat map: %d clusters x %d markers, view %d x %d\n", clusters, kMarkers, web->width(), web->height());

    std::vector<double> draw, drawPaint, pressTimes, pressPaint, sortTimes, dendrogram, clustering, rename, fps;
    for (int round = 0; round < kRounds; ++round) {
        js(web, "setDendrogram(false); _sortMarker = -1; _sortHighToLow = true;");
        // Choosing the set: the chooser's change runs the whole round trip.
        draw.push_back(millisecondsOf([&]() {
            js(web, "var chooser = document.getElementById('dataChooser'); chooser.selectedIndex = 1;"
                    " var event = document.createEvent('HTMLEvents'); event.initEvent('change', true, true);"
                    " chooser.dispatchEvent(event);");
        }));
        drawPaint.push_back(millisecondsOf([&]() { web->repaint(); }));

        press(web, 10, Qt::NoModifier);
        press(web, 20, Qt::ShiftModifier);
        settle();
        pressTimes.push_back(millisecondsOf([&]() { press(web, 30, Qt::ShiftModifier); }));
        pressPaint.push_back(millisecondsOf([&]() { web->repaint(); }));
        settle();

        sortTimes.push_back(millisecondsOf([&]() { js(web, "sortByMarker(3)"); }));
        settle();

        // Frames drawn while the columns move to a new order.
        js(web, "window.__frames = 0; (function count() { ++window.__frames;"
                " if (!window.__stopFrames) requestAnimationFrame(count); })(); sortByMarker(5);");
        QElapsedTimer transition;
        transition.start();
        while (transition.elapsed() < 500)
            QTest::qWait(5);
        const int frames = js(web, "window.__stopFrames = true; window.__frames").toInt();
        fps.push_back(frames * 1000.0 / static_cast<double>(transition.elapsed()));
        settle();
        js(web, "window.__stopFrames = false;");

        dendrogram.push_back(millisecondsOf([&]() { js(web, "setDendrogram(true)"); }));
        settle();
        clustering.push_back(js(web, "(function () { var vectors = clusterVectors(_data.nodes, _markerSelection, markerCount());"
                                     " var start = performance.now(); clusterfck.hcluster(vectors, 'euclidean');"
                                     " return performance.now() - start; })()")
                                 .toDouble());

        rename.push_back(millisecondsOf([&]() { js(web, QString("Qt.js_setSubsetName(0, 'renamed %1')").arg(round)); }));
        settle();
    }

    std::printf("choose the set to drawing done:   %8.1f ms scripts + %6.1f ms painting\n", median(draw),
                median(drawPaint));
    std::printf("press reordering the columns:      %8.1f ms (transition excluded) + %6.1f ms painting\n",
                median(pressTimes), median(pressPaint));
    std::printf("sort by a marker:                  %8.1f ms\n", median(sortTimes));
    std::printf("dendrogram on:                     %8.1f ms (clustering alone %.1f ms)\n", median(dendrogram),
                median(clustering));
    std::printf("rename round trip:                 %8.1f ms\n", median(rename));
    std::printf("frames per second in a transition: %8.1f\n", median(fps));
    return 0;
}
