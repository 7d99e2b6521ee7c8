// "Classify with Template..." through the real action and dialogs: the table
// file, the analysis name, the settings tab, its set in the heat map and tree
// views, and the tables it refuses.
#include "MainWindow.h"
#include "UI_AnalysisSelectionDialog.h"

#include "analyses/MCV_TemplateAnalysis.h"
#include "analysis_settings/UI_TemplateSettingsWidget.h"
#include "data/DefaultStateStore.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "docks/UI_SpadeWidget.h"
#include "framework/UI_DockableContainerWidget.h"
#include "framework/UI_Settings.h"
#include "support/FcsTestFile.h"
#include "support/IsolatedSettings.h"
#include "support/ModalDialogDriver.h"
#include "support/PageUnderTest.h"
#include "support/RegistryTestData.h"
#include "support/ShownDialogsAndMenus.h"

#include <QAction>
#include <QDir>
#include <QDockWidget>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

const bool settingsIsolated = isolateSettings();

/// Three parameters: "CD3", CD4 "a" and one whose long name is "é µ –".
const std::vector<std::pair<std::string, std::string>> kNames = {
    {"$P1N", "CD3"}, {"$P2N", "CD4 \"a\""}, {"$P3S", "é µ –"}};

class ClassifyDataTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(settingsIsolated);
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(QDir(m_dir.path()).mkdir("tables"));
        RegistryTestData::dropRegistry();
        std::vector<bool> none;
        DefaultStateStore::instance()->setMarkerStates(none);
        UI_Settings::instance()->setValue("dataDefaultFilePath", m_dir.path());
        UI_Settings::instance()->sync();
        m_window.show();
    }
    void TearDown() override { RegistryTestData::dropRegistry(); }

    /// Opens three files through "Open FCS File(s) ..." and closes the post-load dialog.
    void openFiles()
    {
        QStringList names;
        for (int f = 0; f < 3; ++f) {
            std::vector<float> values;
            for (int e = 0; e < 4 + f; ++e)
                for (float x : {1.0f + e, 2.0f, 10.0f * f})
                    values.push_back(x);
            const std::string name = "s" + std::to_string(f) + ".fcs";
            RegistryTestData::writeFcs(m_dir.path().toStdString(), name, 3, values, kNames);
            names << "\"" + QString::fromStdString(name) + "\"";
        }
        chooseInFileDialog(names.join(' '));
        // "OK": accepting the dialog would be "Start SPADE", whose name prompt nobody answers.
        whenModal<QDialog>(
            [](QDialog* dialog) {
                for (QPushButton* button : dialog->findChildren<QPushButton*>())
                    if (button->text() == "OK")
                        button->click();
            },
            "Succes");
        m_window.findChild<QAction*>("actionOpenFile")->trigger();
        ASSERT_EQ(MCV_DataRegistry::instance()->sampleCount(), 3);
    }
    /// Types the names into the next file dialog, after noting how it looked.
    void chooseInFileDialog(const QString& typed)
    {
        whenModal<QFileDialog>([this, typed](QFileDialog* dialog) {
            m_filters = dialog->nameFilters();
            m_folder = dialog->directory().absolutePath();
            EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFiles);
            EXPECT_EQ(dialog->parentWidget(), &m_window);
            dialog->findChild<QLineEdit*>("fileNameEdit")->setText(typed);
            QTest::keyClick(dialog->findChild<QLineEdit*>("fileNameEdit"), Qt::Key_Return);
        });
    }
    /// Writes the table into the "tables" folder and runs the action on it;
    /// answers the name dialog with `answer` when it comes.
    void classify(const std::string& csv, const QString& answer = QString())
    {
        const QString path = m_dir.filePath("tables/t.csv");
        FcsTestFile::writeBytes(path.toStdString(), csv);
        chooseInFileDialog(path);
        if (!answer.isNull())
            whenModal<QInputDialog>([this, answer](QInputDialog* dialog) {
                m_nameDialog = QStringList{dialog->windowTitle(), dialog->labelText(), dialog->textValue()};
                EXPECT_EQ(dialog->parentWidget(), nullptr);
                dialog->setTextValue(answer);
                dialog->accept();
            });
        m_window.findChild<QAction*>("actionClassifyData")->trigger();
    }
    /// Like classify, for a refused table: the warning's text.
    QString refused(const std::string& csv)
    {
        QString text;
        whenModal<QMessageBox>([&](QMessageBox* box) {
            text = box->text();
            EXPECT_EQ(box->windowTitle(), "Template table");
            EXPECT_EQ(box->icon(), QMessageBox::Warning);
            EXPECT_EQ(box->textFormat(), Qt::PlainText);
            EXPECT_EQ(box->parentWidget(), &m_window);
            box->button(QMessageBox::Ok)->click();
        });
        testing::internal::CaptureStdout();
        classify(csv);
        m_printed = testing::internal::GetCapturedStdout();
        return text.replace(m_dir.filePath("tables/t.csv"), "P");
    }

    QTabWidget* tabs() const { return m_window.findChild<UI_DockableContainerWidget*>()->findChild<QTabWidget*>(); }
    int tabCount() const { return tabs() ? tabs()->count() : 0; }
    static int clusterSetCount() { return static_cast<int>(MCV_DataRegistry::instance()->clustersDataList().size()); }

    QTemporaryDir m_dir;
    MainWindow m_window;
    QStringList m_filters;
    QString m_folder;
    QStringList m_nameDialog;
    std::string m_printed;
};

} // namespace

TEST_F(ClassifyDataTest, TableNameTabAndUpsample)
{
    openFiles();
    const int docks = m_window.findChildren<QDockWidget*>().size();
    classify("CD3,\"CD4 \"\"a\"\"\", é µ – \r\n1,2,0\r\n2,2,10\r\n", "");
    EXPECT_EQ(m_filters, QStringList{"cvs table (*.csv)"});
    EXPECT_EQ(m_folder, QDir(m_dir.path()).absolutePath());
    EXPECT_EQ(m_nameDialog, (QStringList{"Analysis Name",
                                         "Please name the new Template Matching Analysis.\n Please use unique names "
                                         "to identify your analysis in the system.",
                                         "Template Matching Analysis"}));
    UI_Settings::instance()->sync();
    EXPECT_EQ(UI_Settings::instance()->value("dataDefaultFilePath").toString(), m_dir.filePath("tables"));
    ASSERT_EQ(tabCount(), 1);
    EXPECT_EQ(tabs()->tabText(0), "Template Matching Analysis");
    EXPECT_EQ(m_window.findChildren<QDockWidget*>().size(), docks) << "no view dock";

    auto* panel = qobject_cast<UI_TemplateSettingsWidget*>(tabs()->widget(0));
    ASSERT_NE(panel, nullptr);
    QPushButton* upsample = nullptr;
    for (QPushButton* button : panel->findChildren<QPushButton*>())
        if (button->text() == " Upsample ")
            upsample = button;
    ASSERT_NE(upsample, nullptr);
    testing::internal::CaptureStdout();
    QTest::mouseClick(upsample, Qt::LeftButton);
    testing::internal::GetCapturedStdout();
    MCV_DerivedDataClusters* set = MCV_DataRegistry::instance()->clustersDataList().front();
    EXPECT_EQ(set->name(), "Template Matching Analysis");
    // Header (zeros), two templates, unmatched: the events x, 2, 10 f of file f
    // go to template 1 (f = 0, x = 1), 2 (f = 1, x <= 4) or none.
    ASSERT_EQ(set->clusterCount(), 4);
    EXPECT_EQ(set->clusterSize(0) + set->clusterSize(1) + set->clusterSize(2) + set->clusterSize(3), 15);
    EXPECT_EQ(set->clusterSize(1), 3) << "1, 2, 0 and the two within 2.5 of it";

    // "HeatMap View" twice: two docks; each offers the set, and it draws its
    // T + 1 columns. Per-sample totals are the files' events, percentages finite.
    PageUnderTest firstPage;
    PageUnderTest page;
    m_window.findChild<QAction*>("actionHeatMap")->trigger();
    m_window.findChild<QAction*>("actionHeatMap")->trigger();
    // Pages load slowly in the sanitizer build.
    ASSERT_TRUE(firstPage.waitForLoad(60000));
    ASSERT_TRUE(page.waitForLoad(60000));
    int heatMaps = 0;
    for (QDockWidget* dock : m_window.findChildren<QDockWidget*>())
        heatMaps += dock->windowTitle() == "HeatMap View" && dock->isVisible();
    EXPECT_EQ(heatMaps, 2);
    ASSERT_TRUE(firstPage.waitFor("_availableDataSets.length === 1", 30000));
    ASSERT_TRUE(page.waitFor("_availableDataSets.length === 1", 30000));
    EXPECT_EQ(page.evaluate("_availableDataSets").toStringList(), QStringList{"Template Matching Analysis"});
    page.evaluate("var chooser = document.getElementById('dataChooser'); chooser.selectedIndex = 1;"
                  " var event = document.createEvent('HTMLEvents'); event.initEvent('change', true, true);"
                  " chooser.dispatchEvent(event);");
    EXPECT_EQ(page.evaluate("d3.selectAll('g.column').size()").toInt(), 4);
    EXPECT_EQ(firstPage.evaluate("d3.selectAll('g.column').size()").toInt(), 0);
    for (int c = 0; c < 4; ++c) {
        const std::string statistics = set->selectionStatistics(c);
        // An empty cluster (the header's zeros) has no share of its own.
        EXPECT_EQ(statistics.find("nan") == std::string::npos, set->clusterSize(c) > 0) << statistics;
        for (int f = 0; f < 3; ++f)
            EXPECT_NE(statistics.find(QString("%1, %2, %3.000000, ").arg(f + 1).arg(m_dir.filePath(QString("s%1.fcs").arg(f))).arg(4 + f).toStdString()),
                      std::string::npos)
                << statistics;
    }

    // "Spade View" on the only tree, the template analysis': its T + 1 nodes
    // drawn without a script error; a bubble there publishes no points set.
    PageUnderTest treePage;
    m_window.findChild<QAction*>("actionSpadeView")->trigger();
    ASSERT_TRUE(treePage.waitForLoad(60000));
    ASSERT_TRUE(treePage.waitFor("graph !== null && graph.nodes.length === 4", 30000));
    auto* tree = m_window.findChild<UI_SpadeWidget*>();
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(tree->windowTitle(), "Template Matching Analysis");
    const std::size_t pointSets = MCV_DataRegistry::instance()->pointsDataList().size();
    testing::internal::CaptureStderr();
    treePage.evaluate("graph.nodes[1].selected = true; createBubble('B');");
    const std::string bubbleLines = testing::internal::GetCapturedStderr();
    EXPECT_EQ(MCV_DataRegistry::instance()->pointsDataList().size(), pointSets);
    EXPECT_EQ(tree->bubbleSetName("B"), "");
    EXPECT_NE(bubbleLines.find("Bubble \"B\" makes no points set"), std::string::npos) << bubbleLines;

    classify("CD3,\n1,2\n", "");
    ASSERT_EQ(tabCount(), 2);
    EXPECT_EQ(tabs()->tabText(1), "Template Matching Analysis-1");
    EXPECT_EQ(m_nameDialog.value(2), "Template Matching Analysis") << "the name is not made unique beforehand";

    // With two template analyses "Spade View" asks which tree to show.
    QStringList offered;
    whenModal<UI_AnalysisSelectionDialog>([&offered](UI_AnalysisSelectionDialog* chooser) {
        auto* list = chooser->findChild<QListView*>();
        for (int r = 0; r < list->model()->rowCount(); ++r)
            offered << list->model()->index(r, 0).data().toString();
        chooser->reject();
    });
    m_window.findChild<QAction*>("actionSpadeView")->trigger();
    EXPECT_EQ(offered, (QStringList{"Template Matching Analysis", "Template Matching Analysis-1"}));

    // Closing the window asks every analysis to go; their tabs go with them.
    m_window.close();
    EXPECT_EQ(tabCount(), 0);
}

TEST_F(ClassifyDataTest, RefusedTablesMakeNothing)
{
    openFiles();
    const int sets = clusterSetCount();
    EXPECT_EQ(refused("a,b\n1,2,3\n"), "The template table \"P\": line 2 has 3 fields, but the header line has 2.");
    EXPECT_EQ(m_printed, "ERROR: Not all csv lines are of the same size. The template table \""
                             + m_dir.filePath("tables/t.csv").toStdString()
                             + "\": line 2 has 3 fields, but the header line has 2.\n");
    EXPECT_EQ(refused("a\nnan\n"), "The template table \"P\": line 2, column 1 holds \"nan\", which is not a finite number.");
    EXPECT_EQ(refused("a,b,c,d\n1,2,3,4\n"),
              "The template table \"P\" has 4 columns, but the loaded files have only 3 parameters.");
    EXPECT_EQ(refused("CD3,CD4\n1,2\n"),
              "The template table \"P\": column 2 of the header line names \"CD4\", but parameter 2 of the loaded "
              "files is \"CD4 \"a\"\" (\"Marker 2\"); no parameter of the loaded files is named \"CD4\".");
    EXPECT_EQ(refused("\xEF\xBB\xBF" "CD4 \"a\"\n1\n"),
              "The template table \"P\": column 1 of the header line names \"CD4 \"a\"\", but parameter 1 of the "
              "loaded files is \"CD3\" (\"Marker 1\"); \"CD4 \"a\"\" is parameter 2.");
    EXPECT_EQ(tabCount(), 0);
    EXPECT_EQ(clusterSetCount(), sets);
    UI_Settings::instance()->sync();
    EXPECT_EQ(UI_Settings::instance()->value("dataDefaultFilePath").toString(), m_dir.filePath("tables"))
        << "the folder is remembered";
}

TEST_F(ClassifyDataTest, WithoutFilesOrThroughTheShortcutNothingIsAsked)
{
    static QStringList lines;
    lines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& text) { lines << text; });
    classify("a,b\n1,2\n");
    qInstallMessageHandler(previous);
    EXPECT_TRUE(lines.contains("No files are loaded: open FCS files before starting an analysis.")) << lines.join('|').toStdString();
    EXPECT_EQ(tabCount(), 0);

    m_window.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&m_window));
    // Through the window, as the window system delivers keys, so shortcuts
    // apply; a shortcut runs its action, and so its dialog, inside the key press.
    ShownDialogsAndMenus shown;
    QTest::keyClick(m_window.windowHandle(), Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(shown.names(), "");
}
