#include "analysis_settings/UI_TsneSettingsWidget.h"

#include "framework/UI_ExpanderWidget.h"
#include "panels/UI_MarkerSelectionWidget.h"
#include "panels/hasActiveMarkersOrWarn.h"

#include "analyses/MCV_TsneAnalysis.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataPoints.h"

#include <QCheckBox>
#include <QComboBox>
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

UI_TsneSettingsWidget::~UI_TsneSettingsWidget()
{
    delete m_downsamplingWidget;
}

void UI_TsneSettingsWidget::detachAnalysis()
{
    UI_SettingsWidget::detachAnalysis();
    if (m_downsamplingWidget)
        m_downsamplingWidget->setAnalysis(nullptr);
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

    auto* inputExpander = new UI_ExpanderWidget(content, true, false);
    inputExpander->setTitle("Input Data");
    auto* inputBody = new QWidget(inputExpander);
    auto* inputLayout = new QGridLayout(inputBody);
    m_inputDataComboBox = new QComboBox(inputBody);
    inputLayout->addWidget(m_inputDataComboBox, 0, 0);
    auto* downsampleButton = new QPushButton("Downsampling ...", inputBody);
    inputLayout->addWidget(downsampleButton, 1, 0);
    connect(downsampleButton, &QPushButton::clicked, this, &UI_TsneSettingsWidget::downsampleButtonClicked);
    m_downsamplingWidget = new UI_SelectiveDownsamplingWidget;
    m_downsamplingWidget->setAnalysis(m_analysis);
    connect(m_downsamplingWidget, &UI_SelectiveDownsamplingWidget::dataDownsampled, this,
            &UI_TsneSettingsWidget::downsamplingComplete);
    inputExpander->setBody(inputBody);
    connect(m_inputDataComboBox, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &UI_TsneSettingsWidget::inputDataChanged);
    m_layout->addWidget(inputExpander, 0, 0);

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

    fillWithPointsSets(m_inputDataComboBox);
}

void UI_TsneSettingsWidget::refreshInputData()
{
    if (!m_inputDataComboBox)
        return;
    fillWithPointsSets(m_inputDataComboBox);
    // The newest set, and the analysis takes it even when the choice stays.
    m_inputDataComboBox->setCurrentIndex(m_inputDataComboBox->count() - 1);
    inputDataChanged(m_inputDataComboBox->currentIndex());
}

void UI_TsneSettingsWidget::inputDataChanged(int)
{
    if (!m_analysis)
        return;
    const std::string name = m_inputDataComboBox->currentText().toStdString();
    if (name.empty())
        return;
    MCV_DerivedDataPoints* chosen = pointsSetNamed(name);
    m_analysis->setInputData(chosen);
    if (m_downsamplingWidget)
        m_downsamplingWidget->setInputData(chosen);
}

void UI_TsneSettingsWidget::downsampleButtonClicked()
{
    showFloatingOnHoldingWindow(m_downsamplingWidget);
}

void UI_TsneSettingsWidget::downsamplingComplete()
{
    emit dataDownsampled();
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
