#include "web/UI_MaterialCheckBoxWidget.h"

#include "web/PageBridge.h"

#include <QGridLayout>
#include <QLabel>
#include <QWebFrame>
#include <QWebView>

UI_MaterialCheckBoxWidget::UI_MaterialCheckBoxWidget(const QString& label, QWidget* parent)
    : QWidget(parent)
{
    m_layout = new QGridLayout(this);
    m_layout->setSpacing(0);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_label = new QLabel(QStringLiteral(" ") + label, this);
    setStyleSheet(QStringLiteral("background:transparent"));
    setAttribute(Qt::WA_TranslucentBackground);

    m_webView = new QWebView(this);
    m_webView->setFixedSize(36, 24);
    connect(m_webView, &QWebView::loadFinished, this, &UI_MaterialCheckBoxWidget::sendState);
    PageBridge::setUp(m_webView, this, QStringLiteral(":/html_ui_elements/checkbox.html"),
                      QStringLiteral("qrc:/html_ui_elements/"));
    m_layout->addWidget(m_webView, 0, 0, Qt::AlignHCenter);
    m_layout->addWidget(m_label, 0, 1, Qt::AlignHCenter);
}

UI_MaterialCheckBoxWidget::~UI_MaterialCheckBoxWidget()
{
    delete m_layout;
    delete m_webView;
    delete m_label;
}

void UI_MaterialCheckBoxWidget::setChecked(bool checked)
{
    m_checked = checked;
    emit qt_setState(checked);
}

void UI_MaterialCheckBoxWidget::sendState(bool loaded)
{
    if (loaded)
        emit qt_setState(m_checked);
}

void UI_MaterialCheckBoxWidget::connectJs()
{
    PageBridge::publishHost(m_webView->page()->mainFrame(), this);
}

void UI_MaterialCheckBoxWidget::js_clicked()
{
    m_checked = !m_checked;
    emit clicked();
    emit stateChanged(m_checked ? 1 : 0);
}
