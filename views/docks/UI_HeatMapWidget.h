#pragma once

#include "docks/UI_PageDockWidget.h"

#include <QList>
#include <QString>

#include <vector>

class MCV_DerivedDataClusters;

/// A dock showing one clusters set as a heat map page (":/heatmap/heatmap.html"):
/// a column per cluster, a row per marker. The page offers every clusters
/// set of the registry; the user picks one, selects clusters (filling the
/// registry's "Selection" set), merges and renames them, and saves the
/// clusters as FCS files, the medians and per-sample statistics as CSV files
/// and the picture as SVG. Tied to no analysis.
///
/// The view keeps the shown set by pointer. Opening files replaces the
/// registry with every set: each slot follows the live registry first, and
/// once it was replaced the view forgets the shown set and reloads its page,
/// which then lists the live registry's sets.
class UI_HeatMapWidget : public UI_PageDockWidget
{
    Q_OBJECT

public:
    explicit UI_HeatMapWidget(QWidget* parent = nullptr);

    /// The set shown on the page; null until one is chosen.
    MCV_DerivedDataClusters* shownData() const { return m_shownData; }

signals:
    void qt_setData(const QString& json);
    void qt_setSelection(const QList<int>& flags);
    void qt_setHighlight(int cluster);
    void qt_addAvailableData(const QString& name);
    void qt_setMarkerSelection(const QList<int>& flags);

public slots:
    void js_debug(const QString& text);
    /// Shows the clusters set of that name (an empty one is made for a name
    /// no set carries) and sends its JSON.
    void js_selectData(const QString& name);
    /// The "Selection" set becomes the events of the flagged clusters.
    void js_selectionUpdated(const QList<int>& flags);
    void js_highlightUpdated(int cluster);
    /// Merges the flagged clusters when at least two are flagged.
    void js_mergeClusters(const QList<int>& flags);
    void js_saveSVG(const QString& markup);
    void js_saveCSV();
    void js_saveStatistics();
    void js_saveClusters();
    void js_setSubsetName(int cluster, const QString& name);
    void dataRefreshed(void* data);
    void selectionRefreshed(void* data);
    void highlightRefreshed(void* data);
    void webViewFinishedLoading(bool ok) override;

private:
    /// Forgets the shown set and reloads the page.
    void showLiveRegistry() override;
    /// The shown set, or null without one or after the registry was replaced.
    MCV_DerivedDataClusters* followedShownData();
    /// Runs the save dialog proposing the shown set's name with the suffix;
    /// the chosen path, or empty when cancelled or no set is shown (any more).
    QString chooseFileForShownData(const char* folderKey, const QString& suffix, const QString& nameFilter);
    /// Indices whose flag is set, below the shown set's cluster count.
    std::vector<int> flaggedClusters(const QList<int>& flags) const;

    MCV_DerivedDataClusters* m_shownData = nullptr;
    QList<int> m_selectionFlags;
};
