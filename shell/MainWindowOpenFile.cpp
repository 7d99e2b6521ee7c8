// Opening files and the post-load dialog of the main window.
#include "MainWindow.h"

#include "UI_Interface.h"

#include "data/DefaultStateStore.h"
#include "data/FcsError.h"
#include "data/FcsHeader.h"
#include "data/MCV_DataRegistry.h"
#include "data/ReplacingFile.h"
#include "docks/UI_FileInfoWidget.h"
#include "framework/UI_ExpanderWidget.h"
#include "framework/UI_Settings.h"
#include "framework/chooseFilesToOpen.h"
#include "framework/showPlainMessage.h"
#include "framework/sideFilePath.h"
#include "panels/UI_MarkerSelectionWidget.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDebug>
#include <QDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalMapper>

#include <string>
#include <vector>

namespace {

/// The chosen paths without repeats, first occurrences in their order.
QStringList withoutDuplicates(const QStringList& paths)
{
    QStringList unique;
    for (const QString& path : paths)
        if (!unique.contains(path))
            unique << path;
    return unique;
}

/// "Could not open file " + path + the load message of the code.
QString loadFailureText(const QString& path, int code)
{
    const bool known = code >= 0 && code < static_cast<int>(fcsErrorMessages.size());
    const std::string& message = fcsErrorMessages[known ? code : FcsErrorUnknown];
    return "Could not open file " + path + QString::fromStdString(message);
}

} // namespace

void MainWindow::openFile()
{
    m_settings->sync();
    const QString lastDirectory = m_settings->value("dataDefaultFilePath", QString()).toString();
    const QStringList chosen =
        chooseFilesToOpen(this, QFileDialog::ExistingFiles, lastDirectory, "Cytometry Files (*.fcs)");
    if (chosen.isEmpty())
        return;

    const QString directory = QFileInfo(chosen.first()).absolutePath();
    m_settings->setValue("dataDefaultFilePath", directory);
    m_settings->sync();

    std::vector<bool> defaultStates;
    if (readDefaultMarkerStates(defaultMarkersFilePath(directory), defaultStates)) {
        DefaultStateStore::instance()->setMarkerStates(defaultStates);
        qDebug().noquote() << "Loaded default marker states from file.";
    }

    const QStringList paths = withoutDuplicates(chosen);

    // Replacing the registry. Deleting it frees every sample and derived data
    // set it holds, while the window's analyses, view docks and panels live
    // on. The rule for everything that keeps a pointer into the registry (an
    // analysis' input set, the sets a view shows, a panel's choice): store
    // MCV_DataRegistry::generation() together with the pointer and never
    // follow the pointer once MCV_DataRegistry::currentGeneration() differs;
    // look the set up again by name in the live registry, or drop it.
    // MCV_Analysis::inputData() already answers null in that case.
    delete m_dataRegistry;
    m_dataRegistry = MCV_DataRegistry::instance();
    m_dataRegistry->setUiInterface(m_uiInterface);

    for (const QString& path : paths) {
        const int code = m_dataRegistry->loadFcsFile(path.toStdString());
        if (code == FcsErrorNone)
            continue;
        // No completed load: the analyses cannot start and the file information describes nothing.
        m_newSpadeEnabled = false;
        m_newTsneEnabled = false;
        updateActionStates();
        if (m_fileInfoWidget)
            m_fileInfoWidget->setText(QString());
        showPlainMessage(this, QMessageBox::Critical, "Error", loadFailureText(path, code));
        return;
    }

    m_dataRegistry->createAllPointsData();
    followLoadedFiles();
    m_newSpadeEnabled = true;
    m_newTsneEnabled = true;
    updateActionStates();

    const int choice = runPostLoadDialog();

    const std::vector<bool> asinhMarkers = m_asinhMarkerPanel->markerStates();
    if (m_asinhCheckBox->isChecked()) {
        qDebug().noquote() << "Applying arcsinh 5 Transform.";
        m_dataRegistry->applyArcsinh(5, asinhMarkers);
    }
    if (m_sampleTagCheckBox->isChecked()) {
        qDebug().noquote() << "Adding Sample Tag Channel \"VSRNE_ST\".";
        m_dataRegistry->appendChannels({"VSRNE_ST"}, -1.0f);
        writeSampleTagFile(directory);
    }

    if (choice == 1)
        newSpadeAnalysisTriggered();
    else if (choice == 2)
        newTsneAnalysisTriggered();
}

int MainWindow::runPostLoadDialog()
{
    m_postLoadDialog = new QDialog(this, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                                             | Qt::WindowCloseButtonHint);
    m_postLoadDialog->setMinimumWidth(450);
    m_postLoadDialog->setModal(true);
    m_postLoadDialog->setWindowTitle("Succes");

    auto* layout = new QGridLayout(m_postLoadDialog);
    layout->setSpacing(15);

    auto* title = new QLabel("Files loaded succesfully.", m_postLoadDialog);
    QFont font = title->font();
    font.setPointSize(12);
    title->setFont(font);
    layout->addWidget(title, 0, 0, 1, 4);

    m_sampleTagCheckBox = new QCheckBox("Add Unique Sample Tag as Channel.", m_postLoadDialog);
    layout->addWidget(m_sampleTagCheckBox, 1, 0, 1, 4);
    m_asinhCheckBox = new QCheckBox("Apply Hyperbolic ArcSin 5 Transform.", m_postLoadDialog);
    layout->addWidget(m_asinhCheckBox, 2, 0, 1, 4);

    m_asinhExpander = new UI_ExpanderWidget(m_postLoadDialog, false, true);
    m_asinhExpander->setTitle("Select Markers for ArcSinH Transform");
    m_asinhMarkerPanel = new UI_MarkerSelectionWidget(m_postLoadDialog, 4);
    m_asinhMarkerPanel->populate(false);
    m_asinhExpander->setBody(m_asinhMarkerPanel);
    layout->addWidget(m_asinhExpander, 3, 0, 1, 4);

    auto* spadeButton = new QPushButton("Start SPADE", m_postLoadDialog);
    auto* tsneButton = new QPushButton("Start A-tSNE", m_postLoadDialog);
    auto* okButton = new QPushButton("OK", m_postLoadDialog);
    okButton->setDefault(true);
    layout->addWidget(spadeButton, 4, 0, Qt::AlignTop);
    layout->addWidget(tsneButton, 4, 1, Qt::AlignTop);
    layout->addWidget(okButton, 4, 3, Qt::AlignTop);
    for (int row = 0; row < 3; ++row)
        layout->setRowStretch(row, 0);
    layout->setRowStretch(3, 1);

    connect(m_asinhCheckBox, &QCheckBox::clicked, this, &MainWindow::asinhCheckBoxClicked);

    auto* mapper = new QSignalMapper(this);
    mapper->setMapping(okButton, 0);
    mapper->setMapping(spadeButton, 1);
    mapper->setMapping(tsneButton, 2);
    for (QPushButton* button : {okButton, spadeButton, tsneButton})
        connect(button, &QPushButton::clicked, mapper, qOverload<>(&QSignalMapper::map));
    connect(mapper, &QSignalMapper::mappedInt, m_postLoadDialog, &QDialog::done);

    return m_postLoadDialog->exec();
}

void MainWindow::writeSampleTagFile(const QString& directory)
{
    const std::string log = m_dataRegistry->loadLog();
    ReplacingFile::writeAll(sideFilePath(directory, "VSRNE_ST.txt").toStdString(), log.data(),
                            static_cast<int64_t>(log.size()));
}

void MainWindow::asinhCheckBoxClicked(bool checked)
{
    if (!m_asinhExpander || !m_postLoadDialog)
        return;
    m_asinhExpander->hideBody(!checked);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    m_postLoadDialog->layout()->activate();
    m_postLoadDialog->resize(m_postLoadDialog->sizeHint());
}
