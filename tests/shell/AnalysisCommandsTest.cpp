// "New A-tSNE Analysis" and "New Spade Analysis", the further "Scatterplot
// View" and "Spade View" with their analysis chooser, and removing analyses:
// names, channels, docks, tabs and lists.
#include "MainWindow.h"
#include "UI_AnalysisSelectionDialog.h"
#include "UI_Interface.h"

#include "analyses/MCV_SpadeAnalysis.h"
#include "analyses/MCV_TsneAnalysis.h"
#include "analysis_settings/UI_SpadeSettingsWidget.h"
#include "analysis_settings/UI_TsneSettingsWidget.h"
#include "data/FcsHeader.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataPoints.h"
#include "docks/UI_SpadeWidget.h"
#include "docks/UI_TsneWidget.h"
#include "framework/UI_DockableContainerWidget.h"
#include "support/DebugLines.h"
#include "support/IsolatedSettings.h"
#include "support/MainWindowDriver.h"
#include "support/PageUnderTest.h"
#include "support/RegistryTestData.h"

#include <QApplication>
#include <QDoubleSpinBox>
#include <QListView>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const bool settingsIsolated = isolateSettings();

class AnalysisCommandsTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(settingsIsolated);
        ASSERT_TRUE(dir.isValid());
        startFreshSession(dir.path());
        std::vector<float> values;
        for (int i = 0; i < 60 * 3; ++i)
            values.push_back(static_cast<float>(i % 11));
        RegistryTestData::writeFcs(dir.path().toStdString(), "a.fcs", 3, values);
        window.show();
        openFilesThroughDialog(window, "a.fcs");
    }
    void TearDown() override { RegistryTestData::dropRegistry(); }

    /// "New A-tSNE Analysis" answered with `answer` (null: the proposal);
    /// returns the proposed name.
    QString newTsne(const QString& answer = QString())
    {
        QString proposed;
        answerNamePrompt(answer, &proposed);
        window.findChild<QAction*>("actionNewTsneAnalysis")->trigger();
        return proposed;
    }
    /// "New Spade Analysis" through its menu command, with the proposed name;
    /// returns that name.
    QString newSpade()
    {
        QString proposed;
        answerNamePrompt(QString(), &proposed);
        window.findChild<QAction*>("actionNewSpadeAnalysis")->trigger();
        return proposed;
    }
    /// Titles of the window's visible t-SNE views.
    QStringList viewTitles() const
    {
        QStringList titles;
        for (UI_TsneWidget* view : window.findChildren<UI_TsneWidget*>())
            if (view->isVisible())
                titles << view->windowTitle();
        return titles;
    }
    QStringList tabTitles() const
    {
        QStringList titles;
        if (auto* tabs = window.findChild<UI_DockableContainerWidget*>()->findChild<QTabWidget*>())
            for (int t = 0; t < tabs->count(); ++t)
                titles << tabs->tabText(t);
        return titles;
    }
    MCV_Analysis* analysisNamed(const QString& name) const
    {
        for (UI_TsneWidget* view : window.findChildren<UI_TsneWidget*>())
            if (view->windowTitle() == name && view->analysis())
                return view->analysis();
        return nullptr;
    }
    /// Runs a view command; any dialog it opens is recorded and cancelled.
    int runWithoutChooser(const char* action)
    {
        int choosers = 0;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                ++choosers;
                dialog->reject();
            }
        });
        poll.start(10);
        window.findChild<QAction*>(action)->trigger();
        return choosers;
    }

    QTemporaryDir dir;
    MainWindow window;
};

} // namespace

TEST_F(AnalysisCommandsTest, NewAnalysesGetUniqueNamesTheirChannelsOnceADockAndATab)
{
    QString label;
    whenModal<QInputDialog>(
        [&](QInputDialog* prompt) {
            label = prompt->labelText();
            EXPECT_EQ(prompt->parentWidget(), nullptr);
            EXPECT_EQ(prompt->textEchoMode(), QLineEdit::Normal);
            EXPECT_EQ(prompt->textValue(), "A-tSNE Analysis");
            prompt->accept();
        },
        "Analysis Name");
    {
        DebugLines debug;
        window.findChild<QAction*>("actionNewTsneAnalysis")->trigger();
        EXPECT_EQ(DebugLines::matching("Adding Channel"),
                  "Adding Channel \"VSRNE_TsneX\".|Adding Channel \"VSRNE_TsneY\".");
    }
    EXPECT_EQ(label, "Please name the new A-tSNE Analysis.\n Please use unique names to identify your analysis in the system.");
    const FcsHeader* header = MCV_DataRegistry::instance()->mergedHeader();
    ASSERT_EQ(header->parameterCount(), 5u);
    EXPECT_EQ(header->parameterName(4), "VSRNE_TsneY");

    // The analysis takes every channel as a marker and "All Points" as input.
    MCV_Analysis* first = analysisNamed("A-tSNE Analysis");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->activeMarkerIndices(), (std::vector<int>{0, 1, 2, 3, 4}));
    ASSERT_NE(first->inputData(), nullptr);
    EXPECT_EQ(first->inputData()->name(), "All Points");
    auto* dock = window.findChild<UI_TsneWidget*>();
    EXPECT_EQ(window.dockWidgetArea(dock), Qt::RightDockWidgetArea);

    {
        DebugLines debug;
        EXPECT_EQ(newTsne(), "A-tSNE Analysis 1");
        EXPECT_EQ(DebugLines::matching("Adding Channel"), "");
    }
    EXPECT_EQ(MCV_DataRegistry::instance()->parameterCount(), 5);

    EXPECT_EQ(newTsne("A-tSNE Analysis"), "A-tSNE Analysis 2") << "the proposal skips taken names";
    EXPECT_EQ(newTsne("x&y </b>\"/"), "A-tSNE Analysis 3");
    EXPECT_EQ(newTsne(""), "A-tSNE Analysis 3") << "cancelled: nothing was made";
    EXPECT_EQ(viewTitles(), QStringList({"A-tSNE Analysis", "A-tSNE Analysis 1", "A-tSNE Analysis 2", "x&y </b>\"/"}));
    EXPECT_EQ(tabTitles(),
              QStringList({"A-tSNE Analysis", "A-tSNE Analysis 1", "A-tSNE Analysis 2", "x&&y </b>\"/"}));
    EXPECT_EQ(window.findChildren<UI_TsneSettingsWidget*>().size(), 4);
}

TEST_F(AnalysisCommandsTest, ScatterplotViewChoosesAmongTheTsneAnalysesInListOrder)
{
    auto* spade = new MCV_SpadeAnalysis;
    spade->initialize(nullptr, "S");
    window.addAnalysis(spade);
    EXPECT_EQ(runWithoutChooser("actionScatterplotView"), 0);
    EXPECT_TRUE(viewTitles().isEmpty()) << "no A-tSNE analysis: no view";

    newTsne("A");
    EXPECT_EQ(runWithoutChooser("actionScatterplotView"), 0) << "one analysis: no chooser";
    EXPECT_EQ(viewTitles(), QStringList({"A", "A"}));

    newTsne("B");
    QStringList rows;
    whenModal<UI_AnalysisSelectionDialog>([&](UI_AnalysisSelectionDialog* chooser) {
        EXPECT_EQ(chooser->windowTitle(), "Select Analysis");
        EXPECT_EQ(chooser->parentWidget(), &window);
        auto* list = chooser->findChild<QListView*>();
        for (int r = 0; r < list->model()->rowCount(); ++r)
            rows << list->model()->index(r, 0).data().toString();
        EXPECT_EQ(chooser->selectedIndexes(), 0);
        list->setCurrentIndex(list->model()->index(1, 0));
        chooser->accept();
    });
    window.findChild<QAction*>("actionScatterplotView")->trigger();
    EXPECT_EQ(rows, QStringList({"A", "B"}));
    EXPECT_EQ(viewTitles(), QStringList({"A", "A", "B", "B"}));

    whenModal<UI_AnalysisSelectionDialog>([](UI_AnalysisSelectionDialog* chooser) { chooser->reject(); });
    window.findChild<QAction*>("actionScatterplotView")->trigger();
    EXPECT_EQ(viewTitles().size(), 4) << "cancelled: no view";
    EXPECT_EQ(window.findChildren<UI_TsneSettingsWidget*>().size(), 2) << "views add no settings panel";
}

TEST_F(AnalysisCommandsTest, ADeletedAnalysisTakesEveryDockOfItsTitleAndItsTab)
{
    newTsne("A");
    newTsne("B");
    QList<UI_TsneWidget*> docksOfA;
    whenModal<UI_AnalysisSelectionDialog>([](UI_AnalysisSelectionDialog* chooser) { chooser->accept(); });
    window.scatterPlotViewTriggered();
    for (UI_TsneWidget* view : window.findChildren<UI_TsneWidget*>())
        if (view->windowTitle() == "A")
            docksOfA << view;
    ASSERT_EQ(docksOfA.size(), 2);
    UI_TsneSettingsWidget* panelOfA = nullptr;
    for (UI_TsneSettingsWidget* panel : window.findChildren<UI_TsneSettingsWidget*>())
        if (panel->analysis() == docksOfA[0]->analysis())
            panelOfA = panel;
    ASSERT_NE(panelOfA, nullptr);
    QPointer<UI_TsneWidget> first(docksOfA[0]), second(docksOfA[1]);
    QPointer<UI_TsneSettingsWidget> panel(panelOfA);

    // Not running: the analysis goes inside its request.
    first->analysis()->requestDeletion();
    EXPECT_EQ(window.makeUniqueAnalysisName("A"), "A");
    // Detached at once, freed when the event loop is back.
    ASSERT_TRUE(first && second && panel);
    EXPECT_EQ(first->analysis(), nullptr);
    EXPECT_EQ(second->analysis(), nullptr);
    EXPECT_EQ(panel->analysis(), nullptr);
    EXPECT_FALSE(first->isVisible() || second->isVisible() || panel->isVisible());
    EXPECT_EQ(viewTitles(), QStringList({"B"}));
    EXPECT_EQ(tabTitles(), QStringList({"B"}));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(first || second || panel);

    // The name is free again and the channels are reused.
    newTsne();
    EXPECT_EQ(tabTitles(), QStringList({"B", "A-tSNE Analysis"}));
}

TEST_F(AnalysisCommandsTest, RemovalAsksTheNamedTsneAnalysesToGoAndLeavesOthers)
{
    newTsne("A");
    newTsne("B");
    newTsne("C");
    auto* spade = new MCV_SpadeAnalysis;
    spade->initialize(nullptr, "S");
    window.addAnalysis(spade);
    auto* notifications = dynamic_cast<UI_Interface*>(analysisNamed("A")->uiInterface());
    ASSERT_NE(notifications, nullptr);

    notifications->analysesRemovedSignal(nullptr);
    std::vector<std::string> none;
    notifications->analysesRemovedSignal(&none);
    EXPECT_EQ(viewTitles().size(), 3);

    // Each of A and C goes inside its own request, changing the list meanwhile.
    std::vector<std::string> names{"C", "S", "A", "unknown"};
    notifications->analysesRemovedSignal(&names);
    EXPECT_EQ(viewTitles(), QStringList({"B"}));
    EXPECT_EQ(tabTitles(), QStringList({"B"}));
    EXPECT_EQ(window.makeUniqueAnalysisName("S"), "S 1") << "SPADE is left alone";
    EXPECT_EQ(names.size(), 4u);
}

TEST_F(AnalysisCommandsTest, SpadeFromThePostLoadDialogThroughItsPanelToMasterAndSlaveTrees)
{
    // "Start SPADE" after a load: the name prompt, the analysis, its master
    // view on the right and its settings tab.
    PageUnderTest masterPage;
    answerNamePrompt(QString());
    openFilesThroughDialog(window, "a.fcs", "Start SPADE");
    ASSERT_TRUE(masterPage.waitForLoad(60000));
    auto* master = window.findChild<UI_SpadeWidget*>();
    ASSERT_NE(master, nullptr);
    EXPECT_FALSE(master->isSlave());
    EXPECT_EQ(master->windowTitle(), "Spade Analysis");
    EXPECT_EQ(window.dockWidgetArea(master), Qt::RightDockWidgetArea);
    EXPECT_EQ(tabTitles(), QStringList({"Spade Analysis"}));
    ASSERT_NE(master->analysis(), nullptr);
    EXPECT_EQ(master->analysis()->inputData()->name(), "All Points");

    // The panel drives the analysis; its button computes the tree the page draws.
    auto* panel = window.findChild<UI_SpadeSettingsWidget*>();
    ASSERT_NE(panel, nullptr);
    for (QDoubleSpinBox* box : panel->findChildren<QDoubleSpinBox*>())
        if (box->toolTip().startsWith("Target number of points"))
            box->setValue(100);
    for (QSpinBox* box : panel->findChildren<QSpinBox*>())
        if (box->toolTip() == "Target number of nodes in the SPADE tree.")
            box->setValue(4);
    QPushButton* compute = panel->findChild<QPushButton*>();
    testing::internal::CaptureStdout();
    QTest::mousePress(compute, Qt::LeftButton);
    testing::internal::GetCapturedStdout();
    QTest::mouseRelease(compute, Qt::LeftButton);
    MCV_DerivedDataClusters* tree = MCV_DataRegistry::instance()->createClustersData("Spade Analysis", true);
    ASSERT_GT(tree->clusterCount(), 1);
    ASSERT_TRUE(masterPage.waitFor(QString("graph !== null && graph.nodes.length === %1").arg(tree->clusterCount()), 30000));
    masterPage.evaluate("document.getElementById('fixTreeSwitch').click(); layoutTicked();");

    // A bubble publishes its points set, which the other panels are offered.
    newTsne("T");
    masterPage.evaluate("graph.nodes[0].selected = true; createBubble('B');");
    EXPECT_EQ(MCV_DataRegistry::instance()->createPointsData("B", true)->points().size(),
              static_cast<std::size_t>(tree->clusterSize(0)));
    ASSERT_NE(analysisNamed("T"), nullptr);
    EXPECT_EQ(analysisNamed("T")->inputData()->name(), "B");

    // "Spade View" on the only SPADE analysis: a slave at the master's
    // positions, which follows the master at a highlight change.
    PageUnderTest slavePage;
    EXPECT_EQ(runWithoutChooser("actionSpadeView"), 0);
    ASSERT_TRUE(slavePage.waitForLoad(60000));
    const QString layout = "JSON.stringify(graph.nodes.map(function (n) { return [n.x, n.y]; }))";
    ASSERT_TRUE(slavePage.waitFor(QString("graph !== null && graph.nodes.length === %1").arg(tree->clusterCount()), 30000));
    EXPECT_EQ(slavePage.evaluate(layout), masterPage.evaluate(layout));
    masterPage.evaluate("graph.nodes.forEach(function (n) { n.x += n.index; }); layoutTicked();");
    masterPage.evaluate("nodeEntered.call(d3.select('g.node').node(), graph.nodes[0])");
    EXPECT_EQ(tree->highlightedCluster(), 0);
    EXPECT_EQ(slavePage.evaluate(layout), masterPage.evaluate(layout));

    // A second analysis through the menu command; "Spade View" now asks.
    EXPECT_EQ(newSpade(), "Spade Analysis 1");
    QStringList rows;
    whenModal<UI_AnalysisSelectionDialog>([&](UI_AnalysisSelectionDialog* chooser) {
        auto* list = chooser->findChild<QListView*>();
        for (int r = 0; r < list->model()->rowCount(); ++r)
            rows << list->model()->index(r, 0).data().toString();
        list->setCurrentIndex(list->model()->index(1, 0));
        chooser->accept();
    });
    PageUnderTest secondSlavePage;
    window.findChild<QAction*>("actionSpadeView")->trigger();
    ASSERT_TRUE(secondSlavePage.waitForLoad(60000));
    EXPECT_EQ(rows, QStringList({"Spade Analysis", "Spade Analysis 1"}));
    QStringList slaves;
    for (UI_SpadeWidget* view : window.findChildren<UI_SpadeWidget*>())
        if (view->isSlave())
            slaves << view->windowTitle();
    slaves.sort();
    EXPECT_EQ(slaves, QStringList({"Spade Analysis", "Spade Analysis 1"}));

    // The analysis goes with both its views and its tab; the other stays.
    QPointer<UI_SpadeWidget> masterView(master);
    master->analysis()->requestDeletion();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(masterView);
    QStringList left;
    for (UI_SpadeWidget* view : window.findChildren<UI_SpadeWidget*>())
        left << view->windowTitle();
    EXPECT_EQ(left, QStringList({"Spade Analysis 1", "Spade Analysis 1"}));
    EXPECT_EQ(tabTitles(), QStringList({"T", "Spade Analysis 1"}));
}
