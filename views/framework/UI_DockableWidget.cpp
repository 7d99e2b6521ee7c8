#include "framework/UI_DockableWidget.h"

#include "data/FcsHeader.h"
#include "data/MCV_DataRegistry.h"

#include <QAction>
#include <QDebug>
#include <QGridLayout>

#include <algorithm>

UI_DockableWidget::UI_DockableWidget(QWidget* parent)
    : QDockWidget(parent)
{
    m_mainWidget = new QWidget(this);
    m_layout = new QGridLayout(m_mainWidget);
    m_layout->setContentsMargins(0, 0, 0, 0);
    setWidget(m_mainWidget);
    connect(toggleViewAction(), &QAction::toggled, this, &UI_DockableWidget::setVisibility);
}

UI_DockableWidget::~UI_DockableWidget()
{
    delete m_layout;
    delete m_mainWidget;
}

void UI_DockableWidget::setVisibility(bool visible)
{
    m_visible = visible;
    setVisible(visible);
}

void UI_DockableWidget::toggleVisibility()
{
    setVisibility(!m_visible);
}

void UI_DockableWidget::syncSelectionFlags(const std::vector<MCV_PointIndex>& selected,
                                           const std::vector<MCV_PointIndex>& points, bool pointsAreCurrent)
{
    const size_t pointCount = points.size();
    if (selected.empty() && m_selectionCount == 0 && m_pointSelectionFlags.size() == pointCount)
        return;
    const MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    const int samples = registry->sampleCount();
    // One flat byte per event of every sample, reused between calls.
    m_sampleEventOffsets.assign(static_cast<size_t>(samples) + 1, 0);
    for (int s = 0; s < samples; ++s)
        m_sampleEventOffsets[s + 1] =
            m_sampleEventOffsets[s] + std::max<int64_t>(0, registry->sampleHeader(s)->eventCount());
    m_selectedEvents.assign(static_cast<size_t>(m_sampleEventOffsets[samples]), 0);
    // The event's byte, or null for a pair naming no loaded event.
    auto eventFlag = [&](const MCV_PointIndex& p) -> uint8_t* {
        if (p.sampleIndex < 0 || p.sampleIndex >= samples || p.eventIndex < 0)
            return nullptr;
        const int64_t event = m_sampleEventOffsets[p.sampleIndex] + p.eventIndex;
        return event < m_sampleEventOffsets[p.sampleIndex + 1] ? &m_selectedEvents[static_cast<size_t>(event)]
                                                                : nullptr;
    };
    for (size_t j = 0; j < selected.size(); ++j) {
        const MCV_PointIndex& p = selected[j];
        uint8_t* flag = eventFlag(p);
        if (!flag)
            continue;
        if (*flag)
            qDebug().noquote() << QString("double entry at %1:%2, %3").arg(j).arg(p.sampleIndex).arg(p.eventIndex);
        *flag = 1;
    }
    m_pointSelectionFlags.assign(pointCount, 0);
    // Points of a replaced registry name other events: nothing of this selection is theirs.
    if (pointsAreCurrent)
        for (size_t k = 0; k < pointCount; ++k)
            if (const uint8_t* flag = eventFlag(points[k]); flag && *flag)
                m_pointSelectionFlags[k] = 0x7fff;
    m_selectionCount = static_cast<int>(selected.size());
}
