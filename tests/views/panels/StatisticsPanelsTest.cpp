// The sample and selection statistics panels: counts and percentages per
// sample, sorting, continuous refresh, CSV files, replaced registries.
#include "framework/UI_Settings.h"
#include "panels/UI_SampleStatisticsWidget.h"
#include "panels/UI_SelectionStatisticsWidget.h"

#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataPoints.h"
#include "support/CsvRecords.h"
#include "support/FcsTestFile.h"
#include "support/IsolatedSettings.h"
#include "support/ModalDialogDriver.h"
#include "support/RegistryTestData.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

/// Readable failures: QString as its text.
void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

const bool settingsIsolated = isolateSettings();

class StatisticsPanelsTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(settingsIsolated);
        ASSERT_TRUE(dir.isValid());
        UI_Settings::instance()->setValue("exportDefaultFilePath", dir.path());
        UI_Settings::instance()->sync();
    }
    void TearDown() override { RegistryTestData::dropRegistry(); }

    /// A fresh registry of files with `events[f]` events of 2 parameters;
    /// event e of every file holds (e, 10 * file + 1).
    MCV_DataRegistry* load(const std::vector<int>& events, const std::vector<std::string>& names = {})
    {
        MCV_DataRegistry* registry = RegistryTestData::freshRegistry();
        for (size_t f = 0; f < events.size(); ++f) {
            std::vector<float> values;
            for (int e = 0; e < events[f]; ++e)
                values.insert(values.end(), {float(e), 10.0f * f + 1.0f});
            const std::string name = f < names.size() ? names[f] : "s" + std::to_string(f) + ".fcs";
            EXPECT_EQ(registry->loadFcsFile(RegistryTestData::writeFcs(dir.path().toStdString(), name, 2, values)), 0);
        }
        registry->createAllPointsData();
        return registry;
    }
    static MCV_DerivedDataPoints* allPoints() { return MCV_DataRegistry::instance()->pointsDataList().front(); }
    /// Selects the first count[s] events of every sample s.
    static void select(const std::vector<int>& counts)
    {
        std::vector<MCV_PointIndex> pairs;
        for (size_t s = 0; s < counts.size(); ++s)
            for (int e = 0; e < counts[s]; ++e)
                pairs.push_back({int(s), e});
        MCV_DataRegistry::instance()->selectionData()->setPoints(pairs, false);
    }
    /// The texts shown in the row of sample s (its "Idx" is s + 1), wherever sorting put it.
    static QStringList rowOf(const QTableWidget* table, int sample)
    {
        auto* delegate = qobject_cast<QStyledItemDelegate*>(table->itemDelegate());
        for (int row = 0; row < table->rowCount(); ++row)
            if (table->item(row, 0)->text() == QString::number(sample + 1)) {
                QStringList cells;
                for (int column = 0; column < table->columnCount(); ++column)
                    cells << delegate->displayText(table->item(row, column)->data(Qt::DisplayRole), table->locale());
                return cells;
            }
        return {};
    }
    /// Saves through the real dialog, typing `name`; returns the file's bytes.
    std::string saveAs(const QString& name, const std::function<void()>& save)
    {
        whenModal<QFileDialog>([name](QFileDialog* dialog) {
            EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
            EXPECT_EQ(dialog->nameFilters(), QStringList({"Table files (*.csv)"}));
            EXPECT_EQ(dialog->defaultSuffix(), "csv");
            dialog->findChild<QLineEdit*>("fileNameEdit")->setText(name);
            static_cast<QDialog*>(dialog)->accept();
        });
        save();
        return FcsTestFile::readBytes(dir.filePath(name + ".csv").toStdString());
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(StatisticsPanelsTest, CountsAndPercentagesFollowTheSelectionInEverySortOrder)
{
    load({1000, 1000}, {"a.fcs", "b, \"quoted\".fcs"});
    UI_SampleStatisticsWidget panel;
    const QTableWidget* table = panel.table();
    ASSERT_EQ(table->columnCount(), 7);
    QStringList labels;
    for (int c = 0; c < 7; ++c)
        labels << table->horizontalHeaderItem(c)->text();
    EXPECT_EQ(labels, QStringList({"Idx", "Filename", "Total events", "in selection", "% in selection",
                                   "% of selection", "% of selection normalized"}));
    EXPECT_EQ(rowOf(table, 1), QStringList({"2", "b, \"quoted\".fcs", "1000", "0", "0", "0", "0"}));
    EXPECT_FALSE(table->item(0, 1)->flags() & Qt::ItemIsEditable);
    EXPECT_EQ(table->item(0, 0)->text(), "1") << "rows start in load order";

    select({100, 300});
    panel.setData(allPoints());
    EXPECT_EQ(rowOf(table, 0), QStringList({"1", "a.fcs", "1000", "100", "10", "25", "25"}));
    EXPECT_EQ(rowOf(table, 1), QStringList({"2", "b, \"quoted\".fcs", "1000", "300", "30", "75", "75"}));

    // Sorted by "in selection", descending: refreshes still reach each sample's row.
    const_cast<QTableWidget*>(table)->sortByColumn(3, Qt::DescendingOrder);
    EXPECT_EQ(table->item(0, 0)->text(), "2");
    select({500, 250});
    panel.refresh();
    EXPECT_EQ(rowOf(table, 0)[3], "100") << "refreshes wait for the event loop";
    QCoreApplication::processEvents();
    EXPECT_EQ(rowOf(table, 0).mid(3), QStringList({"500", "50", "66.6667", "66.6667"}));
    EXPECT_EQ(rowOf(table, 1).mid(3), QStringList({"250", "25", "33.3333", "33.3333"}));
    EXPECT_EQ(table->item(0, 0)->text(), "1") << "still sorted by the selected count";

    // A quoted name follows its comma directly: CSV readers see seven fields.
    const std::string saved = saveAs("samples", [&] { panel.saveClicked(); });
    EXPECT_EQ(saved,
              "Idx, Filename, Total events, in selection, % in selection, % of selection, % of selection normalized\n"
              "1, a.fcs, 1000, 500, 50, 66.6667, 66.6667\n"
              "2,\"b, \"\"quoted\"\".fcs\", 1000, 250, 25, 33.3333, 33.3333");
    const auto records = parseCsv(saved);
    ASSERT_EQ(records.size(), 3u);
    for (const auto& record : records)
        EXPECT_EQ(record.size(), 7u);
    EXPECT_EQ(records[2][1], "b, \"quoted\".fcs");
    UI_Settings::instance()->sync();
    EXPECT_EQ(UI_Settings::instance()->value("exportDefaultFilePath").toString(), dir.path());
}

TEST_F(StatisticsPanelsTest, OnlySelectedEventsOfTheShownSetCountAndReplacedRegistriesAreDropped)
{
    MCV_DataRegistry* registry = load({100, 100});
    // The view shows the first 40 events of sample 0 and 10 of sample 1.
    MCV_DerivedDataPoints* shown = registry->createPointsData("Shown", false);
    std::vector<MCV_PointIndex> points;
    for (int e = 0; e < 40; ++e)
        points.push_back({0, e});
    for (int e = 0; e < 10; ++e)
        points.push_back({1, e});
    shown->setPoints(points, false);
    // Selected: 80 events of each sample, one of them twice, one pair out of range.
    select({80, 80});
    std::vector<MCV_PointIndex> pairs = registry->selectionData()->points();
    pairs.push_back({0, 3});
    pairs.push_back({1, 100000});
    pairs.push_back({7, 0});
    registry->selectionData()->setPoints(pairs, false);

    UI_SampleStatisticsWidget panel;
    panel.setData(shown);
    EXPECT_EQ(rowOf(panel.table(), 0).mid(2), QStringList({"40", "40", "100", "80", "50"}));
    EXPECT_EQ(rowOf(panel.table(), 1).mid(2), QStringList({"10", "10", "100", "20", "50"}));

    // No selection: divisions by zero show as the float's text.
    registry->selectionData()->setPoints(std::vector<MCV_PointIndex>{}, false);
    panel.refreshNow();
    EXPECT_EQ(rowOf(panel.table(), 0).mid(3), QStringList({"0", "0", "nan", "nan"}));

    // Files reopened: three samples now, and the old set is not followed.
    load({5, 6, 7});
    panel.refreshNow();
    ASSERT_EQ(panel.table()->rowCount(), 3);
    EXPECT_EQ(rowOf(panel.table(), 2).mid(1), QStringList({"s2.fcs", "7", "0", "0", "0", "0"}));
    panel.setData(allPoints());
    select({1, 0, 7});
    panel.refreshNow();
    EXPECT_EQ(rowOf(panel.table(), 2).mid(2), QStringList({"7", "7", "100", "87.5", "83.3333"}));
}

TEST_F(StatisticsPanelsTest, SelectionStatisticsRefreshOnRequestOrContinuously)
{
    MCV_DataRegistry* registry = load({10, 10});
    UI_SelectionStatisticsWidget panel;
    const QTableWidget* table = panel.table();
    ASSERT_EQ(table->columnCount(), 3);
    EXPECT_EQ(table->horizontalHeaderItem(1)->text(), "P1");
    EXPECT_EQ(table->item(1, 0)->text(), "Mean");
    EXPECT_EQ(table->columnWidth(1), 65);
    EXPECT_EQ(table->item(0, 1)->text(), "0.00");

    select({4, 0}); // values 0..3 and 1: median at count / 2 is 2
    panel.refresh(false);
    QCoreApplication::processEvents();
    EXPECT_EQ(table->item(0, 1)->text(), "0.00") << "not continuous: unchanged";
    auto* refreshButton = panel.findChild<QPushButton*>();
    QTest::mouseClick(refreshButton, Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_EQ(table->item(0, 1)->text(), "2.00");
    EXPECT_EQ(table->item(1, 1)->text(), "1.50");
    EXPECT_EQ(table->item(2, 1)->text(), "1.12");
    EXPECT_EQ(table->item(1, 2)->text(), "1.00");

    // Checking "Refresh Continously" refreshes at once and disables "Refresh".
    select({0, 2}); // values 0, 1 and 11
    auto* continuous = panel.findChild<QCheckBox*>();
    EXPECT_EQ(continuous->text(), "Refresh Continously");
    QTest::mouseClick(continuous, Qt::LeftButton);
    EXPECT_FALSE(refreshButton->isEnabled());
    QCoreApplication::processEvents();
    EXPECT_EQ(table->item(1, 1)->text(), "0.50");
    EXPECT_EQ(table->item(1, 2)->text(), "11.00");

    // A new channel rebuilds the columns.
    registry->appendChannels({"VSRNE_TsneX"}, 3.0f);
    panel.refresh(false);
    QCoreApplication::processEvents();
    ASSERT_EQ(table->columnCount(), 4);
    EXPECT_EQ(table->horizontalHeaderItem(3)->text(), "VSRNE_TsneX");
    EXPECT_EQ(table->item(0, 3)->text(), "3.00");

    EXPECT_EQ(saveAs("selection", [&] { panel.saveClicked(); }),
              "Median, 1.00, 11.00, 3.00\nMean, 0.50, 11.00, 3.00\nStd Dev, 0.50, 0.00, 0.00");
}
