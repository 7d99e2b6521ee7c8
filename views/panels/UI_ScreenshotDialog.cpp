#include "panels/UI_ScreenshotDialog.h"

#include "framework/chooseFilesToOpen.h"
#include "framework/settingsDirectory.h"
#include "panels/UI_MarkerSelectionWidget.h"

#include "web/UI_DualSliderWidget.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

UI_ScreenshotDialog::UI_ScreenshotDialog(QWidget* parent, Qt::WindowFlags flags)
    : QDialog(parent, flags)
{
    setWindowTitle("Serial Screenshot");
    setModal(true);
    m_layout = new QGridLayout(this);

    m_markerSelection = new UI_MarkerSelectionWidget(this, 4);
    m_markerSelection->populate(true);
    m_layout->addWidget(m_markerSelection, 0, 0, 1, 3, Qt::AlignTop);

    // Set before the page has loaded: the slider sends its state again then.
    m_rangeSlider = new UI_DualSliderWidget(this);
    m_rangeSlider->setRange(0, 20);
    m_rangeSlider->setValues(0, 5);
    m_rangeSlider->setSliderEnabled(false);
    m_layout->addWidget(m_rangeSlider, 1, 0, 2, 2);
    m_overrideRangesCheckBox = new QCheckBox("Override Ranges", this);
    m_layout->addWidget(m_overrideRangesCheckBox, 1, 2);

    m_backgroundColor = QColor::fromRgbF(1.0, 1.0, 1.0, 1.0);
    m_backgroundColorButton = new QPushButton(this);
    m_backgroundColorButton->setStyleSheet(m_buttonStyle.arg(m_backgroundColor.name()));
    m_layout->addWidget(new QLabel("Background Color:", this), 3, 0, 1, 2, Qt::AlignRight);
    m_layout->addWidget(m_backgroundColorButton, 3, 2);

    m_folderField = new QLineEdit(readDirectoryKey("exportDefaultFilePath"), this);
    m_folderField->setReadOnly(true);
    m_folderButton = new QPushButton("Select ...", this);
    m_layout->addWidget(new QLabel("Save to:", this), 4, 0, Qt::AlignRight);
    m_layout->addWidget(m_folderField, 4, 1);
    m_layout->addWidget(m_folderButton, 4, 2);

    auto* cancelButton = new QPushButton("Cancel", this);
    m_captureButton = new QPushButton("Capture", this);
    m_layout->addWidget(cancelButton, 5, 0);
    m_layout->addWidget(m_captureButton, 5, 1, 1, 2);

    connect(m_overrideRangesCheckBox, &QCheckBox::clicked, this, &UI_ScreenshotDialog::overrideRangesChecked);
    connect(m_backgroundColorButton, &QPushButton::clicked, this, &UI_ScreenshotDialog::backgroundColorButtonPressed);
    connect(m_folderButton, &QPushButton::clicked, this, &UI_ScreenshotDialog::folderSelectionButtonPressed);
    connect(m_folderField, &QLineEdit::textChanged, this, &UI_ScreenshotDialog::folderChanged);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_captureButton, &QPushButton::clicked, this, &QDialog::accept);
    folderChanged();
}

std::vector<int> UI_ScreenshotDialog::selectedMarkers() const
{
    return m_markerSelection->selectedMarkers();
}

std::vector<float> UI_ScreenshotDialog::overrideRange() const
{
    if (!m_overrideRangesCheckBox->isChecked())
        return {};
    return {m_rangeSlider->lowerValue(), m_rangeSlider->upperValue()};
}

QString UI_ScreenshotDialog::folder() const
{
    return m_folderField->text();
}

void UI_ScreenshotDialog::overrideRangesChecked()
{
    m_rangeSlider->setSliderEnabled(m_overrideRangesCheckBox->isChecked());
}

void UI_ScreenshotDialog::backgroundColorButtonPressed()
{
    const QColor chosen = QColorDialog::getColor(m_backgroundColor, this);
    if (!chosen.isValid())
        return;
    m_backgroundColor = chosen;
    m_backgroundColorButton->setStyleSheet(m_buttonStyle.arg(m_backgroundColor.name()));
}

void UI_ScreenshotDialog::folderSelectionButtonPressed()
{
    const QStringList chosen = chooseFilesToOpen(this, QFileDialog::Directory, m_folderField->text(), QString());
    m_folderField->setText(chosen.isEmpty() ? QString() : QFileInfo(chosen.first()).absoluteFilePath());
}

void UI_ScreenshotDialog::folderChanged()
{
    const QString folder = m_folderField->text();
    m_captureButton->setEnabled(!folder.isEmpty() && QFileInfo(folder).isDir());
}
