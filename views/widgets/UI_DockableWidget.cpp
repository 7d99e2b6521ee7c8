#include "widgets/UI_DockableWidget.h"

#include <QAction>
#include <QGridLayout>

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
