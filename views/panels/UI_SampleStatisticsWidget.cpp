#include "panels/UI_SampleStatisticsWidget.h"

#include "framework/saveTableAsCsv.h"

#include "data/DefaultStateStore.h"
#include "data/FcsHeader.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataPoints.h"

#include <QGridLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include <algorithm>

namespace {

const char* const kHeaderLabels[UI_SampleStatisticsWidget::kColumns] = {
    "Idx", "Filename", "Total events", "in selection", "% in selection", "% of selection",
    "% of selection normalized"};

QTableWidgetItem* readOnlyItem(const QVariant& value, Qt::Alignment alignment)
{
    auto* item = new QTableWidgetItem;
    item->setData(Qt::DisplayRole, value);
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    item->setTextAlignment(static_cast<int>(alignment | Qt::AlignVCenter));
    return item;
}

} // namespace

UI_SampleStatisticsWidget::UI_SampleStatisticsWidget(QWidget* parent)
    : QWidget(parent)
{
    build();
    buildTable();
}

void UI_SampleStatisticsWidget::build()
{
    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setSingleShot(true);
    m_refreshTimer->setInterval(0);
    connect(m_refreshTimer, &QTimer::timeout, this, &UI_SampleStatisticsWidget::refreshNow);
    m_layout = new QGridLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_table = new QTableWidget(0, kColumns, this);
    // Enabling sorting sorts at once, by default descending: start in load order.
    m_table->horizontalHeader()->setSortIndicator(0, Qt::AscendingOrder);
    m_table->setSortingEnabled(true);
    QStringList labels;
    for (const char* label : kHeaderLabels)
        labels << label;
    m_table->setHorizontalHeaderLabels(labels);
    const QFontMetrics metrics(font());
    for (int column = 0; column < kColumns; ++column)
        m_table->setColumnWidth(column,
                                std::max(m_table->columnWidth(column), metrics.horizontalAdvance(labels[column])));
    // Numbers without group separators and with a decimal point, as the CSV needs them.
    m_table->setLocale(QLocale::c());
    m_layout->addWidget(m_table, 0, 0);
    m_saveButton = new QPushButton("Save ...", this);
    m_layout->addWidget(m_saveButton, 1, 0);
    connect(m_saveButton, &QPushButton::clicked, this, &UI_SampleStatisticsWidget::saveClicked);
}

void UI_SampleStatisticsWidget::buildTable()
{
    // Sorting is off while rows are filled, or new rows would move under the loop.
    m_table->setSortingEnabled(false);
    m_table->setRowCount(0);
    m_items.clear();
    m_tableGeneration = MCV_DataRegistry::currentGeneration();
    if (m_tableGeneration == 0) {
        m_table->setSortingEnabled(true);
        return;
    }
    const MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    const int samples = registry->sampleCount();
    m_table->setRowCount(samples);
    const QFontMetrics metrics(font());
    m_table->setColumnWidth(0, metrics.horizontalAdvance("Idx") + 36);
    for (int s = 0; s < samples; ++s) {
        const QString fileName = QString::fromStdString(DefaultStateStore::sampleKey(registry->samplePath(s)));
        std::array<QTableWidgetItem*, kColumns>& row = m_items.emplace_back();
        row[0] = readOnlyItem(s + 1, Qt::AlignRight);
        row[1] = readOnlyItem(fileName, Qt::AlignLeft);
        row[2] = readOnlyItem(static_cast<qlonglong>(registry->sampleHeader(s)->eventCount()), Qt::AlignRight);
        row[3] = readOnlyItem(0, Qt::AlignRight);
        for (int column = 4; column < kColumns; ++column)
            row[column] = readOnlyItem(0.0f, Qt::AlignRight);
        for (int column = 0; column < kColumns; ++column)
            m_table->setItem(s, column, row[column]);
        m_table->setColumnWidth(1, std::max(m_table->columnWidth(1), metrics.horizontalAdvance(fileName) + 36));
    }
    m_table->setSortingEnabled(true);
}

MCV_DerivedDataPoints* UI_SampleStatisticsWidget::attachedSet() const
{
    if (m_points && m_pointsGeneration == MCV_DataRegistry::currentGeneration())
        return m_points;
    return nullptr;
}

void UI_SampleStatisticsWidget::setData(MCV_DerivedDataPoints* points)
{
    m_points = points;
    m_pointsGeneration = MCV_DataRegistry::currentGeneration();
    refreshNow();
}

void UI_SampleStatisticsWidget::refresh()
{
    if (!m_refreshTimer->isActive())
        m_refreshTimer->start();
}

void UI_SampleStatisticsWidget::refreshNow()
{
    m_refreshTimer->stop();
    const uint64_t generation = MCV_DataRegistry::currentGeneration();
    if (generation == 0)
        return;
    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    const int samples = registry->sampleCount();
    if (generation != m_tableGeneration || static_cast<int>(m_items.size()) != samples)
        buildTable();
    MCV_DerivedDataPoints* shown = attachedSet();
    if (!shown)
        return;

    // Every event of the shown set once, then the selected ones among them.
    std::vector<int64_t> offsets(static_cast<size_t>(samples) + 1, 0);
    for (int s = 0; s < samples; ++s)
        offsets[s + 1] = offsets[s] + std::max<int64_t>(0, registry->sampleHeader(s)->eventCount());
    m_eventStates.assign(static_cast<size_t>(offsets[samples]), 0);
    auto state = [&](const MCV_PointIndex& p) -> uint8_t* {
        if (p.sampleIndex < 0 || p.sampleIndex >= samples || p.eventIndex < 0
            || offsets[p.sampleIndex] + p.eventIndex >= offsets[p.sampleIndex + 1])
            return nullptr;
        return &m_eventStates[static_cast<size_t>(offsets[p.sampleIndex] + p.eventIndex)];
    };
    std::vector<int64_t> totals(static_cast<size_t>(samples), 0);
    for (const MCV_PointIndex& p : shown->points())
        if (uint8_t* s = state(p); s && *s == 0) {
            *s = 1;
            ++totals[p.sampleIndex];
        }
    std::vector<int64_t> selected(static_cast<size_t>(samples), 0);
    int64_t selectedTotal = 0;
    for (const MCV_PointIndex& p : registry->selectionData()->points())
        if (uint8_t* s = state(p); s && *s == 1) {
            *s = 2;
            ++selected[p.sampleIndex];
            ++selectedTotal;
        }

    std::vector<float> inSelection(static_cast<size_t>(samples));
    float inSelectionSum = 0.0f;
    for (int s = 0; s < samples; ++s) {
        inSelection[s] = static_cast<float>(selected[s]) * 100.0f / static_cast<float>(totals[s]);
        inSelectionSum += inSelection[s];
    }
    // Rows are reached through their items: sorting may have moved them.
    const bool sorting = m_table->isSortingEnabled();
    m_table->setSortingEnabled(false);
    for (int s = 0; s < samples; ++s) {
        std::array<QTableWidgetItem*, kColumns>& row = m_items[s];
        row[2]->setData(Qt::DisplayRole, static_cast<qlonglong>(totals[s]));
        row[3]->setData(Qt::DisplayRole, static_cast<qlonglong>(selected[s]));
        row[4]->setData(Qt::DisplayRole, inSelection[s]);
        row[5]->setData(Qt::DisplayRole,
                        static_cast<float>(selected[s]) * 100.0f / static_cast<float>(selectedTotal));
        row[6]->setData(Qt::DisplayRole, inSelection[s] * 100.0f / inSelectionSum);
    }
    m_table->setSortingEnabled(sorting);
}

void UI_SampleStatisticsWidget::saveClicked()
{
    saveTableAsCsv(this, m_table,
                   "Idx, Filename, Total events, in selection, % in selection, % of selection, "
                   "% of selection normalized",
                   1);
}
