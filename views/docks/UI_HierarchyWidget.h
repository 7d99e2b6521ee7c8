#pragma once

#include "framework/UI_DockableWidget.h"

#include <QList>
#include <QString>

#include <cstdint>

class MCV_DerivedDataExploration;
class QWebFrame;
class QWebView;

/// The dock that shows an exploration tree of the hierarchical SNE as a
/// zoomable sunburst page. The page picks the shown tree from its chooser;
/// clicks on it raise level views, and its menu drills into a cluster or
/// saves the tree as an SVG image or a script file.
///
/// The shown tree belongs to the registry: once the files are reopened it
/// is dropped (and the page reloaded) before anything reads it.
class UI_HierarchyWidget : public UI_DockableWidget
{
    Q_OBJECT

public:
    /// Loads `page` (a resource path) with its resource folder as base URL;
    /// the program shows ":/hierarchy/hierarchy.html".
    explicit UI_HierarchyWidget(QWidget* parent = nullptr,
                                const QString& page = QStringLiteral(":/hierarchy/hierarchy.html"));
    ~UI_HierarchyWidget() override;

    QWebView* webView() const { return m_webView; }
    /// The shown tree; null until one is chosen, and after a reopen.
    MCV_DerivedDataExploration* shownData();

    /// {"names": [...]}: the merged header's short names, escaped, in
    /// parameter order; one empty name when there is no parameter.
    static QString markerNamesJson();
    /// The script file of a tree: var data = "<escaped JSON>";
    static QString scriptFileText(MCV_DerivedDataExploration* data);

signals:
    void qt_setData(const QString& json);
    void qt_addAvailableData(const QString& name);
    void qt_setMarkerSelection(const QList<int>& markers);
    void qt_setMarkerNames(const QString& json);
    void drillIntoCluster(MCV_DerivedDataExploration* data, const QString& name, const QString& clustersName,
                          int clusterIndex, const QString& parentName, int marker);
    void raiseView(const QString& name, int marker);

public slots:
    void js_debug(const QString& text);
    void js_selectData(const QString& name);
    void js_drillIntoCluster(const QString& name, const QString& clustersName, int clusterIndex,
                             const QString& parentName, int marker);
    void js_saveSVG(const QString& markup);
    void js_saveJSON();
    void js_raiseView(const QString& name, int marker);
    void connectJs();
    void dataRefreshed(void* data);
    void webViewFinishedLoading(bool ok);

private:
    /// True when a tree is shown and still belongs to the live registry;
    /// otherwise the stale pointer is dropped and the page reloaded.
    bool shownDataIsCurrent();
    void loadPage();

    QWebView* m_webView = nullptr;
    QWebFrame* m_mainFrame = nullptr;
    MCV_DerivedDataExploration* m_shownData = nullptr;
    uint64_t m_shownGeneration = 0;
    QString m_styleBlock;
    QString m_page;
};
