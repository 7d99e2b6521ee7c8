#include "panels/UI_SelectionStatisticsWidget.h"

#include "framework/saveTableAsCsv.h"

#include "data/FcsHeader.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataPoints.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

namespace {

const char* const kRowLabels[3] = {"Median", "Mean", "Std Dev"};

} // namespace

UI_SelectionStatisticsWidget::UI_SelectionStatisticsWidget(QWidget* parent)
    : QWidget(parent)
{
    build();
    buildTable();
}

void UI_SelectionStatisticsWidget::build()
{
    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setSingleShot(true);
    m_refreshTimer->setInterval(0);
    connect(m_refreshTimer, &QTimer::timeout, this, &UI_SelectionStatisticsWidget::refreshNow);
    m_layout = new QGridLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_table = new QTableWidget(0, 0, this);
    // Numbers without group separators and with a decimal point, as the CSV needs them.
    m_table->setLocale(QLocale::c());
    m_layout->addWidget(m_table, 0, 0, 1, 2);
    m_refreshButton = new QPushButton("Refresh", this);
    m_layout->addWidget(m_refreshButton, 1, 0);
    connect(m_refreshButton, &QPushButton::clicked, this, &UI_SelectionStatisticsWidget::refreshClicked);
    m_autoRefreshCheckBox = new QCheckBox("Refresh Continously", this);
    m_layout->addWidget(m_autoRefreshCheckBox, 1, 1);
    connect(m_autoRefreshCheckBox, &QCheckBox::clicked, this, &UI_SelectionStatisticsWidget::autoRefreshClicked);
}

void UI_SelectionStatisticsWidget::buildTable()
{
    m_table->clear();
    m_table->setRowCount(0);
    m_table->setColumnCount(0);
    for (std::vector<QTableWidgetItem*>& row : m_items)
        row.clear();
    m_tableGeneration = MCV_DataRegistry::currentGeneration();
    if (m_tableGeneration == 0)
        return;
    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    const FcsHeader* header = registry->mergedHeader();
    const int parameters = static_cast<int>(registry->parameterCount());
    QStringList labels{QString()};
    for (int p = 0; p < parameters; ++p)
        labels << QString::fromStdString(header->parameterName(p));
    m_table->setColumnCount(parameters + 1);
    m_table->setRowCount(3);
    m_table->setHorizontalHeaderLabels(labels);
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column <= parameters; ++column) {
            auto* item = new QTableWidgetItem(column == 0 ? QString(kRowLabels[row]) : QString());
            item->setFlags(item->flags() & ~Qt::ItemIsEditable);
            item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            m_table->setItem(row, column, item);
            m_items[row].push_back(item);
        }
    }
    m_table->setColumnWidth(0, QFontMetrics(font()).horizontalAdvance("Std Dev") + 11);
    writeStatistics();
    for (int column = 1; column <= parameters; ++column)
        m_table->setColumnWidth(column, 65);
}

void UI_SelectionStatisticsWidget::writeStatistics()
{
    MCV_DerivedDataPoints* selection = MCV_DataRegistry::instance()->selectionData();
    const std::vector<float>* rows[3] = {&selection->medians(), &selection->means(), &selection->stdDevs()};
    for (int row = 0; row < 3; ++row) {
        const size_t columns = std::min(rows[row]->size() + 1, m_items[row].size());
        for (size_t column = 1; column < columns; ++column)
            m_items[row][column]->setText(QString::number((*rows[row])[column - 1], 'f', 2));
    }
}

void UI_SelectionStatisticsWidget::refresh(bool force)
{
    if (!force && !m_autoRefreshCheckBox->isChecked())
        return;
    if (!m_refreshTimer->isActive())
        m_refreshTimer->start();
}

void UI_SelectionStatisticsWidget::refreshNow()
{
    m_refreshTimer->stop();
    const uint64_t generation = MCV_DataRegistry::currentGeneration();
    if (generation == 0)
        return;
    const int parameters = static_cast<int>(MCV_DataRegistry::instance()->parameterCount());
    if (generation != m_tableGeneration || m_table->columnCount() != parameters + 1)
        buildTable();
    else
        writeStatistics();
}

void UI_SelectionStatisticsWidget::refreshClicked()
{
    refresh(true);
}

void UI_SelectionStatisticsWidget::autoRefreshClicked()
{
    m_refreshButton->setEnabled(!m_autoRefreshCheckBox->isChecked());
    refresh(false);
}

void UI_SelectionStatisticsWidget::saveClicked()
{
    saveTableAsCsv(this, m_table, QString(), -1);
}
