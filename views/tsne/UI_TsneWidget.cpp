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
    const std::vector<MCV_PointIndex>& pairs = selection->points();
    const size_t pointCount = tsne ? tsne->points().size() : 0;
    if (!pairs.empty() || m_selectionCount > 0 || m_pointSelectionFlags.size() != pointCount) {
        const MCV_DataRegistry* registry = MCV_DataRegistry::instance();
        const int samples = registry->sampleCount();
        m_selectedEvents.resize(static_cast<size_t>(samples));
        for (int s = 0; s < samples; ++s)
            m_selectedEvents[s].assign(static_cast<size_t>(std::max(0, registry->sampleHeader(s)->eventCount())),
                                       false);
        auto isEvent = [&](const MCV_PointIndex& p) {
            return p.sampleIndex >= 0 && p.sampleIndex < samples && p.eventIndex >= 0
                   && static_cast<size_t>(p.eventIndex) < m_selectedEvents[p.sampleIndex].size();
        };
        for (size_t j = 0; j < pairs.size(); ++j) {
            const MCV_PointIndex& p = pairs[j];
            if (!isEvent(p))
                continue;
            std::vector<bool>::reference bit = m_selectedEvents[p.sampleIndex][p.eventIndex];
            if (bit)
                qDebug().noquote() << QString("double entry at %1:%2, %3").arg(j).arg(p.sampleIndex).arg(p.eventIndex);
            bit = true;
        }
        m_pointSelectionFlags.assign(pointCount, 0);
        // Points of a replaced registry name other events: nothing of this selection is theirs.
        if (tsne && tsne->pointsGeneration() == registry->generation()) {
            const std::vector<MCV_PointIndex>& points = tsne->points();
            for (size_t k = 0; k < pointCount; ++k)
                if (isEvent(points[k]) && m_selectedEvents[points[k].sampleIndex][points[k].eventIndex])
                    m_pointSelectionFlags[k] = 0x7fff;
        }
        m_selectionCount = static_cast<int>(pairs.size());
    }
}
