// The SPADE settings panel on a real SPADE analysis: what it shows, what each
// control passes on, and " Compute Spade Tree ".
#include "analysis_settings/UI_SpadeSettingsWidget.h"

#include "analyses/MCV_SpadeAnalysis.h"
#include "data/DefaultStateStore.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "support/IsolatedSettings.h"
#include "support/ModalDialogDriver.h"
#include "support/RegistryTestData.h"

#include <QAbstractSpinBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>

namespace {

const bool settingsIsolated = isolateSettings();

class SpadeSettingsWidgetTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(settingsIsolated);
        std::vector<bool> none;
        DefaultStateStore::instance()->setMarkerStates(none);
        MCV_DataRegistry* registry = RegistryTestData::freshRegistry();
        std::vector<float> values;
        for (int e = 0; e < 240; ++e)
            for (int m = 0; m < 3; ++m)
                values.push_back(static_cast<float>(40 * (e % 3) + (e * 7 + m * 3) % 11));
        ASSERT_EQ(registry->loadFcsFile(RegistryTestData::writeFcs(m_dir.path().toStdString(), "a.fcs", 3, values)), 0);
        registry->createAllPointsData();
        m_analysis = std::make_unique<MCV_SpadeAnalysis>();
        m_analysis->initialize(nullptr, "Tree");
    }
    void TearDown() override
    {
        m_panel.reset();
        m_analysis.reset();
        RegistryTestData::dropRegistry();
    }

    void makePanel()
    {
        m_panel = std::make_unique<UI_SpadeSettingsWidget>(nullptr, m_analysis.get());
        m_panel->show();
    }
    /// The control in the label's row.
    template <class Box>
    Box* control(const QString& label)
    {
        for (QLabel* text : m_panel->findChildren<QLabel*>()) {
            if (text->text() != label)
                continue;
            auto* grid = qobject_cast<QGridLayout*>(text->parentWidget()->layout());
            int row, column, rowSpan, columnSpan;
            grid->getItemPosition(grid->indexOf(text), &row, &column, &rowSpan, &columnSpan);
            return qobject_cast<Box*>(grid->itemAtPosition(row, 1)->widget());
        }
        return nullptr;
    }
    std::vector<bool> dirty() const
    {
        return {m_analysis->densitiesDirty(), m_analysis->downsamplingDirty(), m_analysis->clusteringDirty()};
    }

    QTemporaryDir m_dir;
    std::unique_ptr<MCV_SpadeAnalysis> m_analysis;
    std::unique_ptr<UI_SpadeSettingsWidget> m_panel;
};

} // namespace

TEST_F(SpadeSettingsWidgetTest, ShowsTheAnalysisValuesAndBuildingChangesNothing)
{
    m_analysis->setSampleSize(50);
    m_analysis->setAlpha(2.5f);
    m_analysis->setTargetDensityPercentile(4.25f);
    m_analysis->setOutlierDensityPercentile(0.5f);
    m_analysis->setKeepPercentage(50.0f);
    m_analysis->setTargetClusterCount(3);
    testing::internal::CaptureStdout();
    m_analysis->computeSpadeTree();
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(dirty(), std::vector<bool>(3, false));

    makePanel();
    EXPECT_EQ(dirty(), std::vector<bool>(3, false));
    struct Row
    {
        const char* label;
        double value, maximum;
        int decimals;
    };
    for (const Row& row : {Row{"Heuristic Sample", 50, 999999, 0}, Row{"Alpha", 2.5, 99.99, 2},
                           Row{"Target Density %", 4.25, 99.99, 2}, Row{"Outlier Density %", 0.5, 99.99, 2},
                           Row{"Target Events %", 50, 100, 2}, Row{"Target Nodes", 3, 99999, 0}}) {
        auto* box = control<QAbstractSpinBox>(row.label);
        ASSERT_NE(box, nullptr) << row.label;
        const bool isDouble = qobject_cast<QDoubleSpinBox*>(box) != nullptr;
        EXPECT_EQ(isDouble, row.decimals == 2) << row.label;
        EXPECT_DOUBLE_EQ(box->property("value").toDouble(), row.value) << row.label;
        EXPECT_DOUBLE_EQ(box->property("minimum").toDouble(), 0.0) << row.label;
        EXPECT_DOUBLE_EQ(box->property("maximum").toDouble(), row.maximum) << row.label;
        EXPECT_FALSE(box->toolTip().isEmpty()) << row.label;
    }
    EXPECT_EQ(control<QSpinBox>("Target Nodes")->toolTip(), "Target number of nodes in the SPADE tree.");
}

TEST_F(SpadeSettingsWidgetTest, EachControlDrivesItsOwnSetterAndItsStage)
{
    testing::internal::CaptureStdout();
    m_analysis->computeSpadeTree();
    testing::internal::GetCapturedStdout();
    makePanel();
    using Check = std::function<bool()>;
    struct Case
    {
        const char* label;
        double value;
        Check applied;
        std::vector<bool> marks;
    };
    const std::vector<Case> cases{
        {"Heuristic Sample", 77, [&] { return m_analysis->sampleSize() == 77; }, {true, false, false}},
        {"Alpha", 1.25, [&] { return m_analysis->alpha() == 1.25f; }, {true, false, false}},
        {"Target Density %", 5.5, [&] { return m_analysis->targetDensityPercentile() == 5.5f; }, {false, true, false}},
        {"Outlier Density %", 0.75, [&] { return m_analysis->outlierDensityPercentile() == 0.75f; },
         {false, true, false}},
        {"Target Events %", 100, [&] { return m_analysis->keepPercentage() == 100.0f; }, {false, true, false}},
        {"Target Nodes", 4, [&] { return m_analysis->targetClusterCount() == 4; }, {false, false, true}}};
    for (const Case& c : cases) {
        testing::internal::CaptureStdout();
        m_analysis->computeSpadeTree();
        testing::internal::GetCapturedStdout();
        ASSERT_EQ(dirty(), std::vector<bool>(3, false)) << c.label;
        auto* box = control<QAbstractSpinBox>(c.label);
        const QVariant before = box->property("value");
        box->setProperty("value", c.value);
        EXPECT_TRUE(c.applied()) << c.label;
        EXPECT_EQ(dirty(), c.marks) << c.label;
        // Changed and back before computing: the stage stays marked.
        box->setProperty("value", before);
        EXPECT_EQ(dirty(), c.marks) << c.label;
    }
}

TEST_F(SpadeSettingsWidgetTest, ComputeWithoutMarkersWarnsAndRunsNothing)
{
    makePanel();
    for (int m = 0; m < 3; ++m)
        m_analysis->setMarkerActive(m, false);
    QString title, text;
    whenModal<QMessageBox>([&](QMessageBox* box) {
        title = box->windowTitle();
        text = box->text();
        box->button(QMessageBox::Ok)->click();
    });
    QTest::mousePress(m_panel->findChild<QPushButton*>(), Qt::LeftButton);
    QTest::mouseRelease(m_panel->findChild<QPushButton*>(), Qt::LeftButton);
    EXPECT_EQ(title, "No markers selected");
    EXPECT_EQ(text, "No markers selected.\nSelect at least one marker to compute the SPADE tree.");
    EXPECT_EQ(dirty(), std::vector<bool>(3, true));
    EXPECT_EQ(MCV_DataRegistry::instance()->clustersDataList().front()->clusterCount(), 0);

    // With a marker the press runs the whole analysis.
    m_analysis->setMarkerActive(1, true);
    m_analysis->setTargetClusterCount(3);
    testing::internal::CaptureStdout();
    QTest::mousePress(m_panel->findChild<QPushButton*>(), Qt::LeftButton);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(MCV_DataRegistry::instance()->clustersDataList().front()->clusterCount(), 3);
}
