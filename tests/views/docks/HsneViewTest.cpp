// The level view of a hierarchical SNE on a real hierarchy: its scatterplot
// fills "Selection" with the events its landmarks stand for in the shown
// files, and its menu offers the zooms only above scale 0, asking for levels
// of the selection or of the cluster under the press.
#include "docks/UI_HsneWidget.h"

#include "render/PointRenderer.h"
#include "scatterplot/UI_ScatterplotWidget.h"

#include "analyses/MCV_HsneAnalysis.h"
#include "analyses/MCV_HsneAnalysisHierarchy.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataExploration.h"
#include "data/MCV_DerivedDataPoints.h"
#include "support/IsolatedSettings.h"
#include "support/RecordingUiInterface.h"
#include "support/RegistryTestData.h"

#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <random>
#include <set>

namespace {

const bool settingsIsolated = isolateSettings();

/// Two files of three blobs each (the second file shifted), a hierarchy of
/// three scales over them and its overview run for a few iterations.
class LevelOnFiles
{
public:
    LevelOnFiles()
    {
        registry = RegistryTestData::freshRegistry();
        registry->setUiInterface(&ui);
        std::mt19937 random(5);
        std::normal_distribution<float> noise(0.0f, 1.0f);
        for (int f = 0; f < 2; ++f) {
            std::vector<float> values;
            for (int e = 0; e < 900; ++e)
                for (int m = 0; m < 3; ++m)
                    values.push_back(noise(random) + 20.0f * ((e % 3) == m) + 3.0f * f);
            EXPECT_EQ(registry->loadFcsFile(RegistryTestData::writeFcs(
                          folder.path().toStdString(), "f" + std::to_string(f) + ".fcs", 3, values)),
                      0);
        }
        hierarchy.initialize(&ui, "H");
        hierarchy.setInputData(registry->createAllPointsData());
        hierarchy.setSeed(3);
        hierarchy.setExploration(registry->createExplorationData("H", true));
        for (int m = 0; m < 3; ++m)
            hierarchy.setMarkerActive(m, true);
        overview.initialize(&ui, "H - Overview Level");
        overview.setIterations(30);
        hierarchy.addLevel(&overview);
        testing::internal::CaptureStdout();
        EXPECT_TRUE(hierarchy.computeHierarchy());
        testing::internal::GetCapturedStdout();
    }
    ~LevelOnFiles() { RegistryTestData::dropRegistry(); }

    QTemporaryDir folder;
    RecordingUiInterface ui;
    MCV_DataRegistry* registry = nullptr;
    MCV_HsneAnalysisHierarchy hierarchy;
    MCV_HsneAnalysis overview;
};

/// The entries of the next context menu; closes it with `choice` (empty: Escape).
void chooseInMenu(const QString& choice, QStringList* offered)
{
    QTimer::singleShot(50, [choice, offered] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        for (QAction* action : menu->actions()) {
            *offered << action->text();
            if (action->text() == choice)
                menu->setActiveAction(action);
        }
        QTest::keyClick(menu, choice.isEmpty() ? Qt::Key_Escape : Qt::Key_Return);
    });
}

void leftClick(QWidget* widget, QPoint position, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QMouseEvent press(QEvent::MouseButtonPress, position, widget->mapToGlobal(position), Qt::LeftButton,
                      Qt::LeftButton, modifiers);
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, position, widget->mapToGlobal(position), Qt::LeftButton,
                        Qt::NoButton, modifiers);
    QApplication::sendEvent(widget, &release);
}

void rightClick(QWidget* widget, QPoint position)
{
    QMouseEvent press(QEvent::MouseButtonPress, position, widget->mapToGlobal(position), Qt::RightButton,
                      Qt::RightButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, position, widget->mapToGlobal(position), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

} // namespace

TEST(HsneViewTest, SelectionsAreTheRepresentedEventsOfTheShownFiles)
{
    LevelOnFiles data;
    ASSERT_GT(data.overview.scale(), 0);
    UI_HsneWidget view(nullptr, &data.overview);
    std::vector<bool> files{true, true};
    std::vector<unsigned char> colors(6, 40);
    view.scatterplot()->setSampleSources(&files, &colors);
    view.resize(300, 300);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    view.initComputation(&data.overview);
    MCV_DerivedDataPoints* selection = data.registry->selectionData();

    // Every landmark: every event once.
    QTest::keyClick(view.scatterplot(), Qt::Key_A, Qt::ControlModifier);
    std::set<std::pair<int, int>> events;
    for (const MCV_PointIndex& p : selection->points())
        events.insert({p.sampleIndex, p.eventIndex});
    EXPECT_EQ(selection->points().size(), 1800u);
    EXPECT_EQ(events.size(), 1800u);

    // The second file hidden: only the first file's events.
    files[1] = false;
    view.scatterplot()->sampleSelectionUpdated();
    QTest::keyClick(view.scatterplot(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(selection->points().size(), 900u);
    EXPECT_TRUE(std::all_of(selection->points().begin(), selection->points().end(),
                            [](const MCV_PointIndex& p) { return p.sampleIndex == 0; }));

    // Nothing selected: the set is emptied and announced; the flags follow the registry.
    data.ui.clear();
    QTest::keyClick(view.scatterplot(), Qt::Key_D, Qt::ControlModifier);
    EXPECT_TRUE(selection->points().empty());
    EXPECT_GE(data.ui.count("dataRefreshedSignal", selection), 1);
    selection->setPoints(std::vector<MCV_PointIndex>{data.overview.landmarkPoints()[0]}, false);
    view.dataRefreshed(selection);
    EXPECT_EQ(std::count(view.selectionFlags().begin(), view.selectionFlags().end(), 0x7fff), 1);
    EXPECT_EQ(view.selectionFlags()[0], 0x7fff);
}

TEST(HsneViewTest, TheMenuZoomsAboveTheFirstScaleOnly)
{
    LevelOnFiles data;
    UI_HsneWidget view(nullptr, &data.overview);
    view.resize(300, 300);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    view.initComputation(&data.overview);
    UI_ScatterplotWidget* plot = view.scatterplot();
    std::vector<std::vector<unsigned>> selectionLevels;
    QObject::connect(&view, &UI_HsneWidget::newHsneLevelTriggered,
                     [&](MCV_HsneAnalysis* parent, MCV_HsneAnalysisHierarchy* owner, std::vector<unsigned>* list) {
                         EXPECT_EQ(parent, &data.overview);
                         EXPECT_EQ(owner, &data.hierarchy);
                         selectionLevels.push_back(*list);
                     });
    QStringList clusterLevels;
    QObject::connect(&view, &UI_HsneWidget::newHSNELevelTriggeredFromCluster,
                     [&](MCV_DerivedDataExploration*, const QString& name, const QString& set, int index,
                         const QString& parent, int marker) {
                         clusterLevels << name << set << QString::number(index) << parent << QString::number(marker);
                     });

    // Nothing selected, no clusters: no menu.
    rightClick(plot, QPoint(150, 150));
    EXPECT_FALSE(plot->isContextMenuOpen());

    QTest::keyClick(plot, Qt::Key_A, Qt::ControlModifier);
    QStringList offered;
    chooseInMenu("Zoom into Selection", &offered);
    rightClick(plot, QPoint(150, 150));
    EXPECT_EQ(offered, QStringList{"Zoom into Selection"});
    ASSERT_EQ(selectionLevels.size(), 1u);
    std::vector<unsigned> all(static_cast<size_t>(data.overview.pointCount()));
    for (size_t k = 0; k < all.size(); ++k)
        all[k] = static_cast<unsigned>(k);
    EXPECT_EQ(selectionLevels[0], data.overview.selectionToLandmarks(all));

    // Clusters: the one under a landmark's pixel can be zoomed into.
    plot->cluster();
    PointRenderer* renderer = plot->renderer();
    ASSERT_FALSE(renderer->saveClusters().empty());
    QPoint onCluster(-1, -1);
    for (int y = 5; y < 300 && onCluster.x() < 0; y += 5)
        for (int x = 5; x < 300 && onCluster.x() < 0; x += 5)
            if (renderer->clusterAt(x, 299 - y) >= 0)
                onCluster = QPoint(x, y);
    ASSERT_GE(onCluster.x(), 0);
    offered.clear();
    chooseInMenu("Zoom into Cluster", &offered);
    rightClick(plot, onCluster);
    EXPECT_EQ(offered, (QStringList{"Zoom into Selection", "Zoom into Cluster", "Save Clusters"}));
    ASSERT_EQ(clusterLevels.size(), 5);
    const QString set = QString::fromStdString(renderer->saveClusters());
    const int index = clusterLevels[2].toInt();
    MCV_DerivedDataClusters* clusters = data.registry->createClustersData(set.toStdString(), true);
    EXPECT_EQ(clusterLevels, (QStringList{set + QString::fromStdString(clusters->clusterName(index)), set,
                                          QString::number(index), "H - Overview Level", "-1"}));

    // Two clusters merged: the level's node in the exploration holds the clusters that are left.
    std::map<int, QPoint> clusterPixels;
    for (int y = 5; y < 300; y += 5)
        for (int x = 5; x < 300; x += 5)
            if (renderer->clusterAt(x, 299 - y) >= 0)
                clusterPixels.emplace(renderer->clusterAt(x, 299 - y), QPoint(x, y));
    ASSERT_GE(clusterPixels.size(), 2u);
    const int before = clusters->clusterCount();
    leftClick(plot, clusterPixels.begin()->second);
    leftClick(plot, std::next(clusterPixels.begin())->second, Qt::ShiftModifier);
    ASSERT_EQ(renderer->countSelectedClusters(), 2);
    offered.clear();
    chooseInMenu("Merge Clusters", &offered);
    rightClick(plot, onCluster);
    EXPECT_TRUE(offered.contains("Merge Clusters"));
    ASSERT_EQ(clusters->clusterCount(), before - 1);
    MCV_DerivedDataExploration* exploration = data.hierarchy.exploration();
    ASSERT_NE(exploration, nullptr);
    const int overviewNode = exploration->nodeIndex("H - Overview Level");
    int children = 0;
    for (const ExplorationNode& node : exploration->nodes())
        children += node.parent == overviewNode;
    EXPECT_EQ(children, before - 1);
}

TEST(HsneViewTest, AtTheFirstScaleTheMenuOffersNoZoom)
{
    LevelOnFiles data;
    MCV_HsneAnalysis first;
    first.initialize(&data.ui, "H - Scale 0");
    first.setScale(0);
    first.setHierarchy(data.hierarchy.hierarchy());
    ASSERT_EQ(first.scale(), 0);
    UI_HsneWidget view(nullptr, &first);
    view.resize(300, 300);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    view.initComputation(&first);
    UI_ScatterplotWidget* plot = view.scatterplot();

    // A selection alone gives no menu; clusters give only "Save Clusters".
    QTest::keyClick(plot, Qt::Key_A, Qt::ControlModifier);
    rightClick(plot, QPoint(150, 150));
    EXPECT_FALSE(plot->isContextMenuOpen());
    plot->cluster();
    ASSERT_FALSE(plot->renderer()->saveClusters().empty());
    QStringList offered;
    chooseInMenu(QString(), &offered);
    rightClick(plot, QPoint(150, 150));
    EXPECT_EQ(offered, QStringList{"Save Clusters"});
}
