#include "framework/UI_DockableContainerWidget.h"

#include <QGridLayout>
#include <QTabWidget>

UI_DockableContainerWidget::UI_DockableContainerWidget(QWidget* parent)
    : UI_DockableWidget(parent)
{
}

UI_DockableContainerWidget::~UI_DockableContainerWidget()
{
    delete m_tabWidget;
}

void UI_DockableContainerWidget::addTab(QWidget* widget, const QString& title)
{
    if (!m_tabWidget) {
        m_tabWidget = new QTabWidget(this);
        m_layout->addWidget(m_tabWidget, 0, 0);
    }
    m_tabWidget->addTab(widget, title);
}

void UI_DockableContainerWidget::removeTab(QWidget* widget)
{
    if (m_tabWidget)
        m_tabWidget->removeTab(m_tabWidget->indexOf(widget));
}
