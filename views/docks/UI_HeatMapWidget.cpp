#include "docks/UI_HeatMapWidget.h"

#include "data/DefaultStateStore.h"
#include "data/ExportFileNames.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataPoints.h"
#include "data/WriteFailure.h"
#include "framework/chooseFileToSave.h"
#include "framework/showSaveFailure.h"
#include "web/PageBridge.h"
#include "web/PageSaveDialog.h"
#include "web/SvgDocument.h"

#include <QDebug>
#include <QTimer>
#include <QWebFrame>

namespace {

QString fromUtf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}

std::string toUtf8(const QString& text)
{
    return text.toUtf8().toStdString();
}

} // namespace

UI_HeatMapWidget::UI_HeatMapWidget(QWidget* parent)
    : UI_PageDockWidget(parent, ":/heatmap/heatmap.css")
{
    buildWebView(":/heatmap/heatmap.html");
}

void UI_HeatMapWidget::js_debug(const QString& text)
{
    PageBridge::debugLine(text);
}

void UI_HeatMapWidget::showLiveRegistry()
{
    m_shownData = nullptr;
    m_selectionFlags.clear();
    reloadPageLater("The data were reopened: the heat map lists the new clusters sets.");
}

MCV_DerivedDataClusters* UI_HeatMapWidget::followedShownData()
{
    followLiveRegistry();
    return m_shownData;
}

std::vector<int> UI_HeatMapWidget::flaggedClusters(const QList<int>& flags) const
{
    std::vector<int> indices;
    const int count = std::min(flags.size(), m_shownData->clusterCount());
    for (int i = 0; i < count; ++i)
        if (flags[i] != 0)
            indices.push_back(i);
    return indices;
}

void UI_HeatMapWidget::webViewFinishedLoading(bool)
{
    // QtWebKit can report a load finished while the page's scripts are still
    // loading (seen with two views loading at once); the page connects to the
    // signals only once they ran.
    if (mainFrame()->evaluateJavaScript("document.readyState").toString() != QLatin1String("complete")) {
        QTimer::singleShot(10, this, [this]() { webViewFinishedLoading(true); });
        return;
    }
    markLiveRegistryShown();
    m_shownData = nullptr;
    m_selectionFlags.clear();
    // Without loaded files there is no registry to list; none is made here.
    if (MCV_DataRegistry::currentGeneration() != 0)
        for (MCV_DerivedDataClusters* clusters : MCV_DataRegistry::instance()->clustersDataList())
            emit qt_addAvailableData(fromUtf8(clusters->name()));
    const std::vector<bool> states = DefaultStateStore::instance()->markerStates;
    if (!states.empty()) {
        QList<int> flags;
        for (bool active : states)
            flags << (active ? 1 : 0);
        emit qt_setMarkerSelection(flags);
    }
}

void UI_HeatMapWidget::dataRefreshed(void* data)
{
    if (!followLiveRegistry() || !data)
        return;
    auto* derived = static_cast<MCV_DerivedData*>(data);
    if (derived->type() == MCV_DerivedDataTypeClusters)
        emit qt_addAvailableData(fromUtf8(derived->name()));
    if (data == m_shownData)
        emit qt_setData(fromUtf8(m_shownData->jsonString()));
}

void UI_HeatMapWidget::js_selectData(const QString& name)
{
    qDebug().noquote() << "Data Selected: " + name;
    if (!followLiveRegistry())
        return;
    m_shownData = MCV_DataRegistry::instance()->createClustersData(toUtf8(name), true);
    // Creating a set may have made the first registry.
    markLiveRegistryShown();
    m_selectionFlags.clear();
    if (m_shownData)
        emit qt_setData(fromUtf8(m_shownData->jsonString()));
}

void UI_HeatMapWidget::js_selectionUpdated(const QList<int>& flags)
{
    MCV_DerivedDataClusters* shown = followedShownData();
    if (!shown)
        return;
    std::vector<MCV_PointIndex> points;
    for (int cluster : flaggedClusters(flags)) {
        const std::vector<MCV_PointIndex>& members = shown->members()[static_cast<std::size_t>(cluster)];
        points.insert(points.end(), members.begin(), members.end());
    }
    MCV_DerivedDataPoints* selection = MCV_DataRegistry::instance()->selectionData();
    selection->setPoints(std::move(points), false);
    selection->invalidate(this);
}

void UI_HeatMapWidget::js_highlightUpdated(int cluster)
{
    if (MCV_DerivedDataClusters* shown = followedShownData())
        shown->setHighlightedCluster(cluster);
}

void UI_HeatMapWidget::js_mergeClusters(const QList<int>& flags)
{
    MCV_DerivedDataClusters* shown = followedShownData();
    if (!shown)
        return;
    const std::vector<int> indices = flaggedClusters(flags);
    if (indices.size() >= 2)
        shown->mergeClusters(indices);
}

void UI_HeatMapWidget::js_setSubsetName(int cluster, const QString& name)
{
    if (MCV_DerivedDataClusters* shown = followedShownData())
        shown->setClusterName(cluster, toUtf8(name));
}

void UI_HeatMapWidget::selectionRefreshed(void* data)
{
    if (!followLiveRegistry() || !m_shownData || data != m_shownData)
        return;
    m_selectionFlags.clear();
    for (bool selected : m_shownData->selectedClusters())
        m_selectionFlags << (selected ? 1 : 0);
    emit qt_setSelection(m_selectionFlags);
}

void UI_HeatMapWidget::highlightRefreshed(void* data)
{
    if (!followLiveRegistry() || !m_shownData || data != m_shownData)
        return;
    emit qt_setHighlight(m_shownData->highlightedCluster());
}

QString UI_HeatMapWidget::chooseFileForShownData(const char* folderKey, const QString& suffix,
                                                 const QString& nameFilter)
{
    MCV_DerivedDataClusters* shown = followedShownData();
    if (!shown)
        return QString();
    const QString proposed = fromUtf8(ExportFileNames::sanitize(shown->name())) + "." + suffix;
    const QString path = chooseFileToSave(this, folderKey, suffix, nameFilter, proposed);
    return followedShownData() ? path : QString();
}

void UI_HeatMapWidget::js_saveClusters()
{
    // The registry writes FCS files only: no other format is offered.
    const QString path = chooseFileForShownData("dataExportDefaultFilePath", "fcs", "Cytometry Files (*.fcs)");
    if (path.isEmpty())
        return;
    WriteFailure failure;
    if (!MCV_DataRegistry::instance()->exportClustersToFcs(m_shownData->name(), toUtf8(path), &failure)) {
        qDebug().noquote() << "The clusters could not be saved to " + path + ": " + fromUtf8(failure.reason) + ".";
        showSaveFailure(this, failure);
    }
}

void UI_HeatMapWidget::js_saveStatistics()
{
    const QString path = chooseFileForShownData("exportDefaultFilePath", "csv", "Table Files (*.csv)");
    if (path.isEmpty())
        return;
    // Every cluster's file beside the chosen path, named by the cluster,
    // repeated names told apart by their index.
    const QString base = path.left(path.size() - 4);
    qDebug().noquote() << base;
    std::vector<std::string> names;
    for (int i = 0; i < m_shownData->clusterCount(); ++i)
        names.push_back(m_shownData->clusterName(i));
    const std::vector<std::string> parts = ExportFileNames::uniqueParts(names);
    for (int i = 0; i < m_shownData->clusterCount(); ++i) {
        const QString file = base + fromUtf8(parts[static_cast<std::size_t>(i)]) + ".csv";
        if (!PageSaveDialog::writeText(this, file, fromUtf8(m_shownData->selectionStatistics(i))))
            return;
    }
}

void UI_HeatMapWidget::js_saveCSV()
{
    const QString path = chooseFileForShownData("exportDefaultFilePath", "csv", "Table Files (*.csv)");
    if (!path.isEmpty())
        PageSaveDialog::writeText(this, path, fromUtf8(m_shownData->statisticsCsv()));
}

void UI_HeatMapWidget::js_saveSVG(const QString& markup)
{
    const QString document = SvgDocument::standalone(markup, styleBlock());
    if (document.isEmpty()) {
        qDebug().noquote() << "The heat map holds no picture to save.";
        return;
    }
    const QString path = chooseFileForShownData("exportDefaultFilePath", "svg", "SVG Image Files (*.svg)");
    if (!path.isEmpty())
        PageSaveDialog::writeText(this, path, document);
}
