#pragma once

#include "framework/UI_DockableWidget.h"

#include <cstdint>
#include <vector>

class MCV_Analysis;
class MCV_DerivedDataPoints;
class QTableWidget;
class QPushButton;

/// The "Downsampling" dock: per loaded file, how many of a points set's
/// events it holds ("Selected") and how many of them to keep ("Target",
/// editable); "Downsample" asks the registry for a new points set with that
/// many events per file, named after the input with "-downsampled" and, when
/// that name is taken by any set, "(1)", "(2)", ...
///
/// The input set belongs to the data registry; like an analysis, the panel
/// keeps the registry generation with it and lets go of the set once the
/// files have been reopened.
class UI_SelectiveDownsamplingWidget : public UI_DockableWidget
{
    Q_OBJECT

public:
    explicit UI_SelectiveDownsamplingWidget(QWidget* parent = nullptr);

    /// Kept for the owner (not owned; the panel does not use it); refreshes.
    void setAnalysis(MCV_Analysis* analysis);
    MCV_Analysis* analysis() const { return m_analysis; }
    /// The points set to downsample (owned by the live registry); refreshes
    /// the table, keeping the targets of rows that stay, lowered to the new
    /// counts.
    void setInputData(MCV_DerivedDataPoints* data);
    /// The input set, or null when none was set or the files were reopened since.
    MCV_DerivedDataPoints* inputData() const;

    const std::vector<int64_t>& targets() const { return m_targets; }

signals:
    /// Never emitted: the registry announces the new set itself
    /// (newDerivedDataAddedSignal).
    void dataDownsampled();

public slots:
    /// Keeps an edited target between 0 and the row's selected count; text
    /// that is not a number reads as 0. Other cells and rows without a
    /// count are left alone.
    void cellEdited(int row, int column);
    /// Creates the downsampled set; with no live input or a zero total it
    /// only prints a line.
    void downsample();

private:
    void refreshTable();
    /// Widens a column when the text (plus room for the frame) does not fit.
    void fitColumn(int column, const QString& text);

    MCV_Analysis* m_analysis = nullptr;
    MCV_DerivedDataPoints* m_inputData = nullptr;
    uint64_t m_inputGeneration = 0;
    QTableWidget* m_table = nullptr;
    QPushButton* m_downsampleButton = nullptr;
    std::vector<int64_t> m_selectedCounts;
    std::vector<int64_t> m_targets;
};
