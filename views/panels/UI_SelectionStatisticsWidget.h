#pragma once

#include <QWidget>

#include <cstdint>
#include <vector>

class QCheckBox;
class QGridLayout;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;
class QTimer;

/// Median, mean and standard deviation of every parameter over the events
/// of the registry's "Selection" set: refreshed by "Refresh", or on every
/// selection change while "Refresh Continously" is checked.
class UI_SelectionStatisticsWidget : public QWidget
{
    Q_OBJECT

public:
    explicit UI_SelectionStatisticsWidget(QWidget* parent = nullptr);

    /// Unless forced or continuous, nothing. Otherwise recomputes at the next
    /// turn of the event loop; several requests in one turn give one.
    void refresh(bool force);
    /// Recomputes now: rebuilds the table when the registry or its parameter
    /// count changed, then writes the selection's statistics.
    void refreshNow();

    const QTableWidget* table() const { return m_table; }

public slots:
    void saveClicked();
    void refreshClicked();
    void autoRefreshClicked();

private:
    void build();
    /// Columns for the live registry's parameters (none without a registry).
    void buildTable();
    void writeStatistics();

    QGridLayout* m_layout = nullptr;
    QTableWidget* m_table = nullptr;
    /// Rows "Median", "Mean", "Std Dev": one item per column.
    std::vector<QTableWidgetItem*> m_items[3];
    QPushButton* m_refreshButton = nullptr;
    QCheckBox* m_autoRefreshCheckBox = nullptr;
    uint64_t m_tableGeneration = 0;
    /// Single-shot, zero interval: the refresh of this event-loop turn.
    QTimer* m_refreshTimer = nullptr;
};
