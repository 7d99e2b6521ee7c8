// The hierarchical SNE in the real main window: the hierarchy with its
// overview view, settings tab and exploration page; compute, drill into a
// selection and into a cluster, raise a view from the page, recompute.
#include "MainWindow.h"
#include "UI_Interface.h"

#include "analyses/MCV_HsneAnalysis.h"
#include "analyses/MCV_HsneAnalysisHierarchy.h"
#include "data/DefaultStateStore.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataPoints.h"
#include "data/MCV_DerivedDataExploration.h"
#include "rendering/PointRenderer.h"
#include "rendering/UI_ScatterplotWidget.h"
#include "support/IsolatedSettings.h"
#include "support/MainWindowDriver.h"
#include "support/RegistryTestData.h"
#include "web/UI_HierarchyWidget.h"
#include "web/UI_HsneSettingsWidget.h"
#include "web/UI_HsneWidget.h"
#include "widgets/UI_Settings.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <random>

namespace {

const bool settingsIsolated = isolateSettings();

UI_HsneWidget* levelView(MainWindow& window, const QString& title)
{
    for (UI_HsneWidget* view : window.findChildren<UI_HsneWidget*>())
        if (view->windowTitle() == title && view->level() != nullptr)
            return view;
    return nullptr;
}

QStringList levelTitles(MainWindow& window)
{
    QStringList titles;
    for (UI_HsneWidget* view : window.findChildren<UI_HsneWidget*>())
        if (view->level() != nullptr)
            titles << view->windowTitle();
    titles.sort();
    return titles;
}

/// Levels created while the test runs get a few iterations: a level runs
/// inside the call that creates it, and each iteration draws a frame.
void keepLevelsShort(MainWindow& window)
{
    UI_Interface* ui = window.uiInterface();
    QObject::connect(ui, &UI_Interface::analysisInitializedSignal, [](void* analysis) {
        auto* level = static_cast<MCV_Analysis*>(analysis);
        if (level->analysisType() == MCV_AnalysisTypeHsne)
            static_cast<MCV_HsneAnalysis*>(level)->setIterations(20);
    });
}

} // namespace

TEST(HsneShellTest, HierarchyOverviewDrillsPageAndRecompute)
{
    ASSERT_TRUE(settingsIsolated);
    RegistryTestData::dropRegistry();
    std::vector<bool> none;
    DefaultStateStore::instance()->setMarkerStates(none);
    QTemporaryDir dir;
    UI_Settings::instance()->setValue("dataDefaultFilePath", dir.path());
    UI_Settings::instance()->sync();
    std::mt19937 random(2);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    for (int f = 0; f < 2; ++f) {
        std::vector<float> values;
        for (int e = 0; e < 600; ++e)
            for (int m = 0; m < 3; ++m)
                values.push_back(noise(random) + 25.0f * ((e % 3) == m));
        RegistryTestData::writeFcs(dir.path().toStdString(), "s" + std::to_string(f) + ".fcs", 3, values);
    }
    MainWindow window;
    window.resize(1200, 900);
    window.show();
    openFilesThroughDialog(window, "\"s0.fcs\" \"s1.fcs\"");
    keepLevelsShort(window);

    MCV_HsneAnalysisHierarchy* hierarchy = window.createHsneAnalysis("HSNE");
    ASSERT_NE(hierarchy, nullptr);
    EXPECT_EQ(levelTitles(window), QStringList{"HSNE - Overview Level"});
    auto* page = window.findChild<UI_HierarchyWidget*>();
    ASSERT_NE(page, nullptr);
    ASSERT_NE(hierarchy->exploration(), nullptr);
    EXPECT_EQ(hierarchy->exploration()->name(), "HSNE");
    ASSERT_NE(hierarchy->inputData(), nullptr);
    EXPECT_EQ(hierarchy->inputData()->name(), "All Points");

    auto* panel = window.findChild<UI_HsneSettingsWidget*>();
    ASSERT_NE(panel, nullptr);
    for (int m = 0; m < 3; ++m)
        hierarchy->setMarkerActive(m, true);
    QPushButton* compute = nullptr;
    for (QPushButton* button : panel->findChildren<QPushButton*>())
        if (button->text() == " Compute HSNE ")
            compute = button;
    ASSERT_NE(compute, nullptr);
    testing::internal::CaptureStdout();
    QTest::mousePress(compute, Qt::LeftButton);
    QTest::mouseRelease(compute, Qt::LeftButton);
    testing::internal::GetCapturedStdout();
    UI_HsneWidget* overview = levelView(window, "HSNE - Overview Level");
    ASSERT_NE(overview, nullptr);
    ASSERT_GT(overview->level()->scale(), 0);
    EXPECT_EQ(overview->scatterplot()->renderer()->pointCount(), overview->level()->pointCount());

    // A selection of every landmark, zoomed into: a level one scale down.
    QTest::keyClick(overview->scatterplot(), Qt::Key_A, Qt::ControlModifier);
    testing::internal::CaptureStdout();
    overview->drillIntoSelection();
    testing::internal::GetCapturedStdout();
    const QString scaleName = QString("HSNE - Scale %1").arg(overview->level()->scale() - 1);
    UI_HsneWidget* drilled = levelView(window, scaleName);
    ASSERT_NE(drilled, nullptr);
    EXPECT_EQ(drilled->level()->scale(), overview->level()->scale() - 1);
    EXPECT_GT(drilled->level()->pointCount(), overview->level()->pointCount());

    // Clusters of the overview, one zoomed into from the page: a level named set + cluster.
    overview->scatterplot()->cluster();
    const std::string set = overview->scatterplot()->renderer()->saveClusters();
    ASSERT_FALSE(set.empty());
    MCV_DerivedDataClusters* clusters = MCV_DataRegistry::instance()->createClustersData(set, true);
    ASSERT_GE(clusters->clusterCount(), 1);
    const QString clusterLevel = QString::fromStdString(set + clusters->clusterName(0));
    page->js_selectData("HSNE");
    testing::internal::CaptureStdout();
    page->js_drillIntoCluster(clusterLevel, QString::fromStdString(set), 0, "HSNE - Overview Level", 1);
    testing::internal::GetCapturedStdout();
    UI_HsneWidget* clusterView = levelView(window, clusterLevel);
    ASSERT_NE(clusterView, nullptr);
    EXPECT_GE(hierarchy->exploration()->nodeIndex(clusterLevel.toStdString()), 0);
    // Asked again: the existing view is raised, nothing is created.
    page->js_drillIntoCluster(clusterLevel, QString::fromStdString(set), 0, "HSNE - Overview Level", 1);
    EXPECT_EQ(levelTitles(window).count(clusterLevel), 1);

    // Alt-click on a segment raises the parent coloured by that marker.
    page->js_raiseView("HSNE - Overview Level", 2);
    EXPECT_EQ(overview->scatterplot()->marker(), 2);

    // Recomputing removes the levels drilled into.
    testing::internal::CaptureStdout();
    QTest::mousePress(compute, Qt::LeftButton);
    QTest::mouseRelease(compute, Qt::LeftButton);
    testing::internal::GetCapturedStdout();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(levelTitles(window), QStringList{"HSNE - Overview Level"});
    window.close();
    RegistryTestData::dropRegistry();
}
