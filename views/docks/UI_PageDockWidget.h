#pragma once

#include "framework/UI_DockableWidget.h"

#include <QString>

#include <cstdint>

class QWebFrame;
class QWebView;

/// Base of the docks that show one of the bundle's pages (SPADE tree, heat
/// map, hierarchy) filled from the registry.
///
/// Opening files replaces the registry and with it every derived set the
/// page showed. The dock records the generation of the registry its page
/// shows and calls followLiveRegistry() before it reads anything the page
/// showed: a pointer of an old registry is never followed.
class UI_PageDockWidget : public UI_DockableWidget
{
    Q_OBJECT

public:
    ~UI_PageDockWidget() override;

    /// Null for a dock built without a page.
    QWebView* webView() const { return m_webView; }
    /// True when the page shows the live registry. Otherwise the files were
    /// reopened since the page was filled: the dock forgets what the page
    /// showed and makes it show the live registry (showLiveRegistry), and
    /// the result is false.
    bool followLiveRegistry();
    /// Follows the live registry at once.
    void filesReopened() override;

public slots:
    void connectJs();
    /// The page (re)loaded: the dock fills it.
    virtual void webViewFinishedLoading(bool ok) = 0;

protected:
    /// The page shows the registry live now; its style block is built from
    /// the style sheet resource, inserted into every saved picture.
    UI_PageDockWidget(QWidget* parent, const QString& styleSheet);

    /// Builds the web view and loads the page resource, from its resource
    /// folder as base URL (":/spade/spade.html" from "qrc:/spade/").
    void buildWebView(const QString& page);
    /// The page shows the live registry from now on; a pending reload is done.
    void markLiveRegistryShown();
    /// Loads the page anew once the running call has returned (it may come
    /// from the page itself), writing `consoleLine` (if any) then; further
    /// requests before markLiveRegistryShown() load it once.
    void reloadPageLater(const QString& consoleLine = QString());
    /// Forgets what the page showed of a replaced registry and makes the
    /// page show the live one.
    virtual void showLiveRegistry() = 0;

    QWebFrame* mainFrame() const { return m_mainFrame; }
    const QString& styleBlock() const { return m_styleBlock; }

private:
    void loadPage();

    QWebView* m_webView = nullptr;
    QWebFrame* m_mainFrame = nullptr;
    QString m_page;
    QString m_styleBlock;
    /// Generation of the registry the page shows.
    uint64_t m_shownGeneration = 0;
    bool m_reloadPending = false;
};
