#pragma once

#include "docks/UI_PageDockWidget.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class MCV_Analysis;
class MCV_DerivedDataClusters;
class QMainWindow;

/// The dock that shows a SPADE (or template-matching) analysis' cluster tree
/// as a page: the master view lays the tree out and reports the node
/// positions, a slave view places the nodes where the master put them. Both
/// report selection, highlight and bubbles (named groups of nodes) to the
/// program and save a bubble's events or the picture.
///
/// The shown clusters set belongs to the registry: every slot that uses it
/// first follows the live registry; after files were reopened the view
/// fetches the set of the analysis' name from the live registry (created
/// empty when missing) and sends its tree to the page, which keeps its
/// layout and bubbles.
/// Operations only a SPADE analysis has are reached through a checked cast.
class UI_SpadeWidget : public UI_PageDockWidget
{
    Q_OBJECT

public:
    /// Titled with the analysis' name; shows its clusters set (created empty
    /// when the registry has none of that name). The page is built only for
    /// a non-null analysis: ":/spade/spade_slave.html" for a slave,
    /// ":/spade/spade.html" for the master.
    UI_SpadeWidget(QMainWindow* window, MCV_Analysis* analysis, bool slave);

    /// The analysis is about to be deleted: the view never reaches it again.
    void detachAnalysis() override;
    MCV_Analysis* analysis() const { return m_analysis; }
    bool isSlave() const { return m_slave; }
    /// The shown set; of a replaced registry until the view followed the live one.
    MCV_DerivedDataClusters* shownData() const { return m_shownData; }
    /// The points set that holds a bubble's events; empty when the bubble made none.
    QString bubbleSetName(const QString& bubble) const;

signals:
    void qt_setData(QString json);
    void qt_setPositions(QString json);
    /// A bubble's points set was made or changed.
    void subtreeCreated();

public slots:
    void js_debug(QString text);
    /// Publishes the events of the bubble's nodes as a points set (SPADE only).
    void js_subtreeCreated(QList<int> nodes, QString name);
    /// Saves the bubble's events: one FCS or raw float file, or one per sample (separate 1).
    void exportSubtree(QString name, int separate);
    /// Selects exactly these nodes' clusters and fills "Selection"; an empty
    /// report when nothing was selected before does nothing.
    void selectionUpdated(QList<int> nodes);
    void jsHighlightUpdated(int index);
    void nodePositionsUpdated(QString positions);
    void js_saveSVG(QString markup);
    void dataRefreshed(void* data);
    void selectionRefreshed(void* data);
    void highlightRefreshed(void* data);
    /// Sends the stored positions to a slave page (any data); to the master only for its own set.
    void spadePositionsRefreshed(void* data);
    void webViewFinishedLoading(bool ok) override;

private:
    /// Fetches the analysis' set from the live registry and sends its tree.
    void showLiveRegistry() override;
    /// The shown set once the view followed the live registry; null when there is none.
    MCV_DerivedDataClusters* followedShownData();
    /// The analysis' cluster indices behind the shown set's (merged) clusters.
    std::vector<int> analysisClusters(const QList<int>& nodes);

    MCV_Analysis* m_analysis = nullptr;
    bool m_slave = false;
    MCV_DerivedDataClusters* m_shownData = nullptr;
    std::string m_analysisName;
    /// Bubble name and the points set that holds its events, for the registry of m_bubbleGeneration.
    std::vector<std::pair<QString, std::string>> m_bubbleSets;
    uint64_t m_bubbleGeneration = 0;
};
