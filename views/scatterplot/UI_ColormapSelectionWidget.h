#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

class QPropertyAnimation;
class QPushButton;
class UI_MaterialCheckBoxWidget;

/// The colour-map picker at the right edge of a scatterplot: at rest only its
/// left frame shows, with the active map's swatch; a click on it slides the
/// picker open to show all fifteen maps and the "Discrete Colormap" switch,
/// and choosing a map closes it again.
class UI_ColormapSelectionWidget : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kMapCount = 15;

    explicit UI_ColormapSelectionWidget(QWidget* parent = nullptr);

    /// Moves the picker to its rest place for the parent's width: x is
    /// width - 71 when closed and 555 pixels further left when open.
    void updatePlacement(int parentWidth);
    /// Shows map `index` in the given mode (the switch follows without
    /// reporting back); emits nothing.
    void setActiveColormap(int index, bool discrete);
    void setDarkMode(bool dark);

    int activeColormap() const { return m_activeColormap; }
    bool isDiscrete() const { return m_discrete; }
    bool isOpen() const { return m_open; }
    /// The swatch style sheet of map `index` in the current mode.
    QString swatchStyle(int index) const;

signals:
    void colormapSelected(int index);
    void discreteSelected(bool discrete);

public slots:
    void activeColormapClicked();
    void colormapClicked(int index);
    void discreteColormapClicked(int state);

private:
    void buildUi();
    void openSelector();
    void closeSelector();
    /// Animates to the rest place for the open flag.
    void animateToRestPlace();
    int restX() const;

    QWidget* m_parentWidget = nullptr;
    QPropertyAnimation* m_animation = nullptr;
    QPushButton* m_swatches[kMapCount] = {};
    QPushButton* m_activeSwatch = nullptr;
    QWidget* m_leftFrame = nullptr;
    QWidget* m_rightFrame = nullptr;
    QStringList m_imagePaths;
    QString m_lightStyle;
    QString m_darkStyle;
    UI_MaterialCheckBoxWidget* m_discreteSwitch = nullptr;
    int m_activeColormap = 6;
    bool m_discrete = false;
    bool m_open = false;
    int m_parentWidth = -1;
};
