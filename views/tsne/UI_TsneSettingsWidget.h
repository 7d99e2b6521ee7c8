#pragma once

#include "widgets/UI_SettingsWidget.h"

class MCV_TsneAnalysis;
class QCheckBox;
class QComboBox;
class QPushButton;
class QSpinBox;

/// The A-tSNE analysis' tab in the "Settings" dock: input data, active
/// markers, normalisation, perplexity and " Compute tSNE ". The computation
/// runs inside the button's press; the panel only asks the analysis to
/// compute and never keeps anything of it across that call.
class UI_TsneSettingsWidget : public UI_SettingsWidget
{
    Q_OBJECT

public:
    /// Builds the panel when the analysis is not null.
    UI_TsneSettingsWidget(QWidget* parent, MCV_Analysis* analysis);

    void initUI() override;
    /// Lists the live registry's points sets again and chooses the newest.
    void refreshInputData() override;

signals:
    void computationFinished();
    void dataDownsampled();

public slots:
    void normalizeChanged(int state);
    void perplexityChanged(int value);
    void inputDataChanged(int index);
    void computeTSNE();
    void stopTSNE();

private:
    /// The points sets of the live registry by name, keeping the current choice.
    void fillInputDataCombo();
    /// The analysis as an A-tSNE analysis; null when detached or of another type.
    MCV_TsneAnalysis* tsneAnalysis() const;

    QComboBox* m_inputDataComboBox = nullptr;
    QPushButton* m_computeButton = nullptr;
    QCheckBox* m_normalizeCheckBox = nullptr;
    QSpinBox* m_perplexitySpinBox = nullptr;
};

/// The warning shown when a computation is asked for without an active
/// marker; false (after the warning) when the analysis has none.
bool hasActiveMarkersOrWarn(const MCV_Analysis* analysis, QWidget* parent);
