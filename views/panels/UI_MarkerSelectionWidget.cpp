#include "panels/UI_MarkerSelectionWidget.h"

#include "framework/chooseFilesToOpen.h"
#include "framework/settingsDirectory.h"
#include "framework/sideFilePath.h"

#include "analyses/MCV_Analysis.h"
#include "data/DefaultStateStore.h"
#include "data/FcsHeader.h"
#include "data/MCV_DataRegistry.h"
#include "data/ReplacingFile.h"

#include <QCheckBox>
#include <QDebug>
#include <QFile>
#include <QGridLayout>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QSignalMapper>

#include <algorithm>

namespace {

/// A check-box label showing the name as it is ('&' would make a shortcut).
QString boxLabel(const std::string& name)
{
    return QString::fromStdString(name).replace('&', "&&");
}

} // namespace

UI_MarkerSelectionWidget::UI_MarkerSelectionWidget(QWidget* parent, int columns)
    : QWidget(parent)
    , m_markerStates(DefaultStateStore::instance()->markerStates)
    , m_columns(std::max(1, columns))
{
    m_layout = new QGridLayout(this);
    m_layout->setAlignment(Qt::AlignTop);
}

void UI_MarkerSelectionWidget::setData(MCV_Analysis* analysis, bool showSample)
{
    m_analysis = analysis;
    populate(showSample);
}

void UI_MarkerSelectionWidget::clearGrid()
{
    // Deferred deletion: populate may run inside a click of one of these buttons.
    while (QLayoutItem* item = m_layout->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->disconnect(this);
            widget->hide();
            widget->setParent(nullptr);
            widget->deleteLater();
        }
        delete item;
    }
    m_checkBoxes.clear();
    m_sampleCheckBox = nullptr;
    m_inverseButton = nullptr;
    m_loadButton = nullptr;
    m_setDefaultButton = nullptr;
    m_markerList.clear();
    if (m_mapper) {
        m_mapper->deleteLater();
        m_mapper = nullptr;
    }
}

void UI_MarkerSelectionWidget::populate(bool showSample)
{
    m_showSample = showSample;
    clearGrid();

    const FcsHeader* header = MCV_DataRegistry::instance()->mergedHeader();
    const std::vector<std::string> names = header ? header->nameList(0) : std::vector<std::string>();
    const int count = static_cast<int>(names.size());
    if (m_markerStates.size() < names.size())
        m_markerStates.resize(names.size(), m_markerStates.empty());
    if (count == 0)
        return;

    for (int i = 0; i < count; ++i)
        m_markerList.emplace_back(names[i], i);

    // Column-major places: the first `rest` columns hold one box more.
    const int total = count + (m_showSample ? 1 : 0);
    const int perColumn = total / m_columns;
    const int rest = total % m_columns;
    std::vector<std::pair<int, int>> places; // (row, column)
    for (int column = 0; column < m_columns; ++column)
        for (int row = 0; row < perColumn + (column < rest ? 1 : 0); ++row)
            places.emplace_back(row, column);

    m_mapper = new QSignalMapper(this);
    for (int i = 0; i < count; ++i) {
        auto* box = new QCheckBox(boxLabel(names[i]), this);
        const bool on = m_markerStates[i];
        box->setChecked(on);
        if (m_analysis)
            m_analysis->setMarkerActive(i, on);
        m_layout->addWidget(box, places[i].first, places[i].second);
        connect(box, &QCheckBox::stateChanged, m_mapper, qOverload<>(&QSignalMapper::map));
        m_mapper->setMapping(box, i);
        m_checkBoxes.push_back(box);
    }
    if (m_showSample) {
        // The last slot of the order; with fewer boxes than columns that is
        // row 0 of the last filled column.
        m_sampleCheckBox = new QCheckBox("Sample", this);
        m_sampleCheckBox->setChecked(m_sampleState);
        m_layout->addWidget(m_sampleCheckBox, places.back().first, places.back().second);
        connect(m_sampleCheckBox, &QCheckBox::stateChanged, m_mapper, qOverload<>(&QSignalMapper::map));
        m_mapper->setMapping(m_sampleCheckBox, -1);
    }
    connect(m_mapper, &QSignalMapper::mappedInt, this, &UI_MarkerSelectionWidget::checkBoxClicked);

    const int rows = perColumn + (rest > 0 ? 1 : 0);
    const int half = std::max(1, m_columns / 2);
    m_inverseButton = new QPushButton("Inverse Markers", this);
    m_layout->addWidget(m_inverseButton, rows + 1, 0, 1, m_columns);
    connect(m_inverseButton, &QPushButton::clicked, this, &UI_MarkerSelectionWidget::inverseClicked);
    m_loadButton = new QPushButton("Load Selection", this);
    m_layout->addWidget(m_loadButton, rows + 2, 0, 1, half);
    connect(m_loadButton, &QPushButton::clicked, this, &UI_MarkerSelectionWidget::loadClicked);
    m_setDefaultButton = new QPushButton("Set Default", this);
    m_layout->addWidget(m_setDefaultButton, rows + 2, m_columns / 2, 1, half);
    connect(m_setDefaultButton, &QPushButton::clicked, this, &UI_MarkerSelectionWidget::setDefaultClicked);
}

std::vector<bool> UI_MarkerSelectionWidget::markerStates() const
{
    return m_markerStates;
}

std::vector<int> UI_MarkerSelectionWidget::selectedMarkers() const
{
    std::vector<int> selected;
    if (m_showSample && m_sampleState)
        selected.push_back(-1);
    const std::size_t shown = std::min(m_checkBoxes.size(), m_markerStates.size());
    for (std::size_t i = 0; i < shown; ++i)
        if (m_markerStates[i])
            selected.push_back(static_cast<int>(i));
    return selected;
}

void UI_MarkerSelectionWidget::checkBoxClicked(int index)
{
    if (index >= 0 && index < static_cast<int>(m_checkBoxes.size())) {
        const bool on = m_checkBoxes[index]->isChecked();
        m_markerStates[index] = on;
        if (m_analysis)
            m_analysis->setMarkerActive(index, on);
    } else if (index == -1 && m_showSample && m_sampleCheckBox) {
        m_sampleState = m_sampleCheckBox->isChecked();
    }
}

void UI_MarkerSelectionWidget::inverseClicked()
{
    for (std::size_t i = 0; i < m_checkBoxes.size(); ++i) {
        const bool on = !m_checkBoxes[i]->isChecked();
        m_markerStates[i] = on;
        const QSignalBlocker blocker(m_checkBoxes[i]);
        m_checkBoxes[i]->setChecked(on);
        if (m_analysis)
            m_analysis->setMarkerActive(static_cast<int>(i), on);
    }
    if (m_showSample && m_sampleCheckBox) {
        m_sampleState = !m_sampleCheckBox->isChecked();
        const QSignalBlocker blocker(m_sampleCheckBox);
        m_sampleCheckBox->setChecked(m_sampleState);
    }
}

void UI_MarkerSelectionWidget::loadClicked()
{
    const QStringList files = chooseFilesToOpen(this, QFileDialog::ExistingFile,
                                                readDirectoryKey("exportDefaultFilePath"), "Text Files (*.txt)");
    if (files.isEmpty())
        return;
    if (readDefaultMarkerStates(files.first(), m_markerStates)) {
        std::vector<bool> copy = m_markerStates;
        DefaultStateStore::instance()->setMarkerStates(copy);
        qDebug().noquote()
            << "\nLoaded default marker states from file. New Analyses will be created with the new default setting.";
    }
    populate(m_showSample);
}

void UI_MarkerSelectionWidget::setDefaultClicked()
{
    std::vector<bool> copy = m_markerStates;
    DefaultStateStore::instance()->setMarkerStates(copy);

    const QString path = defaultMarkersFilePath(readDirectoryKey("dataDefaultFilePath"));
    if (path.isEmpty()) {
        qDebug().noquote() << "\nNo data folder is known yet; default states were not written to disk.";
        return;
    }
    if (writeDefaultMarkerStates(path, m_markerStates)) {
        qDebug().noquote() << "\nSaved default marker states to " + path;
        qDebug().noquote() << "\nMarker states will be loaded automatically when loading .fcs files from this directory.";
    } else {
        qDebug().noquote() << "\nCould not write default states to disk.";
    }
}

QString defaultMarkersFilePath(const QString& directory)
{
    return sideFilePath(directory, "VSRNE_DefaultMarkers.txt");
}

bool readDefaultMarkerStates(const QString& path, std::vector<bool>& states)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QString text = QString::fromLatin1(file.readAll());
    static const QRegularExpression whitespace("\\s+");
    static const QRegularExpression integer("^[+-]?[0-9]+$");
    static const QRegularExpression nonzeroDigit("[1-9]");
    states.clear();
    for (const QString& token : text.split(whitespace, Qt::SkipEmptyParts)) {
        if (!integer.match(token).hasMatch())
            break;
        // Nonzero means on, however many digits the number has.
        states.push_back(token.contains(nonzeroDigit));
    }
    return true;
}

bool writeDefaultMarkerStates(const QString& path, const std::vector<bool>& states)
{
    QByteArray bytes;
    bytes.reserve(static_cast<int>(states.size() * 2));
    for (bool on : states)
        bytes.append(on ? "1 " : "0 ");
    return ReplacingFile::writeAll(path.toStdString(), bytes.constData(), bytes.size());
}
