#pragma once

#include "panels/UI_SettingsWidget.h"

class MCV_TsneAnalysis;
class QCheckBox;
class QPushButton;
class QSpinBox;

/// The A-tSNE analysis' tab in the "Settings" dock: input data with its
/// downsampling dock, active markers, normalisation, perplexity and
/// " Compute tSNE ". The computation
/// runs inside the button's press; the panel only asks the analysis to
/// compute and never keeps anything of it across that call.
class UI_TsneSettingsWidget : public UI_SettingsWidget
{
    Q_OBJECT

public:
    /// Builds the panel when the analysis is not null.
    UI_TsneSettingsWidget(QWidget* parent, MCV_Analysis* analysis);

    void initUI() override;

signals:
    void computationFinished();

public slots:
    void normalizeChanged(int state);
    void perplexityChanged(int value);
    void computeTSNE();
    void stopTSNE();

private:
    /// The analysis as an A-tSNE analysis; null when detached or of another type.
    MCV_TsneAnalysis* tsneAnalysis() const;

    QPushButton* m_computeButton = nullptr;
    QCheckBox* m_normalizeCheckBox = nullptr;
    QSpinBox* m_perplexitySpinBox = nullptr;
};
