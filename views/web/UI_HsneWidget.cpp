#include "web/UI_HsneWidget.h"

#include "rendering/UI_ScatterplotWidget.h"

#include "analyses/MCV_HsneAnalysis.h"
#include "analyses/MCV_HsneAnalysisHierarchy.h"
#include "data/FcsHeader.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataPoints.h"

#include <QCoreApplication>
#include <QDebug>
#include <QGridLayout>

#include <algorithm>

UI_HsneWidget::UI_HsneWidget(QWidget* parent, MCV_HsneAnalysis* level)
    : UI_DockableWidget(parent)
    , m_level(level)
{
    m_scatterplot = new UI_ScatterplotWidget(level, 0.15f, m_mainWidget);
    m_layout->addWidget(m_scatterplot, 0, 0);
    m_scatterplot->setSelection(&m_pointSelectionFlags, false);
    connect(m_scatterplot, &UI_ScatterplotWidget::selectionUpdated, this, &UI_HsneWidget::scatterplotSelectionUpdated);
    connect(m_scatterplot, &UI_ScatterplotWidget::drillIntoSelectionClicked, this, &UI_HsneWidget::drillIntoSelection);
    connect(m_scatterplot, &UI_ScatterplotWidget::drillIntoClusterClicked, this, &UI_HsneWidget::drillIntoCluster);
}

void UI_HsneWidget::detachAnalysis()
{
    // The scatterplot's renderer reads the level's buffers: it goes with the level.
    m_level = nullptr;
    delete m_scatterplot;
    m_scatterplot = nullptr;
}

void UI_HsneWidget::initComputation(void* analysis)
{
    if (!isOwn(analysis))
        return;
    syncSelectionFromRegistry();
    const FcsHeader* header =
        MCV_DataRegistry::currentGeneration() != 0 ? MCV_DataRegistry::instance()->mergedHeader() : nullptr;
    std::vector<std::string> names;
    if (header != nullptr)
        for (const FcsParameter& parameter : header->parameters())
            names.push_back(parameter.shortName);
    m_scatterplot->setEmbedding(static_cast<int>(names.size()));
    m_scatterplot->setMarkerNames(names);
    m_scatterplot->show();
    m_scatterplot->computationStarted();
    m_scatterplot->update();
}

void UI_HsneWidget::computationUpdated(void* analysis)
{
    if (!isOwn(analysis))
        return;
    m_scatterplot->refreshEmbedding();
    m_scatterplot->update();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
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
    m_scatterplot->refreshEmbedding();
    m_scatterplot->update();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    // The level may have been detached while events ran.
    if (!isOwn(analysis))
        return;
    m_scatterplot->computationMilestoneReached();
    m_scatterplot->computationFinished();
    qDebug().noquote() << "finished gradient descend.\n";
}

void UI_HsneWidget::dataRefreshed(void* data)
{
    if (m_level == nullptr || MCV_DataRegistry::currentGeneration() == 0 || data == nullptr)
        return;
    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    if (data == registry->selectionData())
        syncSelectionFromRegistry();
    // Only clusters sets of the live registry are handed on; the pointer is compared, not followed.
    for (MCV_DerivedDataClusters* clusters : registry->clustersDataList())
        if (clusters == data)
            m_scatterplot->updateClusters(clusters);
}

void UI_HsneWidget::selectionRefreshed(void*)
{
}

void UI_HsneWidget::highlightRefreshed(void* clusters)
{
    if (m_level == nullptr || MCV_DataRegistry::currentGeneration() == 0 || clusters == nullptr)
        return;
    for (MCV_DerivedDataClusters* known : MCV_DataRegistry::instance()->clustersDataList())
        if (known == clusters)
            m_scatterplot->setActiveCluster(known);
}

void UI_HsneWidget::syncSelectionFromRegistry()
{
    if (MCV_DataRegistry::currentGeneration() == 0)
        return;
    static const std::vector<MCV_PointIndex> none;
    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    syncSelectionFlags(registry->selectionData()->points(), m_level ? m_level->landmarkPoints() : none,
                       m_level && m_level->pointsGeneration() == registry->generation());
    // The renderer keeps its own copy of the flags.
    if (m_scatterplot != nullptr)
        m_scatterplot->setSelection(&m_pointSelectionFlags, false);
}

void UI_HsneWidget::scatterplotSelectionUpdated()
{
    if (m_level == nullptr || MCV_DataRegistry::currentGeneration() == 0)
        return;
    const std::vector<int>& shown = m_scatterplot->selectedIndices();
    std::vector<unsigned> indices;
    indices.reserve(shown.size());
    for (int index : shown)
        if (index >= 0)
            indices.push_back(static_cast<unsigned>(index));
    std::vector<MCV_PointIndex> members;
    if (!m_level->collectSelectionMembers(indices, members, m_scatterplot->sampleSelection()))
        return;
    MCV_DerivedDataPoints* selection = MCV_DataRegistry::instance()->selectionData();
    selection->setPoints(std::move(members), false);
    selection->invalidate(this);
}

void UI_HsneWidget::drillIntoSelection()
{
    if (m_level == nullptr)
        return;
    std::vector<unsigned> indices;
    for (int index : m_scatterplot->selectedIndices())
        if (index >= 0)
            indices.push_back(static_cast<unsigned>(index));
    std::vector<unsigned> landmarks = m_level->selectionToLandmarks(indices);
    emit newHsneLevelTriggered(m_level, m_level->owner(), &landmarks);
}

void UI_HsneWidget::drillIntoCluster(std::string clustersName, int clusterIndex)
{
    if (m_level == nullptr || m_level->owner() == nullptr || MCV_DataRegistry::currentGeneration() == 0)
        return;
    MCV_DerivedDataClusters* clusters = MCV_DataRegistry::instance()->createClustersData(clustersName, true);
    if (clusters == nullptr || clusterIndex < 0 || clusterIndex >= clusters->clusterCount())
        return;
    const QString name = QString::fromStdString(clustersName);
    emit newHSNELevelTriggeredFromCluster(m_level->owner()->exploration(),
                                          name + QString::fromStdString(clusters->clusterName(clusterIndex)), name,
                                          clusterIndex, QString::fromStdString(m_level->name()), -1);
}
