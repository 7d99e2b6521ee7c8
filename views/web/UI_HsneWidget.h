#pragma once

#include "widgets/UI_DockableWidget.h"

#include <QString>

#include <string>
#include <vector>

class MCV_DerivedDataExploration;
class MCV_HsneAnalysis;
class MCV_HsneAnalysisHierarchy;
class UI_ScatterplotWidget;

/// The dock that shows one level of a hierarchical SNE in a scatterplot,
/// keeps its landmarks and the registry's "Selection" set in step, and asks
/// for finer levels: of the selected landmarks, or of a density cluster.
/// Drilling in only announces; the main window creates the level.
///
/// Every slot reads what it needs from the level anew; the level is dropped
/// with detachAnalysis before it goes.
class UI_HsneWidget : public UI_DockableWidget
{
    Q_OBJECT

public:
    UI_HsneWidget(QWidget* parent, MCV_HsneAnalysis* level);

    void detachAnalysis() override;
    MCV_HsneAnalysis* level() const { return m_level; }
    /// The level's scatterplot; null once the level is detached.
    UI_ScatterplotWidget* scatterplot() const { return m_scatterplot; }
    /// One flag per shown landmark: 0x7fff when the registry selects its event.
    const std::vector<uint16_t>& selectionFlags() const { return m_pointSelectionFlags; }

signals:
    void newHsneLevelTriggered(MCV_HsneAnalysis* parent, MCV_HsneAnalysisHierarchy* hierarchy,
                               std::vector<unsigned>* landmarks);
    void newHSNELevelTriggeredFromCluster(MCV_DerivedDataExploration* exploration, const QString& name,
                                          const QString& clustersName, int clusterIndex, const QString& parentName,
                                          int marker);

public slots:
    void initComputation(void* analysis);
    /// After every iteration: the user interface runs in here.
    void computationUpdated(void* analysis);
    void computationMilestoneReached(void* analysis);
    void computationFinished(void* analysis);
    void dataRefreshed(void* data);
    void selectionRefreshed(void* data);
    void highlightRefreshed(void* clusters);
    /// The scatterplot's selection, as the events its landmarks stand for in
    /// the shown files, becomes the registry's "Selection".
    void scatterplotSelectionUpdated();
    void drillIntoSelection();
    void drillIntoCluster(std::string clustersName, int clusterIndex);

private:
    bool isOwn(void* analysis) const { return m_level != nullptr && analysis == m_level; }
    void syncSelectionFromRegistry();

    MCV_HsneAnalysis* m_level = nullptr;
    UI_ScatterplotWidget* m_scatterplot = nullptr;
};
