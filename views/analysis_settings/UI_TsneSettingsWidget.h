#pragma once

#include "panels/UI_SelectiveDownsamplingWidget.h"
#include "panels/UI_SettingsWidget.h"

#include <QPointer>

class MCV_TsneAnalysis;
class QCheckBox;
class QComboBox;
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
    /// The downsampling dock goes with the panel, wherever it is docked.
    ~UI_TsneSettingsWidget() override;

    void initUI() override;
    /// Lists the live registry's points sets again and chooses the newest.
    void refreshInputData() override;
    void detachAnalysis() override;

    UI_SelectiveDownsamplingWidget* downsamplingWidget() const { return m_downsamplingWidget; }

signals:
    void computationFinished();
    void dataDownsampled();

public slots:
    void normalizeChanged(int state);
    void perplexityChanged(int value);
    void inputDataChanged(int index);
    /// Shows the downsampling dock floating beside the main window that
    /// holds the panel (the active window may be a floating dock).
    void downsampleButtonClicked();
    void computeTSNE();
    void stopTSNE();
    void downsamplingComplete();

private:
    /// The analysis as an A-tSNE analysis; null when detached or of another type.
    MCV_TsneAnalysis* tsneAnalysis() const;

    QComboBox* m_inputDataComboBox = nullptr;
    QPushButton* m_computeButton = nullptr;
    QCheckBox* m_normalizeCheckBox = nullptr;
    QSpinBox* m_perplexitySpinBox = nullptr;
    /// Made without a parent; a main window adopts it when it is docked, and
    /// may delete it first when it closes.
    QPointer<UI_SelectiveDownsamplingWidget> m_downsamplingWidget;
};
