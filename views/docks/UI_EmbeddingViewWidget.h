#pragma once

#include "framework/UI_DockableWidget.h"

#include <string>
#include <vector>

class MCV_Analysis;
class MCV_DerivedDataPoints;
class UI_ScatterplotWidget;

/// Base of the docks that show one embedding while it converges in a
/// scatterplot (the A-tSNE view and the hierarchical SNE level view): the
/// scatterplot, hidden until the first embedding, the registry's "Selection"
/// set mapped onto the shown points, and the per-iteration refresh.
///
/// Subclasses read what they need from their analysis anew in every slot:
/// the analysis may be detached (about to be deleted) while events are
/// processed inside any of them.
class UI_EmbeddingViewWidget : public UI_DockableWidget
{
    Q_OBJECT

public:
    /// With an analysis the dock holds a scatterplot of it.
    UI_EmbeddingViewWidget(QWidget* parent, MCV_Analysis* analysis);

    void detachAnalysis() override;
    void filesReopened() override;
    MCV_Analysis* analysis() const { return m_analysis; }
    UI_ScatterplotWidget* scatterplot() const { return m_scatterplot; }
    /// One flag per shown point: 0x7fff when the registry selects its event.
    const std::vector<uint16_t>& selectionFlags() const { return m_pointSelectionFlags; }

public slots:
    /// The scatterplot's selection becomes the registry's "Selection" set.
    virtual void scatterplotSelectionUpdated() = 0;
    /// The title follows the analysis' name; the "Selection" set mapped onto
    /// the shown points; clusters sets to the scatterplot, which takes only its own.
    void dataRefreshed(void* data);
    void selectionRefreshed(void* data);
    void highlightRefreshed(void* clusters);

protected:
    void mousePressEvent(QMouseEvent* event) override;

    /// The scatterplot takes the analysis' rows (their width and names as the
    /// analysis read them, not the live header's: the files may have been
    /// reopened since) and the selection flags for the new points, is shown
    /// and enters its computing state.
    void showEmbedding(int markerCount, const std::vector<std::string>& markerNames);
    /// Re-reads the embedding, repaints and processes pending events.
    void redrawAndProcessEvents();
    /// Flags the shown points whose events the live registry's "Selection"
    /// set holds (showSelection with the analysis' points).
    virtual void syncSelectionFromRegistry(MCV_DerivedDataPoints* selection) = 0;
    /// Flags the shown `points` whose events the set holds (none unless the
    /// points are current) and gives the flags to the scatterplot.
    void showSelection(MCV_DerivedDataPoints* selection, const std::vector<MCV_PointIndex>& points,
                       bool pointsAreCurrent);
    /// The registry's "Selection" set now holds `pairs`; every view hears of it.
    void publishSelection(std::vector<MCV_PointIndex> pairs);

    MCV_Analysis* m_analysis = nullptr;
    UI_ScatterplotWidget* m_scatterplot = nullptr;
};
