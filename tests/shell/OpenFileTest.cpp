// Opening FCS files through the main window: the real file dialog, load
// failures, the post-load dialog with its sample tag and arcsinh options,
// and the replacement of the registry by the next load.
#include "MainWindow.h"

#include "data/DefaultStateStore.h"
#include "data/FcsError.h"
#include "data/FcsHeader.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataPoints.h"
#include "docks/UI_FileInfoWidget.h"
#include "framework/UI_ExpanderWidget.h"
#include "framework/UI_Settings.h"
#include "panels/UI_MarkerSelectionWidget.h"
#include "support/FcsTestFile.h"
#include "support/IsolatedSettings.h"
#include "support/MainWindowDriver.h"
#include "support/ModalDialogDriver.h"
#include "support/RegistryTestData.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <sys/resource.h>

namespace {

const bool settingsIsolated = isolateSettings();

/// What the file dialog looked like when the test met it.
struct FileDialogSeen
{
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    QStringList filters;
    QString folder;
    QWidget* parent = nullptr;
};

class OpenFileTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(settingsIsolated);
        ASSERT_TRUE(dir.isValid());
        startFreshSession(dir.path());
        window.show();
    }
    void TearDown() override { RegistryTestData::dropRegistry(); }

    /// A file of `parameters` channels whose values are base, base + 1, ...
    QString writeFile(const QString& name, int events, int parameters, float base)
    {
        std::vector<float> values;
        for (int i = 0; i < events * parameters; ++i)
            values.push_back(base + static_cast<float>(i));
        return QString::fromStdString(
            RegistryTestData::writeFcs(dir.path().toStdString(), name.toStdString(), parameters, values));
    }
    /// Writes a file and corrupts its bytes.
    QString writeBytes(const QString& name, const std::string& bytes)
    {
        FcsTestFile::writeBytes(dir.filePath(name).toStdString(), bytes);
        return dir.filePath(name);
    }

    /// "Open FCS File(s) ...": types the names into the file dialog; then,
    /// when a post-load action is given, runs it on the "Succes" dialog.
    void open(const QString& typedNames, std::function<void(QDialog*)> postLoad = nullptr)
    {
        whenModal<QFileDialog>([this, typedNames](QFileDialog* dialog) {
            seen = {dialog->fileMode(), dialog->nameFilters(), dialog->directory().absolutePath(),
                    dialog->parentWidget()};
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            if (!name) {
                ADD_FAILURE() << "not the Qt file dialog";
                dialog->reject();
                return;
            }
            // The whole entry at once: the completer popup would take keys
            // typed one by one between quoted names.
            name->setText(typedNames);
            QTest::keyClick(name, Qt::Key_Return);
        });
        if (postLoad)
            whenModal<QDialog>(postLoad, "Succes");
        window.findChild<QAction*>("actionOpenFile")->trigger();
    }
    /// Like open, for a load that fails: returns the message box's text after
    /// checking its form, and closes it with "OK".
    QString openRefused(const QString& typedNames)
    {
        QString text;
        whenModal<QMessageBox>([&](QMessageBox* box) {
            text = box->text();
            EXPECT_EQ(box->windowTitle(), "Error");
            EXPECT_EQ(box->icon(), QMessageBox::Critical);
            EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
            EXPECT_EQ(box->parentWidget(), &window);
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        });
        open(typedNames);
        return text;
    }

    static MCV_DataRegistry* registry() { return MCV_DataRegistry::instance(); }
    /// Events in the registry's "All Points" set; -1 when there is none.
    static int64_t allPointsCount()
    {
        for (MCV_DerivedDataPoints* set : registry()->pointsDataList())
            if (set->name() == "All Points")
                return static_cast<int64_t>(set->points().size());
        return -1;
    }
    bool actionEnabled(const char* name) const { return window.findChild<QAction*>(name)->isEnabled(); }
    QString fileInfoText() const
    {
        auto* info = window.findChild<UI_FileInfoWidget*>();
        return info ? info->findChild<QTextBrowser*>()->toPlainText() : QString("no dock");
    }
    QList<QDialog*> postLoadDialogs() const
    {
        QList<QDialog*> dialogs;
        for (QDialog* dialog : window.findChildren<QDialog*>())
            if (dialog->windowTitle() == "Succes")
                dialogs << dialog;
        return dialogs;
    }
    static QCheckBox* box(QWidget* parent, const QString& text)
    {
        for (QCheckBox* b : parent->findChildren<QCheckBox*>())
            if (b->text() == text)
                return b;
        return nullptr;
    }
    static QPushButton* button(QWidget* parent, const QString& text)
    {
        for (QPushButton* b : parent->findChildren<QPushButton*>())
            if (b->text() == text)
                return b;
        return nullptr;
    }

    QTemporaryDir dir;
    MainWindow window;
    FileDialogSeen seen;
};

} // namespace

TEST_F(OpenFileTest, TwoFilesThroughTheFileDialogThenOk)
{
    const QString a = writeFile("a.fcs", 3, 3, 0.0f);
    const QString b = writeFile("b.fcs", 2, 3, 100.0f);
    window.fileInfoViewTriggered();
    EXPECT_EQ(fileInfoText(), QString());

    bool dialogChecked = false;
    open("\"a.fcs\" \"b.fcs\" \"a.fcs\"", [&](QDialog* dialog) {
        EXPECT_EQ(dialog->parentWidget(), &window);
        EXPECT_TRUE(dialog->isModal());
        EXPECT_EQ(dialog->minimumWidth(), 450);
        EXPECT_TRUE(dialog->windowFlags() & Qt::WindowCloseButtonHint);
        EXPECT_FALSE(dialog->windowFlags() & Qt::WindowContextHelpButtonHint);
        bool titled = false;
        for (QLabel* label : dialog->findChildren<QLabel*>())
            titled = titled || (label->text() == "Files loaded succesfully." && label->font().pointSize() == 12);
        EXPECT_TRUE(titled);
        QCheckBox* tag = box(dialog, "Add Unique Sample Tag as Channel.");
        QCheckBox* asinh = box(dialog, "Apply Hyperbolic ArcSin 5 Transform.");
        ASSERT_TRUE(tag && asinh);
        EXPECT_FALSE(tag->isChecked());
        EXPECT_FALSE(asinh->isChecked());
        auto* expander = dialog->findChild<UI_ExpanderWidget*>();
        ASSERT_NE(expander, nullptr);
        EXPECT_TRUE(expander->isCollapsed());
        auto* markers = dialog->findChild<UI_MarkerSelectionWidget*>();
        ASSERT_NE(markers, nullptr);
        EXPECT_EQ(markers->findChildren<QCheckBox*>().size(), 3) << "three channels, no \"Sample\"";
        for (const char* text : {"Start SPADE", "Start A-tSNE", "OK"})
            EXPECT_NE(button(dialog, text), nullptr) << text;
        EXPECT_TRUE(button(dialog, "OK")->isDefault());
        dialogChecked = true;
        QTest::mouseClick(button(dialog, "OK"), Qt::LeftButton);
    });
    EXPECT_TRUE(dialogChecked);

    EXPECT_EQ(seen.mode, QFileDialog::ExistingFiles);
    EXPECT_EQ(seen.filters, QStringList({"Cytometry Files (*.fcs)"}));
    EXPECT_EQ(seen.folder, QDir(dir.path()).absolutePath());
    EXPECT_EQ(seen.parent, &window);

    // The repeated name is loaded once.
    ASSERT_EQ(registry()->sampleCount(), 2);
    EXPECT_EQ(registry()->samplePath(0), a.toStdString());
    EXPECT_EQ(registry()->samplePath(1), b.toStdString());
    EXPECT_EQ(allPointsCount(), 5);
    EXPECT_TRUE(actionEnabled("actionNewSpadeAnalysis"));
    EXPECT_TRUE(actionEnabled("actionNewTsneAnalysis"));
    EXPECT_EQ(fileInfoText(), QString::fromStdString(registry()->mergedHeader()->infoText()));
    EXPECT_FALSE(fileInfoText().isEmpty());

    // "OK" with both options off: no channel, no transform, no side file.
    EXPECT_EQ(registry()->parameterCount(), 3);
    EXPECT_EQ(registry()->sampleData(1)[5], 105.0f);
    EXPECT_FALSE(QFile::exists(dir.filePath("VSRNE_ST.txt")));
    UI_Settings::instance()->sync();
    EXPECT_EQ(UI_Settings::instance()->value("dataDefaultFilePath").toString(), QDir(dir.path()).absolutePath());
}

TEST_F(OpenFileTest, SampleTagAndArcsinhOfTheDefaultMarkersApplyWhenTheDialogIsClosed)
{
    const QString a = writeFile("a.fcs", 2, 3, 1.0f);
    const QString b = writeFile("b.fcs", 3, 3, -20.0f);
    FcsTestFile::writeBytes(dir.filePath("VSRNE_DefaultMarkers.txt").toStdString(), "1 0 1 ");

    open("\"a.fcs\" \"b.fcs\"", [&](QDialog* dialog) {
        auto* expander = dialog->findChild<UI_ExpanderWidget*>();
        auto* markers = dialog->findChild<UI_MarkerSelectionWidget*>();
        QCheckBox* asinh = box(dialog, "Apply Hyperbolic ArcSin 5 Transform.");
        QTest::mouseClick(box(dialog, "Add Unique Sample Tag as Channel."), Qt::LeftButton);
        QTest::mouseClick(asinh, Qt::LeftButton);
        EXPECT_FALSE(expander->isCollapsed());
        EXPECT_TRUE(markers->isVisible());
        // Pre-selected from the default-markers file beside the data.
        EXPECT_EQ(markers->selectedMarkers(), (std::vector<int>{0, 2}));
        const QSize open = dialog->size();

        QTest::mouseClick(asinh, Qt::LeftButton);
        EXPECT_TRUE(expander->isCollapsed());
        EXPECT_FALSE(markers->isVisible());
        EXPECT_EQ(dialog->size(), dialog->sizeHint().expandedTo(dialog->minimumSize()));
        EXPECT_LT(dialog->height(), open.height());
        QTest::mouseClick(asinh, Qt::LeftButton);
        EXPECT_TRUE(markers->isVisible());
        dialog->close();
    });

    EXPECT_EQ(DefaultStateStore::instance()->markerStates, (std::vector<bool>{true, false, true}));
    ASSERT_EQ(registry()->sampleCount(), 2);
    ASSERT_EQ(registry()->parameterCount(), 4);
    EXPECT_EQ(registry()->mergedHeader()->parameterName(3), "VSRNE_ST");
    for (int s = 0; s < 2; ++s) {
        const float base = s == 0 ? 1.0f : -20.0f;
        const int events = s == 0 ? 2 : 3;
        for (int e = 0; e < events; ++e) {
            const float* row = registry()->sampleData(s) + e * 4;
            for (int m = 0; m < 3; ++m) {
                const float original = base + static_cast<float>(e * 3 + m);
                const float expected = m == 1 ? original : std::asinh(original / 5.0f);
                EXPECT_FLOAT_EQ(row[m], expected) << "sample " << s << " event " << e << " marker " << m;
            }
            EXPECT_EQ(row[3], static_cast<float>(s)) << "the tag is not transformed";
        }
    }
    EXPECT_EQ(QString::fromStdString(FcsTestFile::readBytes(dir.filePath("VSRNE_ST.txt").toStdString())),
              a + ": 0\n" + b + ": 1\n");
}

TEST_F(OpenFileTest, FailedWritesOfTheSideFilesKeepTheirEarlierText)
{
    writeFile("a.fcs", 2, 3, 1.0f);
    const std::string markersFile = dir.filePath("VSRNE_DefaultMarkers.txt").toStdString();
    const std::string tagFile = dir.filePath("VSRNE_ST.txt").toStdString();
    FcsTestFile::writeBytes(markersFile, "1 1 1 ");
    FcsTestFile::writeBytes(tagFile, "earlier log\n");

    // Files may grow to 4 bytes only, as on a full disk.
    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    testing::internal::CaptureStdout();
    open("\"a.fcs\"", [&](QDialog* dialog) {
        rlimit limited = saved;
        limited.rlim_cur = 4;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
        button(dialog, "Set Default")->click();
        QTest::mouseClick(box(dialog, "Add Unique Sample Tag as Channel."), Qt::LeftButton);
        QTest::mouseClick(button(dialog, "OK"), Qt::LeftButton);
    });
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    const std::string lines = testing::internal::GetCapturedStdout();

    EXPECT_EQ(FcsTestFile::readBytes(markersFile), "1 1 1 ");
    EXPECT_EQ(FcsTestFile::readBytes(tagFile), "earlier log\n");
    EXPECT_NE(lines.find("Could not write " + tagFile), std::string::npos) << lines;
    EXPECT_EQ(registry()->mergedHeader()->parameterName(3), "VSRNE_ST") << "the channel is added all the same";
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 3) << "no temporary file is left";
}

TEST_F(OpenFileTest, RefusedFilesShowTheirMessageLeaveNoSamplesAndTheNextLoadWorks)
{
    writeFile("good.fcs", 2, 3, 0.0f);
    writeFile("four.fcs", 2, 4, 0.0f);
    writeFile("last.fcs", 2, 3, 0.0f);

    const std::string valid = FcsTestFile(3, 3).bytes();
    auto withKeyword = [](const char* keyword, const char* value) {
        FcsTestFile file(3, 3);
        file.setKeyword(keyword, value);
        return file.bytes();
    };
    FcsTestFile noCount(3, 3);
    noCount.removeKeyword("$TOT");
    const struct
    {
        QString path;
        int code;
    } refused[] = {
        {writeBytes("ascii.fcs", withKeyword("$DATATYPE", "A")), FcsErrorUnsupportedData},
        {writeBytes("order.fcs", withKeyword("$BYTEORD", "2,1,4,3")), FcsErrorByteOrder},
        {writeBytes("count.fcs", noCount.bytes()), FcsErrorEventCounts},
        {writeBytes("text.fcs", std::string(valid).replace(18, 8, " 9999999")), FcsErrorTextSegment},
        {writeBytes("data.fcs", valid.substr(0, valid.size() - 1)), FcsErrorDataSegment},
    };
    for (const auto& file : refused) {
        SCOPED_TRACE(file.path.toStdString());
        const QString text = openRefused(QFileInfo(file.path).fileName());
        EXPECT_EQ(text, "Could not open file " + file.path + QString::fromStdString(fcsErrorMessages[file.code]));
        EXPECT_EQ(registry()->sampleCount(), 0);
        EXPECT_EQ(allPointsCount(), -1);
        EXPECT_FALSE(actionEnabled("actionNewSpadeAnalysis"));
        EXPECT_TRUE(postLoadDialogs().isEmpty());
    }

    // The second of three files does not fit the first: the first stays, the third is not read.
    const QString text = openRefused("\"good.fcs\" \"four.fcs\" \"last.fcs\"");
    EXPECT_EQ(text, "Could not open file " + dir.filePath("four.fcs") + "Error code 4: Files differ to much.");
    ASSERT_EQ(registry()->sampleCount(), 1);
    EXPECT_EQ(registry()->samplePath(0), dir.filePath("good.fcs").toStdString());
    EXPECT_EQ(allPointsCount(), -1);
    EXPECT_FALSE(actionEnabled("actionNewSpadeAnalysis"));
    EXPECT_FALSE(actionEnabled("actionNewTsneAnalysis"));

    // The program carries on: the next load works.
    open("\"last.fcs\" \"good.fcs\"", [](QDialog* dialog) { QTest::mouseClick(button(dialog, "OK"), Qt::LeftButton); });
    ASSERT_EQ(registry()->sampleCount(), 2);
    EXPECT_EQ(registry()->samplePath(0), dir.filePath("last.fcs").toStdString());
    EXPECT_EQ(allPointsCount(), 4);
    EXPECT_TRUE(actionEnabled("actionNewSpadeAnalysis"));
}

namespace {

QStringList debugLines;

void recordDebugLine(QtMsgType, const QMessageLogContext&, const QString& message)
{
    debugLines << message;
}

} // namespace

TEST_F(OpenFileTest, ARefusedLoadClearsTheFileInformationAndDisablesTheAnalyses)
{
    writeFile("good.fcs", 2, 3, 0.0f);
    writeBytes("bad.fcs", "not an FCS file");
    window.fileInfoViewTriggered();
    auto ok = [](QDialog* dialog) { QTest::mouseClick(button(dialog, "OK"), Qt::LeftButton); };
    open("good.fcs", ok);
    EXPECT_FALSE(fileInfoText().isEmpty());
    EXPECT_TRUE(actionEnabled("actionNewTsneAnalysis"));

    openRefused("bad.fcs");
    EXPECT_EQ(fileInfoText(), QString());
    EXPECT_FALSE(actionEnabled("actionNewSpadeAnalysis"));
    EXPECT_FALSE(actionEnabled("actionNewTsneAnalysis"));
    // Run directly, the commands refuse the empty registry with a line.
    debugLines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(recordDebugLine);
    window.newSpadeAnalysisTriggered();
    window.newTsneAnalysisTriggered();
    qInstallMessageHandler(previous);
    EXPECT_EQ(debugLines.count("No files are loaded: open FCS files before starting an analysis."), 2);

    open("good.fcs", ok);
    EXPECT_EQ(fileInfoText(), QString::fromStdString(registry()->mergedHeader()->infoText()));
    EXPECT_TRUE(actionEnabled("actionNewSpadeAnalysis"));
}

TEST_F(OpenFileTest, OpeningAgainReplacesEverythingOfThePreviousLoad)
{
    writeFile("a.fcs", 3, 3, 0.0f);
    writeFile("b.fcs", 2, 3, 10.0f);
    window.fileInfoViewTriggered();
    open("\"a.fcs\" \"b.fcs\"", [](QDialog* dialog) {
        QTest::mouseClick(box(dialog, "Add Unique Sample Tag as Channel."), Qt::LeftButton);
        QTest::mouseClick(button(dialog, "OK"), Qt::LeftButton);
    });
    ASSERT_EQ(registry()->parameterCount(), 4);
    const uint64_t firstGeneration = MCV_DataRegistry::currentGeneration();
    QDialog* firstDialog = postLoadDialogs().value(0);

    ASSERT_TRUE(QDir(dir.path()).mkdir("second"));
    const QString other = QDir(dir.filePath("second")).filePath("c.fcs");
    FcsTestFile(6, 5).write(other.toStdString());
    whenModal<QFileDialog>([&](QFileDialog* dialog) {
        chooseInFileDialog(dialog, other);
    });
    whenModal<QDialog>([](QDialog* dialog) { QTest::mouseClick(button(dialog, "OK"), Qt::LeftButton); }, "Succes");
    window.findChild<QAction*>("actionOpenFile")->trigger();

    EXPECT_NE(MCV_DataRegistry::currentGeneration(), firstGeneration);
    ASSERT_EQ(registry()->sampleCount(), 1);
    EXPECT_EQ(registry()->parameterCount(), 5) << "no tag channel carried over";
    EXPECT_EQ(registry()->mergedHeader()->parameterIndex("VSRNE_ST"), -1);
    EXPECT_EQ(allPointsCount(), 6);
    EXPECT_EQ(registry()->pointsDataList().size(), 1u);
    EXPECT_EQ(registry()->loadLog(), other.toStdString() + ": 0\n");
    EXPECT_EQ(fileInfoText(), QString::fromStdString(registry()->mergedHeader()->infoText()));
    UI_Settings::instance()->sync();
    EXPECT_EQ(UI_Settings::instance()->value("dataDefaultFilePath").toString(), dir.filePath("second"));

    // A new dialog for the new data; the old one stays hidden.
    const QList<QDialog*> dialogs = postLoadDialogs();
    ASSERT_EQ(dialogs.size(), 2);
    EXPECT_FALSE(firstDialog->isVisible());
    QDialog* secondDialog = dialogs[0] == firstDialog ? dialogs[1] : dialogs[0];
    EXPECT_EQ(secondDialog->findChild<UI_MarkerSelectionWidget*>()->findChildren<QCheckBox*>().size(), 5);

    // Cancelling the file dialog changes nothing.
    const uint64_t secondGeneration = MCV_DataRegistry::currentGeneration();
    whenModal<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
    window.findChild<QAction*>("actionOpenFile")->trigger();
    EXPECT_EQ(MCV_DataRegistry::currentGeneration(), secondGeneration);
    EXPECT_EQ(registry()->sampleCount(), 1);
    EXPECT_EQ(postLoadDialogs().size(), 2);
    UI_Settings::instance()->sync();
    EXPECT_EQ(UI_Settings::instance()->value("dataDefaultFilePath").toString(), dir.filePath("second"));
}
