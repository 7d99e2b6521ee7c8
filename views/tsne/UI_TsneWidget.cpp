#include "tsne/UI_TsneWidget.h"

#include "rendering/UI_ScatterplotWidget.h"

#include "analyses/MCV_TsneAnalysis.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataPoints.h"

#include <QCoreApplication>
#include <QDebug>
#include <QGridLayout>

UI_TsneWidget::UI_TsneWidget(QWidget* parent, MCV_Analysis* analysis)
    : UI_DockableWidget(parent)
    , m_analysis(analysis)
{
    if (m_analysis)
        buildScatterplot();
}

void UI_TsneWidget::buildScatterplot()
{
    m_scatterplot = new UI_ScatterplotWidget(m_analysis, 30, this);
    m_layout->addWidget(m_scatterplot, 1, 0);
    // Nothing to show before the first embedding.
    m_scatterplot->hide();
    connect(m_scatterplot, &UI_ScatterplotWidget::selectionUpdated, this, &UI_TsneWidget::scatterplotSelectionUpdated);
}

void UI_TsneWidget::detachAnalysis()
{
    m_analysis = nullptr;
    if (m_scatterplot)
        m_scatterplot->detachAnalysis();
}

void UI_TsneWidget::mousePressEvent(QMouseEvent*)
{
    if (m_scatterplot)
        m_scatterplot->setFocus(Qt::OtherFocusReason);
}

MCV_TsneAnalysis* UI_TsneWidget::tsneAnalysis() const
{
    if (!m_analysis || m_analysis->analysisType() != MCV_AnalysisTypeTsne)
        return nullptr;
    return static_cast<MCV_TsneAnalysis*>(m_analysis);
}

void UI_TsneWidget::initComputation(void* analysis)
{
    const MCV_TsneAnalysis* tsne = tsneAnalysis();
    if (!tsne || analysis != m_analysis || !m_scatterplot)
        return;
    // The rows' width and names as the analysis took its values, not the
    // live header's: the files may have been reopened since.
    m_scatterplot->setEmbedding(tsne->markerCount());
    m_scatterplot->setMarkerNames(tsne->markerNames());
    // A new point list: the flags must describe it before anything draws.
    if (MCV_DataRegistry::currentGeneration() != 0)
        syncSelectionFromRegistry(MCV_DataRegistry::instance()->selectionData());
    m_scatterplot->show();
    m_scatterplot->computationStarted();
    // A further view on a paused embedding: nothing runs.
    if (!tsne->isBusy())
        m_scatterplot->computationFinished();
    m_scatterplot->update();
}

void UI_TsneWidget::computationUpdated(void* analysis)
{
    if (!m_analysis || analysis != m_analysis || !m_scatterplot)
        return;
    m_scatterplot->refreshEmbedding();
    m_scatterplot->update();
    // A run the analysis started on its own (a request made as the last run
    // ended) shows as running too.
    if (!m_scatterplot->isComputing())
        m_scatterplot->computationStarted();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void UI_TsneWidget::computationFinished(void* analysis)
{
    if (!m_analysis || analysis != m_analysis || !m_scatterplot)
        return;
    m_scatterplot->refreshEmbedding();
    m_scatterplot->update();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    m_scatterplot->computationFinished();
    qDebug().noquote() << "finished tsne\n";
}

void UI_TsneWidget::dataRefreshed(void* data)
{
    if (MCV_DataRegistry::currentGeneration() == 0)
        return;
    MCV_DerivedDataPoints* selection = MCV_DataRegistry::instance()->selectionData();
    if (data == selection)
        syncSelectionFromRegistry(selection);
    if (m_scatterplot)
        m_scatterplot->updateClusters(static_cast<MCV_DerivedDataClusters*>(data));
}

void UI_TsneWidget::selectionRefreshed(void*)
{
}

void UI_TsneWidget::highlightRefreshed(void* clusters)
{
    if (m_scatterplot)
        m_scatterplot->setActiveCluster(static_cast<MCV_DerivedDataClusters*>(clusters));
}

void UI_TsneWidget::scatterplotSelectionUpdated()
{
    const MCV_TsneAnalysis* tsne = tsneAnalysis();
    if (!tsne || !m_scatterplot || MCV_DataRegistry::currentGeneration() == 0)
        return;
    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    if (tsne->pointsGeneration() != registry->generation()) {
        qDebug().noquote() << "The data were reloaded since " + QString::fromStdString(tsne->name())
                                  + " was computed: its selection is not passed on.";
        return;
    }
    const std::vector<MCV_PointIndex>& points = tsne->points();
    const std::vector<int>& selected = m_scatterplot->selectedIndices();
    const std::vector<bool>* shownSamples = m_scatterplot->sampleSelection();
    std::vector<MCV_PointIndex> pairs;
    pairs.reserve(selected.size());
    for (int index : selected) {
        if (index < 0 || static_cast<size_t>(index) >= points.size())
            continue;
        const MCV_PointIndex& p = points[static_cast<size_t>(index)];
        // Without a sample panel every sample is shown.
        if (shownSamples && (p.sampleIndex < 0 || static_cast<size_t>(p.sampleIndex) >= shownSamples->size()
                             || !(*shownSamples)[static_cast<size_t>(p.sampleIndex)]))
            continue;
        pairs.push_back(p);
    }
    MCV_DerivedDataPoints* selection = registry->selectionData();
    selection->setPoints(std::move(pairs), false);
    // Every view hears of it, this one included.
    selection->invalidate(this);
}

void UI_TsneWidget::syncSelectionFromRegistry(MCV_DerivedDataPoints* selection)
{
    const MCV_TsneAnalysis* tsne = tsneAnalysis();
    static const std::vector<MCV_PointIndex> none;
    syncSelectionFlags(selection->points(), tsne ? tsne->points() : none,
                       tsne && tsne->pointsGeneration() == MCV_DataRegistry::instance()->generation());
    if (m_scatterplot && !m_pointSelectionFlags.empty()) {
        m_scatterplot->setSelection(&m_pointSelectionFlags, selection->lastSender() == this);
        m_scatterplot->update();
    }
}
