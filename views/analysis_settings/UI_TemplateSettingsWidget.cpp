#include "analysis_settings/UI_TemplateSettingsWidget.h"

#include "framework/UI_ExpanderWidget.h"
#include "framework/showPlainMessage.h"

#include "analyses/MCV_TemplateAnalysis.h"

#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

namespace {

/// One label and spin box row of the "Parameters" box, showing `value`.
QDoubleSpinBox* addLimitRow(QGridLayout* grid, int row, const QString& label, const QString& toolTip, float value)
{
    auto* text = new QLabel(label);
    text->setToolTip(toolTip);
    auto* control = new QDoubleSpinBox();
    control->setToolTip(toolTip);
    control->setValue(static_cast<double>(value));
    grid->addWidget(text, row, 0);
    grid->addWidget(control, row, 1);
    return control;
}

} // namespace

UI_TemplateSettingsWidget::UI_TemplateSettingsWidget(QWidget* parent, MCV_Analysis* analysis)
    : UI_SettingsWidget(parent, analysis)
{
    if (m_analysis)
        initUI();
}

void UI_TemplateSettingsWidget::initUI()
{
    MCV_TemplateAnalysis* analysis = templateAnalysis();
    m_gridLayout = buildScrollingContent();

    auto* parameters = new UI_ExpanderWidget(m_gridLayout->parentWidget(), true, false);
    parameters->setTitle("Parameters");
    auto* body = new QWidget(parameters);
    auto* grid = new QGridLayout(body);
    grid->setAlignment(Qt::AlignTop);
    grid->setColumnStretch(0, 0);
    grid->setColumnStretch(1, 1);
    QDoubleSpinBox* single = addLimitRow(grid, 0, "Max Single Marker Distance",
                                         "Maximum difference for a single marker, for upsampling.",
                                         analysis ? analysis->maxMarkerDistance() : 2.5f);
    QDoubleSpinBox* total = addLimitRow(grid, 1, "Max Total Distance",
                                        "Maximum difference for all markers combined, for upsampling.",
                                        analysis ? analysis->maxProfileDistance() : 20.0f);
    connect(single, qOverload<double>(&QDoubleSpinBox::valueChanged), this,
            &UI_TemplateSettingsWidget::maxSingleDifferenceChanged);
    connect(total, qOverload<double>(&QDoubleSpinBox::valueChanged), this,
            &UI_TemplateSettingsWidget::maxTotalDifferenceChanged);
    parameters->setBody(body);
    m_gridLayout->addWidget(parameters, 1, 0);

    m_button = new QPushButton(" Upsample ", m_gridLayout->parentWidget());
    m_gridLayout->addWidget(m_button, 2, 0, Qt::AlignTop);
    connect(m_button, &QPushButton::pressed, this, &UI_TemplateSettingsWidget::compute);

    m_gridLayout->setRowStretch(0, 0);
    m_gridLayout->setRowStretch(1, 0);
    m_gridLayout->setRowStretch(2, 1);
}

MCV_TemplateAnalysis* UI_TemplateSettingsWidget::templateAnalysis() const
{
    return dynamic_cast<MCV_TemplateAnalysis*>(m_analysis);
}

void UI_TemplateSettingsWidget::maxSingleDifferenceChanged(double value)
{
    if (MCV_TemplateAnalysis* analysis = templateAnalysis())
        analysis->setMaxMarkerDistance(static_cast<float>(value));
}

void UI_TemplateSettingsWidget::maxTotalDifferenceChanged(double value)
{
    if (MCV_TemplateAnalysis* analysis = templateAnalysis())
        analysis->setMaxProfileDistance(static_cast<float>(value));
}

void UI_TemplateSettingsWidget::compute()
{
    MCV_TemplateAnalysis* analysis = templateAnalysis();
    if (!analysis)
        return;
    if (analysis->activeMarkerIndices().empty()) {
        warn("No markers selected", "No markers selected.\nSelect at least one marker to compute the the template "
                                    "matching.");
        return;
    }
    if (!analysis->classify())
        warn("Template matching", "Template matching refused: "
                                      + QString::fromStdString(analysis->refusalReason()));
}

void UI_TemplateSettingsWidget::warn(const QString& title, const QString& text)
{
    showPlainMessage(this, QMessageBox::Warning, title, text);
}
