#pragma once

#include <QWidget>

#include <string>

class QComboBox;

class MCV_Analysis;
class MCV_DerivedDataPoints;
class QGridLayout;
class UI_DockableWidget;
class UI_MarkerSelectionWidget;

/// Base of the analysis settings panels shown as tabs of the "Settings"
/// dock. Concrete panels build their controls in initUI, called by their own
/// constructors.
class UI_SettingsWidget : public QWidget
{
    Q_OBJECT

public:
    /// Stores the analysis the panel drives (not owned).
    UI_SettingsWidget(QWidget* parent, MCV_Analysis* analysis);

    /// The analysis the panel drives (not owned).
    MCV_Analysis* analysis() const { return m_analysis; }

    /// New derived data exist: refresh the choice of input data.
    virtual void refreshInputData();
    /// Builds the panel's controls.
    virtual void initUI();

    /// The analysis is about to be deleted: the panel and its marker panel
    /// drop it and never reach it again. Panels holding more of it extend this.
    virtual void detachAnalysis();

    /// Rebuilds the marker check boxes from the current channels; does
    /// nothing without a marker-selection widget or an analysis.
    void updateMarkerSelection();

protected:
    /// Lays the panel out as one scroll area (the panel's grid, m_layout)
    /// whose content grid holds, at row 0, the expanded "Active Markers" box
    /// with a two-column marker panel on the analysis (without "Sample").
    /// Returns the content grid for the panel's further rows.
    QGridLayout* buildScrollingContent();

    /// Refills the box with the names of the registry's points sets, keeping
    /// the current choice where it is still one of them.
    static void fillWithPointsSets(QComboBox* box);
    /// The live registry's points set of that name (the last listed when
    /// names repeat); null when there is none or no files are loaded.
    static MCV_DerivedDataPoints* pointsSetNamed(const std::string& name);
    /// Docks `dock` in the right area of the main window that holds this
    /// panel, floating and shown; nothing when no main window holds it.
    void showFloatingOnHoldingWindow(UI_DockableWidget* dock);

    MCV_Analysis* m_analysis = nullptr;
    QGridLayout* m_layout = nullptr;
    UI_MarkerSelectionWidget* m_markerSelectionWidget = nullptr;
};
