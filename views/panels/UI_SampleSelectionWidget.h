#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

#include <map>
#include <string>
#include <utility>
#include <vector>

class DefaultStateStore;
class QCheckBox;
class QColorDialog;
class QGridLayout;
class QLabel;
class QPushButton;
class UI_ExpanderWidget;

/// A scatterplot's panel of loaded samples: one row per file with its name,
/// a check box (are its events shown) and a colour button (in which colour).
/// The rows are made for the samples loaded when the panel is built, and
/// again for the new files when they are reopened (followRegistry). Rows
/// start from the process defaults (DefaultStateStore), which the panel can
/// also set, and all rows can be saved to and loaded from a sample-settings
/// file.
///
/// The sample-settings file: one line per sample in load order, joined by
/// "\n" with none after the last, UTF-8: "key flag red green blue", where the
/// key is DefaultStateStore::sampleKey of the sample's path (it may hold
/// blanks), the flag 1 or 0 and the colours 0-255.
class UI_SampleSelectionWidget : public QWidget
{
    Q_OBJECT

public:
    explicit UI_SampleSelectionWidget(QWidget* parent = nullptr);

    /// One bit per sample in load order: set = the sample's events are shown.
    const std::vector<bool>& sampleSelection() const { return m_sampleSelection; }
    /// Red, green and blue (0-255) per sample in load order.
    const std::vector<unsigned char>& sampleColors() const { return m_sampleColorBytes; }

    /// The files were reopened: the rows are made anew for the samples of the
    /// live registry. A sample whose key had a row keeps its flag and colour,
    /// a new one starts as in a new panel, the rows of samples no longer
    /// loaded go. Emits selectionUpdated and colorsUpdated. Returns, per
    /// former row, the row of the same sample now (-1 when it is gone).
    std::vector<int> followRegistry();

signals:
    void selectionUpdated();
    void colorsUpdated();

public slots:
    void checkBoxClicked(int sample);
    /// Opens the shared colour dialog on the sample's colour.
    void colorPickerClicked(int sample);
    /// Every live change in the colour dialog; nothing before a row was picked.
    void colorChanged(const QColor& color);
    void setDefaultSelectionClicked();
    void setDefaultColorsClicked();
    /// Loads a sample-settings file chosen by the user. A file that cannot
    /// be read, is malformed or names no row is refused whole with a warning.
    void loadDefaultsClicked();
    /// Saves all rows to a sample-settings file chosen by the user; a failed
    /// write keeps the earlier file and shows a warning.
    void saveDefaultsClicked();

private:
    /// Shown flag and colour of the rows by sample key.
    using RowStates = std::map<std::string, std::pair<bool, QColor>>;

    /// A new body of rows for the live registry's samples; a sample with an
    /// entry in `kept` takes its flag and colour from it.
    void buildRows(const RowStates& kept);
    QWidget* buildButtons();
    /// Colour, its bytes and its button's style for one row.
    void setSampleColor(int sample, const QColor& color);
    void warn(const QString& text);

    DefaultStateStore* m_stateStore = nullptr;
    QGridLayout* m_innerLayout = nullptr;
    UI_ExpanderWidget* m_rowsExpander = nullptr;
    QWidget* m_rowsBody = nullptr;
    QColorDialog* m_colorDialog = nullptr;
    std::vector<std::string> m_keys;
    std::vector<QLabel*> m_labels;
    std::vector<QCheckBox*> m_checkBoxes;
    std::vector<QPushButton*> m_colorButtons;
    std::vector<QColor> m_colors;
    QString m_buttonStyle = "QPushButton { background-color : %1; }";
    int m_editedSample = -1;
    QPushButton* m_setDefaultSelectionButton = nullptr;
    QPushButton* m_setDefaultColorsButton = nullptr;
    QPushButton* m_loadButton = nullptr;
    QPushButton* m_saveButton = nullptr;
    std::vector<bool> m_sampleSelection;
    std::vector<unsigned char> m_sampleColorBytes;
};
