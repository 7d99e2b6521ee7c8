#pragma once

#include "widgets/UI_DockableWidget.h"

class MCV_Analysis;
class MCV_DerivedDataPoints;
class MCV_TsneAnalysis;
class UI_ScatterplotWidget;

/// The dock that shows one A-tSNE analysis' embedding while it converges
/// and keeps the shown selection and the registry's "Selection" set in step.
///
/// The view never keeps a pointer or a size of the analysis' buffers across
/// a notification: every slot reads what it needs from the analysis anew.
/// The "Selection" set is fetched from the live registry each time, and the
/// analysis' points count only while they come from the live registry.
class UI_TsneWidget : public UI_DockableWidget
{
    Q_OBJECT

public:
    /// With an analysis the dock holds a scatterplot of it, shown from the
    /// first initComputation on.
    UI_TsneWidget(QWidget* parent, MCV_Analysis* analysis);

    void detachAnalysis() override;
    MCV_Analysis* analysis() const { return m_analysis; }
    UI_ScatterplotWidget* scatterplot() const { return m_scatterplot; }
    /// One flag per embedded point: 0x7fff when the registry selects it.
    const std::vector<uint16_t>& selectionFlags() const { return m_pointSelectionFlags; }

public slots:
    void initComputation(void* analysis);
    /// After every iteration: the user interface runs in here.
    void computationUpdated(void* analysis);
    void computationFinished(void* analysis);
    void dataRefreshed(void* data);
    void selectionRefreshed(void* data);
    void highlightRefreshed(void* clusters);
    /// The scatterplot's selection becomes the registry's "Selection" set:
    /// the selected embedded points of the samples the sample panel shows.
    void scatterplotSelectionUpdated();

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    void buildScatterplot();
    /// The analysis as an A-tSNE analysis; null when detached or of another type.
    MCV_TsneAnalysis* tsneAnalysis() const;
    /// Flags the embedded points whose events the set holds; none while the
    /// points come from a replaced registry.
    void syncSelectionFromRegistry(MCV_DerivedDataPoints* selection);

    MCV_Analysis* m_analysis = nullptr;
    UI_ScatterplotWidget* m_scatterplot = nullptr;
};
