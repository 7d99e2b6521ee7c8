#include "MainWindow.h"

#include "UI_AboutDialog.h"
#include "UI_Interface.h"
#include "UpdateChecker.h"
#include "ui_MainWindow.h"

#include "analyses/MCV_Analysis.h"
#include "data/MCV_DataRegistry.h"
#include "docks/UI_FileInfoWidget.h"
#include "docks/UI_HeatMapWidget.h"
#include "framework/UI_DockableContainerWidget.h"
#include "framework/UI_DockableWidget.h"
#include "framework/UI_Settings.h"
#include "panels/UI_SettingsWidget.h"

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , m_ui(new Ui_MainWindow)
{
    m_ui->setupUi(this);
    m_uiInterface = new UI_Interface();
    createSettingsDock();
    connectInterfaceSignals();
    m_settings = UI_Settings::instance();
}

MainWindow::~MainWindow()
{
    for (MCV_Analysis* analysis : m_analyses)
        delete analysis;
    for (QDockWidget* dock : m_viewDocks)
        delete dock;
    for (UI_SettingsWidget* panel : m_settingsPanels)
        delete panel;
    win_sparkle_cleanup();
    delete m_ui;
}

void MainWindow::createSettingsDock()
{
    m_settingsDock = new UI_DockableContainerWidget(this);
    m_settingsDock->setWindowTitle("Settings");
    m_settingsDock->setMinimumWidth(300);
    m_settingsDock->setMaximumWidth(500);
    addDockWidget(Qt::LeftDockWidgetArea, m_settingsDock);
    m_settingsDock->setVisibility(true);
    updateActionStates();
}

void MainWindow::connectInterfaceSignals()
{
    connect(m_uiInterface, &UI_Interface::newDerivedDataAddedSignal, this, &MainWindow::advertiseNewData);
    connect(m_uiInterface, &UI_Interface::dimensionsAddedSignal, this, &MainWindow::advertiseNewDimensions);
    connect(m_uiInterface, &UI_Interface::readyForDeletionSignal, this, &MainWindow::deleteAnalysis);
    connect(m_uiInterface, &UI_Interface::analysesRemovedSignal, this, &MainWindow::removeAnalyses);
}

void MainWindow::updateActionStates()
{
    m_ui->actionExportSpadeTree->setEnabled(m_exportEnabled);
    m_ui->actionNewSpadeAnalysis->setEnabled(m_newSpadeEnabled);
    m_ui->actionNewTsneAnalysis->setEnabled(m_newTsneEnabled);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // A copy: an analysis that is not running is deleted inside its request.
    const std::vector<MCV_Analysis*> analyses = m_analyses;
    for (MCV_Analysis* analysis : analyses)
        analysis->requestDeletion();
    QMainWindow::closeEvent(event);
}

void MainWindow::refreshFileInfo()
{
    if (!m_fileInfoWidget || !m_dataRegistry || !m_dataRegistry->mergedHeader())
        return;
    m_fileInfoWidget->setText(QString::fromStdString(m_dataRegistry->mergedHeader()->infoText()));
}

void MainWindow::advertiseNewData()
{
    for (UI_SettingsWidget* panel : m_settingsPanels)
        panel->refreshInputData();
}

void MainWindow::advertiseNewDimensions()
{
    for (MCV_Analysis* analysis : m_analyses)
        analysis->resizeMarkerFlags();
    refreshFileInfo();
    for (UI_SettingsWidget* panel : m_settingsPanels)
        panel->updateMarkerSelection();
}

void MainWindow::followLoadedFiles()
{
    advertiseNewData();
    advertiseNewDimensions();
    for (QDockWidget* dock : m_viewDocks)
        if (auto* view = qobject_cast<UI_DockableWidget*>(dock))
            view->filesReopened();
}

void MainWindow::checkForUpdatesTriggered()
{
    win_sparkle_check_update_with_ui();
}

void MainWindow::aboutTriggered()
{
    if (!m_aboutDialog)
        m_aboutDialog = new UI_AboutDialog(this, Qt::Dialog);
    m_aboutDialog->show();
    m_aboutDialog->raise();
    m_aboutDialog->activateWindow();
}

void MainWindow::exportSpadeTree()
{
}

void MainWindow::fileInfoViewTriggered()
{
    if (!m_fileInfoWidget) {
        m_fileInfoWidget = new UI_FileInfoWidget(this);
        addDockWidget(Qt::RightDockWidgetArea, m_fileInfoWidget);
        m_fileInfoWidget->setFloating(true);
        refreshFileInfo();
    }
    m_fileInfoWidget->toggleVisibility();
}

void MainWindow::settingsViewTriggered()
{
    m_settingsDock->toggleVisibility();
}

void MainWindow::heatMapViewTriggered()
{
    auto* view = new UI_HeatMapWidget(this);
    view->setWindowTitle("HeatMap View");
    addDockWidget(Qt::RightDockWidgetArea, view);
    view->setVisibility(true);
    connect(m_uiInterface, &UI_Interface::dataRefreshedSignal, view, &UI_HeatMapWidget::dataRefreshed);
    connect(m_uiInterface, &UI_Interface::selectionRefreshedSignal, view, &UI_HeatMapWidget::selectionRefreshed);
    connect(m_uiInterface, &UI_Interface::highlightRefreshedSignal, view, &UI_HeatMapWidget::highlightRefreshed);
    m_viewDocks.push_back(view);
}

void MainWindow::activeMarkerChanged(int, int)
{
}
