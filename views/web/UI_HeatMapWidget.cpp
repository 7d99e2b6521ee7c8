#include "web/UI_HeatMapWidget.h"

#include "bridge/PageBridge.h"
#include "data/DefaultStateStore.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataPoints.h"

#include <QDebug>
#include <QGridLayout>
#include <QTimer>
#include <QWebFrame>
#include <QWebPage>
#include <QWebView>

namespace {

const char* const kPage = ":/heatmap/heatmap.html";
const char* const kBaseUrl = "qrc:/heatmap/";

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
    : UI_DockableWidget(parent)
{
    buildWebView();
}

void UI_HeatMapWidget::buildWebView()
{
    m_webView = new QWebView(this);
    m_layout->addWidget(m_webView, 0, 0);
    m_mainFrame = m_webView->page()->mainFrame();
    connect(m_webView, &QWebView::loadFinished, this, &UI_HeatMapWidget::webViewFinishedLoading);
    m_generation = MCV_DataRegistry::currentGeneration();
    PageBridge::setUp(m_webView, this, kPage, kBaseUrl);
    m_styleBlock = SvgDocument::styleBlock(":/heatmap/heatmap.css");
}

void UI_HeatMapWidget::connectJs()
{
    PageBridge::publishHost(m_mainFrame, this);
}

void UI_HeatMapWidget::js_debug(const QString& text)
{
    PageBridge::debugLine(text);
}

bool UI_HeatMapWidget::followRegistry()
{
    if (!m_reloadPending && MCV_DataRegistry::currentGeneration() == m_generation)
        return true;
    m_shownData = nullptr;
    m_selectionFlags.clear();
    if (!m_reloadPending) {
        m_reloadPending = true;
        // Not inside the running call: it may come from the page itself.
        QTimer::singleShot(0, this, &UI_HeatMapWidget::reloadPage);
    }
    return false;
}

void UI_HeatMapWidget::reloadPage()
{
    qDebug().noquote() << "The data were reopened: the heat map lists the new clusters sets.";
    PageBridge::loadPage(m_webView, kPage, kBaseUrl);
}

MCV_DerivedDataClusters* UI_HeatMapWidget::liveShownData()
{
    return followRegistry() ? m_shownData : nullptr;
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
    m_reloadPending = false;
    m_generation = MCV_DataRegistry::currentGeneration();
    m_shownData = nullptr;
    m_selectionFlags.clear();
    // Without loaded files there is no registry to list; none is made here.
    if (m_generation != 0)
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
    if (!followRegistry() || !data)
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
    if (!followRegistry())
        return;
    m_shownData = MCV_DataRegistry::instance()->createClustersData(toUtf8(name), true);
    // Creating a set may have made the first registry.
    m_generation = MCV_DataRegistry::currentGeneration();
    m_selectionFlags.clear();
    if (m_shownData)
        emit qt_setData(fromUtf8(m_shownData->jsonString()));
}

void UI_HeatMapWidget::js_selectionUpdated(const QList<int>& flags)
{
    MCV_DerivedDataClusters* shown = liveShownData();
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
    if (MCV_DerivedDataClusters* shown = liveShownData())
        shown->setHighlightedCluster(cluster);
}

void UI_HeatMapWidget::js_mergeClusters(const QList<int>& flags)
{
    MCV_DerivedDataClusters* shown = liveShownData();
    if (!shown)
        return;
    const std::vector<int> indices = flaggedClusters(flags);
    if (indices.size() >= 2)
        shown->mergeClusters(indices);
}

void UI_HeatMapWidget::js_setSubsetName(int cluster, const QString& name)
{
    if (MCV_DerivedDataClusters* shown = liveShownData())
        shown->setClusterName(cluster, toUtf8(name));
}

void UI_HeatMapWidget::selectionRefreshed(void* data)
{
    if (!followRegistry() || !m_shownData || data != m_shownData)
        return;
    m_selectionFlags.clear();
    for (bool selected : m_shownData->selectedClusters())
        m_selectionFlags << (selected ? 1 : 0);
    emit qt_setSelection(m_selectionFlags);
}

void UI_HeatMapWidget::highlightRefreshed(void* data)
{
    if (!followRegistry() || !m_shownData || data != m_shownData)
        return;
    emit qt_setHighlight(m_shownData->highlightedCluster());
}
