#include "panels/UI_SelectiveDownsamplingWidget.h"

#include "data/DefaultStateStore.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataPoints.h"

#include <QDebug>
#include <QGridLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>

#include <algorithm>
#include <numeric>

namespace {

enum Column
{
    FilenameColumn = 0,
    SelectedColumn = 1,
    TargetColumn = 2
};

QTableWidgetItem* tableItem(const QString& text, bool number, bool editable)
{
    auto* item = new QTableWidgetItem(text);
    if (number)
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Qt::ItemFlags flags = Qt::ItemIsEnabled;
    if (editable)
        flags |= Qt::ItemIsEditable;
    item->setFlags(flags);
    return item;
}

} // namespace

UI_SelectiveDownsamplingWidget::UI_SelectiveDownsamplingWidget(QWidget* parent)
    : UI_DockableWidget(parent)
{
    setWindowTitle("Downsampling");
    m_table = new QTableWidget(1, 3, m_mainWidget);
    m_table->setHorizontalHeaderLabels({"Filename", "Selected", "Target"});
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    // The starting row stays empty and read-only until an input arrives.
    for (int column = 0; column < 3; ++column) {
        m_table->setItem(0, column, tableItem(QString(), false, false));
        fitColumn(column, m_table->horizontalHeaderItem(column)->text());
    }
    m_layout->addWidget(m_table, 0, 0);
    m_downsampleButton = new QPushButton("Downsample", m_mainWidget);
    m_layout->addWidget(m_downsampleButton, 1, 0);

    connect(m_table, &QTableWidget::cellChanged, this, &UI_SelectiveDownsamplingWidget::cellEdited);
    connect(m_downsampleButton, &QPushButton::clicked, this, &UI_SelectiveDownsamplingWidget::downsample);
}

void UI_SelectiveDownsamplingWidget::setAnalysis(MCV_Analysis* analysis)
{
    m_analysis = analysis;
    refreshTable();
}

void UI_SelectiveDownsamplingWidget::setInputData(MCV_DerivedDataPoints* data)
{
    m_inputData = data;
    m_inputGeneration = MCV_DataRegistry::currentGeneration();
    refreshTable();
}

MCV_DerivedDataPoints* UI_SelectiveDownsamplingWidget::inputData() const
{
    if (!m_inputData || m_inputGeneration != MCV_DataRegistry::currentGeneration())
        return nullptr;
    return m_inputData;
}

void UI_SelectiveDownsamplingWidget::fitColumn(int column, const QString& text)
{
    const int needed = m_table->fontMetrics().horizontalAdvance(text) + 21;
    if (m_table->columnWidth(column) < needed)
        m_table->setColumnWidth(column, needed);
}

void UI_SelectiveDownsamplingWidget::refreshTable()
{
    MCV_DerivedDataPoints* input = inputData();
    if (!input)
        return;
    const MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    const int samples = registry->sampleCount();

    m_selectedCounts = input->sampleCounts();
    m_selectedCounts.resize(samples, 0);
    m_targets.resize(samples, 0);
    for (int i = 0; i < samples; ++i)
        m_targets[i] = std::clamp<int64_t>(m_targets[i], 0, m_selectedCounts[i]);

    const QSignalBlocker blocker(m_table);
    m_table->setRowCount(samples);
    for (int i = 0; i < samples; ++i) {
        const QString name = QString::fromStdString(DefaultStateStore::sampleKey(registry->samplePath(i)));
        const QString selected = QString::number(m_selectedCounts[i]);
        const QString target = QString::number(m_targets[i]);
        m_table->setItem(i, FilenameColumn, tableItem(name, false, false));
        m_table->setItem(i, SelectedColumn, tableItem(selected, true, false));
        m_table->setItem(i, TargetColumn, tableItem(target, true, true));
        fitColumn(FilenameColumn, name);
        fitColumn(SelectedColumn, selected);
        fitColumn(TargetColumn, target);
    }
}

void UI_SelectiveDownsamplingWidget::cellEdited(int row, int column)
{
    if (column != TargetColumn || row < 0 || row >= static_cast<int>(m_targets.size()))
        return;
    QTableWidgetItem* item = m_table->item(row, column);
    if (!item)
        return;
    bool ok = false;
    int64_t value = item->text().trimmed().toLongLong(&ok);
    if (!ok)
        value = 0;
    value = std::min(value, m_selectedCounts[row]);
    m_targets[row] = value < 1 ? 0 : value;
    const QSignalBlocker blocker(m_table);
    item->setText(QString::number(m_targets[row]));
}

void UI_SelectiveDownsamplingWidget::downsample()
{
    MCV_DerivedDataPoints* input = inputData();
    if (!input) {
        qDebug().noquote() << "Nothing to downsample: no input data set, or the files were opened again since.";
        return;
    }
    const int64_t total = std::accumulate(m_targets.begin(), m_targets.end(), int64_t(0));
    if (total <= 0) {
        qDebug().noquote() << "Can not downsample to 0 total points!\n";
        return;
    }

    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    const std::string base = input->name() + "-downsampled";
    auto taken = [registry](const std::string& name) {
        const auto& entries = registry->derivedDataEntries();
        return std::any_of(entries.begin(), entries.end(),
                           [&name](const MCV_DataRegistry::DerivedDataEntry& entry) { return entry.name == name; });
    };
    std::string name = base;
    for (int64_t k = 1; taken(name); ++k)
        name = base + "(" + std::to_string(k) + ")";
    registry->createDownsampledData(name, input, m_targets);
}
