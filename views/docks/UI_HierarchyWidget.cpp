#include "docks/UI_HierarchyWidget.h"

#include "data/DefaultStateStore.h"
#include "data/FcsHeader.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataExploration.h"
#include "data/TextEscaping.h"
#include "web/PageBridge.h"
#include "web/PageSaveDialog.h"
#include "web/SvgDocument.h"

#include <QFileInfo>

UI_HierarchyWidget::UI_HierarchyWidget(QWidget* parent, const QString& page)
    : UI_PageDockWidget(parent, QFileInfo(page).path() + "/hierarchy.css")
{
    buildWebView(page);
}

MCV_DerivedDataExploration* UI_HierarchyWidget::followedShownData()
{
    followLiveRegistry();
    return m_shownData;
}

void UI_HierarchyWidget::showLiveRegistry()
{
    // The chooser lists the old registry's trees even when none is shown.
    m_shownData = nullptr;
    reloadPageLater();
}

QString UI_HierarchyWidget::markerNamesJson()
{
    std::string json = "{\"names\": [";
    const FcsHeader* header =
        MCV_DataRegistry::currentGeneration() != 0 ? MCV_DataRegistry::instance()->mergedHeader() : nullptr;
    const size_t count = header ? header->parameterCount() : 0;
    if (count == 0)
        json += "\"\"";
    for (size_t p = 0; p < count; ++p)
        json += (p ? ", " : "") + TextEscaping::jsonString(header->parameters()[p].shortName);
    json += "]}";
    return QString::fromStdString(json);
}

QString UI_HierarchyWidget::scriptFileText(MCV_DerivedDataExploration* data)
{
    return "var data = \"" + QString::fromStdString(data->escapedJsonString()) + "\";";
}

void UI_HierarchyWidget::js_debug(const QString& text)
{
    PageBridge::debugLine(text);
}

void UI_HierarchyWidget::webViewFinishedLoading(bool)
{
    if (MCV_DataRegistry::currentGeneration() == 0)
        return;
    for (MCV_DerivedDataExploration* data : MCV_DataRegistry::instance()->explorationDataList())
        emit qt_addAvailableData(QString::fromStdString(data->name()));
}

void UI_HierarchyWidget::dataRefreshed(void* data)
{
    followLiveRegistry();
    if (data == nullptr || MCV_DataRegistry::currentGeneration() == 0)
        return;
    // Only trees of the live registry are read: the pointer is compared, never followed, before that.
    MCV_DerivedDataExploration* exploration = nullptr;
    for (MCV_DerivedDataExploration* known : MCV_DataRegistry::instance()->explorationDataList())
        if (known == data)
            exploration = known;
    if (exploration == nullptr)
        return;
    emit qt_addAvailableData(QString::fromStdString(exploration->name()));
    if (exploration == m_shownData)
        emit qt_setData(QString::fromStdString(exploration->jsonString()));
}

void UI_HierarchyWidget::js_selectData(const QString& name)
{
    PageBridge::debugLine("Data Selected: " + name);
    const std::vector<bool>& states = DefaultStateStore::instance()->markerStates;
    if (!states.empty()) {
        QList<int> flags;
        for (bool state : states)
            flags << (state ? 1 : 0);
        emit qt_setMarkerSelection(flags);
    }
    emit qt_setMarkerNames(markerNamesJson());
    m_shownData = nullptr;
    if (MCV_DataRegistry::currentGeneration() == 0)
        return;
    markLiveRegistryShown();
    m_shownData = MCV_DataRegistry::instance()->createExplorationData(name.toStdString(), true);
    if (followLiveRegistry() && m_shownData)
        emit qt_setData(QString::fromStdString(m_shownData->jsonString()));
}

void UI_HierarchyWidget::js_drillIntoCluster(const QString& name, const QString& clustersName, int clusterIndex,
                                             const QString& parentName, int marker)
{
    emit drillIntoCluster(followedShownData(), name, clustersName, clusterIndex, parentName, marker);
}

void UI_HierarchyWidget::js_saveSVG(const QString& markup)
{
    if (MCV_DerivedDataExploration* data = followedShownData())
        SvgDocument::save(this, markup, styleBlock(), QString::fromStdString(data->name()));
}

void UI_HierarchyWidget::js_saveJSON()
{
    MCV_DerivedDataExploration* data = followedShownData();
    if (data == nullptr)
        return;
    const QString path = PageSaveDialog::chooseFile(this, QString::fromStdString(data->name()), "js",
                                                    "JSON Files (*.js)");
    // The dialog runs its own event loop: the files may have been reopened.
    if (!path.isEmpty() && (data = followedShownData()) != nullptr)
        PageSaveDialog::writeText(this, path, scriptFileText(data));
}

void UI_HierarchyWidget::js_raiseView(const QString& name, int marker)
{
    emit raiseView(name, marker);
}
