#include "analysis_settings/UI_SpadeSettingsWidget.h"

#include "framework/UI_ExpanderWidget.h"

#include "analyses/MCV_SpadeAnalysis.h"

#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>

namespace {

/// A box of label and control rows under a titled expander, added to `grid` at `row`.
QGridLayout* addParameterBox(QGridLayout* grid, int row, const QString& title, bool expanded)
{
    auto* expander = new UI_ExpanderWidget(grid->parentWidget(), expanded, false);
    expander->setTitle(title);
    auto* body = new QWidget(expander);
    auto* rows = new QGridLayout(body);
    rows->setAlignment(Qt::AlignTop);
    rows->setColumnStretch(0, 0);
    rows->setColumnStretch(1, 1);
    expander->setBody(body);
    grid->addWidget(expander, row, 0);
    return rows;
}

void addRow(QGridLayout* rows, const QString& label, QWidget* control, const QString& toolTip)
{
    auto* text = new QLabel(label);
    text->setToolTip(toolTip);
    control->setToolTip(toolTip);
    const int row = rows->rowCount() == 1 && !rows->itemAtPosition(0, 0) ? 0 : rows->rowCount();
    rows->addWidget(text, row, 0);
    rows->addWidget(control, row, 1);
}

QSpinBox* intBox(int maximum, int value)
{
    auto* box = new QSpinBox();
    box->setRange(0, maximum);
    box->setValue(value);
    return box;
}

/// A box with two decimals; the standard range (0.00 to 99.99) unless a maximum is given.
QDoubleSpinBox* doubleBox(float value, double maximum = -1.0)
{
    auto* box = new QDoubleSpinBox();
    box->setDecimals(2);
    if (maximum > 0.0)
        box->setRange(0.0, maximum);
    box->setValue(static_cast<double>(value));
    return box;
}

} // namespace

UI_SpadeSettingsWidget::UI_SpadeSettingsWidget(QWidget* parent, MCV_Analysis* analysis)
    : UI_SettingsWidget(parent, analysis)
{
    if (m_analysis)
        initUI();
}

void UI_SpadeSettingsWidget::initUI()
{
    if (!spadeAnalysis())
        return;
    const MCV_SpadeAnalysis& values = *spadeAnalysis();
    m_gridLayout = buildScrollingContent();

    // Each control shows the analysis' value before its signal is connected,
    // so building the panel changes nothing.
    QGridLayout* advanced = addParameterBox(m_gridLayout, 1, "Advanced Parameters", false);
    QSpinBox* sampleSize = intBox(999999, values.sampleSize());
    addRow(advanced, "Heuristic Sample", sampleSize,
           "The number of random Points used to determine the median density.");
    QDoubleSpinBox* alpha = doubleBox(values.alpha());
    addRow(advanced, "Alpha", alpha, "Scales the neighborhood size for the density computation for downsampling.");
    QDoubleSpinBox* targetDensity = doubleBox(values.targetDensityPercentile());
    addRow(advanced, "Target Density %", targetDensity,
           "Percentile of the upper limit of the target density. Points with a density between the outlier density "
           "and the target density are considered rare, but not noise and kept.\n A value of 3.0 (and an outlier "
           "density of 1.0) means the cells in between the first and third percentile, ordered by density are "
           "considered rare and kept.\nPoints with a density above this value are kept only with a probability "
           "according to their density, the larger the density, the lower the probability.");
    QDoubleSpinBox* outlierDensity = doubleBox(values.outlierDensityPercentile());
    addRow(advanced, "Outlier Density %", outlierDensity,
           "Percentile of the upper limit of the outlier density. Points with a density below this threshold are "
           "considered as noise.\nA value of 1.0 means the first percentile of the cells ordered by density is "
           "discarded. Use larger values if you expect more noise.");

    QGridLayout* parameters = addParameterBox(m_gridLayout, 2, "Parameters", true);
    QDoubleSpinBox* keep = doubleBox(values.keepPercentage(), 100.0);
    addRow(parameters, "Target Events %", keep,
           "Target number of points to keep after downsampling in percent.\nThe number might not be reached "
           "depending on the outlier and target density parameters.");
    QSpinBox* nodes = intBox(99999, values.targetClusterCount());
    addRow(parameters, "Target Nodes", nodes, "Target number of nodes in the SPADE tree.");

    const auto doubleChanged = qOverload<double>(&QDoubleSpinBox::valueChanged);
    const auto intChanged = qOverload<int>(&QSpinBox::valueChanged);
    connect(sampleSize, intChanged, this, &UI_SpadeSettingsWidget::sampleSizeChanged);
    connect(alpha, doubleChanged, this, &UI_SpadeSettingsWidget::alphaChanged);
    connect(targetDensity, doubleChanged, this, &UI_SpadeSettingsWidget::targetDensityPercentileChanged);
    connect(outlierDensity, doubleChanged, this, &UI_SpadeSettingsWidget::outlierDensityPercentileChanged);
    connect(keep, doubleChanged, this, &UI_SpadeSettingsWidget::densityLimitChanged);
    connect(nodes, intChanged, this, &UI_SpadeSettingsWidget::targetClusterNumberChanged);

    m_button = new QPushButton(" Compute Spade Tree ", m_gridLayout->parentWidget());
    m_gridLayout->addWidget(m_button, 3, 0, Qt::AlignTop);
    connect(m_button, &QPushButton::pressed, this, &UI_SpadeSettingsWidget::compute);

    for (int row = 0; row < 3; ++row)
        m_gridLayout->setRowStretch(row, 0);
    m_gridLayout->setRowStretch(3, 1);
}

MCV_SpadeAnalysis* UI_SpadeSettingsWidget::spadeAnalysis() const
{
    return dynamic_cast<MCV_SpadeAnalysis*>(m_analysis);
}

void UI_SpadeSettingsWidget::sampleSizeChanged(int value)
{
    if (MCV_SpadeAnalysis* analysis = spadeAnalysis())
        analysis->setSampleSize(value);
}

void UI_SpadeSettingsWidget::alphaChanged(double value)
{
    if (MCV_SpadeAnalysis* analysis = spadeAnalysis())
        analysis->setAlpha(static_cast<float>(value));
}

void UI_SpadeSettingsWidget::targetDensityPercentileChanged(double value)
{
    if (MCV_SpadeAnalysis* analysis = spadeAnalysis())
        analysis->setTargetDensityPercentile(static_cast<float>(value));
}

void UI_SpadeSettingsWidget::outlierDensityPercentileChanged(double value)
{
    if (MCV_SpadeAnalysis* analysis = spadeAnalysis())
        analysis->setOutlierDensityPercentile(static_cast<float>(value));
}

void UI_SpadeSettingsWidget::densityLimitChanged(double value)
{
    if (MCV_SpadeAnalysis* analysis = spadeAnalysis())
        analysis->setKeepPercentage(static_cast<float>(value));
}

void UI_SpadeSettingsWidget::targetClusterNumberChanged(int value)
{
    if (MCV_SpadeAnalysis* analysis = spadeAnalysis())
        analysis->setTargetClusterCount(value);
}

void UI_SpadeSettingsWidget::compute()
{
    MCV_SpadeAnalysis* analysis = spadeAnalysis();
    if (!analysis)
        return;
    if (analysis->activeMarkerIndices().empty()) {
        QMessageBox box(QMessageBox::Warning, "No markers selected",
                        "No markers selected.\nSelect at least one marker to compute the SPADE tree.", QMessageBox::Ok,
                        this);
        box.exec();
        return;
    }
    analysis->computeSpadeTree();
}
