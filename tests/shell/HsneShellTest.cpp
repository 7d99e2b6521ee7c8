// The hierarchical SNE in the real main window: the hierarchy with its
// overview view, settings tab and exploration page; compute, drill into a
// selection and into a cluster, raise a view from the page, drive a level
// from its slide-in panel, recompute, and reopen files or close the window
// while a level runs.
#include "MainWindow.h"
#include "UI_Interface.h"

#include "analyses/MCV_HsneAnalysis.h"
#include "analyses/MCV_HsneAnalysisHierarchy.h"
#include "analyses/MCV_TsneAnalysis.h"
#include "analysis_settings/UI_HsneSettingsWidget.h"
#include "analysis_settings/UI_TsneSettingsWidget.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataExploration.h"
#include "data/MCV_DerivedDataPoints.h"
#include "docks/UI_HierarchyWidget.h"
#include "docks/UI_HsneWidget.h"
#include "docks/UI_TsneWidget.h"
#include "render/PointRenderer.h"
#include "scatterplot/UI_ScatterplotWidget.h"
#include "scatterplot/UI_TsneSettingsSliderWidget.h"
#include "support/IsolatedSettings.h"
#include "support/MainWindowDriver.h"
#include "support/RegistryTestData.h"

#include <QApplication>
#include <QComboBox>
#include <QDockWidget>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>
#include <set>

namespace {

const bool settingsIsolated = isolateSettings();

class HsneShellTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(settingsIsolated);
        ASSERT_TRUE(dir.isValid());
        startFreshSession(dir.path());
        // Three blobs per file: blob b of event e is e % 3.
        std::mt19937 random(2);
        std::normal_distribution<float> noise(0.0f, 1.0f);
        for (int f = 0; f < 2; ++f) {
            std::vector<float> values;
            for (int e = 0; e < 600; ++e)
                for (int m = 0; m < 3; ++m)
                    values.push_back(noise(random) + 25.0f * ((e % 3) == m));
            RegistryTestData::writeFcs(dir.path().toStdString(), "s" + std::to_string(f) + ".fcs", 3, values);
        }
        window.resize(1200, 900);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        openFilesThroughDialog(window, "\"s0.fcs\" \"s1.fcs\"");
        notifications = dynamic_cast<UI_Interface*>(MCV_DataRegistry::instance()->uiInterface());
        ASSERT_NE(notifications, nullptr);
        // Levels run inside the call that creates them, each iteration a frame: keep them short.
        QObject::connect(notifications, &UI_Interface::analysisInitializedSignal, &window, [this](void* analysis) {
            auto* level = dynamic_cast<MCV_HsneAnalysis*>(static_cast<MCV_Analysis*>(analysis));
            if (level != nullptr)
                level->setIterations(levelIterations);
        });
        QObject::connect(notifications, &UI_Interface::analysisUpdatedSignal, &window, [this](void*) {
            ++updates;
            if (onUpdate)
                onUpdate(updates);
        });
    }
    void TearDown() override { RegistryTestData::dropRegistry(); }

    /// The shell function, every marker on.
    MCV_HsneAnalysisHierarchy* createHierarchy()
    {
        MCV_HsneAnalysisHierarchy* hierarchy = window.createHsneAnalysis("HSNE");
        if (hierarchy != nullptr)
            for (int m = 0; m < 3; ++m)
                hierarchy->setMarkerActive(m, true);
        return hierarchy;
    }
    QPushButton* computeButton() const
    {
        for (QPushButton* button : window.findChildren<QPushButton*>())
            if (button->text() == " Compute HSNE ")
                return button;
        return nullptr;
    }
    static void press(QPushButton* button)
    {
        QTest::mousePress(button, Qt::LeftButton);
        QTest::mouseRelease(button, Qt::LeftButton);
    }
    /// Builds the hierarchy and runs its overview, the console quiet.
    void compute()
    {
        testing::internal::CaptureStdout();
        press(computeButton());
        testing::internal::GetCapturedStdout();
    }
    UI_HsneWidget* levelView(const QString& title) const
    {
        for (UI_HsneWidget* view : window.findChildren<UI_HsneWidget*>())
            if (view->windowTitle() == title && view->level() != nullptr)
                return view;
        return nullptr;
    }
    QStringList levelTitles() const
    {
        QStringList titles;
        for (UI_HsneWidget* view : window.findChildren<UI_HsneWidget*>())
            if (view->level() != nullptr)
                titles << view->windowTitle();
        titles.sort();
        return titles;
    }

    QTemporaryDir dir;
    MainWindow window;
    UI_Interface* notifications = nullptr;
    int levelIterations = 20;
    int updates = 0;
    std::function<void(int)> onUpdate;
};

} // namespace

TEST_F(HsneShellTest, HierarchyOverviewDrillsPageAndRecompute)
{
    MCV_HsneAnalysisHierarchy* hierarchy = createHierarchy();
    ASSERT_NE(hierarchy, nullptr);
    EXPECT_EQ(levelTitles(), QStringList{"HSNE - Overview Level"});
    auto* page = window.findChild<UI_HierarchyWidget*>();
    ASSERT_NE(page, nullptr);
    ASSERT_NE(hierarchy->exploration(), nullptr);
    EXPECT_EQ(hierarchy->exploration()->name(), "HSNE");
    ASSERT_NE(hierarchy->inputData(), nullptr);
    EXPECT_EQ(hierarchy->inputData()->name(), "All Points");
    // A second one takes a unique name.
    EXPECT_EQ(window.makeUniqueAnalysisName("HSNE"), "HSNE 1");

    compute();
    UI_HsneWidget* overview = levelView("HSNE - Overview Level");
    ASSERT_NE(overview, nullptr);
    ASSERT_GT(overview->level()->scale(), 0);
    EXPECT_EQ(updates, 20);
    EXPECT_EQ(overview->scatterplot()->renderer()->pointCount(), overview->level()->pointCount());
    const QImage frame = overview->scatterplot()->grabFramebuffer();
    overview->level()->runGradientDescent();
    EXPECT_NE(overview->scatterplot()->grabFramebuffer(), frame) << "the overview's frames change";

    // A selection of every landmark, zoomed into: a level one scale down.
    QTest::keyClick(overview->scatterplot(), Qt::Key_A, Qt::ControlModifier);
    testing::internal::CaptureStdout();
    overview->drillIntoSelection();
    testing::internal::GetCapturedStdout();
    const QString scaleName = QString("HSNE - Scale %1").arg(overview->level()->scale() - 1);
    UI_HsneWidget* drilled = levelView(scaleName);
    ASSERT_NE(drilled, nullptr);
    EXPECT_EQ(drilled->level()->scale(), overview->level()->scale() - 1);
    EXPECT_GT(drilled->level()->pointCount(), overview->level()->pointCount());
    EXPECT_GE(hierarchy->exploration()->nodeIndex(scaleName.toStdString()), 0);
    // And on down to scale 0.
    QTest::keyClick(drilled->scatterplot(), Qt::Key_A, Qt::ControlModifier);
    testing::internal::CaptureStdout();
    drilled->drillIntoSelection();
    testing::internal::GetCapturedStdout();
    const QString finestName = QString("HSNE - Scale %1").arg(drilled->level()->scale() - 1);
    ASSERT_NE(levelView(finestName), nullptr);

    // One landmark is refused with a line, and nothing is created.
    QTest::keyClick(overview->scatterplot(), Qt::Key_D, Qt::ControlModifier);
    std::vector<unsigned> one{0};
    testing::internal::CaptureStdout();
    emit overview->newHsneLevelTriggered(overview->level(), hierarchy, &one);
    const std::string refusal = testing::internal::GetCapturedStdout();
    EXPECT_NE(refusal.find("at least 2 landmarks"), std::string::npos) << refusal;
    EXPECT_EQ(levelTitles().size(), 3);

    // Clusters of the overview, one zoomed into from the page: a level named set + cluster.
    overview->scatterplot()->cluster();
    const std::string set = overview->scatterplot()->renderer()->saveClusters();
    ASSERT_FALSE(set.empty());
    MCV_DerivedDataClusters* clusters = MCV_DataRegistry::instance()->createClustersData(set, true);
    ASSERT_GE(clusters->clusterCount(), 1);
    // The largest cluster: the embedding starts from the clock, so the clusters vary.
    int largest = 0;
    for (int c = 1; c < clusters->clusterCount(); ++c)
        if (clusters->clusterSize(c) > clusters->clusterSize(largest))
            largest = c;
    const QString clusterLevel = QString::fromStdString(set + clusters->clusterName(largest));
    page->js_selectData("HSNE");
    testing::internal::CaptureStdout();
    page->js_drillIntoCluster(clusterLevel, QString::fromStdString(set), largest, "HSNE - Overview Level", 1);
    const std::string drillLines = testing::internal::GetCapturedStdout();
    ASSERT_NE(levelView(clusterLevel), nullptr) << drillLines;
    EXPECT_GE(hierarchy->exploration()->nodeIndex(clusterLevel.toStdString()), 0);
    // The page still reaches the levels drilled by selection.
    for (const QString& shown : {scaleName, finestName})
        EXPECT_NE(hierarchy->exploration()->jsonString().find("\"name\": \"" + shown.toStdString() + "\""),
                  std::string::npos)
            << shown.toStdString();
    // Asked again: the existing view is raised, nothing is created.
    page->js_drillIntoCluster(clusterLevel, QString::fromStdString(set), largest, "HSNE - Overview Level", 1);
    EXPECT_EQ(levelTitles().count(clusterLevel), 1);
    // A drilled level's own clusters set cannot be named from another level.
    testing::internal::CaptureStdout();
    page->js_drillIntoCluster("other", QString::fromStdString(set), 0, scaleName, 1);
    const std::string otherSet = testing::internal::GetCapturedStdout();
    EXPECT_NE(otherSet.find("is not one of"), std::string::npos) << otherSet;
    EXPECT_EQ(levelView("other"), nullptr);

    // A cluster of the scale-1 level zoomed into: its level at scale 0 holds exactly the cluster's events.
    drilled->scatterplot()->cluster();
    const std::string fineSet = drilled->scatterplot()->renderer()->saveClusters();
    ASSERT_FALSE(fineSet.empty());
    MCV_DerivedDataClusters* fine = MCV_DataRegistry::instance()->createClustersData(fineSet, true);
    int fineLargest = 0;
    for (int c = 1; c < fine->clusterCount(); ++c)
        if (fine->clusterSize(c) > fine->clusterSize(fineLargest))
            fineLargest = c;
    const QString fineLevel = QString::fromStdString(fineSet + fine->clusterName(fineLargest));
    testing::internal::CaptureStdout();
    page->js_drillIntoCluster(fineLevel, QString::fromStdString(fineSet), fineLargest, scaleName, 1);
    testing::internal::GetCapturedStdout();
    ASSERT_NE(levelView(fineLevel), nullptr);
    EXPECT_EQ(levelView(fineLevel)->level()->scale(), 0);
    const auto keys = [](const std::vector<MCV_PointIndex>& events) {
        std::set<std::pair<int, int>> pairs;
        for (const MCV_PointIndex& p : events)
            pairs.insert({p.sampleIndex, p.eventIndex});
        return pairs;
    };
    EXPECT_TRUE(keys(levelView(fineLevel)->level()->landmarkPoints())
                == keys(fine->members()[static_cast<size_t>(fineLargest)]));
    EXPECT_GE(hierarchy->exploration()->nodeIndex(finestName.toStdString()), 0);

    // The call the page makes for an Alt-click on a marker segment (the page's
    // own test clicks it): the parent level is raised, coloured by that marker.
    page->js_raiseView("HSNE - Overview Level", 2);
    EXPECT_EQ(overview->scatterplot()->marker(), 2);

    // Recomputing removes the levels drilled into.
    compute();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(levelTitles(), QStringList{"HSNE - Overview Level"});
    EXPECT_EQ(window.findChildren<UI_HsneWidget*>().size(), 1);
}

TEST_F(HsneShellTest, AZoomAfterAReclusterShowsTheNewClusterBesideTheEarlierLevel)
{
    MCV_HsneAnalysisHierarchy* hierarchy = createHierarchy();
    compute();
    MCV_HsneAnalysis* overview = levelView("HSNE - Overview Level")->level();
    UI_ScatterplotWidget* plot = levelView("HSNE - Overview Level")->scatterplot();
    auto* page = window.findChild<UI_HierarchyWidget*>();
    page->js_selectData("HSNE");
    MCV_DerivedDataClusters* clusters = nullptr;
    const auto clusterAt = [&](int grid) {
        plot->setMsGrid(grid);
        plot->cluster();
        clusters = MCV_DataRegistry::instance()->createClustersData(plot->renderer()->saveClusters(), true);
        return clusters->members();
    };
    // A cluster number that both grid sizes give a sizeable cluster (the embedding starts from the clock).
    const auto coarse = clusterAt(32), fine = clusterAt(256);
    int chosen = 0;
    for (int c = 1; c < static_cast<int>(std::min(coarse.size(), fine.size())); ++c)
        if (std::min(coarse[c].size(), fine[c].size()) > std::min(coarse[chosen].size(), fine[chosen].size()))
            chosen = c;
    const QString set = QString::fromStdString(clusters->name());
    const QString name = set + QString::fromStdString(clusters->clusterName(chosen));
    const auto zoom = [&] {
        page->js_drillIntoCluster(name, set, chosen, "HSNE - Overview Level", 1);
        return levelView(name) != nullptr ? levelView(name)->level() : nullptr;
    };
    MCV_HsneAnalysis* earlier = zoom();
    ASSERT_NE(earlier, nullptr);
    clusterAt(32);
    // The level of the new cluster holds its events by the drill rule.
    MCV_HsneAnalysis* drilled = zoom();
    ASSERT_NE(drilled, nullptr);
    EXPECT_NE(drilled, earlier);
    std::vector<unsigned> landmarks, subset;
    std::vector<vel::MapMemEff> rows;
    ASSERT_TRUE(hierarchy->clusterLandmarks(overview, set.toStdString(), chosen, landmarks));
    MCV_HsneAnalysisHierarchy::drillSubset(*hierarchy->hierarchy(), overview->scale(), landmarks, subset, rows);
    EXPECT_EQ(*drilled->landmarkSubset(), subset);
    // The page shows the new clusters with their sizes, the earlier level under a node of its own.
    MCV_DerivedDataExploration* tree = hierarchy->exploration();
    for (int c = 0; c < clusters->clusterCount(); ++c) {
        const int node = tree->nodeIndex(set.toStdString() + clusters->clusterName(c));
        ASSERT_GE(node, 0) << c;
        EXPECT_EQ(tree->nodes()[static_cast<size_t>(node)].size, clusters->clusterSize(c)) << c;
    }
    EXPECT_EQ(levelView(name + " (earlier)") ? levelView(name + " (earlier)")->level() : nullptr, earlier);
    EXPECT_GE(tree->nodeIndex(earlier->name()), 0);
}

TEST_F(HsneShellTest, TheSlideInPanelPausesResumesAndRestartsALevel)
{
    ASSERT_NE(createHierarchy(), nullptr);
    UI_HsneWidget* overview = levelView("HSNE - Overview Level");
    ASSERT_NE(overview, nullptr);
    UI_TsneSettingsSliderWidget* panel = overview->scatterplot()->settingsSlider();
    ASSERT_NE(panel, nullptr);
    // The panel shows the level's settings and writes them back ("Advanced" page).
    for (QComboBox* modes : panel->findChildren<QComboBox*>())
        if (modes->findText("Advanced") == 2)
            modes->setCurrentIndex(2);
    QList<QSpinBox*> boxes;
    for (QSpinBox* box : panel->findChildren<QSpinBox*>())
        if (box->maximum() == 99999 || box->maximum() == 500)
            boxes << box;
    ASSERT_EQ(boxes.size(), 3);
    EXPECT_EQ(boxes[1]->value(), overview->level()->exaggerationIterations());
    EXPECT_EQ(boxes[2]->value(), overview->level()->exponentialDecayIterations());
    QPushButton* run = nullptr;
    QPushButton* replay = nullptr;
    for (QPushButton* button : panel->findChildren<QPushButton*>())
        if (button->size() == QSize(35, 35))
            (run == nullptr ? run : replay) = button;
    ASSERT_NE(replay, nullptr);

    levelIterations = 300;
    onUpdate = [&](int count) {
        if (count == 10)
            press(run); // pause
    };
    compute();
    EXPECT_EQ(updates, 10) << "paused at the next iteration";
    MCV_HsneAnalysis* level = overview->level();
    ASSERT_NE(level, nullptr);
    EXPECT_FALSE(level->isBusy());

    for (QSpinBox* box : boxes)
        if (box->maximum() == 99999)
            box->setValue(15);
    EXPECT_EQ(level->iterations(), 15);
    onUpdate = nullptr;
    updates = 0;
    press(run); // resume
    EXPECT_EQ(updates, 15);
    updates = 0;
    press(replay); // a new start
    EXPECT_EQ(updates, 15);
    EXPECT_FALSE(overview->scatterplot()->isComputing());
}

TEST_F(HsneShellTest, ReopeningFilesDuringALevelRunLeavesNothingStale)
{
    MCV_HsneAnalysisHierarchy* hierarchy = createHierarchy();
    ASSERT_NE(hierarchy, nullptr);
    auto* page = window.findChild<UI_HierarchyWidget*>();
    levelIterations = 60;
    onUpdate = [&](int count) {
        if (count != 20)
            return;
        // Through the action behind Ctrl+O.
        openFilesThroughDialog(window, "\"s1.fcs\"");
    };
    compute();
    EXPECT_EQ(updates, 60) << "the run went on";
    ASSERT_EQ(MCV_DataRegistry::instance()->sampleCount(), 1);
    EXPECT_EQ(hierarchy->exploration(), nullptr);

    // The old overview selects nothing, drills nowhere and draws on.
    UI_HsneWidget* overview = levelView("HSNE - Overview Level");
    ASSERT_NE(overview, nullptr);
    testing::internal::CaptureStdout();
    QTest::keyClick(overview->scatterplot(), Qt::Key_A, Qt::ControlModifier);
    overview->drillIntoSelection();
    page->js_drillIntoCluster("x", "y", 0, "HSNE - Overview Level", 1);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(MCV_DataRegistry::instance()->selectionData()->points().empty());
    EXPECT_NE(out.find("reloaded"), std::string::npos) << out;
    EXPECT_EQ(levelTitles(), QStringList{"HSNE - Overview Level"});
    overview->scatterplot()->sampleSelectionUpdated();
    overview->scatterplot()->repaint();

    // A rebuild on the new files works.
    updates = 0;
    levelIterations = 10;
    compute();
    EXPECT_EQ(updates, 10);
    EXPECT_EQ(overview->level()->pointsGeneration(), MCV_DataRegistry::instance()->generation());
}

TEST_F(HsneShellTest, EveryPlotHasRoomInTheRightDockAreaOnceShown)
{
    window.resize(1500, 1000);
    QApplication::processEvents();
    std::map<QString, int> shownHeights;
    auto measure = [&](UI_EmbeddingViewWidget* view) {
        ASSERT_NE(view, nullptr);
        ASSERT_TRUE(view->scatterplot()->isVisible());
        shownHeights[view->windowTitle()] = view->scatterplot()->height();
    };
    for (const QString name : {"A-tSNE Analysis", "A-tSNE Analysis 1"}) {
        answerNamePrompt(QString());
        window.findChild<QAction*>("actionNewTsneAnalysis")->trigger();
        auto* view = window.findChildren<UI_TsneWidget*>().last();
        ASSERT_EQ(view->windowTitle(), name);
        static_cast<MCV_TsneAnalysis*>(view->analysis())->setIterations(5);
        for (UI_TsneSettingsWidget* panel : window.findChildren<UI_TsneSettingsWidget*>())
            if (panel->analysis() == view->analysis()) {
                testing::internal::CaptureStdout();
                panel->computeTSNE();
                testing::internal::GetCapturedStdout();
            }
        measure(view);
    }
    answerNamePrompt(QString());
    window.findChild<QAction*>("actionNewSpadeAnalysis")->trigger();
    createHierarchy();
    compute();
    UI_HsneWidget* overview = levelView("HSNE - Overview Level");
    measure(overview);
    QTest::keyClick(overview->scatterplot(), Qt::Key_A, Qt::ControlModifier);
    testing::internal::CaptureStdout();
    overview->drillIntoSelection();
    testing::internal::GetCapturedStdout();
    const QString drilled = QString("HSNE - Scale %1").arg(overview->level()->scale() - 1);
    measure(levelView(drilled));

    ASSERT_EQ(shownHeights.size(), 4u);
    for (const auto& [title, height] : shownHeights)
        EXPECT_GE(height, 200) << title.toStdString();
    QStringList inTheRightArea;
    for (QDockWidget* dock : window.findChildren<QDockWidget*>())
        if (window.dockWidgetArea(dock) == Qt::RightDockWidgetArea && !dock->isFloating())
            inTheRightArea << dock->windowTitle();
    inTheRightArea.sort();
    QStringList views{"A-tSNE Analysis", "A-tSNE Analysis 1", "HSNE", "HSNE - Overview Level", drilled,
                      "Spade Analysis"};
    views.sort();
    EXPECT_EQ(inTheRightArea.join(", ").toStdString(), views.join(", ").toStdString());
}

TEST_F(HsneShellTest, ClosingDuringALevelRunEndsTheEventLoopWithZero)
{
    ASSERT_NE(createHierarchy(), nullptr);
    QPointer<UI_HsneWidget> overview(levelView("HSNE - Overview Level"));
    levelIterations = 1000;
    onUpdate = [&](int count) {
        if (count == 10)
            window.close();
    };
    EXPECT_EQ(runEventLoopFrom([this] { press(computeButton()); }), 0);
    EXPECT_EQ(updates, 10) << "the loop stopped at its next iteration";
    EXPECT_TRUE(!overview || !overview->level()) << "the level was deleted";
}
