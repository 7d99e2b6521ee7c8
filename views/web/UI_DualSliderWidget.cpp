#include "web/UI_DualSliderWidget.h"

#include "web/PageBridge.h"

#include <QGridLayout>
#include <QResizeEvent>
#include <QWebFrame>
#include <QWebView>

#include <algorithm>

UI_DualSliderWidget::UI_DualSliderWidget(QWidget* parent)
    : QWidget(parent)
{
    buildWebView();
}

UI_DualSliderWidget::~UI_DualSliderWidget()
{
    delete m_layout;
    delete m_webView;
}

void UI_DualSliderWidget::buildWebView()
{
    setContentsMargins(0, 0, 0, 0);
    m_layout = new QGridLayout(this);
    m_layout->setSpacing(0);
    m_layout->setContentsMargins(0, 0, 0, 0);
    setStyleSheet(QStringLiteral("background:transparent"));
    setAttribute(Qt::WA_TranslucentBackground);

    m_webView = new QWebView(this);
    m_webView->setFixedHeight(55);
    m_webView->setFixedWidth(width());
    connect(m_webView, &QWebView::loadFinished, this, &UI_DualSliderWidget::sendState);
    PageBridge::setUp(m_webView, this, QStringLiteral(":/html_ui_elements/dualslider.html"),
                      QStringLiteral("qrc:/html_ui_elements/"));
    m_layout->addWidget(m_webView, 0, 0, Qt::AlignHCenter);
}

void UI_DualSliderWidget::resizeEvent(QResizeEvent* event)
{
    m_webView->setFixedWidth(event->size().width());
}

void UI_DualSliderWidget::setRange(float min, float max)
{
    setRangeAndValues(min, max, m_lowerValue, m_upperValue);
}

void UI_DualSliderWidget::setRangeAndValues(float min, float max, float lower, float upper)
{
    m_min = min;
    m_max = max;
    m_lowerValue = std::max(lower, min);
    m_upperValue = std::min(upper, max);
    emit qt_rangeSet(min, max);
    emit qt_valuesSet(m_lowerValue, m_upperValue);
}

void UI_DualSliderWidget::setValues(float lower, float upper)
{
    m_lowerValue = lower > m_min ? lower : m_min;
    m_upperValue = upper < m_max ? upper : m_max;
    emit qt_valuesSet(m_lowerValue, m_upperValue);
}

void UI_DualSliderWidget::setSliderEnabled(bool enabled)
{
    m_enabled = enabled;
    emit qt_enable(enabled);
}

void UI_DualSliderWidget::sendState(bool loaded)
{
    if (!loaded)
        return;
    emit qt_rangeSet(m_min, m_max);
    emit qt_valuesSet(m_lowerValue, m_upperValue);
    emit qt_enable(m_enabled);
}

void UI_DualSliderWidget::connectJs()
{
    PageBridge::publishHost(m_webView->page()->mainFrame(), this);
}

void UI_DualSliderWidget::js_debug(const QString& text)
{
    PageBridge::debugLine(text);
}

void UI_DualSliderWidget::js_valuesChanged(float lower, float upper)
{
    m_lowerValue = lower;
    m_upperValue = upper;
    emit valuesChanged(lower, upper);
}
