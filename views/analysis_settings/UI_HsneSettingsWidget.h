#pragma once

#include "panels/UI_SettingsWidget.h"

class MCV_HsneAnalysisHierarchy;
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

    void initUI() override;

signals:
    /// Never emitted: the levels announce their own ends.
    void computationFinished();
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
    /// The no-markers warning, or the hierarchy built and its overview run in here.
    void computeHSNE();
    /// A build cannot be interrupted: nothing.
    void stopHSNE();
    void computeMSOnce();
    void computeMSotf(int state);

private:
    MCV_HsneAnalysisHierarchy* hierarchyAnalysis() const;

    QPushButton* m_clusterOnceButton = nullptr;
};
