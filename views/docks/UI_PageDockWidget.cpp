#include "docks/UI_PageDockWidget.h"

#include "web/PageBridge.h"
#include "web/SvgDocument.h"

#include "data/MCV_DataRegistry.h"

#include <QDebug>
#include <QFileInfo>
#include <QGridLayout>
#include <QTimer>
#include <QWebFrame>
#include <QWebPage>
#include <QWebView>

UI_PageDockWidget::UI_PageDockWidget(QWidget* parent, const QString& styleSheet)
    : UI_DockableWidget(parent)
    , m_styleBlock(SvgDocument::styleBlock(styleSheet))
    , m_shownGeneration(MCV_DataRegistry::currentGeneration())
{
}

UI_PageDockWidget::~UI_PageDockWidget()
{
    // A page that goes while it loads still reports loadFinished: nothing of
    // the view may run while it is being destroyed.
    if (!m_webView)
        return;
    disconnect(m_webView, nullptr, this, nullptr);
    disconnect(m_mainFrame, nullptr, this, nullptr);
    delete m_webView;
}

void UI_PageDockWidget::buildWebView(const QString& page)
{
    m_page = page;
    m_webView = new QWebView(m_mainWidget);
    m_layout->addWidget(m_webView, 0, 0);
    m_mainFrame = m_webView->page()->mainFrame();
    connect(m_webView, &QWebView::loadFinished, this, &UI_PageDockWidget::webViewFinishedLoading);
    PageBridge::setUpView(m_webView);
    PageBridge::connectHost(m_webView, this);
    loadPage();
}

void UI_PageDockWidget::loadPage()
{
    PageBridge::loadPage(m_webView, m_page, "qrc" + QFileInfo(m_page).path() + "/");
}

void UI_PageDockWidget::connectJs()
{
    PageBridge::publishHost(m_mainFrame, this);
}

bool UI_PageDockWidget::followLiveRegistry()
{
    if (!m_reloadPending && m_shownGeneration == MCV_DataRegistry::currentGeneration())
        return true;
    showLiveRegistry();
    return false;
}

void UI_PageDockWidget::filesReopened()
{
    followLiveRegistry();
}

void UI_PageDockWidget::markLiveRegistryShown()
{
    m_shownGeneration = MCV_DataRegistry::currentGeneration();
    m_reloadPending = false;
}

void UI_PageDockWidget::reloadPageLater(const QString& consoleLine)
{
    if (m_reloadPending)
        return;
    m_reloadPending = true;
    QTimer::singleShot(0, this, [this, consoleLine]() {
        if (!consoleLine.isEmpty())
            qDebug().noquote() << consoleLine;
        loadPage();
    });
}
