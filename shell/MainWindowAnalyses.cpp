// Creating, choosing and removing the main window's analyses.
#include "MainWindow.h"

#include "UI_AnalysisSelectionDialog.h"
#include "UI_Interface.h"

#include "analyses/MCV_SpadeAnalysis.h"
#include "analyses/MCV_TsneAnalysis.h"
#include "analysis_settings/UI_SpadeSettingsWidget.h"
#include "analysis_settings/UI_TsneSettingsWidget.h"
#include "data/FcsHeader.h"
#include "data/MCV_DataRegistry.h"
#include "docks/UI_SpadeWidget.h"
#include "docks/UI_TsneWidget.h"
#include "framework/UI_DockableContainerWidget.h"

#include <QDebug>
#include <QDockWidget>
#include <QInputDialog>

#include <algorithm>

namespace {

/// Dock and tab titles show the name as it is: '&' would make a shortcut in a tab.
QString tabTitle(const std::string& name)
{
    return QString::fromStdString(name).replace('&', "&&");
}

} // namespace

QString MainWindow::makeUniqueAnalysisName(const QString& base) const
{
    QString candidate = base;
    int k = 1;
    bool taken = true;
    while (taken) {
        taken = false;
        for (const MCV_Analysis* analysis : m_analyses) {
            if (QString::fromStdString(analysis->name()) == candidate) {
                candidate = base + " " + QString::number(k++);
                taken = true;
                break;
            }
        }
    }
    return candidate;
}

void MainWindow::addAnalysis(MCV_Analysis* analysis)
{
    m_analyses.push_back(analysis);
}

bool MainWindow::hasLoadedData() const
{
    if (m_dataRegistry && m_dataRegistry->sampleCount() > 0)
        return true;
    qDebug().noquote() << "No files are loaded: open FCS files before starting an analysis.";
    return false;
}

QString MainWindow::askAnalysisName(const QString& baseName, const QString& kind)
{
    if (!hasLoadedData())
        return QString();
    const QString answer = QInputDialog::getText(
        nullptr, "Analysis Name",
        "Please name the new " + kind
            + " Analysis.\n Please use unique names to identify your analysis in the system.",
        QLineEdit::Normal, makeUniqueAnalysisName(baseName));
    if (answer.isEmpty())
        return QString();
    return makeUniqueAnalysisName(answer);
}

void MainWindow::addViewDock(UI_DockableWidget* dock, const MCV_Analysis* analysis)
{
    dock->setWindowTitle(QString::fromStdString(analysis->name()));
    addDockWidget(Qt::RightDockWidgetArea, dock);
    dock->setVisibility(true);
    m_viewDocks.push_back(dock);
}

void MainWindow::addSettingsPanel(UI_SettingsWidget* panel, const MCV_Analysis* analysis)
{
    m_settingsDock->addTab(panel, tabTitle(analysis->name()));
    m_settingsPanels.push_back(panel);
}

void MainWindow::connectTsneView(UI_TsneWidget* dock)
{
    connect(m_uiInterface, &UI_Interface::analysisInitializedSignal, dock, &UI_TsneWidget::initComputation);
    connect(m_uiInterface, &UI_Interface::analysisUpdatedSignal, dock, &UI_TsneWidget::computationUpdated);
    connect(m_uiInterface, &UI_Interface::analysisFinishedSignal, dock, &UI_TsneWidget::computationFinished);
    connect(m_uiInterface, &UI_Interface::dataRefreshedSignal, dock, &UI_TsneWidget::dataRefreshed);
    connect(m_uiInterface, &UI_Interface::selectionRefreshedSignal, dock, &UI_TsneWidget::selectionRefreshed);
    connect(m_uiInterface, &UI_Interface::highlightRefreshedSignal, dock, &UI_TsneWidget::highlightRefreshed);
}

void MainWindow::connectSpadeView(UI_SpadeWidget* dock)
{
    connect(m_uiInterface, &UI_Interface::dataRefreshedSignal, dock, &UI_SpadeWidget::dataRefreshed);
    connect(m_uiInterface, &UI_Interface::selectionRefreshedSignal, dock, &UI_SpadeWidget::selectionRefreshed);
    connect(m_uiInterface, &UI_Interface::highlightRefreshedSignal, dock, &UI_SpadeWidget::highlightRefreshed);
    // A slave page follows the master's layout at every highlight change.
    if (dock->isSlave())
        connect(m_uiInterface, &UI_Interface::highlightRefreshedSignal, dock, &UI_SpadeWidget::spadePositionsRefreshed);
    connect(dock, &UI_SpadeWidget::subtreeCreated, this, &MainWindow::advertiseNewData);
}

MCV_Analysis* MainWindow::chooseAnalysis(int analysisType)
{
    std::vector<MCV_Analysis*> candidates;
    QStringList names;
    for (MCV_Analysis* analysis : m_analyses) {
        if (analysis->analysisType() == analysisType) {
            candidates.push_back(analysis);
            names << QString::fromStdString(analysis->name());
        }
    }
    if (candidates.size() < 2)
        return candidates.empty() ? nullptr : candidates.front();

    // Kept as a hidden child of the window after use, like the post-load dialog.
    auto* chooser = new UI_AnalysisSelectionDialog(
        this, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    chooser->build(names);
    if (chooser->exec() != QDialog::Accepted)
        return nullptr;
    const int row = chooser->selectedIndexes();
    // The list may have changed while the chooser ran (a run goes on meanwhile).
    if (row < 0 || row >= static_cast<int>(candidates.size())
        || std::find(m_analyses.begin(), m_analyses.end(), candidates[row]) == m_analyses.end())
        return nullptr;
    return candidates[row];
}

void MainWindow::newSpadeAnalysisTriggered()
{
    const QString name = askAnalysisName("Spade Analysis", "Spade");
    if (name.isEmpty())
        return;

    auto* analysis = new MCV_SpadeAnalysis;
    analysis->initialize(m_uiInterface, name.toStdString());
    auto* dock = new UI_SpadeWidget(this, analysis, false);
    addViewDock(dock, analysis);
    auto* panel = new UI_SpadeSettingsWidget(this, analysis);
    addSettingsPanel(panel, analysis);
    connectSpadeView(dock);
    m_analyses.push_back(analysis);
    updateActionStates();
}

void MainWindow::newTsneAnalysisTriggered()
{
    const QString name = askAnalysisName("A-tSNE Analysis", "A-tSNE");
    if (name.isEmpty())
        return;

    // The channels come first, so the analysis' markers include them.
    std::vector<std::string> channels;
    for (const char* channel : {"VSRNE_TsneX", "VSRNE_TsneY"}) {
        if (m_dataRegistry->mergedHeader()->parameterIndex(channel) < 0) {
            qDebug().noquote() << QString("Adding Channel \"%1\".").arg(channel);
            channels.push_back(channel);
        }
    }
    m_dataRegistry->appendChannels(channels, 0.0f);

    auto* analysis = new MCV_TsneAnalysis;
    analysis->initialize(m_uiInterface, name.toStdString());
    auto* dock = new UI_TsneWidget(this, analysis);
    addViewDock(dock, analysis);
    auto* panel = new UI_TsneSettingsWidget(this, analysis);
    addSettingsPanel(panel, analysis);
    connectTsneView(dock);
    connect(panel, &UI_TsneSettingsWidget::dataDownsampled, this, &MainWindow::advertiseNewData);
    m_analyses.push_back(analysis);
    updateActionStates();
}

void MainWindow::scatterPlotViewTriggered()
{
    auto* analysis = static_cast<MCV_TsneAnalysis*>(chooseAnalysis(MCV_AnalysisTypeTsne));
    if (!analysis)
        return;
    auto* dock = new UI_TsneWidget(this, analysis);
    addViewDock(dock, analysis);
    if (analysis->isEmbeddingLive())
        dock->initComputation(analysis);
    connectTsneView(dock);
}

void MainWindow::spadeViewTriggered()
{
    // Template-matching analyses share the type: their trees are shown the same way.
    MCV_Analysis* analysis = chooseAnalysis(MCV_AnalysisTypeSpade);
    if (!analysis)
        return;
    auto* dock = new UI_SpadeWidget(this, analysis, true);
    connectSpadeView(dock);
    addViewDock(dock, analysis);
}

void MainWindow::removeAnalyses(std::vector<std::string>* analysisNames)
{
    if (!analysisNames || analysisNames->empty())
        return;
    const std::vector<std::string> names = *analysisNames;
    // Targets first: an analysis that is not running is deleted inside its
    // request, which changes the list.
    std::vector<MCV_Analysis*> targets;
    for (auto a = m_analyses.size(); a-- > 0;) {
        MCV_Analysis* analysis = m_analyses[a];
        const int type = analysis->analysisType();
        if ((type == MCV_AnalysisTypeTsne || type == MCV_AnalysisTypeHsne)
            && std::find(names.begin(), names.end(), analysis->name()) != names.end())
            targets.push_back(analysis);
    }
    for (MCV_Analysis* analysis : targets)
        if (std::find(m_analyses.begin(), m_analyses.end(), analysis) != m_analyses.end())
            analysis->requestDeletion();
}

void MainWindow::deleteAnalysis(void* analysis)
{
    auto found = std::find(m_analyses.begin(), m_analyses.end(), static_cast<MCV_Analysis*>(analysis));
    if (found == m_analyses.end())
        return;
    MCV_Analysis* doomed = *found;
    const QString name = QString::fromStdString(doomed->name());
    m_analyses.erase(found);

    // Views and panel let go of the analysis before it goes.
    for (auto dock = m_viewDocks.size(); dock-- > 0;)
        if (m_viewDocks[dock]->windowTitle() == name)
            releaseViewDock(m_viewDocks[dock]);
    for (auto panel = m_settingsPanels.size(); panel-- > 0;)
        if (m_settingsPanels[panel]->analysis() == doomed)
            releaseSettingsPanel(m_settingsPanels[panel]);
    delete doomed;
}

void MainWindow::releaseViewDock(QDockWidget* dock)
{
    m_viewDocks.erase(std::find(m_viewDocks.begin(), m_viewDocks.end(), dock));
    m_uiInterface->disconnect(dock);
    if (auto* view = qobject_cast<UI_DockableWidget*>(dock))
        view->detachAnalysis();
    dock->hide();
    removeDockWidget(dock);
    dock->deleteLater();
}

void MainWindow::releaseSettingsPanel(UI_SettingsWidget* panel)
{
    m_settingsPanels.erase(std::find(m_settingsPanels.begin(), m_settingsPanels.end(), panel));
    panel->disconnect(this);
    panel->detachAnalysis();
    m_settingsDock->removeTab(panel);
    panel->hide();
    panel->deleteLater();
}
