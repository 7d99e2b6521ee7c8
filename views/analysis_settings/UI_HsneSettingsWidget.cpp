#include "analysis_settings/UI_HsneSettingsWidget.h"

#include "framework/UI_ExpanderWidget.h"
#include "panels/hasActiveMarkersOrWarn.h"

#include "analyses/MCV_HsneAnalysisHierarchy.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

namespace {

/// A titled expander with label and control rows, added to `grid` at `row`.
QGridLayout* addBox(QGridLayout* grid, int row, const QString& title, bool expanded)
{
    auto* expander = new UI_ExpanderWidget(grid->parentWidget(), expanded, false);
    expander->setTitle(title);
    auto* body = new QWidget(expander);
    auto* rows = new QGridLayout(body);
    rows->setAlignment(Qt::AlignTop);
    rows->setColumnStretch(1, 1);
    expander->setBody(body);
    grid->addWidget(expander, row, 0);
    return rows;
}

void addRow(QGridLayout* rows, const QString& label, QWidget* control)
{
    const int row = rows->count() / 2;
    rows->addWidget(new QLabel(label), row, 0);
    rows->addWidget(control, row, 1);
}

QSpinBox* intBox(int minimum, int maximum, int value)
{
    auto* box = new QSpinBox();
    box->setRange(minimum, maximum);
    box->setValue(value);
    return box;
}

} // namespace

UI_HsneSettingsWidget::UI_HsneSettingsWidget(QWidget* parent, MCV_Analysis* analysis)
    : UI_SettingsWidget(parent, analysis)
{
    if (hierarchyAnalysis())
        initUI();
}

MCV_HsneAnalysisHierarchy* UI_HsneSettingsWidget::hierarchyAnalysis() const
{
    return dynamic_cast<MCV_HsneAnalysisHierarchy*>(m_analysis);
}

void UI_HsneSettingsWidget::initUI()
{
    const MCV_HsneAnalysisHierarchy* values = hierarchyAnalysis();
    if (values == nullptr)
        return;
    QGridLayout* grid = buildScrollingContent();

    grid->addWidget(buildInputDataBox(grid->parentWidget()), 1, 0);

    // Each control shows the analysis' value before it is connected, so
    // building the panel changes nothing.
    QGridLayout* parameters = addBox(grid, 2, "Parameters", true);
    QSpinBox* scales = intBox(1, 10, values->scaleCount());
    addRow(parameters, "Scales", scales);
    QSpinBox* iterations = intBox(1, 100000, values->iterations());
    addRow(parameters, "Iterations", iterations);

    QGridLayout* advanced = addBox(grid, 3, "Advanced Parameters", false);
    QSpinBox* seed = intBox(-1, 2147483647, values->seed());
    addRow(advanced, "Random Seed", seed);
    QSpinBox* walksPerLandmark = intBox(1, 100000, values->walksPerLandmark());
    addRow(advanced, "Walks per Landmark", walksPerLandmark);
    QSpinBox* monteCarloWalks = intBox(1, 100000, values->monteCarloWalks());
    addRow(advanced, "Landmark Walks", monteCarloWalks);
    auto* threshold = new QDoubleSpinBox();
    threshold->setRange(0.0, 1000.0);
    threshold->setDecimals(2);
    threshold->setValue(static_cast<double>(values->landmarkThreshold()));
    addRow(advanced, "Landmark Threshold", threshold);
    QSpinBox* walkLength = intBox(1, 1000, values->walkLength());
    addRow(advanced, "Walk Length", walkLength);
    QSpinBox* prune = intBox(0, 100000, values->pruneThreshold());
    addRow(advanced, "Prune Threshold", prune);
    QSpinBox* checks = intBox(1, 100000, values->knnChecks());
    addRow(advanced, "kNN Checks", checks);
    auto* outOfCore = new QCheckBox();
    outOfCore->setChecked(values->outOfCore());
    addRow(advanced, "Memory Preserving", outOfCore);

    QGridLayout* clustering = addBox(grid, 4, "Clustering", false);
    QSpinBox* gridSize = intBox(16, 1024, 256);
    addRow(clustering, "Grid Size", gridSize);
    auto* onTheFly = new QCheckBox();
    addRow(clustering, "On the Fly", onTheFly);
    m_clusterOnceButton = new QPushButton("Cluster");
    clustering->addWidget(m_clusterOnceButton, clustering->count() / 2, 1);

    auto* compute = new QPushButton(" Compute HSNE ");
    grid->addWidget(compute, 5, 0);
    grid->setRowStretch(6, 1);

    connect(scales, qOverload<int>(&QSpinBox::valueChanged), this, &UI_HsneSettingsWidget::numScalesChanged);
    connect(iterations, qOverload<int>(&QSpinBox::valueChanged), this, &UI_HsneSettingsWidget::iterationsChanged);
    connect(seed, qOverload<int>(&QSpinBox::valueChanged), this, &UI_HsneSettingsWidget::seedChanged);
    connect(walksPerLandmark, qOverload<int>(&QSpinBox::valueChanged), this,
            &UI_HsneSettingsWidget::numWalksPerLandmarkChanged);
    connect(monteCarloWalks, qOverload<int>(&QSpinBox::valueChanged), this,
            &UI_HsneSettingsWidget::mcmcsNumWalksChanged);
    connect(threshold, qOverload<double>(&QDoubleSpinBox::valueChanged), this,
            &UI_HsneSettingsWidget::mcmcsLandmarkThreshChanged);
    connect(walkLength, qOverload<int>(&QSpinBox::valueChanged), this,
            &UI_HsneSettingsWidget::mcmcsWalkLengthChanged);
    connect(prune, qOverload<int>(&QSpinBox::valueChanged), this, &UI_HsneSettingsWidget::pruneThreshChanged);
    connect(checks, qOverload<int>(&QSpinBox::valueChanged), this, &UI_HsneSettingsWidget::aknnNumChecksChanged);
    connect(outOfCore, &QCheckBox::toggled, this, &UI_HsneSettingsWidget::memPreservingChanged);
    connect(gridSize, qOverload<int>(&QSpinBox::valueChanged), this, &UI_HsneSettingsWidget::msGridSizeChanged);
    connect(onTheFly, &QCheckBox::stateChanged, this, &UI_HsneSettingsWidget::computeMSotf);
    connect(m_clusterOnceButton, &QPushButton::clicked, this, &UI_HsneSettingsWidget::computeMSOnce);
    // Pressed, not clicked: the computation runs inside this signal.
    connect(compute, &QPushButton::pressed, this, &UI_HsneSettingsWidget::computeHSNE);
}

void UI_HsneSettingsWidget::seedChanged(int value)
{
    if (MCV_HsneAnalysisHierarchy* hierarchy = hierarchyAnalysis())
        hierarchy->setSeed(value);
}

void UI_HsneSettingsWidget::memPreservingChanged(bool on)
{
    if (MCV_HsneAnalysisHierarchy* hierarchy = hierarchyAnalysis())
        hierarchy->setOutOfCore(on);
}

void UI_HsneSettingsWidget::aknnNumChecksChanged(int value)
{
    if (MCV_HsneAnalysisHierarchy* hierarchy = hierarchyAnalysis())
        hierarchy->setKnnChecks(value);
}

void UI_HsneSettingsWidget::numWalksPerLandmarkChanged(int value)
{
    if (MCV_HsneAnalysisHierarchy* hierarchy = hierarchyAnalysis())
        hierarchy->setWalksPerLandmark(value);
}

void UI_HsneSettingsWidget::mcmcsNumWalksChanged(int value)
{
    if (MCV_HsneAnalysisHierarchy* hierarchy = hierarchyAnalysis())
        hierarchy->setMonteCarloWalks(value);
}

void UI_HsneSettingsWidget::mcmcsLandmarkThreshChanged(double value)
{
    if (MCV_HsneAnalysisHierarchy* hierarchy = hierarchyAnalysis())
        hierarchy->setLandmarkThreshold(static_cast<float>(value));
}

void UI_HsneSettingsWidget::mcmcsWalkLengthChanged(int value)
{
    if (MCV_HsneAnalysisHierarchy* hierarchy = hierarchyAnalysis())
        hierarchy->setWalkLength(value);
}

void UI_HsneSettingsWidget::pruneThreshChanged(int value)
{
    if (MCV_HsneAnalysisHierarchy* hierarchy = hierarchyAnalysis())
        hierarchy->setPruneThreshold(value);
}

void UI_HsneSettingsWidget::iterationsChanged(int value)
{
    if (MCV_HsneAnalysisHierarchy* hierarchy = hierarchyAnalysis())
        hierarchy->setIterations(value);
}

void UI_HsneSettingsWidget::numScalesChanged(int value)
{
    if (MCV_HsneAnalysisHierarchy* hierarchy = hierarchyAnalysis())
        hierarchy->setScaleCount(value);
}

void UI_HsneSettingsWidget::msGridSizeChanged(int size)
{
    emit msGridChanged(size);
}

void UI_HsneSettingsWidget::computeHSNE()
{
    MCV_HsneAnalysisHierarchy* hierarchy = hierarchyAnalysis();
    if (hierarchy == nullptr || !hasActiveMarkersOrWarn(hierarchy, this))
        return;
    // Runs the overview's loop to its end in here; the analysis may be gone afterwards.
    hierarchy->computeHierarchy();
}

void UI_HsneSettingsWidget::stopHSNE()
{
}

void UI_HsneSettingsWidget::computeMSOnce()
{
    emit computeMSOnceSignal();
}

void UI_HsneSettingsWidget::computeMSotf(int state)
{
    emit computeMSotfSignal(state);
    m_clusterOnceButton->setEnabled(state == 0);
}
