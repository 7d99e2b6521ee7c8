// The serial screenshot dialog: what it starts with, its slider page, its
// choosers, and that it leaves the settings store alone.
#include "framework/UI_Settings.h"
#include "panels/UI_ScreenshotDialog.h"

#include "data/DefaultStateStore.h"
#include "data/MCV_DataRegistry.h"
#include "support/IsolatedSettings.h"
#include "support/ModalDialogDriver.h"
#include "support/PageUnderTest.h"
#include "support/RegistryTestData.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

const bool settingsIsolated = isolateSettings();

class ScreenshotDialogTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(settingsIsolated);
        ASSERT_TRUE(dir.isValid());
        std::vector<bool> allOn;
        DefaultStateStore::instance()->setMarkerStates(allOn);
        UI_Settings::instance()->remove("exportDefaultFilePath");
        UI_Settings::instance()->sync();
        RegistryTestData::freshRegistry();
        const std::string path = RegistryTestData::writeFcs(dir.path().toStdString(), "a.fcs", 4,
                                                            std::vector<float>(8, 1.0f));
        ASSERT_EQ(MCV_DataRegistry::instance()->loadFcsFile(path), 0);
    }
    void TearDown() override { RegistryTestData::dropRegistry(); }

    template <class T>
    static T* child(const QDialog& dialog, const QString& text)
    {
        for (T* widget : dialog.findChildren<T*>())
            if (widget->text() == text)
                return widget;
        return nullptr;
    }
    static QPushButton* colorButton(const QDialog& dialog) { return child<QPushButton>(dialog, QString()); }
    static void click(QAbstractButton* button)
    {
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(4, button->height() / 2));
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(ScreenshotDialogTest, StartsEmptyWhiteAndWithTheSliderDisabledOnItsPage)
{
    PageUnderTest page;
    UI_ScreenshotDialog dialog;
    dialog.show();
    ASSERT_TRUE(page.waitForLoad());

    EXPECT_EQ(dialog.windowTitle(), "Serial Screenshot");
    EXPECT_TRUE(dialog.isModal());
    EXPECT_EQ(dialog.folder(), QString());
    EXPECT_FALSE(child<QPushButton>(dialog, "Capture")->isEnabled());
    EXPECT_TRUE(dialog.overrideRange().empty());
    EXPECT_EQ(dialog.backgroundColor(), QColor(Qt::white));
    EXPECT_EQ(colorButton(dialog)->styleSheet(), "QPushButton { background-color : #ffffff; }");
    EXPECT_EQ(page.evaluate("[_range, _values, _isDisabled].join(' ')").toString(), "0,20 0,5 true");

    QCheckBox* override = child<QCheckBox>(dialog, "Override Ranges");
    click(override);
    EXPECT_EQ(page.evaluate("_isDisabled").toBool(), false);
    EXPECT_EQ(dialog.overrideRange(), (std::vector<float>{0, 5}));
    click(override);
    EXPECT_EQ(page.evaluate("_isDisabled").toBool(), true);
    EXPECT_TRUE(dialog.overrideRange().empty());

    // "Sample" with markers 1 and 3.
    click(child<QCheckBox>(dialog, "P1"));
    click(child<QCheckBox>(dialog, "P3"));
    EXPECT_EQ(dialog.selectedMarkers(), (std::vector<int>{-1, 1, 3}));
}

TEST_F(ScreenshotDialogTest, ChoosersAcceptAndCancelWithoutTouchingTheSettings)
{
    UI_Settings::instance()->setValue("exportDefaultFilePath", dir.path());
    UI_Settings::instance()->sync();
    UI_ScreenshotDialog dialog;
    EXPECT_EQ(dialog.folder(), dir.path());
    EXPECT_TRUE(child<QPushButton>(dialog, "Capture")->isEnabled());

    ASSERT_TRUE(QDir(dir.path()).mkdir("shots"));
    const QString shots = QDir(dir.filePath("shots")).absolutePath();
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    whenModal<QFileDialog>([&](QFileDialog* chooser) {
        mode = chooser->fileMode();
        EXPECT_TRUE(chooser->testOption(QFileDialog::ShowDirsOnly));
        EXPECT_EQ(chooser->directory().absolutePath(), QDir(dir.path()).absolutePath());
        chooseInFileDialog(chooser, shots);
    });
    QTest::mouseClick(child<QPushButton>(dialog, "Select ..."), Qt::LeftButton);
    EXPECT_EQ(mode, QFileDialog::Directory);
    EXPECT_EQ(dialog.folder(), shots);
    EXPECT_TRUE(child<QPushButton>(dialog, "Capture")->isEnabled());

    whenModal<QFileDialog>([](QFileDialog* chooser) { chooser->reject(); });
    QTest::mouseClick(child<QPushButton>(dialog, "Select ..."), Qt::LeftButton);
    EXPECT_EQ(dialog.folder(), QString());
    EXPECT_FALSE(child<QPushButton>(dialog, "Capture")->isEnabled());

    whenModal<QColorDialog>([](QColorDialog* chooser) {
        chooser->setCurrentColor(QColor(20, 30, 40));
        chooser->accept();
    });
    QTest::mouseClick(colorButton(dialog), Qt::LeftButton);
    EXPECT_EQ(dialog.backgroundColor(), QColor(20, 30, 40));
    whenModal<QColorDialog>([](QColorDialog* chooser) {
        chooser->setCurrentColor(QColor(1, 2, 3));
        chooser->reject();
    });
    QTest::mouseClick(colorButton(dialog), Qt::LeftButton);
    EXPECT_EQ(dialog.backgroundColor(), QColor(20, 30, 40));
    EXPECT_EQ(colorButton(dialog)->styleSheet(), "QPushButton { background-color : #141e28; }");

    UI_Settings::instance()->sync();
    EXPECT_EQ(UI_Settings::instance()->value("exportDefaultFilePath").toString(), dir.path());
}
