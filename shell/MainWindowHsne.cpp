// The hierarchical SNE: a hierarchy with its overview, settings tab and
// exploration page, the finer levels that drilling in creates, and raising
// a level's view from the page.
#include "MainWindow.h"

#include "UI_Interface.h"

#include "analyses/MCV_HsneAnalysis.h"
#include "analyses/MCV_HsneAnalysisHierarchy.h"
#include "analysis_settings/UI_HsneSettingsWidget.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataExploration.h"
#include "docks/UI_HierarchyWidget.h"
#include "docks/UI_HsneWidget.h"
#include "framework/UI_DockableContainerWidget.h"
#include "scatterplot/UI_ScatterplotWidget.h"

#include <QDebug>

#include <algorithm>

MCV_HsneAnalysisHierarchy* MainWindow::createHsneAnalysis(const QString& name)
{
    if (!hasLoadedData())
        return nullptr;
    const QString unique = makeUniqueAnalysisName(name);
    auto* hierarchy = new MCV_HsneAnalysisHierarchy;
    hierarchy->initialize(m_uiInterface, unique.toStdString());
    hierarchy->setInputData(m_dataRegistry->createAllPointsData());
    m_analyses.push_back(hierarchy);

    auto* panel = new UI_HsneSettingsWidget(this, hierarchy);
    addSettingsPanel(panel, hierarchy);
    connect(panel, &UI_HsneSettingsWidget::dataDownsampled, this, &MainWindow::advertiseNewData);

    auto* page = new UI_HierarchyWidget(this);
    page->setWindowTitle(unique);
    addDockWidget(Qt::RightDockWidgetArea, page);
    page->setVisibility(true);
    m_viewDocks.push_back(page);
    connect(m_uiInterface, &UI_Interface::dataRefreshedSignal, page, &UI_HierarchyWidget::dataRefreshed);
    connect(page, &UI_HierarchyWidget::drillIntoCluster, this, &MainWindow::newHsneLevelFromCluster);
    connect(page, &UI_HierarchyWidget::raiseView, this, &MainWindow::raiseView);

    hierarchy->setExploration(m_dataRegistry->createExplorationData(unique.toStdString(), true));

    auto* overview = new MCV_HsneAnalysis;
    overview->initialize(m_uiInterface, (unique + " - Overview Level").toStdString());
    hierarchy->addLevel(overview);
    showHsneLevel(overview, false);
    updateActionStates();
    return hierarchy;
}

void MainWindow::showHsneLevel(MCV_HsneAnalysis* level, bool run)
{
    m_analyses.push_back(level);
    auto* dock = new UI_HsneWidget(this, level);
    addViewDock(dock, level);
    connect(m_uiInterface, &UI_Interface::analysisInitializedSignal, dock, &UI_HsneWidget::initComputation);
    connect(m_uiInterface, &UI_Interface::analysisUpdatedSignal, dock, &UI_HsneWidget::computationUpdated);
    connect(m_uiInterface, &UI_Interface::analysisMilestoneSignal, dock,
            &UI_HsneWidget::computationMilestoneReached);
    connect(m_uiInterface, &UI_Interface::analysisFinishedSignal, dock, &UI_HsneWidget::computationFinished);
    connect(m_uiInterface, &UI_Interface::dataRefreshedSignal, dock, &UI_HsneWidget::dataRefreshed);
    connect(m_uiInterface, &UI_Interface::selectionRefreshedSignal, dock, &UI_HsneWidget::selectionRefreshed);
    connect(m_uiInterface, &UI_Interface::highlightRefreshedSignal, dock, &UI_HsneWidget::highlightRefreshed);
    connect(dock, &UI_HsneWidget::newHsneLevelTriggered, this, &MainWindow::newHsneLevel);
    connect(dock, &UI_HsneWidget::newHSNELevelTriggeredFromCluster, this, &MainWindow::newHsneLevelFromCluster);
    // The hierarchy's panel drives the mean-shift clustering of all its levels.
    for (UI_SettingsWidget* panel : m_settingsPanels)
        if (auto* hsnePanel = qobject_cast<UI_HsneSettingsWidget*>(panel))
            if (hsnePanel->analysis() == level->owner()) {
                UI_ScatterplotWidget* scatterplot = dock->scatterplot();
                connect(hsnePanel, &UI_HsneSettingsWidget::msGridChanged, scatterplot,
                        &UI_ScatterplotWidget::setMsGrid);
                connect(hsnePanel, &UI_HsneSettingsWidget::computeMSOnceSignal, scatterplot,
                        &UI_ScatterplotWidget::cluster);
                connect(hsnePanel, &UI_HsneSettingsWidget::computeMSotfSignal, scatterplot,
                        &UI_ScatterplotWidget::setOtfClustering);
            }
    if (!run)
        return;
    level->setHierarchy(level->owner()->hierarchy());
    level->runGradientDescent();
}

void MainWindow::newHsneLevel(MCV_HsneAnalysis* parent, MCV_HsneAnalysisHierarchy* hierarchy,
                              std::vector<unsigned>* landmarks)
{
    if (parent == nullptr || hierarchy == nullptr || landmarks == nullptr
        || std::find(m_analyses.begin(), m_analyses.end(), parent) == m_analyses.end()
        || std::find(m_analyses.begin(), m_analyses.end(), hierarchy) == m_analyses.end())
        return;
    const QString name = makeUniqueAnalysisName(
        QString("%1 - Scale %2").arg(QString::fromStdString(hierarchy->name())).arg(parent->scale() - 1));
    if (MCV_HsneAnalysis* level = hierarchy->createLevel(parent, *landmarks, name.toStdString()))
        showHsneLevel(level, true);
}

void MainWindow::newHsneLevelFromCluster(MCV_DerivedDataExploration* exploration, const QString& name,
                                         const QString& clustersName, int clusterIndex, const QString& parentName,
                                         int)
{
    for (QDockWidget* dock : m_viewDocks)
        if (dock->windowTitle() == name && qobject_cast<UI_HsneWidget*>(dock)) {
            raiseView(name, -1);
            return;
        }
    MCV_HsneAnalysis* parent = nullptr;
    for (MCV_Analysis* analysis : m_analyses)
        if (analysis->analysisType() == MCV_AnalysisTypeHsne && QString::fromStdString(analysis->name()) == parentName)
            parent = dynamic_cast<MCV_HsneAnalysis*>(analysis);
    MCV_HsneAnalysisHierarchy* hierarchy = parent ? parent->owner() : nullptr;
    if (hierarchy == nullptr || exploration == nullptr || hierarchy->exploration() != exploration) {
        qDebug().noquote() << "HSNE: no level of" << parentName << "shows the exploration asked to drill into.";
        return;
    }
    const std::string set = clustersName.toStdString();
    if (exploration->nodeIndex(name.toStdString()) < 0)
        parent->drillIntoCluster(set);
    std::vector<unsigned> landmarks;
    if (!hierarchy->clusterLandmarks(parent, set, clusterIndex, landmarks))
        return;
    if (MCV_HsneAnalysis* level = hierarchy->createLevel(parent, landmarks, name.toStdString()))
        showHsneLevel(level, true);
}

void MainWindow::raiseView(const QString& name, int marker)
{
    for (QDockWidget* dock : m_viewDocks) {
        if (dock->windowTitle() != name)
            continue;
        if (auto* view = qobject_cast<UI_DockableWidget*>(dock))
            view->setVisibility(true);
        dock->raise();
        if (auto* level = qobject_cast<UI_HsneWidget*>(dock))
            if (marker >= 0 && level->scatterplot() != nullptr)
                level->scatterplot()->setMarker(marker);
        return;
    }
}
