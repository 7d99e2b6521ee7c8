// The hierarchical SNE settings panel on a real hierarchy analysis: the
// defaults shown, the mean-shift controls announced, the input set chosen, and
// " Compute HSNE " warns without markers and builds the hierarchy with them.
#include "analysis_settings/UI_HsneSettingsWidget.h"

#include "analyses/MCV_HsneAnalysis.h"
#include "analyses/MCV_HsneAnalysisHierarchy.h"
#include "data/DefaultStateStore.h"
#include "data/MCV_DataRegistry.h"
#include "panels/UI_SelectiveDownsamplingWidget.h"
#include "support/IsolatedSettings.h"
#include "support/ModalDialogDriver.h"
#include "support/RegistryTestData.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

const bool settingsIsolated = isolateSettings();

/// The control in the label's row.
template <class Control>
Control* control(QWidget* panel, const QString& label)
{
    for (QLabel* text : panel->findChildren<QLabel*>()) {
        if (text->text() != label)
            continue;
        auto* grid = qobject_cast<QGridLayout*>(text->parentWidget()->layout());
        int row, column, rowSpan, columnSpan;
        grid->getItemPosition(grid->indexOf(text), &row, &column, &rowSpan, &columnSpan);
        return qobject_cast<Control*>(grid->itemAtPosition(row, 1)->widget());
    }
    return nullptr;
}

QPushButton* button(QWidget* panel, const QString& text)
{
    for (QPushButton* candidate : panel->findChildren<QPushButton*>())
        if (candidate->text() == text)
            return candidate;
    return nullptr;
}

} // namespace

TEST(HsneSettingsWidgetTest, ControlsReachTheHierarchyAndComputeWarnsOrBuilds)
{
    ASSERT_TRUE(settingsIsolated);
    std::vector<bool> none;
    DefaultStateStore::instance()->setMarkerStates(none);
    QTemporaryDir dir;
    MCV_DataRegistry* registry = RegistryTestData::freshRegistry();
    std::vector<float> values;
    for (int e = 0; e < 600; ++e)
        for (int m = 0; m < 3; ++m)
            values.push_back(static_cast<float>(30 * (e % 3 == m) + (e * 7 + m * 3) % 11));
    ASSERT_EQ(registry->loadFcsFile(RegistryTestData::writeFcs(dir.path().toStdString(), "a.fcs", 3, values)), 0);
    registry->createAllPointsData();
    MCV_HsneAnalysisHierarchy hierarchy;
    hierarchy.initialize(nullptr, "H");
    UI_HsneSettingsWidget panel(nullptr, &hierarchy);
    panel.show();

    // The panel shows the defaults and building it changed nothing.
    EXPECT_EQ(control<QSpinBox>(&panel, "Scales")->value(), 3);
    EXPECT_EQ(control<QSpinBox>(&panel, "Prune Threshold")->value(), 1);
    EXPECT_EQ(control<QSpinBox>(&panel, "kNN Checks")->value(), 1024);

    // The mean-shift controls are only announced; clustering once waits while on the fly.
    QSignalSpy grid(&panel, &UI_HsneSettingsWidget::msGridChanged);
    QSignalSpy once(&panel, &UI_HsneSettingsWidget::computeMSOnceSignal);
    QSignalSpy onTheFly(&panel, &UI_HsneSettingsWidget::computeMSotfSignal);
    control<QSpinBox>(&panel, "Grid Size")->setValue(128);
    control<QCheckBox>(&panel, "On the Fly")->setChecked(true);
    EXPECT_FALSE(button(&panel, "Cluster")->isEnabled());
    control<QCheckBox>(&panel, "On the Fly")->setChecked(false);
    QTest::mouseClick(button(&panel, "Cluster"), Qt::LeftButton);
    EXPECT_EQ(grid.count(), 1);
    EXPECT_EQ(grid.at(0).at(0).toInt(), 128);
    EXPECT_EQ(onTheFly.count(), 2);
    EXPECT_EQ(once.count(), 1);

    // The chooser gives the named set, none for a name without a set.
    ASSERT_EQ(panel.inputDataComboBox()->currentText(), "All Points");
    EXPECT_EQ(hierarchy.inputData(), registry->createAllPointsData());
    panel.inputDataComboBox()->setEditable(true);
    panel.inputDataComboBox()->setEditText("No Such Set");
    panel.inputDataChanged(0);
    EXPECT_EQ(hierarchy.inputData(), nullptr);
    panel.refreshInputData();
    EXPECT_EQ(hierarchy.inputData(), registry->createAllPointsData());
    EXPECT_EQ(panel.downsamplingWidget()->inputData(), registry->createAllPointsData());

    // "Downsampling ..." docks the panel's downsampling dock, floating, on the main window holding the panel.
    {
        QMainWindow window;
        QWidget* formerParent = panel.parentWidget();
        panel.setParent(&window);
        window.show();
        QTest::mouseClick(button(&panel, "Downsampling ..."), Qt::LeftButton);
        EXPECT_EQ(window.dockWidgetArea(panel.downsamplingWidget()), Qt::RightDockWidgetArea);
        EXPECT_TRUE(panel.downsamplingWidget()->isFloating());
        EXPECT_TRUE(panel.downsamplingWidget()->isVisible());
        window.removeDockWidget(panel.downsamplingWidget());
        panel.downsamplingWidget()->setParent(nullptr);
        panel.setParent(formerParent);
    }
    for (int m = 0; m < 3; ++m)
        hierarchy.setMarkerActive(m, false);

    QString title, text;
    whenModal<QMessageBox>([&](QMessageBox* box) {
        title = box->windowTitle();
        text = box->text();
        box->button(QMessageBox::Ok)->click();
    });
    QTest::mousePress(button(&panel, " Compute HSNE "), Qt::LeftButton);
    QTest::mouseRelease(button(&panel, " Compute HSNE "), Qt::LeftButton);
    EXPECT_EQ(title, "No markers selected");
    EXPECT_EQ(text, "No markers selected.\nSelect at least one marker to compute the tSNE.");
    EXPECT_EQ(hierarchy.hierarchy(), nullptr);

    // With markers the press builds the hierarchy and runs its overview.
    for (int m = 0; m < 3; ++m)
        hierarchy.setMarkerActive(m, true);
    testing::internal::CaptureStdout();
    QTest::mousePress(button(&panel, " Compute HSNE "), Qt::LeftButton);
    testing::internal::GetCapturedStdout();
    QTest::mouseRelease(button(&panel, " Compute HSNE "), Qt::LeftButton);
    ASSERT_NE(hierarchy.hierarchy(), nullptr);
    ASSERT_EQ(hierarchy.levels().size(), 1u);
    EXPECT_GT(hierarchy.levels()[0]->scale(), 0);
    RegistryTestData::dropRegistry();
}
