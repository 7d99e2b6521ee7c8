#pragma once

#include "scatterplot/UI_SettingsSliderWidget.h"

#include <QIcon>

#include <string>
#include <vector>

class MCV_Analysis;
class MCV_IterativeAnalysis;
class QComboBox;
class QGridLayout;
class QPushButton;
class QRadioButton;
class QResizeEvent;
class QSlider;
class QSpinBox;
class UI_DualSliderWidget;
class UI_MaterialCheckBoxWidget;

/// The slide-in panel of the scatterplot of an A-tSNE analysis or a
/// hierarchical SNE level: render mode, point look, marker colouring,
/// density clustering, run/pause and restart of the embedding, and the
/// gradient-descent settings. It asks the analysis to
/// run, stop or restart and keeps nothing of it across those calls: a run
/// happens inside the press, and the analysis may be gone afterwards.
class UI_TsneSettingsSliderWidget : public UI_SettingsSliderWidget
{
    Q_OBJECT

public:
    /// Builds the controls when the analysis is not null.
    UI_TsneSettingsSliderWidget(MCV_Analysis* analysis, int sigma, QWidget* parent);
    /// Frees the mode pages that are not shown (they have no parent).
    ~UI_TsneSettingsSliderWidget() override;

    /// "Sample", then the names as the marker choices; "Sample" is chosen.
    void setMarkerNames(const std::vector<std::string>& names);
    /// The marker range slider's limits and values.
    void setMarkerRange(float minimum, float maximum, float lower, float upper);
    /// Running: buttons enabled and the pause icon; idle: the run icon.
    void setComputing(bool computing);
    bool isComputing() const { return m_computing; }
    /// The analysis is about to be deleted: the panel never reaches it again.
    void detachAnalysis() { m_analysis = nullptr; }

signals:
    void parentSetDarkMode(bool dark);
    void parentSetMode(int mode);
    void parentSetPointBasedMode(int mode);
    void parentSetMarker(int marker);
    void parentSetMarkerSpan(float lower, float upper);
    void parentSetpointSize(float size);
    void parentSetpointOpacity(float opacity);
    void parentSetpointHaloSize(float size);
    void parentSetSaturation(float saturation);
    void parentSetSigma(float sigma);
    void parentReclusterWithSigma(float sigma);
    void parentSetAdvancedMode(int mode);
    void msGridSizeChangedSignal(int size);
    void computeMSOnceSignal();
    void computeMSotfSignal(int on);
    void computationStartedSignal();
    /// A run asked for here ended without a notification (the analysis
    /// refused it): the view goes back to idle.
    void computationRefusedSignal();

public slots:
    void setMode(int index);
    void darkModeChecked(int state);
    void setMarker(int index);
    void setMarkerSpan(float lower, float upper);
    void setpointSize(int value);
    void setpointOpacity(int value);
    void setpointHaloSize(int value);
    void saturationChanged(int value);
    void sigmaChanged(int value);
    void sigmaSliderUp();
    void setAdvancedMode();
    void iterationsChanged(int value);
    void exaggerationItChanged(int value);
    void expDecayChanged(int value);
    void msGridSizeChanged(int value);
    void restartEmbeddingPressed();
    void computeEmbeddingPressed();
    void computeMSOnce();
    void computeMSotf(int state);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildUi();
    QWidget* buildSingleCellPage();
    QWidget* buildClusteringPage();
    QWidget* buildAdvancedPage();
    /// A sigma slider and spin box at the start value, wired to the sigma slots.
    void addSigmaControls(QWidget* page, QGridLayout* grid, int row, int column);
    /// The analysis as an A-tSNE analysis or a hierarchical SNE level; null
    /// when detached or of another type.
    MCV_IterativeAnalysis* embeddingAnalysis() const;
    /// After a run request: with nothing of the analysis left running, the
    /// request was refused or has ended; the view is made idle.
    void settleAfterRunRequest();

    MCV_Analysis* m_analysis = nullptr;
    QComboBox* m_modeComboBox = nullptr;
    UI_MaterialCheckBoxWidget* m_darkModeCheckBox = nullptr;
    QWidget* m_controlArea = nullptr;
    QWidget* m_buttonColumn = nullptr;
    QGridLayout* m_controlGrid = nullptr;
    QWidget* m_pages[3] = {};
    QWidget* m_shownPage = nullptr;
    QComboBox* m_markerComboBox = nullptr;
    UI_DualSliderWidget* m_markerRangeSlider = nullptr;
    std::vector<QSlider*> m_sigmaSliders;
    std::vector<QSpinBox*> m_sigmaSpinBoxes;
    QRadioButton* m_clusterPointsRadio = nullptr;
    QRadioButton* m_clusterPartitionsRadio = nullptr;
    QRadioButton* m_rawDensityRadio = nullptr;
    QRadioButton* m_gradientsRadio = nullptr;
    QSpinBox* m_exaggerationSpinBox = nullptr;
    QSpinBox* m_expDecaySpinBox = nullptr;
    QSpinBox* m_clusterResolutionSpinBox = nullptr;
    QSpinBox* m_iterationsSpinBox = nullptr;
    QPushButton* m_replayButton = nullptr;
    QPushButton* m_runButton = nullptr;
    QPushButton* m_clusterButton = nullptr;
    UI_MaterialCheckBoxWidget* m_continuousCheckBox = nullptr;
    QIcon m_replayIcon;
    QIcon m_runIcon;
    QIcon m_pauseIcon;
    int m_sigma = 30;
    int m_advancedMode = 0;
    bool m_computing = false;
};
