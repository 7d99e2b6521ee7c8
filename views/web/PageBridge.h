#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QWebFrame;
class QWebView;

/// The set-up every widget that shows one of the bundle's pages shares, on
/// the program's side of the bridge. A host (the widget talking to the page)
/// has a public slot `connectJs()` that calls publishHost(); pages call its
/// `js_` slots and listen to its `qt_` signals.
///
///     PageBridge::setUpView(m_webView);
///     PageBridge::connectHost(m_webView, this);   // -> connectJs() per load
///     PageBridge::loadPage(m_webView, ":/spade/spade.html", "qrc:/spade/");
///
/// or setUp() for all three steps. The view is left opaque; the small
/// controls make themselves transparent.
class PageBridge : public QObject
{
    Q_OBJECT

public:
    /// Turns both scroll bars of the main frame off (vertical first) and
    /// closes the browser defaults (closeBrowserDefaults).
    static void setUpView(QWebView* view);
    /// Makes the view show only what the program loads into it: it takes no
    /// drops, follows no links (linkClicked reports them), offers no standard
    /// context menu (with its "Reload", "Back" and "Forward") and ignores the
    /// keys that reload or go back or forward; the page's own context menus
    /// still receive the event. Every view of a bundle page gets this.
    static void closeBrowserDefaults(QWebView* view);
    /// Connects the main frame's javaScriptWindowObjectCleared to the host's
    /// `connectJs()` slot, so the host is offered again at every load before
    /// the page's scripts run.
    static void connectHost(QWebView* view, QObject* host);
    /// Publishes the host into the frame's window object as "Qt" (the page
    /// never deletes it), but only while the frame shows a bundle page: a
    /// page from anywhere else never reaches the program.
    static void publishHost(QWebFrame* frame, QObject* host);
    /// Loads the text of the page resource with the base URL (a resource
    /// folder such as "qrc:/html_ui_elements/"), so the page's relative links
    /// resolve inside the bundle. A page that cannot be read loads empty.
    static void loadPage(QWebView* view, const QString& pageResource, const QString& baseUrl);
    /// A page's log line on the debug stream, as every host's js_debug writes it.
    static void debugLine(const QString& text);
    /// setUpView, connectHost and loadPage, in that order.
    static void setUp(QWebView* view, QObject* host, const QString& pageResource, const QString& baseUrl);

    /// Called with every view that setUpView prepares, before anything loads
    /// into it: tests watch a widget's page from its first load on. Empty by default.
    static void setViewObserver(std::function<void(QWebView*)> observer);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit PageBridge(QWebView* view);
};
