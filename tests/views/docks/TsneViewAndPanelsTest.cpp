// The t-SNE settings panel (input data, markers, parameters, compute) and
// the t-SNE view's selection flags kept in step with the registry.
#include "analysis_settings/UI_TsneSettingsWidget.h"
#include "docks/UI_TsneWidget.h"

#include "analyses/MCV_TsneAnalysis.h"
#include "data/DefaultStateStore.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataPoints.h"
#include "framework/UI_ExpanderWidget.h"
#include "panels/UI_MarkerSelectionWidget.h"
#include "panels/UI_SelectiveDownsamplingWidget.h"
#include "support/DebugLines.h"
#include "support/IsolatedSettings.h"
#include "support/ModalDialogDriver.h"
#include "support/RecordingUiInterface.h"
#include "support/RegistryTestData.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

const bool settingsIsolated = isolateSettings();

class TsneViewAndPanelsTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(settingsIsolated);
        ASSERT_TRUE(dir.isValid());
        std::vector<bool> none;
        DefaultStateStore::instance()->setMarkerStates(none);
        load();
        analysis.initialize(&ui, "T");
        analysis.setIterations(3);
    }
    void TearDown() override { RegistryTestData::dropRegistry(); }

    /// Two files of 100 events in three blobs, plus the embedding channels.
    MCV_DataRegistry* load()
    {
        MCV_DataRegistry* registry = RegistryTestData::freshRegistry();
        for (int f = 0; f < 2; ++f) {
            std::vector<float> values;
            for (int e = 0; e < 100; ++e)
                for (int m = 0; m < 3; ++m)
                    values.push_back(float(e % 3 == m) * 10.0f + float((e * 7 + m * 3) % 5) * 0.1f);
            EXPECT_EQ(registry->loadFcsFile(RegistryTestData::writeFcs(dir.path().toStdString(),
                                                                       "f" + std::to_string(f) + ".fcs", 3, values)),
                      0);
        }
        registry->appendChannels({"VSRNE_TsneX", "VSRNE_TsneY"}, 0.0f);
        registry->createAllPointsData();
        return registry;
    }
    static MCV_DerivedDataPoints* selection() { return MCV_DataRegistry::instance()->selectionData(); }

    QTemporaryDir dir;
    RecordingUiInterface ui;
    MCV_TsneAnalysis analysis;
};

} // namespace

TEST_F(TsneViewAndPanelsTest, SettingsPanelDrivesInputParametersAndCompute)
{
    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    UI_TsneSettingsWidget panel(nullptr, &analysis);
    QStringList expanders;
    for (UI_ExpanderWidget* expander : panel.findChildren<UI_ExpanderWidget*>())
        expanders << (expander->isCollapsed() ? "-" : "+") + expander->findChild<QLabel*>()->text();
    EXPECT_EQ(expanders, QStringList({"+Input Data", "+Active Markers", "-Advanced Parameters", "+Parameters"}));
    auto* combo = panel.findChild<QComboBox*>();
    EXPECT_EQ(combo->currentText(), "All Points");
    ASSERT_NE(analysis.inputData(), nullptr);
    EXPECT_EQ(analysis.inputData()->name(), "All Points");

    // A new set: the choice moves to the newest.
    MCV_DerivedDataPoints* newest = registry->createPointsData("Newest <b>", false);
    newest->setPoints(std::vector<MCV_PointIndex>{{0, 0}, {0, 1}}, false);
    panel.refreshInputData();
    EXPECT_EQ(combo->count(), 2);
    EXPECT_EQ(combo->currentText(), "Newest <b>");
    EXPECT_EQ(analysis.inputData(), newest);
    combo->setCurrentIndex(0);
    EXPECT_EQ(analysis.inputData()->name(), "All Points");

    // Normalisation and perplexity.
    QCheckBox* normalize = nullptr; // the box beside the label "Normalize"
    for (QCheckBox* box : panel.findChildren<QCheckBox*>())
        if (box->text().isEmpty())
            normalize = box;
    ASSERT_NE(normalize, nullptr);
    EXPECT_TRUE(normalize->isChecked());
    normalize->setChecked(false);
    EXPECT_TRUE(analysis.skipNormalization());
    auto* perplexity = panel.findChild<QSpinBox*>();
    EXPECT_EQ(perplexity->value(), 30);
    EXPECT_EQ(perplexity->maximum(), 100);
    perplexity->setValue(12);
    EXPECT_EQ(analysis.perplexity(), 12);

    // No marker: the warning, nothing computed.
    QPushButton* compute = nullptr;
    for (QPushButton* button : panel.findChildren<QPushButton*>())
        if (button->text() == " Compute tSNE ")
            compute = button;
    ASSERT_NE(compute, nullptr);
    for (QCheckBox* box : panel.findChild<UI_MarkerSelectionWidget*>()->findChildren<QCheckBox*>())
        box->setChecked(false);
    ASSERT_TRUE(analysis.activeMarkerIndices().empty());
    QString warning;
    whenModal<QMessageBox>([&](QMessageBox* box) {
        warning = box->windowTitle() + "|" + box->text();
        EXPECT_EQ(box->icon(), QMessageBox::Warning);
        box->accept();
    });
    QTest::mousePress(compute, Qt::LeftButton);
    QTest::mouseRelease(compute, Qt::LeftButton);
    EXPECT_EQ(warning, "No markers selected|No markers selected.\nSelect at least one marker to compute the tSNE.");
    EXPECT_EQ(ui.count("analysisInitializedSignal"), 0);

    // With markers the whole run happens inside the press.
    panel.findChild<UI_MarkerSelectionWidget*>()->findChildren<QCheckBox*>().first()->setChecked(true);
    QTest::mousePress(compute, Qt::LeftButton);
    EXPECT_EQ(analysis.pointCount(), 200);
    EXPECT_EQ(ui.count("analysisUpdatedSignal"), 3);
    EXPECT_EQ(ui.count("analysisFinishedSignal"), 1);
    QTest::mouseRelease(compute, Qt::LeftButton);

    // Files reopened: the new registry's newest set becomes the input.
    load();
    EXPECT_EQ(analysis.inputData(), nullptr);
    panel.refreshInputData();
    ASSERT_NE(analysis.inputData(), nullptr);
    EXPECT_EQ(analysis.inputData()->name(), "All Points");

    // A detached panel reaches the analysis no more.
    panel.detachAnalysis();
    EXPECT_EQ(panel.analysis(), nullptr);
    QTest::mousePress(compute, Qt::LeftButton);
    QTest::mouseRelease(compute, Qt::LeftButton);
    EXPECT_EQ(ui.count("analysisInitializedSignal"), 1);
}

TEST_F(TsneViewAndPanelsTest, DownsamplingDockFollowsTheInputAndDocksOnTheHoldingWindow)
{
    MCV_DerivedDataPoints* newest = MCV_DataRegistry::instance()->createPointsData("Newest", false);
    newest->setPoints(std::vector<MCV_PointIndex>{{0, 0}, {1, 1}}, false);
    QMainWindow window;
    // The settings dock floats: the active window would be the dock, not the main window.
    auto* settingsDock = new QDockWidget("Settings", &window);
    window.addDockWidget(Qt::LeftDockWidgetArea, settingsDock);
    settingsDock->setFloating(true);
    auto* panel = new UI_TsneSettingsWidget(settingsDock, &analysis);
    settingsDock->setWidget(panel);
    window.show();
    QPointer<UI_SelectiveDownsamplingWidget> downsampling = panel->downsamplingWidget();
    ASSERT_TRUE(downsampling);
    EXPECT_EQ(downsampling->analysis(), &analysis);
    panel->findChild<QComboBox*>()->setCurrentText("Newest");
    EXPECT_EQ(downsampling->inputData(), newest);

    QPushButton* open = nullptr;
    for (QPushButton* button : panel->findChildren<QPushButton*>())
        if (button->text() == "Downsampling ...")
            open = button;
    ASSERT_NE(open, nullptr);
    QTest::mouseClick(open, Qt::LeftButton);
    EXPECT_EQ(downsampling->parentWidget(), &window);
    EXPECT_TRUE(downsampling->isFloating());
    EXPECT_TRUE(downsampling->isVisible());

    panel->detachAnalysis();
    EXPECT_EQ(downsampling->analysis(), nullptr);
    delete panel;
    EXPECT_FALSE(downsampling) << "the dock goes with its panel";

    // A window closing first takes the docked dock along; the panel then frees nothing twice.
    auto* other = new QMainWindow;
    auto* second = new UI_TsneSettingsWidget(nullptr, &analysis);
    QPointer<UI_SelectiveDownsamplingWidget> adopted = second->downsamplingWidget();
    other->addDockWidget(Qt::RightDockWidgetArea, adopted);
    delete other;
    EXPECT_FALSE(adopted);
    delete second;
}

TEST_F(TsneViewAndPanelsTest, ViewFlagsTheSelectedPointsOfTheLiveRegistryOnly)
{
    UI_TsneWidget view(nullptr, &analysis);
    analysis.setInputData(MCV_DataRegistry::instance()->pointsDataList().front());
    analysis.compute();
    ASSERT_EQ(analysis.pointCount(), 200);
    view.initComputation(&analysis);
    EXPECT_EQ(view.selectionFlags(), std::vector<uint16_t>(200, 0)) << "sized for the new points before drawing";

    // Pairs name (sample, event); out-of-range pairs are skipped, repeats reported.
    DebugLines debug;
    selection()->setPoints(std::vector<MCV_PointIndex>{{1, 5}, {0, 2}, {1, 5}, {2, 0}, {0, 100}, {-1, 3}}, false);
    view.dataRefreshed(MCV_DataRegistry::instance()->pointsDataList().front());
    EXPECT_EQ(view.selectionFlags()[102], 0) << "another set changes nothing";
    view.dataRefreshed(selection());
    EXPECT_EQ(DebugLines::matching("double entry"), "double entry at 2:1, 5");
    std::vector<uint16_t> expected(200, 0);
    for (int k = 0; k < 200; ++k) {
        const MCV_PointIndex& p = analysis.points()[k];
        if ((p.sampleIndex == 1 && p.eventIndex == 5) || (p.sampleIndex == 0 && p.eventIndex == 2))
            expected[k] = 0x7fff;
    }
    EXPECT_EQ(view.selectionFlags(), expected);

    // Files reopened: the embedded points name events of files no longer
    // loaded, so no selection of the new registry is theirs.
    load();
    selection()->setPoints(std::vector<MCV_PointIndex>{{1, 5}, {0, 2}}, false);
    view.dataRefreshed(selection());
    EXPECT_EQ(view.selectionFlags(), std::vector<uint16_t>(200, 0));

    // A new point list of the new registry is flagged at once.
    analysis.setInputData(MCV_DataRegistry::instance()->pointsDataList().front());
    analysis.compute();
    EXPECT_EQ(std::count(view.selectionFlags().begin(), view.selectionFlags().end(), 0x7fff), 0)
        << "not sent to this view: it listens to nothing";
    view.initComputation(&analysis);
    EXPECT_EQ(std::count(view.selectionFlags().begin(), view.selectionFlags().end(), 0x7fff), 2);

    // Another analysis' notifications are ignored; a detached view ignores all.
    MCV_TsneAnalysis other;
    view.initComputation(&other);
    view.detachAnalysis();
    selection()->setPoints(std::vector<MCV_PointIndex>{}, false);
    view.dataRefreshed(selection());
    EXPECT_TRUE(view.selectionFlags().empty());
}
