#include "web/PageBridge.h"

#include "framework/readTextResource.h"

#include <QContextMenuEvent>
#include <QDebug>
#include <QKeyEvent>
#include <QUrl>
#include <QWebFrame>
#include <QWebPage>
#include <QWebView>

namespace {

std::function<void(QWebView*)>& viewObserver()
{
    static std::function<void(QWebView*)> observer;
    return observer;
}

} // namespace

PageBridge::PageBridge(QWebView* view)
    : QObject(view)
{
    view->installEventFilter(this);
}

void PageBridge::setUpView(QWebView* view)
{
    QWebFrame* frame = view->page()->mainFrame();
    frame->setScrollBarPolicy(Qt::Vertical, Qt::ScrollBarAlwaysOff);
    frame->setScrollBarPolicy(Qt::Horizontal, Qt::ScrollBarAlwaysOff);
    closeBrowserDefaults(view);
    if (viewObserver())
        viewObserver()(view);
}

void PageBridge::closeBrowserDefaults(QWebView* view)
{
    view->setAcceptDrops(false);
    // Link clicks are handed to linkClicked, which nobody follows unless asked.
    view->page()->setLinkDelegationPolicy(QWebPage::DelegateAllLinks);
    new PageBridge(view);
}

void PageBridge::setViewObserver(std::function<void(QWebView*)> observer)
{
    viewObserver() = std::move(observer);
}

void PageBridge::connectHost(QWebView* view, QObject* host)
{
    connect(view->page()->mainFrame(), SIGNAL(javaScriptWindowObjectCleared()), host, SLOT(connectJs()));
}

void PageBridge::publishHost(QWebFrame* frame, QObject* host)
{
    if (frame->url().scheme() == QLatin1String("qrc"))
        frame->addToJavaScriptWindowObject(QStringLiteral("Qt"), host, QWebFrame::QtOwnership);
}

void PageBridge::loadPage(QWebView* view, const QString& pageResource, const QString& baseUrl)
{
    view->setHtml(readTextResource(pageResource), QUrl(baseUrl));
}

void PageBridge::debugLine(const QString& text)
{
    qDebug().noquote() << QStringLiteral("Javascript Debug Info: ") + text;
}

void PageBridge::setUp(QWebView* view, QObject* host, const QString& pageResource, const QString& baseUrl)
{
    setUpView(view);
    connectHost(view, host);
    loadPage(view, pageResource, baseUrl);
}

bool PageBridge::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::ContextMenu:
        // The page sees the event (its scripts may open their own menu); the
        // standard menu, which would offer "Reload", is never shown.
        static_cast<QWebView*>(watched)->page()->swallowContextMenuEvent(static_cast<QContextMenuEvent*>(event));
        event->accept();
        return true;
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        // A dropped file or link would replace the page.
        event->ignore();
        return true;
    case QEvent::KeyPress: {
        // The keys that reload the page or move through its history.
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Back || key == Qt::Key_Forward || key == Qt::Key_Refresh || key == Qt::Key_Reload)
            return true;
        return QObject::eventFilter(watched, event);
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}
