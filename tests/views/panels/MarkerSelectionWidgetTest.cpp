// The marker selection panel: its grid, its states, its buttons and the
// default-markers file.
#include "framework/UI_Settings.h"
#include "panels/UI_MarkerSelectionWidget.h"
#include "panels/UI_SettingsWidget.h"

#include "analyses/MCV_Analysis.h"
#include "data/DefaultStateStore.h"
#include "data/MCV_DataRegistry.h"
#include "support/FcsTestFile.h"
#include "support/IsolatedSettings.h"
#include "support/ModalDialogDriver.h"
#include "support/RegistryTestData.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

const bool settingsIsolated = isolateSettings();

/// Stand-in analysis: records nothing beyond the base's marker bits.
class MarkerAnalysis : public MCV_Analysis
{
public:
    MCV_DerivedData* createDerivedData(const std::vector<std::vector<unsigned>>&, std::string) override
    {
        return nullptr;
    }
    void setPreviewImages(std::vector<unsigned char*>) override {}
};

/// A settings panel with a two-column marker panel, as analysis panels build it.
class MarkerPanelOwner : public UI_SettingsWidget
{
public:
    explicit MarkerPanelOwner(MCV_Analysis* analysis)
        : UI_SettingsWidget(nullptr, analysis)
    {
        m_markerSelectionWidget = new UI_MarkerSelectionWidget(this, 2);
    }
    UI_MarkerSelectionWidget* markers() const { return m_markerSelectionWidget; }
};

/// Debug lines printed while an object of this class lives.
class DebugCapture
{
public:
    DebugCapture()
    {
        lines().clear();
        m_previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& text) { lines() << text; });
    }
    ~DebugCapture() { qInstallMessageHandler(m_previous); }
    static QStringList& lines()
    {
        static QStringList captured;
        return captured;
    }

private:
    QtMessageHandler m_previous = nullptr;
};

class MarkerSelectionWidgetTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(settingsIsolated);
        ASSERT_TRUE(dir.isValid());
        RegistryTestData::dropRegistry();
        setDefault({});
        setKey("dataDefaultFilePath", QString());
        setKey("exportDefaultFilePath", QString());
    }
    void TearDown() override { RegistryTestData::dropRegistry(); }

    /// Loads one file with `channels` parameters named P1, P2, ...
    void loadChannels(int channels)
    {
        FcsTestFile file(4, channels);
        const std::string path = dir.filePath("channels.fcs").toStdString();
        ASSERT_TRUE(file.write(path));
        ASSERT_EQ(MCV_DataRegistry::instance()->loadFcsFile(path), 0);
    }
    static void setDefault(std::vector<bool> states) { DefaultStateStore::instance()->setMarkerStates(states); }
    static void setKey(const char* key, const QString& value)
    {
        UI_Settings::instance()->setValue(key, value);
        UI_Settings::instance()->sync();
    }
    static QPoint cell(const UI_MarkerSelectionWidget& panel, QWidget* widget)
    {
        auto* layout = qobject_cast<QGridLayout*>(panel.layout());
        int row = -1, column = -1, rowSpan = 0, columnSpan = 0;
        layout->getItemPosition(layout->indexOf(widget), &row, &column, &rowSpan, &columnSpan);
        return QPoint(column, row);
    }
    static QCheckBox* box(const UI_MarkerSelectionWidget& panel, const QString& text)
    {
        for (QCheckBox* b : panel.findChildren<QCheckBox*>())
            if (b->text() == text)
                return b;
        return nullptr;
    }
    /// Clicks a box on its label (a wide column leaves the box's middle
    /// outside the clickable part), once queued shows have run.
    static void click(QCheckBox* box)
    {
        QCoreApplication::processEvents();
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(4, box->height() / 2));
    }
    static QPushButton* button(const UI_MarkerSelectionWidget& panel, const QString& text)
    {
        for (QPushButton* b : panel.findChildren<QPushButton*>())
            if (b->text() == text)
                return b;
        return nullptr;
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(MarkerSelectionWidgetTest, GridFillsColumnsInOrderWithSampleInTheLastSlot)
{
    loadChannels(7);
    UI_MarkerSelectionWidget panel(nullptr, 4);
    panel.populate(true);

    // Eight boxes in four columns of two; "Sample" takes the last slot.
    const QPoint expected[] = {{0, 0}, {0, 1}, {1, 0}, {1, 1}, {2, 0}, {2, 1}, {3, 0}};
    for (int i = 0; i < 7; ++i) {
        QCheckBox* marker = box(panel, QString("P%1").arg(i + 1));
        ASSERT_NE(marker, nullptr) << i;
        EXPECT_EQ(cell(panel, marker), expected[i]) << i;
    }
    ASSERT_NE(box(panel, "Sample"), nullptr);
    EXPECT_EQ(cell(panel, box(panel, "Sample")), QPoint(3, 1));
    EXPECT_EQ(cell(panel, button(panel, "Inverse Markers")), QPoint(0, 3));
    EXPECT_EQ(cell(panel, button(panel, "Load Selection")), QPoint(0, 4));
    EXPECT_EQ(cell(panel, button(panel, "Set Default")), QPoint(2, 4));
    auto* layout = qobject_cast<QGridLayout*>(panel.layout());
    int row, column, rowSpan, columnSpan;
    layout->getItemPosition(layout->indexOf(button(panel, "Inverse Markers")), &row, &column, &rowSpan, &columnSpan);
    EXPECT_EQ(columnSpan, 4);
    layout->getItemPosition(layout->indexOf(button(panel, "Set Default")), &row, &column, &rowSpan, &columnSpan);
    EXPECT_EQ(columnSpan, 2);

    // Rebuilt without "Sample": seven boxes, three columns of two and one of one.
    panel.populate(false);
    EXPECT_EQ(panel.findChildren<QCheckBox*>().size(), 7);
    EXPECT_EQ(box(panel, "Sample"), nullptr);
    EXPECT_EQ(cell(panel, box(panel, "P3")), QPoint(1, 0));
    EXPECT_EQ(cell(panel, box(panel, "P4")), QPoint(1, 1));
    EXPECT_EQ(cell(panel, box(panel, "P7")), QPoint(3, 0));
    EXPECT_EQ(cell(panel, button(panel, "Inverse Markers")), QPoint(0, 3));
}

TEST_F(MarkerSelectionWidgetTest, FewerBoxesThanColumnsPutSampleAfterTheLastMarker)
{
    loadChannels(2);
    UI_MarkerSelectionWidget panel(nullptr, 4);
    panel.populate(true);
    EXPECT_EQ(cell(panel, box(panel, "P1")), QPoint(0, 0));
    EXPECT_EQ(cell(panel, box(panel, "P2")), QPoint(1, 0));
    EXPECT_EQ(cell(panel, box(panel, "Sample")), QPoint(2, 0));
    EXPECT_EQ(cell(panel, button(panel, "Inverse Markers")), QPoint(0, 2));
    EXPECT_EQ(cell(panel, button(panel, "Load Selection")), QPoint(0, 3));
}

TEST_F(MarkerSelectionWidgetTest, StatesStartFromTheDefaultAndGrowWithTheChannels)
{
    {
        UI_MarkerSelectionWidget panel(nullptr, 2);
        panel.populate(true);
        EXPECT_TRUE(panel.findChildren<QWidget*>().isEmpty()) << "no data: no boxes, no buttons";
        EXPECT_TRUE(panel.markerStates().empty());
    }
    loadChannels(5);
    {
        UI_MarkerSelectionWidget panel(nullptr, 2);
        panel.populate(false);
        EXPECT_EQ(panel.markerStates(), std::vector<bool>(5, true)) << "empty default: all on";
        EXPECT_EQ(panel.selectedMarkers(), (std::vector<int>{0, 1, 2, 3, 4}));
    }
    setDefault({true, false, true});
    UI_MarkerSelectionWidget panel(nullptr, 2);
    setDefault({false}); // later defaults do not reach an existing panel
    panel.populate(false);
    EXPECT_EQ(panel.markerStates(), (std::vector<bool>{true, false, true, false, false}));
    EXPECT_TRUE(box(panel, "P1")->isChecked());
    EXPECT_FALSE(box(panel, "P2")->isChecked());
    EXPECT_FALSE(box(panel, "P5")->isChecked());

    // A default longer than the channel list is kept but never reported.
    setDefault({true, false, true, false, true, true, true});
    UI_MarkerSelectionWidget longer(nullptr, 2);
    longer.populate(false);
    EXPECT_EQ(longer.markerStates().size(), 7u);
    EXPECT_EQ(longer.findChildren<QCheckBox*>().size(), 5);
    EXPECT_EQ(longer.selectedMarkers(), (std::vector<int>{0, 2, 4}));
}

TEST_F(MarkerSelectionWidgetTest, ClicksAndInverseReachTheStatesTheSampleEntryAndTheAnalysis)
{
    loadChannels(6);
    MarkerAnalysis analysis;
    analysis.initialize(nullptr, "markers");
    setDefault({false, false, true, false, false, true});
    UI_MarkerSelectionWidget panel(nullptr, 4);
    panel.setData(&analysis, true);
    panel.show();
    EXPECT_EQ(analysis.activeMarkerIndices(), (std::vector<int>{2, 5})) << "populate tells the analysis";
    EXPECT_EQ(panel.selectedMarkers(), (std::vector<int>{-1, 2, 5}));

    click(box(panel, "P1"));
    EXPECT_EQ(panel.selectedMarkers(), (std::vector<int>{-1, 0, 2, 5}));
    EXPECT_EQ(analysis.activeMarkerIndices(), (std::vector<int>{0, 2, 5}));
    click(box(panel, "Sample"));
    EXPECT_EQ(panel.selectedMarkers(), (std::vector<int>{0, 2, 5}));

    QTest::mouseClick(button(panel, "Inverse Markers"), Qt::LeftButton);
    EXPECT_EQ(panel.selectedMarkers(), (std::vector<int>{-1, 1, 3, 4}));
    EXPECT_EQ(analysis.activeMarkerIndices(), (std::vector<int>{1, 3, 4}));
    EXPECT_TRUE(box(panel, "Sample")->isChecked());
    EXPECT_FALSE(box(panel, "P3")->isChecked());

    // Detached: the analysis hears nothing more.
    panel.setData(nullptr, false);
    click(box(panel, "P1"));
    EXPECT_EQ(panel.selectedMarkers(), (std::vector<int>{0, 1, 3, 4}));
    EXPECT_EQ(analysis.activeMarkerIndices(), (std::vector<int>{1, 3, 4}));
}

TEST_F(MarkerSelectionWidgetTest, SettingsPanelRebuildsItsMarkersForItsAnalysis)
{
    loadChannels(3);
    MarkerAnalysis analysis;
    analysis.initialize(nullptr, "panel");
    setDefault({false, true, false});
    MarkerPanelOwner panel(&analysis);
    EXPECT_TRUE(panel.markers()->findChildren<QCheckBox*>().isEmpty());
    panel.updateMarkerSelection();
    EXPECT_EQ(panel.markers()->findChildren<QCheckBox*>().size(), 3) << "no \"Sample\" entry";
    EXPECT_EQ(analysis.activeMarkerIndices(), (std::vector<int>{1}));
}

TEST_F(MarkerSelectionWidgetTest, SetDefaultWritesTwoBytesPerMarkerIntoTheDataFolder)
{
    loadChannels(5);
    setDefault({true, false, true, false, true});
    UI_MarkerSelectionWidget panel(nullptr, 2);
    panel.populate(false);
    panel.show();
    setKey("dataDefaultFilePath", dir.path());
    {
        DebugCapture capture;
        QTest::mouseClick(button(panel, "Set Default"), Qt::LeftButton);
        EXPECT_TRUE(capture.lines().contains("\nSaved default marker states to " + dir.filePath("VSRNE_DefaultMarkers.txt")))
            << capture.lines().join('|').toStdString();
    }
    EXPECT_EQ(FcsTestFile::readBytes(dir.filePath("VSRNE_DefaultMarkers.txt").toStdString()), "1 0 1 0 1 ");

    click(box(panel, "P2"));
    click(box(panel, "P1"));
    QTest::mouseClick(button(panel, "Set Default"), Qt::LeftButton);
    EXPECT_EQ(FcsTestFile::readBytes(dir.filePath("VSRNE_DefaultMarkers.txt").toStdString()), "0 1 1 0 1 ");
    EXPECT_EQ(DefaultStateStore::instance()->markerStates, (std::vector<bool>{false, true, true, false, true}));

    // A folder that is gone: the default is still set, the failure printed.
    click(box(panel, "P5"));
    setKey("dataDefaultFilePath", dir.filePath("gone"));
    {
        DebugCapture capture;
        QTest::mouseClick(button(panel, "Set Default"), Qt::LeftButton);
        EXPECT_TRUE(capture.lines().contains("\nCould not write default states to disk."));
    }
    EXPECT_EQ(DefaultStateStore::instance()->markerStates, (std::vector<bool>{false, true, true, false, false}));

    // No data folder yet: nothing is written anywhere, a line says so.
    const QString previousCurrent = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    setKey("dataDefaultFilePath", QString());
    QFile::remove(dir.filePath("VSRNE_DefaultMarkers.txt"));
    {
        DebugCapture capture;
        QTest::mouseClick(button(panel, "Set Default"), Qt::LeftButton);
        ASSERT_EQ(capture.lines().size(), 1);
        EXPECT_TRUE(capture.lines().first().contains("not written")) << capture.lines().first().toStdString();
    }
    QDir::setCurrent(previousCurrent);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({"channels.fcs"}));
}

TEST(DefaultMarkersFileTest, ReadsIntegersUpToTheFirstOtherToken)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto read = [&](const std::string& bytes, bool* opened = nullptr) {
        const QString path = dir.filePath("states.txt");
        FcsTestFile::writeBytes(path.toStdString(), bytes);
        std::vector<bool> states = {true, true, true, true, true, true, true, true, true};
        const bool ok = readDefaultMarkerStates(path, states);
        if (opened)
            *opened = ok;
        return states;
    };
    bool opened = false;
    EXPECT_EQ(read("1 0 1 0 1 ", &opened), (std::vector<bool>{true, false, true, false, true}));
    EXPECT_TRUE(opened);
    EXPECT_EQ(read("1 word 1"), (std::vector<bool>{true}));
    EXPECT_EQ(read("", &opened), std::vector<bool>{});
    EXPECT_TRUE(opened) << "an empty file is read: no states";
    EXPECT_EQ(read("\n  2\r\n-3\t0 +0 00 007 99999999999999999999"),
              (std::vector<bool>{true, true, false, false, false, true, true}));
    EXPECT_EQ(read("1 12abc 1"), (std::vector<bool>{true}));
    EXPECT_EQ(read("1.5 1"), std::vector<bool>{});

    std::vector<bool> untouched = {true, false};
    EXPECT_FALSE(readDefaultMarkerStates(dir.filePath("missing.txt"), untouched));
    EXPECT_FALSE(readDefaultMarkerStates(dir.path(), untouched));
    EXPECT_EQ(untouched, (std::vector<bool>{true, false}));

    const std::vector<bool> written = {false, true, true, false, false, false, true};
    ASSERT_TRUE(writeDefaultMarkerStates(dir.filePath("states.txt"), written));
    std::vector<bool> back;
    ASSERT_TRUE(readDefaultMarkerStates(dir.filePath("states.txt"), back));
    EXPECT_EQ(back, written);
    EXPECT_FALSE(writeDefaultMarkerStates(dir.filePath("no/such/folder/states.txt"), written));
    EXPECT_EQ(defaultMarkersFilePath(QString()), QString());
    EXPECT_EQ(defaultMarkersFilePath("/data/run 1"), "/data/run 1/VSRNE_DefaultMarkers.txt");
}

TEST_F(MarkerSelectionWidgetTest, LoadSelectionReadsTheChosenFileAndMakesItTheDefault)
{
    loadChannels(4);
    UI_MarkerSelectionWidget panel(nullptr, 2);
    panel.populate(true);
    panel.show();
    QDir(dir.path()).mkdir("exports");
    const QString folder = dir.filePath("exports");
    FcsTestFile::writeBytes(QDir(folder).filePath("picked.txt").toStdString(), "0 1 0 1 1 1");
    FcsTestFile::writeBytes(QDir(folder).filePath("empty.txt").toStdString(), "");
    setKey("exportDefaultFilePath", folder);

    // Cancelled: nothing changes.
    whenModal<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
    QTest::mouseClick(button(panel, "Load Selection"), Qt::LeftButton);
    EXPECT_EQ(panel.markerStates(), std::vector<bool>(4, true));

    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    QStringList filters;
    QString shownFolder;
    whenModal<QFileDialog>([&](QFileDialog* dialog) {
        mode = dialog->fileMode();
        filters = dialog->nameFilters();
        shownFolder = dialog->directory().absolutePath();
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr) << "not the Qt file dialog";
        QTest::keyClicks(name, "picked.txt");
        QTest::keyClick(name, Qt::Key_Return);
    });
    QTest::mouseClick(button(panel, "Load Selection"), Qt::LeftButton);
    EXPECT_EQ(mode, QFileDialog::ExistingFile);
    EXPECT_EQ(filters, QStringList({"Text Files (*.txt)"}));
    EXPECT_EQ(shownFolder, QDir(folder).absolutePath());
    EXPECT_EQ(panel.markerStates(), (std::vector<bool>{false, true, false, true, true, true}));
    EXPECT_EQ(DefaultStateStore::instance()->markerStates, panel.markerStates());
    EXPECT_EQ(panel.selectedMarkers(), (std::vector<int>{-1, 1, 3}));
    EXPECT_EQ(panel.findChildren<QCheckBox*>().size(), 5) << "rebuilt, old boxes gone";
    EXPECT_FALSE(box(panel, "P1")->isChecked());
    EXPECT_TRUE(box(panel, "P2")->isChecked());

    // An empty file empties the states: every channel starts checked again.
    whenModal<QFileDialog>([](QFileDialog* dialog) {
        chooseInFileDialog(dialog, "empty.txt");
    });
    QTest::mouseClick(button(panel, "Load Selection"), Qt::LeftButton);
    EXPECT_EQ(panel.markerStates(), std::vector<bool>(4, true));
    EXPECT_TRUE(DefaultStateStore::instance()->markerStates.empty());
}
