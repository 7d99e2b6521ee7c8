#include "analysis_settings/UI_TsneSettingsWidget.h"

#include "framework/UI_ExpanderWidget.h"
#include "panels/UI_MarkerSelectionWidget.h"
#include "panels/hasActiveMarkersOrWarn.h"

#include "analyses/MCV_TsneAnalysis.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>

UI_TsneSettingsWidget::UI_TsneSettingsWidget(QWidget* parent, MCV_Analysis* analysis)
    : UI_SettingsWidget(parent, analysis)
{
    if (m_analysis)
        initUI();
}

MCV_TsneAnalysis* UI_TsneSettingsWidget::tsneAnalysis() const
{
    if (!m_analysis || m_analysis->analysisType() != MCV_AnalysisTypeTsne)
        return nullptr;
    return static_cast<MCV_TsneAnalysis*>(m_analysis);
}

void UI_TsneSettingsWidget::initUI()
{
    auto* outer = new QGridLayout(this);
    auto* scrollArea = new QScrollArea(this);
    scrollArea->setWidgetResizable(true);
    outer->addWidget(scrollArea, 0, 0);
    auto* content = new QWidget(scrollArea);
    scrollArea->setWidget(content);
    m_layout = new QGridLayout(content);

    m_layout->addWidget(buildInputDataBox(content), 0, 0);

    auto* markerExpander = new UI_ExpanderWidget(content, true, false);
    markerExpander->setTitle("Active Markers");
    m_markerSelectionWidget = new UI_MarkerSelectionWidget(markerExpander, 2);
    m_markerSelectionWidget->setData(m_analysis, false);
    markerExpander->setBody(m_markerSelectionWidget);
    m_layout->addWidget(markerExpander, 1, 0);

    auto* advancedExpander = new UI_ExpanderWidget(content, false, false);
    advancedExpander->setTitle("Advanced Parameters");
    auto* advancedBody = new QWidget(advancedExpander);
    auto* advancedLayout = new QGridLayout(advancedBody);
    advancedLayout->addWidget(new QLabel("Normalize", advancedBody), 0, 0);
    m_normalizeCheckBox = new QCheckBox(advancedBody);
    if (MCV_TsneAnalysis* tsne = tsneAnalysis())
        m_normalizeCheckBox->setChecked(!tsne->skipNormalization());
    advancedLayout->addWidget(m_normalizeCheckBox, 0, 1);
    connect(m_normalizeCheckBox, &QCheckBox::stateChanged, this, &UI_TsneSettingsWidget::normalizeChanged);
    advancedExpander->setBody(advancedBody);
    m_layout->addWidget(advancedExpander, 2, 0);

    auto* parameterExpander = new UI_ExpanderWidget(content, true, false);
    parameterExpander->setTitle("Parameters");
    auto* parameterBody = new QWidget(parameterExpander);
    auto* parameterLayout = new QGridLayout(parameterBody);
    parameterLayout->addWidget(new QLabel("Perplexity", parameterBody), 0, 0);
    m_perplexitySpinBox = new QSpinBox(parameterBody);
    m_perplexitySpinBox->setRange(0, 100);
    if (MCV_TsneAnalysis* tsne = tsneAnalysis())
        m_perplexitySpinBox->setValue(tsne->perplexity());
    parameterLayout->addWidget(m_perplexitySpinBox, 0, 1);
    parameterLayout->setColumnStretch(0, 0);
    parameterLayout->setColumnStretch(1, 1);
    connect(m_perplexitySpinBox, qOverload<int>(&QSpinBox::valueChanged), this,
            &UI_TsneSettingsWidget::perplexityChanged);
    parameterExpander->setBody(parameterBody);
    m_layout->addWidget(parameterExpander, 3, 0);

    m_computeButton = new QPushButton(" Compute tSNE ", content);
    // Pressed, not clicked: the computation runs inside this signal.
    connect(m_computeButton, &QPushButton::pressed, this, &UI_TsneSettingsWidget::computeTSNE);
    m_layout->addWidget(m_computeButton, 4, 0);

    for (int row = 0; row < 4; ++row)
        m_layout->setRowStretch(row, 0);
    m_layout->setRowStretch(4, 1);
    m_layout->setRowStretch(5, 1);
}

void UI_TsneSettingsWidget::normalizeChanged(int state)
{
    if (MCV_TsneAnalysis* tsne = tsneAnalysis())
        tsne->setSkipNormalization(state == 0);
}

void UI_TsneSettingsWidget::perplexityChanged(int value)
{
    if (MCV_TsneAnalysis* tsne = tsneAnalysis())
        tsne->setPerplexity(value);
}

void UI_TsneSettingsWidget::computeTSNE()
{
    MCV_TsneAnalysis* tsne = tsneAnalysis();
    if (!tsne || !hasActiveMarkersOrWarn(tsne, this))
        return;
    // Runs to its end in here; the analysis may be gone afterwards.
    tsne->compute();
}

void UI_TsneSettingsWidget::stopTSNE()
{
    if (MCV_TsneAnalysis* tsne = tsneAnalysis())
        tsne->stop();
}
