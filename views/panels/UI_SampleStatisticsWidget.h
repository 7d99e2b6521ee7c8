#pragma once

#include <QWidget>

#include <array>
#include <cstdint>
#include <vector>

class MCV_DerivedDataPoints;
class QGridLayout;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;
class QTimer;

/// One row per loaded sample: how many of its events the shown points set
/// holds, how many of those are in the registry's "Selection" set, and what
/// share that is of the sample and of the selection. Only selected events of
/// the shown set count, so the percentages stay within 0 to 100 whatever
/// else is selected. The table can be sorted and saved as CSV.
class UI_SampleStatisticsWidget : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kColumns = 7;

    explicit UI_SampleStatisticsWidget(QWidget* parent = nullptr);

    /// Shows the statistics of this points set (owned by the live registry;
    /// dropped when the registry is replaced) and refreshes at once.
    void setData(MCV_DerivedDataPoints* points);
    /// Recomputes at the next turn of the event loop; several requests in
    /// one turn give one recomputation.
    void refresh();
    /// Recomputes now: rebuilds the rows when the registry or its sample
    /// count changed, then writes the counts and percentages of every sample
    /// into that sample's row, wherever sorting put it.
    void refreshNow();

    const QTableWidget* table() const { return m_table; }

public slots:
    void saveClicked();

private:
    void build();
    /// One row per sample of the live registry (none without one): index,
    /// file name, $TOT and zeros.
    void buildTable();
    /// The attached set, or null when it belongs to a replaced registry.
    MCV_DerivedDataPoints* attachedSet() const;

    QGridLayout* m_layout = nullptr;
    MCV_DerivedDataPoints* m_points = nullptr;
    uint64_t m_pointsGeneration = 0;
    QTableWidget* m_table = nullptr;
    std::vector<std::array<QTableWidgetItem*, kColumns>> m_items;
    QPushButton* m_saveButton = nullptr;
    /// Registry generation the rows were built for.
    uint64_t m_tableGeneration = 0;
    /// Single-shot, zero interval: the refresh of this event-loop turn.
    QTimer* m_refreshTimer = nullptr;
    /// Per event of every sample (samples one after another): 1 in the shown
    /// set, 2 counted as selected; kept between refreshes to avoid allocating.
    std::vector<uint8_t> m_eventStates;
};
