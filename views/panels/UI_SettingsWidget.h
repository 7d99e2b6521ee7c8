#pragma once

#include "panels/UI_SelectiveDownsamplingWidget.h"

#include <QPointer>
#include <QWidget>

#include <string>

class QComboBox;

class MCV_Analysis;
class MCV_DerivedDataPoints;
class QGridLayout;
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
    /// The downsampling dock goes with the panel, wherever it is docked.
    ~UI_SettingsWidget() override;

    /// The analysis the panel drives (not owned).
    MCV_Analysis* analysis() const { return m_analysis; }

    /// New derived data exist: the "Input Data" chooser lists the live
    /// registry's points sets again and chooses the newest, which the
    /// analysis takes even when the choice stays; nothing without a chooser.
    virtual void refreshInputData();
    /// Builds the panel's controls.
    virtual void initUI();

    /// The analysis is about to be deleted: the panel, its marker panel and
    /// its downsampling dock drop it and never reach it again. Panels holding
    /// more of it extend this.
    virtual void detachAnalysis();

    /// Rebuilds the marker check boxes from the current channels; does
    /// nothing without a marker-selection widget or an analysis.
    void updateMarkerSelection();

    /// The "Input Data" chooser and the downsampling dock; null for a panel
    /// without an "Input Data" box.
    QComboBox* inputDataComboBox() const { return m_inputDataComboBox; }
    UI_SelectiveDownsamplingWidget* downsamplingWidget() const { return m_downsamplingWidget; }

signals:
    /// The downsampling dock published a new points set.
    void dataDownsampled();

public slots:
    /// The chosen points set becomes the analysis' input and the downsampling dock's.
    void inputDataChanged(int index);
    /// Shows the downsampling dock floating beside the main window that
    /// holds the panel (the active window may be a floating dock).
    void downsampleButtonClicked();
    void downsamplingComplete();

protected:
    /// Lays the panel out as one scroll area (the panel's grid, m_layout)
    /// whose content grid holds, at row 0, the expanded "Active Markers" box
    /// with a two-column marker panel on the analysis (without "Sample").
    /// Returns the content grid for the panel's further rows.
    QGridLayout* buildScrollingContent();
    /// The expanded "Input Data" box, for the panel to place: the chooser of
    /// the registry's points sets, filled and chosen at once, and
    /// "Downsampling ..." with its dock on the analysis and the chosen set.
    QWidget* buildInputDataBox(QWidget* parent);

    MCV_Analysis* m_analysis = nullptr;
    QGridLayout* m_layout = nullptr;
    UI_MarkerSelectionWidget* m_markerSelectionWidget = nullptr;

private:
    /// Refills the box with the names of the registry's points sets, keeping
    /// the current choice where it is still one of them.
    static void fillWithPointsSets(QComboBox* box);
    /// The live registry's points set of that name (the last listed when
    /// names repeat); null when there is none or no files are loaded.
    static MCV_DerivedDataPoints* pointsSetNamed(const std::string& name);

    QComboBox* m_inputDataComboBox = nullptr;
    /// Made without a parent; a main window adopts it when it is docked, and
    /// may delete it first when it closes.
    QPointer<UI_SelectiveDownsamplingWidget> m_downsamplingWidget;
};
