#include "docks/UI_SpadeWidget.h"

#include "framework/showSaveFailure.h"
#include "web/PageBridge.h"
#include "web/PageSaveDialog.h"
#include "web/SvgDocument.h"

#include "analyses/MCV_SpadeAnalysis.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataPoints.h"
#include "data/WriteFailure.h"

#include <QDebug>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include <algorithm>

UI_SpadeWidget::UI_SpadeWidget(QMainWindow* window, MCV_Analysis* analysis, bool slave)
    : UI_PageDockWidget(window, ":/spade/spade.css")
    , m_analysis(analysis)
    , m_slave(slave)
{
    if (!analysis)
        return;
    m_analysisName = analysis->name();
    setWindowTitle(QString::fromStdString(m_analysisName));
    m_shownData = MCV_DataRegistry::instance()->createClustersData(m_analysisName, true);
    buildWebView(m_slave ? ":/spade/spade_slave.html" : ":/spade/spade.html");
}

void UI_SpadeWidget::detachAnalysis()
{
    m_analysis = nullptr;
}

MCV_DerivedDataClusters* UI_SpadeWidget::followedShownData()
{
    followLiveRegistry();
    return m_shownData;
}

void UI_SpadeWidget::showLiveRegistry()
{
    // The old set went with its registry. Reloading the page would lose its
    // layout and bubbles: the new set's tree is sent instead.
    m_shownData = nullptr;
    m_selectionCount = 0;
    const uint64_t live = MCV_DataRegistry::currentGeneration();
    if (live == 0 || m_analysisName.empty())
        return;
    markLiveRegistryShown();
    MCV_DerivedDataClusters* data = MCV_DataRegistry::instance()->createClustersData(m_analysisName, true);
    if (MCV_DataRegistry::currentGeneration() != live)
        return;
    m_shownData = data;
    if (data)
        emit qt_setData(QString::fromStdString(data->jsonString()));
}

QString UI_SpadeWidget::bubbleSetName(const QString& bubble) const
{
    if (m_bubbleGeneration != MCV_DataRegistry::currentGeneration())
        return QString();
    for (const auto& entry : m_bubbleSets)
        if (entry.first == bubble)
            return QString::fromStdString(entry.second);
    return QString();
}

void UI_SpadeWidget::js_debug(QString text)
{
    PageBridge::debugLine(text);
}

void UI_SpadeWidget::dataRefreshed(void* data)
{
    if (followLiveRegistry() && m_shownData && data == m_shownData)
        emit qt_setData(QString::fromStdString(m_shownData->jsonString()));
}

void UI_SpadeWidget::selectionRefreshed(void*) {}

void UI_SpadeWidget::highlightRefreshed(void*) {}

void UI_SpadeWidget::webViewFinishedLoading(bool)
{
    if (!m_slave)
        return;
    // A set fetched anew has already sent its tree.
    const bool followed = followLiveRegistry();
    if (!m_shownData)
        return;
    if (followed)
        emit qt_setData(QString::fromStdString(m_shownData->jsonString()));
    emit qt_setPositions(QString::fromStdString(m_shownData->nodePositions()));
}

void UI_SpadeWidget::spadePositionsRefreshed(void* data)
{
    MCV_DerivedDataClusters* shown = followedShownData();
    if (shown && (m_slave || data == shown))
        emit qt_setPositions(QString::fromStdString(shown->nodePositions()));
}

void UI_SpadeWidget::jsHighlightUpdated(int index)
{
    if (MCV_DerivedDataClusters* shown = followedShownData())
        shown->setHighlightedCluster(index);
}

void UI_SpadeWidget::nodePositionsUpdated(QString positions)
{
    // A report about the tree of reopened files' predecessor is dropped.
    if (followLiveRegistry() && m_shownData)
        m_shownData->setNodePositions(positions.toStdString());
}

void UI_SpadeWidget::selectionUpdated(QList<int> nodes)
{
    if (nodes.isEmpty() && m_selectionCount < 1)
        return;
    MCV_DerivedDataClusters* shown = followedShownData();
    if (!shown)
        return;
    QPointer<UI_SpadeWidget> self(this);
    const uint64_t generation = MCV_DataRegistry::currentGeneration();
    const int64_t count = shown->setSelectedClusters(std::vector<int>(nodes.begin(), nodes.end()));
    // The announcement may have reopened the files or closed this view.
    if (!self || MCV_DataRegistry::currentGeneration() != generation)
        return;
    m_selectionCount = static_cast<int>(count);
    MCV_DataRegistry::instance()->selectionData()->invalidate(this);
}

std::vector<int> UI_SpadeWidget::analysisClusters(const QList<int>& nodes)
{
    // After merges (heat map) a shown cluster holds several of the analysis' clusters.
    std::vector<int> clusters;
    MCV_DerivedDataClusters* shown = followedShownData();
    const std::vector<int> ids = shown ? shown->clusterIds() : std::vector<int>();
    for (int node : nodes) {
        if (node < 0 || !shown || node >= shown->clusterCount()) {
            clusters.push_back(node); // refused, with a line, by the analysis
            continue;
        }
        for (std::size_t original = 0; original < ids.size(); ++original)
            if (ids[original] == node)
                clusters.push_back(static_cast<int>(original));
    }
    return clusters;
}

void UI_SpadeWidget::js_subtreeCreated(QList<int> nodes, QString name)
{
    QStringList indices;
    for (int node : nodes)
        indices << QString::number(node);
    qDebug().noquote() << "New Subtree created: " + name + " = (" + indices.join(", ") + ")";

    auto* spade = dynamic_cast<MCV_SpadeAnalysis*>(m_analysis);
    if (!spade) {
        qDebug().noquote() << "Bubble \"" + name + "\" makes no points set: only SPADE trees publish bubbles.";
        return;
    }
    const std::vector<int> clusters = analysisClusters(nodes);
    QPointer<UI_SpadeWidget> self(this);
    const std::string setName = spade->createSubtreeData(name.toStdString(), clusters);
    if (!self || setName.empty())
        return;
    const uint64_t live = MCV_DataRegistry::currentGeneration();
    if (m_bubbleGeneration != live) {
        m_bubbleSets.clear();
        m_bubbleGeneration = live;
    }
    auto entry = std::find_if(m_bubbleSets.begin(), m_bubbleSets.end(),
                              [&name](const auto& bubble) { return bubble.first == name; });
    if (entry != m_bubbleSets.end())
        entry->second = setName;
    else
        m_bubbleSets.emplace_back(name, setName);
    emit subtreeCreated();
}

void UI_SpadeWidget::exportSubtree(QString name, int separate)
{
    const QString setName = bubbleSetName(name);
    if (setName.isEmpty()) {
        qDebug().noquote() << "Bubble \"" + name + "\" holds no points set: nothing was saved.";
        return;
    }
    const uint64_t generation = m_bubbleGeneration;
    const QString path = PageSaveDialog::chooseFile(this, name, "fcs", "Cytometry Files (*.fcs);;Binary File (*.bin)");
    if (path.isEmpty())
        return;
    if (MCV_DataRegistry::currentGeneration() != generation || !m_analysis) {
        qDebug().noquote() << "The files were reopened: bubble \"" + name + "\" was not saved.";
        return;
    }
    const bool raw = path.endsWith(".bin");
    WriteFailure failure;
    const int result = MCV_DataRegistry::instance()->exportData(setName.toStdString(), path.toStdString(), separate,
                                                                m_analysis->activeMarkerIndices(), &failure);
    if (result != (raw ? 1 : 0)) {
        qDebug().noquote() << "Saving bubble \"" + name + "\" to " + path
                                  + " failed: " + QString::fromStdString(failure.reason) + ".";
        showSaveFailure(this, failure);
    }
}

void UI_SpadeWidget::js_saveSVG(QString markup)
{
    MCV_DerivedDataClusters* shown = followedShownData();
    const QString name = shown ? QString::fromStdString(shown->name()) : QString::fromStdString(m_analysisName);
    SvgDocument::save(this, markup, styleBlock(), name);
}
