#pragma once

#include "panels/UI_SettingsWidget.h"

class MCV_SpadeAnalysis;
class QGridLayout;
class QPushButton;

/// The "Settings" tab of a SPADE analysis: its active markers, the six SPADE
/// parameters (four advanced ones collapsed) and " Compute Spade Tree ".
/// Every control shows the analysis' value and writes changes through at
/// once, which marks the stage they belong to; nothing is computed until the
/// button is pressed. The destructor never touches the analysis.
class UI_SpadeSettingsWidget : public UI_SettingsWidget
{
    Q_OBJECT

public:
    /// Builds the panel only for a non-null analysis.
    UI_SpadeSettingsWidget(QWidget* parent, MCV_Analysis* analysis);

    void initUI() override;

public slots:
    void sampleSizeChanged(int value);
    void alphaChanged(double value);
    void targetDensityPercentileChanged(double value);
    void outlierDensityPercentileChanged(double value);
    /// The percentage of events downsampling keeps.
    void densityLimitChanged(double value);
    void targetClusterNumberChanged(int value);
    /// Warns when no marker is active; otherwise runs the SPADE analysis to its end.
    void compute();

private:
    /// The analysis as what it is; null when detached or of another kind.
    MCV_SpadeAnalysis* spadeAnalysis() const;

    QGridLayout* m_gridLayout = nullptr;
    QPushButton* m_button = nullptr;
};
