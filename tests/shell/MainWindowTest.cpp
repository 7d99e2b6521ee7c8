// The main window as it starts: form, menus, actions, the "Settings" dock,
// the view commands that exist without data, and closing it.
#include "MainWindow.h"
#include "UI_Interface.h"

#include "analyses/MCV_TsneAnalysis.h"
#include "data/MCV_DataRegistry.h"
#include "docks/UI_FileInfoWidget.h"
#include "framework/UI_DockableContainerWidget.h"
#include "support/RegistryTestData.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <gtest/gtest.h>

namespace {

QAction* action(const MainWindow& window, const char* name)
{
    return window.findChild<QAction*>(name);
}

QStringList texts(const QList<QAction*>& actions)
{
    QStringList result;
    for (QAction* a : actions)
        result << a->text();
    return result;
}

} // namespace

TEST(MainWindowTest, FormHoldsTheTwelveActionsWithTextsAndShortcuts)
{
    MainWindow window;
    const struct
    {
        const char* name;
        const char* text;
        const char* shortcut;
    } expected[] = {
        {"actionOpenFile", "Open FCS File(s) ...", "Ctrl+O"},
        {"actionClassifyData", "Classify with Template...", "Ctrl+Shift+C"},
        {"actionExportSpadeTree", "Export Spade Tree ...", "Ctrl+Shift+E"},
        {"actionFileInformation", "File Information View", "Ctrl+Shift+I"},
        {"actionSettings", "Settings View", "Ctrl+,"},
        {"actionHeatMap", "HeatMap View", "Ctrl+Shift+H"},
        {"actionSpadeView", "Spade View", "Ctrl+Shift+S"},
        {"actionScatterplotView", "Scatterplot View", "Ctrl+Shift+P"},
        {"actionNewSpadeAnalysis", "New Spade Analysis", "Ctrl+S"},
        {"actionNewTsneAnalysis", "New A-tSNE Analysis", "Ctrl+T"},
        {"actionCheckForUpdates", "Check for Updates ...", ""},
        {"actionAbout", "About Vessarine ...", ""},
    };
    QStringList ownActions;
    for (QAction* a : window.findChildren<QAction*>(QString(), Qt::FindDirectChildrenOnly))
        if (a->objectName().startsWith("action"))
            ownActions << a->objectName();
    ASSERT_EQ(ownActions.size(), 12);
    for (int i = 0; i < 12; ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(ownActions[i], expected[i].name);
        QAction* a = action(window, expected[i].name);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->text(), expected[i].text);
        EXPECT_EQ(a->shortcut(), QKeySequence(expected[i].shortcut));
    }
}

TEST(MainWindowTest, MenusHoldExactlyTheirActions)
{
    MainWindow window;
    QMenuBar* bar = window.menuBar();
    EXPECT_EQ(bar->objectName(), "menuBar");
    EXPECT_EQ(texts(bar->actions()), QStringList({"File", "Analysis", "View", "Help"}));

    auto menu = [&](const char* name) {
        QMenu* m = window.findChild<QMenu*>(name);
        return m ? texts(m->actions()) : QStringList{"missing"};
    };
    EXPECT_EQ(menu("menuFile"), QStringList({"Open FCS File(s) ..."}));
    EXPECT_EQ(menu("menuAnalysis"), QStringList({"New Spade Analysis", "New A-tSNE Analysis"}));
    EXPECT_EQ(menu("menuView"), QStringList({"HeatMap View", "File Information View", "Settings View"}));
    EXPECT_EQ(menu("menuHelp"), QStringList({"Check for Updates ...", "About Vessarine ..."}));

    // Four actions stand in no menu, tool bar or widget: nothing reaches them.
    for (const char* name : {"actionClassifyData", "actionExportSpadeTree", "actionSpadeView", "actionScatterplotView"})
        EXPECT_TRUE(action(window, name)->associatedWidgets().isEmpty()) << name;

    QToolBar* toolBar = window.findChild<QToolBar*>("toolBar");
    ASSERT_NE(toolBar, nullptr);
    EXPECT_EQ(toolBar->windowTitle(), "toolBar");
    EXPECT_TRUE(toolBar->actions().isEmpty());
    EXPECT_EQ(window.toolBarArea(toolBar), Qt::TopToolBarArea);
}

TEST(MainWindowTest, SettingsDockAndActionStatesAtStart)
{
    MainWindow window;
    auto* settings = window.findChild<UI_DockableContainerWidget*>();
    ASSERT_NE(settings, nullptr);

    window.show();
    EXPECT_TRUE(settings->isVisible());
    EXPECT_GE(settings->width(), 300);
    EXPECT_LE(settings->width(), 500);

    // No data yet: the analyses cannot be started; the unreachable export stays enabled.
    EXPECT_FALSE(action(window, "actionNewSpadeAnalysis")->isEnabled());
    EXPECT_FALSE(action(window, "actionNewTsneAnalysis")->isEnabled());
    EXPECT_TRUE(action(window, "actionExportSpadeTree")->isEnabled());

    // "Settings View" hides and shows the dock in turn.
    action(window, "actionSettings")->trigger();
    EXPECT_FALSE(settings->isVisible());
    action(window, "actionSettings")->trigger();
    EXPECT_TRUE(settings->isVisible());
}

TEST(MainWindowTest, FileInformationViewIsMadeOnceAndToggles)
{
    MainWindow window;
    window.show();
    EXPECT_EQ(window.findChild<UI_FileInfoWidget*>(), nullptr);

    action(window, "actionFileInformation")->trigger();
    auto* dock = window.findChild<UI_FileInfoWidget*>();
    ASSERT_NE(dock, nullptr);
    EXPECT_TRUE(dock->isVisible());
    EXPECT_TRUE(dock->isFloating());
    EXPECT_EQ(window.dockWidgetArea(dock), Qt::RightDockWidgetArea);

    action(window, "actionFileInformation")->trigger();
    EXPECT_FALSE(dock->isVisible());
    action(window, "actionFileInformation")->trigger();
    EXPECT_TRUE(dock->isVisible());
    EXPECT_EQ(window.findChildren<UI_FileInfoWidget*>().size(), 1);
}

TEST(MainWindowTest, ClosingTheWindowEndsTheEventLoopWithZero)
{
    MainWindow window;
    window.show();
    QTimer::singleShot(0, &window, &QWidget::close);
    // A stray window left open would keep the loop running: end it as a failure.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QApplication::exit(1); });
    guard.start(20000);
    EXPECT_EQ(QApplication::exec(), 0);
}

TEST(MainWindowTest, ClosingDuringARunEndsTheRunThenTheEventLoop)
{
    QTemporaryDir dir;
    MCV_DataRegistry* registry = RegistryTestData::freshRegistry();
    std::vector<float> values;
    for (int i = 0; i < 300 * 3; ++i)
        values.push_back(static_cast<float>(i % 7 + 10 * (i / 3 % 3)));
    ASSERT_EQ(registry->loadFcsFile(RegistryTestData::writeFcs(dir.path().toStdString(), "a.fcs", 3, values)), 0);
    registry->appendChannels({"VSRNE_TsneX", "VSRNE_TsneY"}, 0.0f);

    MainWindow window;
    window.show();
    // Wired as the window wires its own notification object; the slot of each
    // iteration repaints nothing but processes events, as the t-SNE view does.
    UI_Interface notifications;
    QObject::connect(&notifications, &UI_Interface::readyForDeletionSignal, &window, &MainWindow::deleteAnalysis);
    int updates = 0, finished = 0, deletions = 0;
    QObject::connect(&notifications, &UI_Interface::analysisUpdatedSignal, [&] {
        if (++updates == 5)
            QTimer::singleShot(0, &window, &QWidget::close);
        QCoreApplication::processEvents();
    });
    QObject::connect(&notifications, &UI_Interface::analysisFinishedSignal, [&] { ++finished; });
    QObject::connect(&notifications, &UI_Interface::readyForDeletionSignal, [&] { ++deletions; });
    auto* analysis = new MCV_TsneAnalysis;
    analysis->initialize(&notifications, "Running");
    analysis->setInputData(registry->createAllPointsData());
    window.addAnalysis(analysis);

    QTimer::singleShot(0, [analysis] { analysis->compute(); });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QApplication::exit(1); });
    guard.start(60000);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_LT(updates, 100) << "of 1000 iterations";
    EXPECT_EQ(finished, 0);
    EXPECT_EQ(deletions, 1);
    EXPECT_EQ(window.makeUniqueAnalysisName("Running"), "Running") << "the analysis was deleted";
    RegistryTestData::dropRegistry();
}

TEST(MainWindowTest, CheckForUpdatesSaysItIsNotAvailableWithTheVersion)
{
    MainWindow window;
    window.show();
    QString shown;
    // The check runs a modal message box: read and close it from inside its loop.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            poll.stop();
            shown = box->text();
            box->accept();
        }
    });
    poll.start(10);
    action(window, "actionCheckForUpdates")->trigger();
    EXPECT_TRUE(shown.contains("Vessarine 1.0.2")) << shown.toStdString();
    EXPECT_TRUE(shown.contains("Update checks are not available in this build.")) << shown.toStdString();
}
