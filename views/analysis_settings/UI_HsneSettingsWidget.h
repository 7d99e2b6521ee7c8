#pragma once

#include "panels/UI_SelectiveDownsamplingWidget.h"
#include "panels/UI_SettingsWidget.h"

#include <QPointer>

class MCV_HsneAnalysisHierarchy;
class QComboBox;
class QPushButton;

/// The tab of a hierarchical SNE in the "Settings" dock: input data, active
/// markers, the hierarchy's settings (written through at once), " Compute
/// HSNE ", the downsampling dock on the same input, and the mean-shift
/// clustering of its level views (grid size, cluster once, on the fly),
/// which the panel only announces.
class UI_HsneSettingsWidget : public UI_SettingsWidget
{
    Q_OBJECT

public:
    /// Builds the panel only for a hierarchy analysis.
    UI_HsneSettingsWidget(QWidget* parent, MCV_Analysis* analysis);
    ~UI_HsneSettingsWidget() override;

    void initUI() override;
    void detachAnalysis() override;
    /// Lists the live registry's points sets again and chooses the newest.
    void refreshInputData() override;

    QComboBox* inputDataComboBox() const { return m_inputDataComboBox; }
    UI_SelectiveDownsamplingWidget* downsamplingWidget() const { return m_downsamplingWidget; }

signals:
    /// Never emitted: the levels announce their own ends.
    void computationFinished();
    void dataDownsampled();
    void msGridChanged(int size);
    void computeMSOnceSignal();
    void computeMSotfSignal(int state);

public slots:
    void seedChanged(int value);
    void memPreservingChanged(bool on);
    void aknnNumChecksChanged(int value);
    void numWalksPerLandmarkChanged(int value);
    void mcmcsNumWalksChanged(int value);
    void mcmcsLandmarkThreshChanged(double value);
    void mcmcsWalkLengthChanged(int value);
    void pruneThreshChanged(int value);
    void msGridSizeChanged(int size);
    void iterationsChanged(int value);
    void numScalesChanged(int value);
    void inputDataChanged(int index);
    /// Docks the downsampling panel, floating, on the main window holding the panel.
    void downsampleButtonClicked();
    /// The no-markers warning, or the hierarchy built and its overview run in here.
    void computeHSNE();
    /// A build cannot be interrupted: nothing.
    void stopHSNE();
    void computeMSOnce();
    void computeMSotf(int state);
    void downsamplingComplete();

private:
    MCV_HsneAnalysisHierarchy* hierarchyAnalysis() const;

    QComboBox* m_inputDataComboBox = nullptr;
    QPushButton* m_clusterOnceButton = nullptr;
    // Docked on the main window once shown, yet it goes with the panel.
    QPointer<UI_SelectiveDownsamplingWidget> m_downsamplingWidget;
};
