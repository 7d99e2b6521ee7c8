#pragma once

#include "docks/UI_EmbeddingViewWidget.h"

#include <QString>

#include <string>
#include <vector>

class MCV_DerivedDataExploration;
class MCV_HsneAnalysis;
class MCV_HsneAnalysisHierarchy;

/// The dock that shows one level of a hierarchical SNE in a scatterplot,
/// keeps its landmarks and the registry's "Selection" set in step, and asks
/// for finer levels: of the selected landmarks, or of a density cluster.
/// Drilling in only announces; the main window creates the level.
///
/// Every slot reads what it needs from the level anew; the level is dropped
/// with detachAnalysis before it goes.
class UI_HsneWidget : public UI_EmbeddingViewWidget
{
    Q_OBJECT

public:
    UI_HsneWidget(QWidget* parent, MCV_HsneAnalysis* level);

    /// The level shown; null once detached.
    MCV_HsneAnalysis* level() const;

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
    /// The scatterplot's selection, as the events its landmarks stand for in
    /// the shown files, becomes the registry's "Selection" set.
    void scatterplotSelectionUpdated() override;
    /// Asks for a level of the selected landmarks one scale down.
    void drillIntoSelection();
    /// Asks for a level of cluster `clusterIndex` of the named clusters set,
    /// named after the set and the cluster.
    void drillIntoCluster(std::string clustersName, int clusterIndex);

private:
    bool isOwn(void* analysis) const { return analysis != nullptr && analysis == level(); }
    void syncSelectionFromRegistry(MCV_DerivedDataPoints* selection) override;
    /// The scatterplot's selected indices, negative ones left out.
    std::vector<unsigned> selectedIndices() const;
};
