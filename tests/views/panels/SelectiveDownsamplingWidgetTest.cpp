// The downsampling dock: its table, the kept targets and the sets it asks
// the registry for.
#include "panels/UI_SelectiveDownsamplingWidget.h"

#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataPoints.h"
#include "support/RegistryTestData.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class SelectiveDownsamplingWidgetTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        loadFiles();
    }
    void TearDown() override { RegistryTestData::dropRegistry(); }

    /// A fresh registry with two files of 100 and 40 events and "All Points".
    void loadFiles()
    {
        MCV_DataRegistry* registry = RegistryTestData::freshRegistry();
        const int sizes[2] = {100, 40};
        for (int file = 0; file < 2; ++file) {
            const std::string path = RegistryTestData::writeFcs(dir.path().toStdString(),
                                                                "run#" + std::to_string(file) + ".fcs", 1,
                                                                std::vector<float>(sizes[file], 1.0f));
            ASSERT_EQ(registry->loadFcsFile(path), 0);
        }
        allPoints = registry->createAllPointsData();
        ASSERT_NE(allPoints, nullptr);
    }
    QTableWidget* table() const { return panel.findChild<QTableWidget*>(); }
    QString cell(int row, int column) const { return table()->item(row, column)->text(); }
    /// Types into a target cell through its editor, as a user does.
    void type(int row, const QString& text)
    {
        panel.show();
        table()->editItem(table()->item(row, 2));
        auto* editor = qobject_cast<QLineEdit*>(table()->indexWidget(table()->model()->index(row, 2)));
        ASSERT_NE(editor, nullptr);
        editor->selectAll();
        QTest::keyClicks(editor, text);
        QTest::keyClick(editor, Qt::Key_Return);
        // The delegate commits through a queued call.
        QCoreApplication::processEvents();
    }
    void pressDownsample() { QTest::mouseClick(panel.findChild<QPushButton*>(), Qt::LeftButton); }
    static std::vector<std::string> pointsNames()
    {
        std::vector<std::string> names;
        for (MCV_DerivedDataPoints* set : MCV_DataRegistry::instance()->pointsDataList())
            names.push_back(set->name());
        return names;
    }

    QTemporaryDir dir;
    UI_SelectiveDownsamplingWidget panel;
    MCV_DerivedDataPoints* allPoints = nullptr;
};

} // namespace

TEST_F(SelectiveDownsamplingWidgetTest, TargetsStayBetweenZeroAndTheSelectedCount)
{
    EXPECT_EQ(panel.windowTitle(), "Downsampling");
    ASSERT_EQ(table()->rowCount(), 1);
    for (int column = 0; column < 3; ++column)
        EXPECT_FALSE(table()->item(0, column)->flags() & Qt::ItemIsEditable) << column;
    table()->item(0, 2)->setText("5");
    EXPECT_TRUE(panel.targets().empty());

    panel.setInputData(allPoints);
    ASSERT_EQ(table()->rowCount(), 2);
    EXPECT_EQ(cell(0, 0), "run#0.fcs");
    EXPECT_EQ(cell(1, 1), "40");
    EXPECT_FALSE(table()->item(1, 1)->flags() & Qt::ItemIsEditable);
    EXPECT_EQ(table()->item(1, 1)->textAlignment(), int(Qt::AlignRight | Qt::AlignVCenter));

    type(0, "500");
    EXPECT_EQ(cell(0, 2), "100");
    type(1, "-3");
    EXPECT_EQ(cell(1, 2), "0");
    type(1, "abc");
    EXPECT_EQ(cell(1, 2), "0");
    type(1, "25");
    EXPECT_EQ(panel.targets(), (std::vector<int64_t>{100, 25}));
}

TEST_F(SelectiveDownsamplingWidgetTest, KeptTargetsFollowNewCountsAndNamesStayUnique)
{
    panel.setInputData(allPoints);
    type(0, "100");
    type(1, "20");

    // An input with 10 and 40 events lowers the first target to 10.
    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    MCV_DerivedDataPoints* part = registry->createPointsData("Part", false);
    std::vector<MCV_PointIndex> points;
    for (int e = 0; e < 10; ++e)
        points.push_back({0, e});
    for (int e = 0; e < 40; ++e)
        points.push_back({1, e});
    part->setPoints(points, false);
    panel.setInputData(part);
    EXPECT_EQ(cell(0, 2), "10");
    EXPECT_EQ(panel.targets(), (std::vector<int64_t>{10, 20}));

    pressDownsample();
    MCV_DerivedDataPoints* made = registry->pointsDataList().back();
    EXPECT_EQ(made->name(), "Part-downsampled");
    EXPECT_EQ(made->sampleCounts(), (std::vector<int64_t>{10, 20}));

    // Names are unique over sets of every kind.
    registry->createClustersData("All Points-downsampled", false);
    panel.setInputData(allPoints);
    pressDownsample();
    pressDownsample();
    const std::vector<std::string> names = pointsNames();
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(names[names.size() - 2], "All Points-downsampled(1)");
    EXPECT_EQ(names.back(), "All Points-downsampled(2)");
}

TEST_F(SelectiveDownsamplingWidgetTest, ZeroTargetsOrAnInputFromBeforeAReopenCreateNothing)
{
    panel.setInputData(allPoints);
    const std::size_t sets = pointsNames().size();
    pressDownsample();
    EXPECT_EQ(pointsNames().size(), sets);

    type(0, "7");
    loadFiles();
    const std::size_t reopened = pointsNames().size();
    EXPECT_EQ(panel.inputData(), nullptr);
    pressDownsample();
    EXPECT_EQ(pointsNames().size(), reopened);
}
