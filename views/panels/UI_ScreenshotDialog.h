#pragma once

#include <QColor>
#include <QDialog>
#include <QString>

#include <vector>

class QCheckBox;
class QGridLayout;
class QLineEdit;
class QPushButton;
class UI_DualSliderWidget;
class UI_MarkerSelectionWidget;

/// The modal "Serial Screenshot" dialog: which images a scatterplot should
/// take (one per chosen marker, and one coloured by sample when "Sample" is
/// chosen), an optional fixed colour range, the background colour and the
/// folder. It only collects the choices; the scatterplot reads them once the
/// dialog is accepted. "Capture" is enabled only while the folder exists.
/// The dialog never writes the settings store.
class UI_ScreenshotDialog : public QDialog
{
    Q_OBJECT

public:
    explicit UI_ScreenshotDialog(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());

    /// -1 first when "Sample" is checked, then the checked markers, increasing.
    std::vector<int> selectedMarkers() const;
    /// The slider's lower and upper value while "Override Ranges" is
    /// checked; empty otherwise.
    std::vector<float> overrideRange() const;
    QColor backgroundColor() const { return m_backgroundColor; }
    QString folder() const;

public slots:
    /// The slider follows the check box: movable only while it is checked.
    void overrideRangesChecked();
    /// A modal colour dialog for the background; cancelled, nothing changes.
    void backgroundColorButtonPressed();
    /// A folder chooser starting in the shown folder; cancelled, the folder
    /// field is emptied.
    void folderSelectionButtonPressed();

private:
    void folderChanged();

    QGridLayout* m_layout = nullptr;
    UI_MarkerSelectionWidget* m_markerSelection = nullptr;
    UI_DualSliderWidget* m_rangeSlider = nullptr;
    QCheckBox* m_overrideRangesCheckBox = nullptr;
    QPushButton* m_backgroundColorButton = nullptr;
    QLineEdit* m_folderField = nullptr;
    QPushButton* m_folderButton = nullptr;
    QPushButton* m_captureButton = nullptr;
    QColor m_backgroundColor;
    QString m_buttonStyle = "QPushButton { background-color : %1; }";
};
