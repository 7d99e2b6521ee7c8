// The template-matching analysis of the main window: a reference table read
// from a CSV file, the analysis and its settings tab.
#include "MainWindow.h"

#include "UI_Interface.h"
#include "csvToFloatTable.h"

#include "analyses/MCV_TemplateAnalysis.h"
#include "analysis_settings/UI_TemplateSettingsWidget.h"
#include "data/FcsHeader.h"
#include "data/MCV_DataRegistry.h"
#include "framework/UI_DockableContainerWidget.h"
#include "framework/UI_Settings.h"
#include "framework/chooseFilesToOpen.h"
#include "framework/showPlainMessage.h"

#include <QFileInfo>
#include <QInputDialog>

#include <iostream>

namespace {

const char* const kDefaultName = "Template Matching Analysis";

/// Says on standard output and in a warning box why the table is not used.
void refuseTable(QWidget* window, const QString& message)
{
    std::cout << message.toStdString() << "\n" << std::flush;
    // The message quotes a path and the file's own text.
    showPlainMessage(window, QMessageBox::Warning, "Template table", message);
}

} // namespace

void MainWindow::classifyData()
{
    m_settings->sync();
    const QString lastDirectory = m_settings->value("dataDefaultFilePath", QString()).toString();
    const QStringList chosen =
        chooseFilesToOpen(this, QFileDialog::ExistingFiles, lastDirectory, "cvs table (*.csv)");
    if (chosen.isEmpty())
        return;

    const QString path = chosen.first();
    CsvTableRefusal refusal;
    QStringList header;
    const std::vector<std::vector<float>> table = csvToFloatTable(path, &refusal, &header);
    if (refusal.unevenRecords)
        std::cout << "ERROR: Not all csv lines are of the same size. ";

    m_settings->setValue("dataDefaultFilePath", QFileInfo(path).absolutePath());
    m_settings->sync();

    if (table.empty()) {
        refuseTable(this, refusal.message);
        return;
    }
    if (!hasLoadedData() || !m_dataRegistry->mergedHeader())
        return;
    const QString mismatch = templateColumnsMismatch(path, header, *m_dataRegistry->mergedHeader());
    if (!mismatch.isEmpty()) {
        refuseTable(this, mismatch);
        return;
    }

    QString name = QInputDialog::getText(nullptr, "Analysis Name",
                                         "Please name the new Template Matching Analysis.\n Please use unique "
                                         "names to identify your analysis in the system.",
                                         QLineEdit::Normal, kDefaultName);
    if (name.isEmpty())
        name = kDefaultName;

    // The analysis publishes its clusters set under the name; the registry
    // makes that unique and the analysis adopts it.
    auto* analysis = new MCV_TemplateAnalysis();
    analysis->initialize(m_uiInterface, name.toStdString(), table);
    auto* panel = new UI_TemplateSettingsWidget(this, analysis);
    m_settingsDock->addTab(panel, QString::fromStdString(analysis->name()));

    m_analyses.push_back(analysis);
    m_settingsPanels.push_back(panel);
    updateActionStates();
}
