#include "panels/UI_SampleSelectionWidget.h"

#include "framework/UI_ExpanderWidget.h"
#include "framework/chooseFileToSave.h"
#include "framework/chooseFilesToOpen.h"
#include "framework/settingsDirectory.h"
#include "framework/showPlainMessage.h"
#include "framework/showSaveFailure.h"
#include "panels/SampleSettingsFile.h"

#include "data/DefaultStateStore.h"
#include "data/MCV_DataRegistry.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>

#include <algorithm>
#include <map>

namespace {

float unitComponent(float value)
{
    return std::clamp(value, 0.0f, 1.0f);
}

} // namespace

UI_SampleSelectionWidget::UI_SampleSelectionWidget(QWidget* parent)
    : QWidget(parent)
    , m_stateStore(DefaultStateStore::instance())
{
    auto* layout = new QGridLayout(this);
    auto* scrollArea = new QScrollArea(this);
    scrollArea->setWidgetResizable(true);
    auto* scrollWidget = new QWidget(scrollArea);
    m_innerLayout = new QGridLayout(scrollWidget);
    m_innerLayout->setAlignment(Qt::AlignTop);
    scrollArea->setWidget(scrollWidget);
    layout->addWidget(scrollArea, 0, 0);

    m_colorDialog = new QColorDialog(this);
    m_colorDialog->setOption(QColorDialog::NoButtons, true);
    m_colorDialog->setOption(QColorDialog::ShowAlphaChannel, false);
    m_colorDialog->setModal(false);
    connect(m_colorDialog, &QColorDialog::currentColorChanged, this, &UI_SampleSelectionWidget::colorChanged);

    m_rowsExpander = new UI_ExpanderWidget(scrollWidget, true, false);
    m_rowsExpander->setTitle("Active Markers");
    buildRows({});
    m_innerLayout->addWidget(m_rowsExpander, 0, 0);
    m_innerLayout->addWidget(buildButtons(), 1, 0);
}

std::vector<int> UI_SampleSelectionWidget::followRegistry()
{
    RowStates kept;
    for (std::size_t i = 0; i < m_keys.size(); ++i)
        kept[m_keys[i]] = {m_sampleSelection[i], m_colors[i]};
    const std::vector<std::string> formerKeys = m_keys;
    QWidget* formerBody = m_rowsBody;
    buildRows(kept);
    // Deferred: a row's button may be on the call stack.
    formerBody->hide();
    formerBody->deleteLater();

    const std::vector<int> moved = DefaultStateStore::renumbering(formerKeys, m_keys);
    m_editedSample = m_editedSample >= 0 ? moved[static_cast<std::size_t>(m_editedSample)] : -1;
    emit selectionUpdated();
    emit colorsUpdated();
    return moved;
}

void UI_SampleSelectionWidget::buildRows(const RowStates& kept)
{
    m_rowsBody = new QWidget(m_rowsExpander);
    auto* rowGrid = new QGridLayout(m_rowsBody);
    const MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    const int count = registry->sampleCount();
    m_sampleSelection.assign(count, true);
    m_sampleColorBytes.assign(3 * static_cast<std::size_t>(count), 0);
    m_colors.assign(count, QColor());
    m_keys.clear();
    m_labels.clear();
    m_checkBoxes.clear();
    m_colorButtons.clear();

    // Copies: the store may change while the panel lives.
    const std::map<std::string, std::vector<float>> defaultColors = m_stateStore->sampleColors;
    const std::map<std::string, bool> defaultSelection = m_stateStore->sampleSelection;

    for (int i = 0; i < count; ++i) {
        const std::string key = DefaultStateStore::sampleKey(registry->samplePath(i));
        m_keys.push_back(key);
        const auto keptRow = kept.find(key);
        if (keptRow != kept.end()) {
            m_sampleSelection[i] = keptRow->second.first;
        } else if (!defaultSelection.empty()) {
            const auto found = defaultSelection.find(key);
            m_sampleSelection[i] = found != defaultSelection.end() && found->second;
        }

        QColor color;
        if (keptRow != kept.end()) {
            color = keptRow->second.second;
        } else if (defaultColors.empty()) {
            color = QColor::fromHsvF(static_cast<float>(i) / static_cast<float>(count), 0.5, 1.0, 1.0);
        } else {
            const auto found = defaultColors.find(key);
            if (found != defaultColors.end() && found->second.size() >= 3)
                color = QColor::fromRgbF(unitComponent(found->second[0]), unitComponent(found->second[1]),
                                         unitComponent(found->second[2]));
            else
                color = QColor::fromRgbF(0.5, 0.5, 0.5);
        }

        auto* label = new QLabel(QString::fromStdString(key));
        label->setTextFormat(Qt::PlainText);
        auto* checkBox = new QCheckBox();
        checkBox->setChecked(m_sampleSelection[i]);
        connect(checkBox, &QCheckBox::stateChanged, this, [this, i]() { checkBoxClicked(i); });
        auto* button = new QPushButton();
        button->setFixedSize(20, 20);
        connect(button, &QPushButton::clicked, this, [this, i]() { colorPickerClicked(i); });

        m_labels.push_back(label);
        m_checkBoxes.push_back(checkBox);
        m_colorButtons.push_back(button);
        setSampleColor(i, color);

        rowGrid->addWidget(label, i, 0);
        rowGrid->addWidget(checkBox, i, 1);
        rowGrid->addWidget(button, i, 2);
    }
    rowGrid->setColumnStretch(0, 1);
    rowGrid->setColumnStretch(1, 0);
    rowGrid->setColumnStretch(2, 0);
    m_rowsExpander->setBody(m_rowsBody);
}

QWidget* UI_SampleSelectionWidget::buildButtons()
{
    auto* buttons = new QWidget();
    auto* grid = new QGridLayout(buttons);
    m_setDefaultSelectionButton = new QPushButton("Set Default Selection");
    m_setDefaultColorsButton = new QPushButton("Set Default Colors");
    m_loadButton = new QPushButton("Load Settings ...");
    m_saveButton = new QPushButton("Save Settings ...");
    grid->addWidget(m_setDefaultSelectionButton, 0, 0);
    grid->addWidget(m_setDefaultColorsButton, 0, 1);
    grid->addWidget(m_loadButton, 1, 0);
    grid->addWidget(m_saveButton, 1, 1);
    connect(m_setDefaultSelectionButton, &QPushButton::clicked, this,
            &UI_SampleSelectionWidget::setDefaultSelectionClicked);
    connect(m_setDefaultColorsButton, &QPushButton::clicked, this, &UI_SampleSelectionWidget::setDefaultColorsClicked);
    connect(m_loadButton, &QPushButton::clicked, this, &UI_SampleSelectionWidget::loadDefaultsClicked);
    connect(m_saveButton, &QPushButton::clicked, this, &UI_SampleSelectionWidget::saveDefaultsClicked);
    return buttons;
}

void UI_SampleSelectionWidget::setSampleColor(int sample, const QColor& color)
{
    m_colors[sample] = color;
    m_colorButtons[sample]->setStyleSheet(m_buttonStyle.arg(color.name()));
    m_sampleColorBytes[3 * sample] = static_cast<unsigned char>(color.red());
    m_sampleColorBytes[3 * sample + 1] = static_cast<unsigned char>(color.green());
    m_sampleColorBytes[3 * sample + 2] = static_cast<unsigned char>(color.blue());
}

void UI_SampleSelectionWidget::checkBoxClicked(int sample)
{
    if (sample < 0 || sample >= static_cast<int>(m_checkBoxes.size()))
        return;
    m_sampleSelection[sample] = m_checkBoxes[sample]->isChecked();
    emit selectionUpdated();
}

void UI_SampleSelectionWidget::colorPickerClicked(int sample)
{
    if (sample < 0 || sample >= static_cast<int>(m_colors.size()))
        return;
    m_editedSample = sample;
    {
        // Opening on the sample's own colour changes nothing.
        const QSignalBlocker blocker(m_colorDialog);
        m_colorDialog->setCurrentColor(m_colors[sample]);
    }
    m_colorDialog->show();
}

void UI_SampleSelectionWidget::colorChanged(const QColor& color)
{
    if (m_editedSample < 0)
        return;
    setSampleColor(m_editedSample, color);
    emit colorsUpdated();
}

void UI_SampleSelectionWidget::setDefaultSelectionClicked()
{
    std::map<std::string, bool> selection;
    for (std::size_t i = 0; i < m_keys.size(); ++i)
        selection[m_keys[i]] = m_sampleSelection[i];
    m_stateStore->setSampleSelection(selection);
    qDebug().noquote() << "Default samples set.";
}

void UI_SampleSelectionWidget::setDefaultColorsClicked()
{
    std::map<std::string, std::vector<float>> colors;
    for (std::size_t i = 0; i < m_keys.size(); ++i)
        colors[m_keys[i]] = {static_cast<float>(m_colors[i].redF()), static_cast<float>(m_colors[i].greenF()),
                             static_cast<float>(m_colors[i].blueF())};
    m_stateStore->setSampleColors(colors);
    qDebug().noquote() << "Default colors set.";
}

void UI_SampleSelectionWidget::saveDefaultsClicked()
{
    const QString path = chooseFileToSave(this, "exportDefaultFilePath", "txt", "Text files (*.txt)");
    if (path.isEmpty())
        return;

    std::vector<SampleSettingsFile::Entry> entries;
    for (std::size_t i = 0; i < m_keys.size(); ++i)
        entries.push_back({m_keys[i], m_sampleSelection[i], m_sampleColorBytes[3 * i], m_sampleColorBytes[3 * i + 1],
                           m_sampleColorBytes[3 * i + 2]});
    std::vector<std::string> skipped;
    const QByteArray text = SampleSettingsFile::format(entries, &skipped);
    for (const std::string& key : skipped)
        qDebug().noquote() << "Sample \"" + QString::fromStdString(key)
                                  + "\" not saved: a name holding a line break cannot be read back.";

    if (saveOrShowFailure(this, path, text))
        qDebug().noquote() << "File saved.";
}

void UI_SampleSelectionWidget::loadDefaultsClicked()
{
    const QStringList files = chooseFilesToOpen(this, QFileDialog::ExistingFile,
                                                readDirectoryKey("exportDefaultFilePath"), "Text Files (*.txt)");
    if (files.isEmpty())
        return;
    const QString path = QDir::toNativeSeparators(files.first());
    QFile file(files.first());
    if (!file.open(QIODevice::ReadOnly)) {
        warn("Could not read the sample settings file " + path + ": " + file.errorString() + ".");
        return;
    }
    std::vector<SampleSettingsFile::Entry> entries;
    QString error;
    if (!SampleSettingsFile::parse(file.readAll(), &entries, &error)) {
        warn("The sample settings file " + path + " was not loaded: " + error
             + ". Each line must read \"name flag red green blue\" with colours from 0 to 255.");
        return;
    }

    // A later line with the same key replaces an earlier one.
    std::map<std::string, const SampleSettingsFile::Entry*> byKey;
    for (const SampleSettingsFile::Entry& entry : entries) {
        qDebug().noquote() << QString("%1_%2 %3 %4 %5")
                                  .arg(QString::fromStdString(entry.key))
                                  .arg(entry.selected ? 1 : 0)
                                  .arg(entry.red)
                                  .arg(entry.green)
                                  .arg(entry.blue);
        byKey[entry.key] = &entry;
    }
    const bool matchesAny = std::any_of(m_keys.begin(), m_keys.end(),
                                        [&byKey](const std::string& key) { return byKey.count(key) > 0; });
    if (!matchesAny) {
        warn("The sample settings file " + path + " names none of the loaded samples; nothing was changed.");
        return;
    }

    for (std::size_t i = 0; i < m_keys.size(); ++i) {
        const auto found = byKey.find(m_keys[i]);
        if (found == byKey.end())
            continue;
        const SampleSettingsFile::Entry& entry = *found->second;
        m_sampleSelection[i] = entry.selected;
        {
            const QSignalBlocker blocker(m_checkBoxes[i]);
            m_checkBoxes[i]->setChecked(entry.selected);
        }
        setSampleColor(static_cast<int>(i), QColor(entry.red, entry.green, entry.blue));
    }
    emit selectionUpdated();
    emit colorsUpdated();
    qDebug().noquote() << "File opened.";
}

void UI_SampleSelectionWidget::warn(const QString& text)
{
    showPlainMessage(this, QMessageBox::Warning, "Sample Settings", text);
}
