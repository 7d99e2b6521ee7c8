#include "docks/UI_HsneWidget.h"

#include "scatterplot/UI_ScatterplotWidget.h"

#include "analyses/MCV_HsneAnalysis.h"
#include "analyses/MCV_HsneAnalysisHierarchy.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataPoints.h"

#include <QDebug>

UI_HsneWidget::UI_HsneWidget(QWidget* parent, MCV_HsneAnalysis* level)
    : UI_EmbeddingViewWidget(parent, level)
{
    if (!m_scatterplot)
        return;
    connect(m_scatterplot, &UI_ScatterplotWidget::drillIntoSelectionClicked, this, &UI_HsneWidget::drillIntoSelection);
    connect(m_scatterplot, &UI_ScatterplotWidget::drillIntoClusterClicked, this, &UI_HsneWidget::drillIntoCluster);
}

MCV_HsneAnalysis* UI_HsneWidget::level() const
{
    if (!m_analysis || m_analysis->analysisType() != MCV_AnalysisTypeHsne)
        return nullptr;
    return dynamic_cast<MCV_HsneAnalysis*>(m_analysis);
}

void UI_HsneWidget::initComputation(void* analysis)
{
    if (!isOwn(analysis))
        return;
    const MCV_HsneAnalysis* shown = level();
    showEmbedding(shown->markerCount(), shown->markerNames());
    m_scatterplot->update();
}

void UI_HsneWidget::computationUpdated(void* analysis)
{
    if (!isOwn(analysis))
        return;
    if (!m_scatterplot->isComputing())
        m_scatterplot->computationStarted();
    redrawAndProcessEvents();
}

void UI_HsneWidget::computationMilestoneReached(void* analysis)
{
    if (isOwn(analysis))
        m_scatterplot->computationMilestoneReached();
}

void UI_HsneWidget::computationFinished(void* analysis)
{
    if (!isOwn(analysis))
        return;
    redrawAndProcessEvents();
    m_scatterplot->computationMilestoneReached();
    m_scatterplot->computationFinished();
    qDebug().noquote() << "finished gradient descend.\n";
}

void UI_HsneWidget::syncSelectionFromRegistry(MCV_DerivedDataPoints* selection)
{
    const MCV_HsneAnalysis* shown = level();
    static const std::vector<MCV_PointIndex> none;
    showSelection(selection, shown ? shown->landmarkPoints() : none,
                  shown && shown->pointsGeneration() == MCV_DataRegistry::instance()->generation());
}

std::vector<unsigned> UI_HsneWidget::selectedIndices() const
{
    std::vector<unsigned> indices;
    for (int index : m_scatterplot->selectedIndices())
        if (index >= 0)
            indices.push_back(static_cast<unsigned>(index));
    return indices;
}

void UI_HsneWidget::scatterplotSelectionUpdated()
{
    const MCV_HsneAnalysis* shown = level();
    if (!shown || MCV_DataRegistry::currentGeneration() == 0)
        return;
    std::vector<MCV_PointIndex> members;
    if (shown->collectSelectionMembers(selectedIndices(), members, m_scatterplot->sampleSelection()))
        publishSelection(std::move(members));
}

void UI_HsneWidget::drillIntoSelection()
{
    MCV_HsneAnalysis* shown = level();
    if (!shown)
        return;
    std::vector<unsigned> landmarks = shown->selectionToLandmarks(selectedIndices());
    emit newHsneLevelTriggered(shown, shown->owner(), &landmarks);
}

void UI_HsneWidget::drillIntoCluster(std::string clustersName, int clusterIndex)
{
    MCV_HsneAnalysis* shown = level();
    if (!shown || !shown->owner() || MCV_DataRegistry::currentGeneration() == 0)
        return;
    MCV_DerivedDataClusters* clusters = MCV_DataRegistry::instance()->createClustersData(clustersName, true);
    if (!clusters || clusterIndex < 0 || clusterIndex >= clusters->clusterCount())
        return;
    const QString name = QString::fromStdString(clustersName);
    emit newHSNELevelTriggeredFromCluster(shown->owner()->exploration(),
                                          name + QString::fromStdString(clusters->clusterName(clusterIndex)), name,
                                          clusterIndex, QString::fromStdString(shown->name()), -1);
}
