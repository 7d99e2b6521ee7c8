#pragma once

#include "docks/UI_PageDockWidget.h"

#include <QList>
#include <QString>

class MCV_DerivedDataExploration;

/// The dock that shows an exploration tree of the hierarchical SNE as a
/// zoomable sunburst page. The page picks the shown tree from its chooser;
/// clicks on it raise level views, and its menu drills into a cluster or
/// saves the tree as an SVG image or a script file.
///
/// The shown tree belongs to the registry: once the files are reopened it
/// is dropped before anything reads it, and the page reloads to list the
/// new registry's trees.
class UI_HierarchyWidget : public UI_PageDockWidget
{
    Q_OBJECT

public:
    /// Loads `page` (a resource path) with its resource folder as base URL;
    /// the program shows ":/hierarchy/hierarchy.html".
    explicit UI_HierarchyWidget(QWidget* parent = nullptr,
                                const QString& page = QStringLiteral(":/hierarchy/hierarchy.html"));

    /// The shown tree; null until one is chosen. Of a replaced registry
    /// until the view followed the live one.
    MCV_DerivedDataExploration* shownData() const { return m_shownData; }
    /// The shown tree once the view followed the live registry: null until
    /// one is chosen, and after a reopen (which reloads the page).
    MCV_DerivedDataExploration* followedShownData();

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
    void dataRefreshed(void* data);
    void webViewFinishedLoading(bool ok) override;

private:
    /// Drops the shown tree, if any, and reloads the page.
    void showLiveRegistry() override;

    MCV_DerivedDataExploration* m_shownData = nullptr;
};
