#include "docks/UI_EmbeddingViewWidget.h"

#include "scatterplot/UI_ScatterplotWidget.h"

#include "analyses/MCV_Analysis.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataPoints.h"

#include <QCoreApplication>
#include <QGridLayout>

UI_EmbeddingViewWidget::UI_EmbeddingViewWidget(QWidget* parent, MCV_Analysis* analysis)
    : UI_DockableWidget(parent)
    , m_analysis(analysis)
{
    if (!m_analysis)
        return;
    m_scatterplot = new UI_ScatterplotWidget(m_analysis, 30, this);
    m_layout->addWidget(m_scatterplot, 1, 0);
    // Nothing to show before the first embedding, while the dock claims the
    // plot's room all the same.
    QSizePolicy policy = m_scatterplot->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    m_scatterplot->setSizePolicy(policy);
    m_scatterplot->hide();
    connect(m_scatterplot, &UI_ScatterplotWidget::selectionUpdated, this,
            &UI_EmbeddingViewWidget::scatterplotSelectionUpdated);
}

void UI_EmbeddingViewWidget::detachAnalysis()
{
    m_analysis = nullptr;
    if (m_scatterplot)
        m_scatterplot->detachAnalysis();
}

void UI_EmbeddingViewWidget::filesReopened()
{
    if (m_scatterplot)
        m_scatterplot->filesReopened();
}

void UI_EmbeddingViewWidget::mousePressEvent(QMouseEvent*)
{
    if (m_scatterplot)
        m_scatterplot->setFocus(Qt::OtherFocusReason);
}

void UI_EmbeddingViewWidget::showEmbedding(int markerCount, const std::vector<std::string>& markerNames)
{
    m_scatterplot->setEmbedding(markerCount);
    m_scatterplot->setMarkerNames(markerNames);
    // A new point list: the flags must describe it before anything draws.
    if (MCV_DataRegistry::currentGeneration() != 0)
        syncSelectionFromRegistry(MCV_DataRegistry::instance()->selectionData());
    m_scatterplot->show();
    m_scatterplot->computationStarted();
}

void UI_EmbeddingViewWidget::redrawAndProcessEvents()
{
    m_scatterplot->refreshEmbedding();
    m_scatterplot->update();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void UI_EmbeddingViewWidget::showSelection(MCV_DerivedDataPoints* selection, const std::vector<MCV_PointIndex>& points,
                                           bool pointsAreCurrent)
{
    syncSelectionFlags(selection->points(), points, pointsAreCurrent);
    if (m_scatterplot && !m_pointSelectionFlags.empty()) {
        m_scatterplot->setSelection(&m_pointSelectionFlags, selection->lastSender() == this);
        m_scatterplot->update();
    }
}

void UI_EmbeddingViewWidget::dataRefreshed(void* data)
{
    // A level drilled from an earlier clustering is renamed before the
    // exploration tree announces it; the window finds views by their titles.
    if (m_analysis)
        setWindowTitle(QString::fromStdString(m_analysis->name()));
    if (MCV_DataRegistry::currentGeneration() == 0)
        return;
    MCV_DerivedDataPoints* selection = MCV_DataRegistry::instance()->selectionData();
    if (data == selection)
        syncSelectionFromRegistry(selection);
    if (m_scatterplot)
        m_scatterplot->updateClusters(static_cast<MCV_DerivedDataClusters*>(data));
}

void UI_EmbeddingViewWidget::publishSelection(std::vector<MCV_PointIndex> pairs)
{
    MCV_DerivedDataPoints* selection = MCV_DataRegistry::instance()->selectionData();
    selection->setPoints(std::move(pairs), false);
    // Every view hears of it, this one included.
    selection->invalidate(this);
}

void UI_EmbeddingViewWidget::selectionRefreshed(void*)
{
}

void UI_EmbeddingViewWidget::highlightRefreshed(void* clusters)
{
    if (m_scatterplot)
        m_scatterplot->setActiveCluster(static_cast<MCV_DerivedDataClusters*>(clusters));
}
