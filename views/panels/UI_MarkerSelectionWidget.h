#pragma once

#include <QWidget>

#include <string>
#include <utility>
#include <vector>

class MCV_Analysis;
class QCheckBox;
class QGridLayout;
class QPushButton;
class QSignalMapper;

/// A grid of check boxes, one per channel of the loaded data, with which the
/// user picks markers (for an analysis, the arcsinh transform or serial
/// screenshots), plus "Inverse Markers", "Load Selection" and "Set Default".
/// A new panel starts from the process default marker states; an attached
/// analysis hears of every change through MCV_Analysis::setMarkerActive.
class UI_MarkerSelectionWidget : public QWidget
{
    Q_OBJECT

public:
    /// Builds no boxes yet: setData or populate does.
    UI_MarkerSelectionWidget(QWidget* parent, int columns);

    /// Attaches the analysis (null detaches; not owned) and rebuilds the boxes.
    void setData(MCV_Analysis* analysis, bool showSample);
    /// Rebuilds the boxes from the live registry's channels. Without channels
    /// the panel stays empty, without buttons.
    void populate(bool showSample);

    /// One state per marker index (may be longer than the channel list).
    std::vector<bool> markerStates() const;
    /// -1 first when the "Sample" box is shown and on, then the indices of the
    /// checked markers below the channel count, increasing.
    std::vector<int> selectedMarkers() const;

public slots:
    /// A box changed: index of the marker, -1 for "Sample".
    void checkBoxClicked(int index);
    void inverseClicked();
    /// Reads marker states from a chosen text file and makes them the default.
    void loadClicked();
    /// Makes the states the default and writes the default-markers file into
    /// the data directory.
    void setDefaultClicked();

private:
    /// Removes the boxes and buttons of the previous populate.
    void clearGrid();

    QGridLayout* m_layout = nullptr;
    std::vector<QCheckBox*> m_checkBoxes;
    QCheckBox* m_sampleCheckBox = nullptr;
    QPushButton* m_inverseButton = nullptr;
    QPushButton* m_loadButton = nullptr;
    QPushButton* m_setDefaultButton = nullptr;
    MCV_Analysis* m_analysis = nullptr;
    std::vector<bool> m_markerStates;
    bool m_sampleState = true;
    bool m_showSample = false;
    std::vector<std::pair<std::string, int>> m_markerList;
    int m_columns = 1;
    QSignalMapper* m_mapper = nullptr;
};

/// The default-markers file in a data directory; empty when the directory is.
QString defaultMarkersFilePath(const QString& directory);

/// Reads whitespace-separated integers (nonzero = on) up to the end or the
/// first token that is not an integer, one state each. False, with `states`
/// untouched, when the file cannot be opened; otherwise `states` is replaced.
bool readDefaultMarkerStates(const QString& path, std::vector<bool>& states);

/// Writes "0 " or "1 " per state, nothing else, through
/// ReplacingFile::writeAll: the file is replaced only once it is complete.
/// False, with the old file as it was, when it could not be fully written.
bool writeDefaultMarkerStates(const QString& path, const std::vector<bool>& states);
