#pragma once

#include <QDockWidget>

#include "data/MCV_PointIndex.h"

#include <cstdint>
#include <vector>

class QGridLayout;

/// Base of every view dock: an inner widget with a margin-free grid layout
/// that subclasses fill, and a visibility flag that follows its two slots
/// and the dock's own toggle-view action (the close button goes through it).
class UI_DockableWidget : public QDockWidget
{
    Q_OBJECT

public:
    explicit UI_DockableWidget(QWidget* parent = nullptr);
    ~UI_DockableWidget() override;

    /// The analysis this dock shows is about to be deleted, while a press of
    /// one of the dock's buttons may still be on the call stack: the dock
    /// drops every pointer to the analysis (its children's included) and
    /// never reaches it again. Docks without an analysis keep nothing.
    virtual void detachAnalysis() {}
    /// The files were reopened (the registry replaced): what the dock shows
    /// of the loaded files (sample rows) follows the live registry. Docks
    /// that show none keep everything.
    virtual void filesReopened() {}

public slots:
    /// Stores the flag and shows or hides the dock accordingly.
    void setVisibility(bool visible);
    /// Inverts the stored flag and applies it; a new dock is shown.
    void toggleVisibility();

protected:
    /// Flags the shown points whose events `selected` (the registry's
    /// "Selection" pairs, checked against the live registry) holds, with a
    /// "double entry at " line for a pair met twice. `points` count only
    /// when `pointsAreCurrent` (they were read from the live registry).
    /// Nothing is redone while both selections are empty and the flags fit.
    void syncSelectionFlags(const std::vector<MCV_PointIndex>& selected, const std::vector<MCV_PointIndex>& points,
                            bool pointsAreCurrent);

    bool m_visible = false;
    QGridLayout* m_layout = nullptr;
    QWidget* m_mainWidget = nullptr;

    // Kept by analysis views in step with the registry's "Selection" set:
    // one byte per event of the loaded samples (sample s from offset s on),
    // one flag per shown point and a count. The base leaves them empty.
    std::vector<int64_t> m_sampleEventOffsets;
    std::vector<uint8_t> m_selectedEvents;
    std::vector<uint16_t> m_pointSelectionFlags;
    int m_selectionCount = 0;
};
