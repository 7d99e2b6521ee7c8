// The t-SNE slide-in panel: what its controls send, its mode pages, and
// run, pause and restart of a real analysis from its two buttons.
#include "scatterplot/UI_TsneSettingsSliderWidget.h"

#include "analyses/MCV_TsneAnalysis.h"
#include "data/MCV_DataRegistry.h"
#include "support/DebugLines.h"
#include "support/IsolatedSettings.h"
#include "support/ModalDialogDriver.h"
#include "support/RecordingUiInterface.h"
#include "support/RegistryTestData.h"
#include "web/UI_DualSliderWidget.h"

#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

const bool settingsIsolated = isolateSettings();

/// The one value each signal in the spy carried, in order.
template <class T>
std::vector<T> sent(const QSignalSpy& spy)
{
    std::vector<T> values;
    for (const QList<QVariant>& call : spy)
        values.push_back(call.value(0).value<T>());
    return values;
}

/// Both values of each call of a two-argument signal.
std::vector<std::pair<int, int>> pairs(const QSignalSpy& first, const QSignalSpy& second)
{
    std::vector<std::pair<int, int>> values;
    for (int i = 0; i < std::min(first.size(), second.size()); ++i)
        values.emplace_back(first[i].value(0).toInt(), second[i].value(0).toInt());
    return values;
}

bool showsIcon(const QPushButton* button, const char* resource)
{
    return button->icon().pixmap(35).toImage() == QIcon(resource).pixmap(35).toImage();
}

class TsneSettingsSliderTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(settingsIsolated);
        MCV_DataRegistry* registry = RegistryTestData::freshRegistry();
        std::vector<float> values;
        for (int e = 0; e < 120; ++e)
            for (int m = 0; m < 3; ++m)
                values.push_back(float(e % 3 == m) * 10.0f + float((e * 7 + m) % 5) * 0.1f);
        ASSERT_EQ(registry->loadFcsFile(RegistryTestData::writeFcs(dir.path().toStdString(), "a.fcs", 3, values)), 0);
        registry->appendChannels({"VSRNE_TsneX", "VSRNE_TsneY"}, 0.0f);
        analysis.initialize(&ui, "T");
        analysis.setInputData(registry->createAllPointsData());
        panel = std::make_unique<UI_TsneSettingsSliderWidget>(&analysis, 30, nullptr);
        panel->resize(800, 110);
        panel->show();
    }
    void TearDown() override
    {
        panel.reset();
        RegistryTestData::dropRegistry();
    }

    QPushButton* runButton() const { return buttonAt(0); }
    QPushButton* replayButton() const { return buttonAt(1); }
    QPushButton* buttonAt(int index) const
    {
        QList<QPushButton*> round;
        for (QPushButton* button : panel->findChildren<QPushButton*>())
            if (button->size() == QSize(35, 35))
                round << button;
        return round.value(index);
    }
    /// Sigma sliders and spin boxes of both pages (the hidden page included).
    std::vector<int> sigmaValues() const
    {
        std::vector<int> values;
        for (QWidget* modePage : pages())
            for (QSlider* slider : modePage->findChildren<QSlider*>())
                if (slider->maximum() == 200 && slider->minimum() == 1)
                    values.push_back(slider->value());
        for (QWidget* modePage : pages())
            for (QSpinBox* box : modePage->findChildren<QSpinBox*>())
                if (box->maximum() == 200)
                    values.push_back(box->value());
        return values;
    }
    /// The "Clustering" and "Advanced" pages, shown or not (a hidden page has no parent).
    static std::vector<QWidget*> pages() { return {page(false), page(true)}; }
    static QWidget* page(bool advanced)
    {
        for (QWidget* widget : QApplication::allWidgets()) {
            const auto buttons = widget->findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly);
            const auto radios = widget->findChildren<QRadioButton*>(QString(), Qt::FindDirectChildrenOnly);
            if (advanced ? !radios.isEmpty() : (!buttons.isEmpty() && buttons.first()->text() == "Cluster"))
                return widget;
        }
        return nullptr;
    }

    QTemporaryDir dir;
    RecordingUiInterface ui;
    MCV_TsneAnalysis analysis;
    std::unique_ptr<UI_TsneSettingsSliderWidget> panel;
};

} // namespace

TEST_F(TsneSettingsSliderTest, ControlsSendTheirScaledValues)
{
    QSignalSpy size(panel.get(), &UI_TsneSettingsSliderWidget::parentSetpointSize);
    QSignalSpy opacity(panel.get(), &UI_TsneSettingsSliderWidget::parentSetpointOpacity);
    QSignalSpy halo(panel.get(), &UI_TsneSettingsSliderWidget::parentSetpointHaloSize);
    QSignalSpy sigma(panel.get(), &UI_TsneSettingsSliderWidget::parentSetSigma);
    QSignalSpy recluster(panel.get(), &UI_TsneSettingsSliderWidget::parentReclusterWithSigma);
    panel->setpointSize(100);
    panel->setpointOpacity(60);
    panel->setpointHaloSize(20);
    EXPECT_EQ(sent<float>(size), std::vector<float>{0.01f});
    EXPECT_EQ(sent<float>(opacity), std::vector<float>{0.6f});
    EXPECT_EQ(sent<float>(halo), std::vector<float>{0.2f});

    // The look sliders start where the renderer starts and send on every move.
    std::vector<QSlider*> look;
    for (QSlider* slider : panel->findChildren<QSlider*>())
        look.push_back(slider);
    ASSERT_EQ(look.size(), 3u) << "the shown page holds the three look sliders";
    EXPECT_EQ(look[0]->value(), 100);
    look[0]->setValue(150);
    EXPECT_EQ(sent<float>(size).back(), 0.015f);

    // Sigma: the start value everywhere; a move keeps all four in step and
    // sends the sigma once, the reclustering only on release.
    EXPECT_EQ(sigmaValues(), std::vector<int>(4, 30));
    panel->sigmaChanged(30);
    EXPECT_EQ(sent<float>(sigma), std::vector<float>{0.15f});
    QSlider* first = nullptr;
    for (QWidget* modePage : pages())
        for (QSlider* slider : modePage->findChildren<QSlider*>())
            first = first ? first : slider;
    ASSERT_NE(first, nullptr);
    first->setValue(40);
    EXPECT_EQ(sigmaValues(), std::vector<int>(4, 40));
    EXPECT_EQ(sent<float>(sigma), (std::vector<float>{0.15f, 0.2f}));
    EXPECT_EQ(recluster.size(), 0);
    emit first->sliderReleased();
    EXPECT_EQ(sent<float>(recluster), std::vector<float>{0.2f});
    QSpinBox* box = page(true)->findChildren<QSpinBox*>().first();
    emit box->editingFinished();
    EXPECT_EQ(recluster.size(), 2);

    // The marker list starts with "Sample", which colours by file.
    QSignalSpy marker(panel.get(), &UI_TsneSettingsSliderWidget::parentSetMarker);
    panel->setMarkerNames({"CD3", "a&b\n</b>"});
    auto* markers = panel->findChildren<QComboBox*>().value(1);
    ASSERT_NE(markers, nullptr);
    EXPECT_EQ(markers->count(), 3);
    EXPECT_EQ(markers->itemText(2), "a&b\n</b>");
    EXPECT_EQ(sent<int>(marker), std::vector<int>{-1});
    auto* range = panel->findChild<UI_DualSliderWidget*>();
    EXPECT_FALSE(range->isSliderEnabled());
    markers->setCurrentIndex(2);
    EXPECT_EQ(sent<int>(marker), (std::vector<int>{-1, 1}));
    EXPECT_TRUE(range->isSliderEnabled());
    panel->setMarkerRange(-1.0f, 5.0f, 0.0f, 4.0f);
    EXPECT_EQ(range->rangeMaximum(), 5.0f);
    EXPECT_EQ(range->upperValue(), 4.0f);

    // The gradient-descent settings start at the analysis' and reach it.
    QSpinBox* iterations = nullptr;
    for (QSpinBox* spin : page(true)->findChildren<QSpinBox*>())
        if (spin->maximum() == 99999)
            iterations = spin;
    ASSERT_NE(iterations, nullptr);
    EXPECT_EQ(iterations->value(), 1000);
    iterations->setValue(7);
    EXPECT_EQ(analysis.iterations(), 7);
}

TEST_F(TsneSettingsSliderTest, ModesSendTheirPairsAndShowOnePage)
{
    QSignalSpy mode(panel.get(), &UI_TsneSettingsSliderWidget::parentSetMode);
    QSignalSpy advanced(panel.get(), &UI_TsneSettingsSliderWidget::parentSetAdvancedMode);
    auto* modes = panel->findChild<QComboBox*>();
    EXPECT_EQ(modes->itemText(2), "Advanced");
    modes->setCurrentIndex(1);
    EXPECT_EQ(pairs(mode, advanced), (std::vector<std::pair<int, int>>{{1, -1}}));

    QRadioButton* rawDensity = nullptr;
    for (QWidget* modePage : pages())
        for (QRadioButton* radio : modePage->findChildren<QRadioButton*>())
            if (radio->text() == "Raw Density")
                rawDensity = radio;
    ASSERT_NE(rawDensity, nullptr);
    rawDensity->setChecked(true);
    modes->setCurrentIndex(2);
    EXPECT_EQ(pairs(mode, advanced).back(), std::make_pair(1, 0)) << "not clicked: the mode number is still 0";
    QTest::mouseClick(rawDensity, Qt::LeftButton);
    EXPECT_EQ(pairs(mode, advanced).back(), std::make_pair(1, 2));
    modes->setCurrentIndex(0);
    EXPECT_EQ(pairs(mode, advanced).back(), std::make_pair(0, -1));
    modes->setCurrentIndex(2);
    EXPECT_EQ(pairs(mode, advanced).back(), std::make_pair(1, 2));
    EXPECT_TRUE(rawDensity->isVisible()) << "the advanced page is the shown one";
}

TEST_F(TsneSettingsSliderTest, RunPauseAndRestartFromTheButtons)
{
    QSignalSpy started(panel.get(), &UI_TsneSettingsSliderWidget::computationStartedSignal);
    QSignalSpy refused(panel.get(), &UI_TsneSettingsSliderWidget::computationRefusedSignal);
    EXPECT_FALSE(runButton()->isEnabled());
    EXPECT_TRUE(showsIcon(runButton(), ":/Icons/runBt"));
    EXPECT_TRUE(showsIcon(replayButton(), ":/Icons/replayBt"));
    panel->setComputing(true);
    EXPECT_TRUE(runButton()->isEnabled() && replayButton()->isEnabled());
    EXPECT_TRUE(showsIcon(runButton(), ":/Icons/pauseBt"));
    panel->setComputing(false);
    EXPECT_TRUE(showsIcon(runButton(), ":/Icons/runBt"));
    EXPECT_TRUE(runButton()->isEnabled());

    // Nothing to resume yet: the analysis refuses and the view goes idle.
    panel->setComputing(true);
    QTest::mousePress(runButton(), Qt::LeftButton);
    QTest::mouseRelease(runButton(), Qt::LeftButton);
    EXPECT_EQ(started.size(), 1);
    EXPECT_EQ(refused.size(), 1);
    panel->setComputing(false);

    // During a run every marker is unticked; pause still stops it.
    analysis.setIterations(400);
    int modalDialogs = 0;
    QTimer closeWarnings; // a warning here would wait for a user: count and close it
    QObject::connect(&closeWarnings, &QTimer::timeout, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            ++modalDialogs;
            modal->close();
        }
    });
    ui.onCall = [&](const RecordingUiInterface::Call& call) {
        const std::string operation = call.operation;
        if (operation != "analysisUpdatedSignal" || ui.count("analysisUpdatedSignal") != 3)
            return;
        for (int m = 0; m < 5; ++m)
            analysis.setMarkerActive(m, false);
        closeWarnings.start(10);
        QTest::mousePress(runButton(), Qt::LeftButton);
        QTest::mouseRelease(runButton(), Qt::LeftButton);
        closeWarnings.stop();
    };
    for (int m = 0; m < 3; ++m)
        analysis.setMarkerActive(m, true);
    analysis.compute();
    ui.onCall = nullptr;
    EXPECT_EQ(ui.count("analysisUpdatedSignal"), 3) << "paused at its next iteration";
    EXPECT_EQ(modalDialogs, 0) << "no warning for a pause";

    // Resuming or restarting without markers: the warning, nothing runs.
    for (QPushButton* button : {runButton(), replayButton()}) {
        QString title;
        whenModal<QMessageBox>([&](QMessageBox* box) {
            title = box->windowTitle();
            box->accept();
        });
        QTest::mousePress(button, Qt::LeftButton);
        QTest::mouseRelease(button, Qt::LeftButton);
        EXPECT_EQ(title, "No markers selected");
    }
    EXPECT_EQ(ui.count("analysisUpdatedSignal"), 3);

    // With a marker: resume continues, restart begins anew.
    analysis.setMarkerActive(0, true);
    analysis.setIterations(5);
    QTest::mousePress(runButton(), Qt::LeftButton);
    QTest::mouseRelease(runButton(), Qt::LeftButton);
    EXPECT_EQ(ui.count("analysisUpdatedSignal"), 8);
    QTest::mousePress(replayButton(), Qt::LeftButton);
    QTest::mouseRelease(replayButton(), Qt::LeftButton);
    EXPECT_EQ(ui.count("analysisUpdatedSignal"), 13);
    EXPECT_EQ(started.size(), 3);
    EXPECT_EQ(analysis.gradientDescent().iteration(), 5) << "restarted";

    // Detached, the buttons reach nothing.
    panel->detachAnalysis();
    QTest::mousePress(runButton(), Qt::LeftButton);
    QTest::mouseRelease(runButton(), Qt::LeftButton);
    EXPECT_EQ(started.size(), 3);
}
