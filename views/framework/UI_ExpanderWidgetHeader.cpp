#include "framework/UI_ExpanderWidgetHeader.h"

#include <QGridLayout>
#include <QLabel>

UI_ExpanderWidgetHeader::UI_ExpanderWidgetHeader(QWidget* parent)
    : QWidget(parent)
    , m_collapsedStyle("QWidget {border-image: url(:/Icons/openArrowDrop) 0 0 0 0 stretch stretch; border-width: 0px;}")
    , m_expandedStyle("QWidget {border-image: url(:/Icons/closeArrowDrop) 0 0 0 0 stretch stretch; border-width: 0px;}")
    , m_openArrow(":/Icons/openArrowDrop")
    , m_closeArrow(":/Icons/closeArrowDrop")
{
    setObjectName("UI_ExpanderWidgetHeader");

    m_arrow = new QWidget(this);
    m_arrow->setFixedSize(10, 10);
    m_arrow->setStyleSheet(m_expandedStyle);
    m_label = new QLabel("Text", this);

    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(5, 5, 5, 5);
    layout->addWidget(m_arrow, 0, 0, Qt::AlignCenter);
    layout->addWidget(m_label, 0, 1, Qt::AlignCenter);
    layout->setColumnStretch(0, 0);
    layout->setColumnStretch(1, 1);

    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet("#UI_ExpanderWidgetHeader {border: 1px solid #B9B9B9; background-color: #DBDBDB}");
}

void UI_ExpanderWidgetHeader::setCollapsed(bool collapsed)
{
    m_collapsed = collapsed;
    m_arrow->setStyleSheet(collapsed ? m_collapsedStyle : m_expandedStyle);
}

void UI_ExpanderWidgetHeader::setTitle(const QString& text)
{
    m_label->setText(text);
}

void UI_ExpanderWidgetHeader::mousePressEvent(QMouseEvent*)
{
    emit headerClicked(!m_collapsed);
}
