// The template settings panel on a real template-matching analysis: what it
// shows, what it passes on, and the boxes of " Upsample ".
#include "analysis_settings/UI_TemplateSettingsWidget.h"

#include "analyses/MCV_TemplateAnalysis.h"
#include "data/DefaultStateStore.h"
#include "data/MCV_DataRegistry.h"
#include "support/IsolatedSettings.h"
#include "support/ModalDialogDriver.h"
#include "support/RegistryTestData.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

const bool settingsIsolated = isolateSettings();

class TemplateSettingsWidgetTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(settingsIsolated);
        ASSERT_TRUE(m_dir.isValid());
        std::vector<bool> none;
        DefaultStateStore::instance()->setMarkerStates(none);
        open("CD3");
        m_analysis.initialize(nullptr, "Templates", {{0, 0, 0}, {1, 2, 3}, {10, 10, 10}});
        m_analysis.setMaxMarkerDistance(1.234f);
        m_analysis.setMaxProfileDistance(7.5f);
        m_panel = std::make_unique<UI_TemplateSettingsWidget>(nullptr, &m_analysis);
        m_panel->show();
    }
    void TearDown() override
    {
        m_panel.reset();
        RegistryTestData::dropRegistry();
    }

    /// Loads one file of three events whose first parameter is called `firstName`.
    void open(const std::string& firstName)
    {
        MCV_DataRegistry* registry = RegistryTestData::freshRegistry();
        const std::string path = RegistryTestData::writeFcs(m_dir.path().toStdString(), firstName + ".fcs", 3,
                                                            {1, 2, 3, 10, 10, 11, 50, 50, 50}, {{"$P1N", firstName}});
        ASSERT_EQ(registry->loadFcsFile(path), 0);
        registry->createAllPointsData();
    }

    QDoubleSpinBox* spinBox(int row) const { return m_panel->findChildren<QDoubleSpinBox*>().value(row); }
    QPushButton* button(const QString& text) const
    {
        for (QPushButton* b : m_panel->findChildren<QPushButton*>())
            if (b->text() == text)
                return b;
        return nullptr;
    }
    /// Presses " Upsample "; returns the warning shown, if any.
    QString upsample(const QString& expectedTitle = QString())
    {
        QString text;
        if (!expectedTitle.isNull())
            whenModal<QMessageBox>([&](QMessageBox* box) {
                text = box->text();
                EXPECT_EQ(box->windowTitle(), expectedTitle);
                EXPECT_EQ(box->icon(), QMessageBox::Warning);
                EXPECT_EQ(box->textFormat(), Qt::PlainText);
                EXPECT_EQ(box->parentWidget(), m_panel.get());
                box->button(QMessageBox::Ok)->click();
            });
        testing::internal::CaptureStdout();
        QTest::mousePress(button(" Upsample "), Qt::LeftButton);
        QTest::mouseRelease(button(" Upsample "), Qt::LeftButton);
        testing::internal::GetCapturedStdout();
        return text;
    }

    QTemporaryDir m_dir;
    MCV_TemplateAnalysis m_analysis;
    std::unique_ptr<UI_TemplateSettingsWidget> m_panel;
};

} // namespace

TEST_F(TemplateSettingsWidgetTest, ShowsTheLimitsWithoutChangingThem)
{
    ASSERT_NE(spinBox(1), nullptr);
    EXPECT_EQ(spinBox(0)->text(), "1.23");
    EXPECT_EQ(spinBox(1)->text(), "7.50");
    EXPECT_EQ(m_analysis.maxMarkerDistance(), 1.234f);
    EXPECT_EQ(m_analysis.maxProfileDistance(), 7.5f);
}

TEST_F(TemplateSettingsWidgetTest, TypedLimitsArePassedOn)
{
    auto type = [](QDoubleSpinBox* box, const char* keys) {
        QLineEdit* edit = box->findChild<QLineEdit*>();
        edit->selectAll();
        QTest::keyClicks(edit, keys);
        QTest::keyClick(edit, Qt::Key_Return);
    };
    // Above 99.99 cannot be entered: the spin box refuses the third digit.
    type(spinBox(0), "150");
    EXPECT_EQ(m_analysis.maxMarkerDistance(), 15.0f);
    type(spinBox(0), "99.99");
    EXPECT_EQ(m_analysis.maxMarkerDistance(), 99.99f);
    QTest::keyClick(spinBox(0), Qt::Key_PageUp);
    EXPECT_EQ(spinBox(0)->text(), "99.99");

    type(spinBox(1), "0");
    EXPECT_EQ(m_analysis.maxProfileDistance(), 0.0f);
}

TEST_F(TemplateSettingsWidgetTest, UpsampleClassifiesOrSaysWhyNot)
{
    EXPECT_EQ(upsample(), QString());
    ASSERT_EQ(m_analysis.clusters().size(), 4u);
    EXPECT_EQ(m_analysis.clusters()[1].size(), 1u) << "the event 1, 2, 3 at template 1";

    for (QCheckBox* box : m_panel->findChildren<QCheckBox*>())
        box->setChecked(false);
    EXPECT_TRUE(m_analysis.activeMarkerIndices().empty());
    const auto before = m_analysis.clusters();
    EXPECT_EQ(upsample("No markers selected"),
              "No markers selected.\nSelect at least one marker to compute the the template matching.");
    EXPECT_TRUE(m_analysis.clusters() == before) << "nothing ran";

    m_panel->findChildren<QCheckBox*>().first()->setChecked(true);
    open("CD4");
    EXPECT_EQ(upsample("Template matching"),
              "Template matching refused: column 1 of the template table stands for parameter \"CD3\", but the "
              "loaded files have \"CD4\" there.");
}
