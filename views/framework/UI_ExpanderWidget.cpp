#include "framework/UI_ExpanderWidget.h"

#include "framework/UI_ExpanderWidgetHeader.h"

#include <QCoreApplication>
#include <QGridLayout>

UI_ExpanderWidget::UI_ExpanderWidget(QWidget* parent, bool expanded, bool resizeParentOnToggle)
    : QWidget(parent)
    , m_parentToResize(parent)
    , m_resizeParentOnToggle(resizeParentOnToggle)
{
    setObjectName("UI_ExpanderWidget");
    m_header = new UI_ExpanderWidgetHeader(this);
    m_layout = new QGridLayout(this);
    m_layout->setAlignment(Qt::AlignTop);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->addWidget(m_header, 0, 0);
    m_header->setAutoFillBackground(true);
    connect(m_header, &UI_ExpanderWidgetHeader::headerClicked, this, &UI_ExpanderWidget::hideBody);

    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet("#UI_ExpanderWidget {border: 1px solid #B9B9B9;}");

    if (!expanded)
        emit m_header->headerClicked(true);
}

void UI_ExpanderWidget::setTitle(const QString& text)
{
    m_header->setTitle(text);
}

void UI_ExpanderWidget::setBody(QWidget* body)
{
    if (m_body)
        m_layout->removeWidget(m_body);
    m_body = body;
    m_layout->addWidget(m_body, 1, 0);
    if (m_header->isCollapsed())
        m_body->hide();
}

bool UI_ExpanderWidget::isCollapsed() const
{
    return m_header->isCollapsed();
}

void UI_ExpanderWidget::hideBody(bool collapse)
{
    m_header->setCollapsed(collapse);
    if (!m_body)
        return;
    m_body->setVisible(!collapse);
    if (!m_resizeParentOnToggle)
        return;

    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    // A parent without a layout has no size hint worth following.
    if (!m_parentToResize || !m_parentToResize->layout())
        return;
    m_parentToResize->layout()->activate();
    m_parentToResize->resize(m_parentToResize->sizeHint());
}
