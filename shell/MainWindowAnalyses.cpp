// Creating, choosing and removing the main window's analyses.
#include "MainWindow.h"

#include "analyses/MCV_Analysis.h"
#include "data/MCV_DataRegistry.h"
#include "widgets/UI_SettingsWidget.h"

#include <QDebug>
#include <QDockWidget>

#include <algorithm>

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

void MainWindow::newSpadeAnalysisTriggered()
{
    if (!hasLoadedData())
        return;
    // Filled by the SPADE analysis work: name prompt, analysis, view dock and settings tab.
}

void MainWindow::newTsneAnalysisTriggered()
{
    if (!hasLoadedData())
        return;
    // Filled by the A-tSNE analysis work: name prompt, channels, analysis, view dock and settings tab.
}

void MainWindow::scatterPlotViewTriggered()
{
    // Filled by the A-tSNE view work: one more scatterplot on a chosen A-tSNE analysis.
}

void MainWindow::spadeViewTriggered()
{
    // Filled by the SPADE view work: one more tree view on a chosen SPADE analysis.
}

void MainWindow::removeAnalyses(std::vector<std::string>*)
{
    // Filled by the analysis work: asks the named A-tSNE and hierarchical SNE
    // analyses to go; each then announces readyForDeletionSignal.
}

void MainWindow::deleteAnalysis(void* analysis)
{
    auto found = std::find(m_analyses.begin(), m_analyses.end(), static_cast<MCV_Analysis*>(analysis));
    if (found == m_analyses.end())
        return;
    const QString name = QString::fromStdString((*found)->name());
    MCV_Analysis* doomed = *found;
    m_analyses.erase(found);
    // Its settings tabs go with it: they would reach the destroyed analysis.
    for (auto panel = m_settingsPanels.size(); panel-- > 0;) {
        if (m_settingsPanels[panel]->analysis() == doomed) {
            delete m_settingsPanels[panel];
            m_settingsPanels.erase(m_settingsPanels.begin() + static_cast<std::ptrdiff_t>(panel));
        }
    }
    delete doomed;

    for (auto dock = m_viewDocks.size(); dock-- > 0;) {
        if (m_viewDocks[dock]->windowTitle() == name) {
            delete m_viewDocks[dock];
            m_viewDocks.erase(m_viewDocks.begin() + static_cast<std::ptrdiff_t>(dock));
        }
    }
}
