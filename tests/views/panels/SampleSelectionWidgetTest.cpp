// The sample panel on loaded files: rows, defaults, the colour dialog, and
// the sample-settings file through the real file dialogs.
#include "framework/UI_Settings.h"
#include "panels/UI_SampleSelectionWidget.h"

#include "data/DefaultStateStore.h"
#include "data/MCV_DataRegistry.h"
#include "support/IsolatedSettings.h"
#include "support/ModalDialogDriver.h"
#include "support/RegistryTestData.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

const bool settingsIsolated = isolateSettings();

class SampleSelectionWidgetTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(settingsIsolated);
        ASSERT_TRUE(dir.isValid());
        RegistryTestData::dropRegistry();
        DefaultStateStore::instance()->setSampleSelection({});
        DefaultStateStore::instance()->setSampleColors({});
        UI_Settings::instance()->setValue("exportDefaultFilePath", dir.path());
        UI_Settings::instance()->sync();
    }
    void TearDown() override { RegistryTestData::dropRegistry(); }

    /// A fresh registry with one small file per name, in order.
    void load(const QStringList& names)
    {
        RegistryTestData::freshRegistry();
        for (const QString& name : names) {
            const std::string path = RegistryTestData::writeFcs(dir.path().toStdString(), name.toStdString(), 2,
                                                                {1, 2, 3, 4});
            ASSERT_EQ(MCV_DataRegistry::instance()->loadFcsFile(path), 0) << path;
        }
    }
    static QStringList labels(const UI_SampleSelectionWidget& panel)
    {
        QStringList texts;
        for (QLabel* label : panel.findChildren<QLabel*>())
            if (label->text().endsWith(".fcs"))
                texts << label->text();
        return texts;
    }
    static QList<QCheckBox*> boxes(const UI_SampleSelectionWidget& panel) { return panel.findChildren<QCheckBox*>(); }
    /// Clicks a row's check box on its indicator.
    static void toggle(const UI_SampleSelectionWidget& panel, int sample)
    {
        QCheckBox* box = boxes(panel)[sample];
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(4, box->height() / 2));
    }
    static QList<QPushButton*> colorButtons(const UI_SampleSelectionWidget& panel)
    {
        QList<QPushButton*> found;
        for (QPushButton* button : panel.findChildren<QPushButton*>())
            if (button->text().isEmpty())
                found << button;
        return found;
    }
    static QPushButton* button(const UI_SampleSelectionWidget& panel, const QString& text)
    {
        for (QPushButton* b : panel.findChildren<QPushButton*>())
            if (b->text() == text)
                return b;
        return nullptr;
    }
    /// Picks a sample's colour through the shared colour dialog, as a user does.
    static void pickColor(UI_SampleSelectionWidget& panel, int sample, const QColor& color)
    {
        QTest::mouseClick(colorButtons(panel)[sample], Qt::LeftButton);
        auto* dialog = panel.findChild<QColorDialog*>();
        ASSERT_TRUE(dialog && dialog->isVisible());
        dialog->setCurrentColor(color);
    }
    static std::vector<int> bytes(const UI_SampleSelectionWidget& panel)
    {
        return std::vector<int>(panel.sampleColors().begin(), panel.sampleColors().end());
    }
    /// Runs a panel button whose file dialog gets `path` (empty: cancelled);
    /// with `removeAfterChoice` the file goes once the dialog accepted it.
    static void withFile(UI_SampleSelectionWidget& panel, const QString& buttonText, const QString& path,
                         bool removeAfterChoice = false)
    {
        whenModal<QFileDialog>([path, removeAfterChoice](QFileDialog* dialog) {
            if (path.isEmpty()) {
                dialog->reject();
                return;
            }
            chooseInFileDialog(dialog, path);
            if (removeAfterChoice)
                QFile::remove(path);
        });
        QTest::mouseClick(button(panel, buttonText), Qt::LeftButton);
    }
    /// Expects a warning box mentioning `fragment` from the next action; the
    /// flag says whether one came.
    std::shared_ptr<const bool> expectWarning(const QString& fragment)
    {
        return whenModal<QMessageBox>([fragment](QMessageBox* box) {
            EXPECT_TRUE(box->text().contains(fragment)) << box->text().toStdString();
            // Texts from files and paths never render as markup.
            EXPECT_EQ(box->textFormat(), Qt::PlainText);
            box->accept();
        });
    }
    QByteArray readFile(const QString& name) const
    {
        QFile file(dir.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    void writeFile(const QString& name, const QByteArray& text) const
    {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(SampleSelectionWidgetTest, RowsStartFromHuesOrDefaultsAndTheDialogRecolours)
{
    load({"run#1.fcs", "a%20b.fcs", "c.fcs"});
    UI_SampleSelectionWidget panel;
    EXPECT_EQ(labels(panel), QStringList({"run#1.fcs", "a%20b.fcs", "c.fcs"}));
    EXPECT_EQ(panel.sampleSelection(), std::vector<bool>(3, true));
    const int hues[9] = {255, 128, 128, 128, 255, 128, 128, 128, 255};
    for (int i = 0; i < 9; ++i)
        EXPECT_NEAR(panel.sampleColors()[i], hues[i], 1) << i;

    // Before a row was picked the dialog's changes go nowhere.
    QSignalSpy colorsUpdated(&panel, &UI_SampleSelectionWidget::colorsUpdated);
    panel.colorChanged(Qt::black);
    EXPECT_EQ(colorsUpdated.count(), 0);

    pickColor(panel, 1, QColor(10, 20, 30));
    EXPECT_EQ(colorsUpdated.count(), 1);
    EXPECT_EQ(std::vector<int>(panel.sampleColors().begin() + 3, panel.sampleColors().begin() + 6),
              (std::vector<int>{10, 20, 30}));
    EXPECT_EQ(colorButtons(panel)[1]->styleSheet(), "QPushButton { background-color : #0a141e; }");

    QSignalSpy selectionUpdated(&panel, &UI_SampleSelectionWidget::selectionUpdated);
    toggle(panel, 2);
    EXPECT_EQ(selectionUpdated.count(), 1);
    EXPECT_EQ(panel.sampleSelection(), (std::vector<bool>{true, true, false}));

    QTest::mouseClick(button(panel, "Set Default Selection"), Qt::LeftButton);
    QTest::mouseClick(button(panel, "Set Default Colors"), Qt::LeftButton);
    EXPECT_EQ(DefaultStateStore::instance()->sampleSelection.count("run#1.fcs"), 1u);

    // A new panel over other files: known keys take their defaults, a
    // missing key starts unselected and grey.
    load({"c.fcs", "a%20b.fcs", "new.fcs"});
    UI_SampleSelectionWidget next;
    EXPECT_EQ(next.sampleSelection(), (std::vector<bool>{false, true, false}));
    const std::vector<int> expected = {int(panel.sampleColors()[6]), int(panel.sampleColors()[7]),
                                       int(panel.sampleColors()[8]), 10, 20, 30, 128, 128, 128};
    EXPECT_EQ(bytes(next), expected);
    EXPECT_FALSE(boxes(next)[0]->isChecked());
}

TEST_F(SampleSelectionWidgetTest, SavesTheTwoLineExampleByteForByteAndReadsItIntoOtherFiles)
{
    load({"a.fcs", "b.fcs"});
    UI_SampleSelectionWidget panel;
    pickColor(panel, 0, QColor(255, 0, 0));
    pickColor(panel, 1, QColor(0, 128, 255));
    toggle(panel, 1);

    withFile(panel, "Save Settings ...", QString());
    EXPECT_FALSE(QFile::exists(dir.filePath("samples.txt")));
    withFile(panel, "Save Settings ...", dir.filePath("samples"));
    EXPECT_EQ(readFile("samples.txt"), QByteArray("a.fcs 1 255 0 0\nb.fcs 0 0 128 255"));

    load({"b.fcs", "c.fcs"});
    UI_SampleSelectionWidget other;
    const std::vector<int> before = bytes(other);
    std::vector<QString> order;
    QObject::connect(&other, &UI_SampleSelectionWidget::selectionUpdated, [&order]() { order.push_back("selection"); });
    QObject::connect(&other, &UI_SampleSelectionWidget::colorsUpdated, [&order]() { order.push_back("colors"); });
    withFile(other, "Load Settings ...", dir.filePath("samples.txt"));
    EXPECT_EQ(order, (std::vector<QString>{"selection", "colors"}));
    EXPECT_EQ(other.sampleSelection(), (std::vector<bool>{false, true}));
    EXPECT_FALSE(boxes(other)[0]->isChecked());
    const std::vector<int> expected = {0, 128, 255, before[3], before[4], before[5]};
    EXPECT_EQ(bytes(other), expected);
}

TEST_F(SampleSelectionWidgetTest, NamesWithBlanksHashesAndNonAsciiRoundTrip)
{
    const QStringList names = {"my run 1.fcs", "#2 b.fcs", QString::fromUtf8("Zelle \xc3\xbc  x.fcs"), "two\nlines.fcs"};
    load(names);
    UI_SampleSelectionWidget panel;
    pickColor(panel, 2, QColor(1, 2, 3));
    toggle(panel, 0);
    const std::vector<int> saved = bytes(panel);
    withFile(panel, "Save Settings ...", dir.filePath("names.txt"));
    EXPECT_EQ(readFile("names.txt").count('\n'), 2) << "the name with a line break is left out";
    EXPECT_EQ(UI_Settings::instance()->value("exportDefaultFilePath").toString(), QDir(dir.path()).absolutePath());

    UI_SampleSelectionWidget fresh;
    ASSERT_NE(bytes(fresh), saved);
    withFile(fresh, "Load Settings ...", dir.filePath("names.txt"));
    EXPECT_EQ(bytes(fresh), saved);
    EXPECT_EQ(fresh.sampleSelection(), (std::vector<bool>{false, true, true, true}));
    EXPECT_EQ(labels(fresh), names);
}

TEST_F(SampleSelectionWidgetTest, RefusedFilesWarnAndChangeNothing)
{
    load({"a.fcs", "b.fcs"});
    UI_SampleSelectionWidget panel;
    QSignalSpy selectionUpdated(&panel, &UI_SampleSelectionWidget::selectionUpdated);
    QSignalSpy colorsUpdated(&panel, &UI_SampleSelectionWidget::colorsUpdated);
    const std::vector<int> before = bytes(panel);

    const struct
    {
        const char* text;
        const char* message;
    } refused[] = {
        {"a.fcs 0 1 2 3\nb.fcs 0 1 2", "line 2"},
        {"a.fcs 0 1 2 3\nb.fcs 0 1 two 3", "\"two\" is not an integer"},
        {"a.fcs 0 1 2 256", "outside 0-255"},
        {"a.fcs 0 1 -2 3", "outside 0-255"},
        {"x.fcs 0 1 2 3\r\n\r\ny.fcs 1 4 5 6\n", "names none of the loaded samples"},
        {"<h1>Big <font color=red>RED</font></h1><img src=\"/some/local.png\">",
         "<h1>Big <font color=red>RED</font></h1><img src=\"/some/local.png\">"},
    };
    for (const auto& file : refused) {
        SCOPED_TRACE(file.text);
        writeFile("bad.txt", file.text);
        const auto warned = expectWarning(file.message);
        withFile(panel, "Load Settings ...", dir.filePath("bad.txt"));
        EXPECT_TRUE(*warned);
    }
    const auto unreadable = expectWarning("Could not read");
    withFile(panel, "Load Settings ...", dir.filePath("bad.txt"), true);
    EXPECT_TRUE(*unreadable);
    EXPECT_EQ(bytes(panel), before);
    EXPECT_EQ(panel.sampleSelection(), std::vector<bool>(2, true));
    EXPECT_EQ(selectionUpdated.count(), 0);
    EXPECT_EQ(colorsUpdated.count(), 0);

    // A write under a regular file fails (even as root) and keeps the earlier file.
    writeFile("plain", "not a folder");
    const auto unwritable = expectWarning("Could not write");
    withFile(panel, "Save Settings ...", dir.filePath("plain/settings.txt"));
    EXPECT_TRUE(*unwritable);
    EXPECT_EQ(readFile("plain"), QByteArray("not a folder"));

    // Blank lines and "\r" are ignored; the last line for a key wins.
    writeFile("ok.txt", "b.fcs 1 9 9 9\r\n\r\nb.fcs 0 7 8 9\r\n");
    withFile(panel, "Load Settings ...", dir.filePath("ok.txt"));
    EXPECT_EQ(panel.sampleSelection(), (std::vector<bool>{true, false}));
    EXPECT_EQ(bytes(panel)[3], 7);
}
