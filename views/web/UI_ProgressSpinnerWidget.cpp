#include "web/UI_ProgressSpinnerWidget.h"

#include "web/PageBridge.h"

UI_ProgressSpinnerWidget::UI_ProgressSpinnerWidget(QWidget* parent)
    : QWebView(parent)
{
    setStyleSheet(QStringLiteral("background:transparent"));
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedSize(24, 24);
    setContentsMargins(0, 0, 0, 0);
    PageBridge::setUpView(this);
    PageBridge::loadPage(this, QStringLiteral(":/html_ui_elements/spinner.html"),
                         QStringLiteral("qrc:/html_ui_elements/"));
}
