#include "docks/UI_TsneWidget.h"

#include "scatterplot/UI_ScatterplotWidget.h"

#include "analyses/MCV_TsneAnalysis.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataPoints.h"

#include <QDebug>

UI_TsneWidget::UI_TsneWidget(QWidget* parent, MCV_Analysis* analysis)
    : UI_EmbeddingViewWidget(parent, analysis)
{
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
    showEmbedding(tsne->markerCount(), tsne->markerNames());
    // A further view on a paused embedding: nothing runs.
    if (!tsne->isBusy())
        m_scatterplot->computationFinished();
    m_scatterplot->update();
}

void UI_TsneWidget::computationUpdated(void* analysis)
{
    if (!m_analysis || analysis != m_analysis || !m_scatterplot)
        return;
    // A run the analysis started on its own (a request made as the last run
    // ended) shows as running too.
    if (!m_scatterplot->isComputing())
        m_scatterplot->computationStarted();
    redrawAndProcessEvents();
}

void UI_TsneWidget::computationFinished(void* analysis)
{
    if (!m_analysis || analysis != m_analysis || !m_scatterplot)
        return;
    redrawAndProcessEvents();
    m_scatterplot->computationFinished();
    qDebug().noquote() << "finished tsne\n";
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
    publishSelection(std::move(pairs));
}

void UI_TsneWidget::syncSelectionFromRegistry(MCV_DerivedDataPoints* selection)
{
    const MCV_TsneAnalysis* tsne = tsneAnalysis();
    static const std::vector<MCV_PointIndex> none;
    showSelection(selection, tsne ? tsne->points() : none,
                  tsne && tsne->pointsGeneration() == MCV_DataRegistry::instance()->generation());
}
