#include "tsne/UI_TsneWidget.h"

#include "analyses/MCV_TsneAnalysis.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataPoints.h"

#include <QCoreApplication>
#include <QDebug>

UI_TsneWidget::UI_TsneWidget(QWidget* parent, MCV_Analysis* analysis)
    : UI_DockableWidget(parent)
    , m_analysis(analysis)
{
}

void UI_TsneWidget::detachAnalysis()
{
    m_analysis = nullptr;
}

MCV_TsneAnalysis* UI_TsneWidget::tsneAnalysis() const
{
    if (!m_analysis || m_analysis->analysisType() != MCV_AnalysisTypeTsne)
        return nullptr;
    return static_cast<MCV_TsneAnalysis*>(m_analysis);
}

void UI_TsneWidget::initComputation(void* analysis)
{
    if (!m_analysis || analysis != m_analysis)
        return;
    // A new point list: the flags must describe it before anything draws.
    if (MCV_DataRegistry::currentGeneration() != 0)
        syncSelectionFromRegistry(MCV_DataRegistry::instance()->selectionData());
}

void UI_TsneWidget::computationUpdated(void* analysis)
{
    if (!m_analysis || analysis != m_analysis)
        return;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void UI_TsneWidget::computationFinished(void* analysis)
{
    if (!m_analysis || analysis != m_analysis)
        return;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    qDebug().noquote() << "finished tsne\n";
}

void UI_TsneWidget::dataRefreshed(void* data)
{
    if (MCV_DataRegistry::currentGeneration() == 0)
        return;
    MCV_DerivedDataPoints* selection = MCV_DataRegistry::instance()->selectionData();
    if (data == selection)
        syncSelectionFromRegistry(selection);
}

void UI_TsneWidget::selectionRefreshed(void*)
{
}

void UI_TsneWidget::highlightRefreshed(void*)
{
}

void UI_TsneWidget::syncSelectionFromRegistry(MCV_DerivedDataPoints* selection)
{
    const MCV_TsneAnalysis* tsne = tsneAnalysis();
    static const std::vector<MCV_PointIndex> none;
    syncSelectionFlags(selection->points(), tsne ? tsne->points() : none,
                       tsne && tsne->pointsGeneration() == MCV_DataRegistry::instance()->generation());
}
