#include "scatterplot/UI_TsneSettingsSliderWidget.h"

#include "panels/hasActiveMarkersOrWarn.h"

#include "web/UI_DualSliderWidget.h"
#include "web/UI_MaterialCheckBoxWidget.h"

#include "analyses/MCV_IterativeAnalysis.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>

namespace {

const int kPanelHeight = 110;
const char* const kWhiteTexts =
    "QRadioButton{color: white;}QLabel{color: white;}QCheckBox{color: white;}QGroupBox{color: white;}";

QSlider* horizontalSlider(QWidget* parent, int minimum, int maximum, int value)
{
    auto* slider = new QSlider(Qt::Horizontal, parent);
    slider->setRange(minimum, maximum);
    slider->setValue(value);
    return slider;
}

QSpinBox* spinBox(QWidget* parent, int minimum, int maximum, int value = 0)
{
    auto* box = new QSpinBox(parent);
    box->setRange(minimum, maximum);
    box->setValue(value);
    return box;
}

QPushButton* roundButton(QWidget* parent, const QIcon& icon)
{
    auto* button = new QPushButton(parent);
    button->setFixedSize(35, 35);
    button->setIconSize(QSize(35, 35));
    button->setIcon(icon);
    button->setStyleSheet("background-color: transparent; border: none;");
    button->setEnabled(false);
    return button;
}

} // namespace

UI_TsneSettingsSliderWidget::UI_TsneSettingsSliderWidget(MCV_Analysis* analysis, int sigma, QWidget* parent)
    : UI_SettingsSliderWidget(parent, kPanelHeight)
    , m_analysis(analysis)
    , m_sigma(sigma)
{
    if (m_analysis)
        buildUi();
}

UI_TsneSettingsSliderWidget::~UI_TsneSettingsSliderWidget()
{
    for (QWidget* page : m_pages)
        if (page && !page->parent())
            delete page;
}

MCV_IterativeAnalysis* UI_TsneSettingsSliderWidget::embeddingAnalysis() const
{
    if (!m_analysis)
        return nullptr;
    const int type = m_analysis->analysisType();
    if (type != MCV_AnalysisTypeTsne && type != MCV_AnalysisTypeHsne)
        return nullptr;
    return dynamic_cast<MCV_IterativeAnalysis*>(m_analysis);
}

void UI_TsneSettingsSliderWidget::buildUi()
{
    m_replayIcon = QIcon(":/Icons/replayBt");
    m_runIcon = QIcon(":/Icons/runBt");
    m_pauseIcon = QIcon(":/Icons/pauseBt");

    m_controlArea = new QWidget(this);
    m_controlArea->setStyleSheet(kWhiteTexts);
    m_controlArea->setFixedWidth(static_cast<int>(width() * 0.8));
    m_controlArea->setMinimumHeight(95);
    m_layout->addWidget(m_controlArea, 1, 1);
    m_buttonColumn = new QWidget(this);
    m_buttonColumn->setFixedWidth(static_cast<int>(width() * 0.1));
    m_layout->addWidget(m_buttonColumn, 0, 0, 2, 1, Qt::AlignCenter);

    m_controlGrid = new QGridLayout(m_controlArea);
    m_controlGrid->setContentsMargins(0, 0, 0, 0);
    m_modeComboBox = new QComboBox(m_controlArea);
    m_modeComboBox->addItems({"Single-Cell", "Clustering", "Advanced"});
    m_controlGrid->addWidget(m_modeComboBox, 0, 0, Qt::AlignTop);
    m_darkModeCheckBox = new UI_MaterialCheckBoxWidget("Darkmode", m_controlArea);
    m_controlGrid->addWidget(m_darkModeCheckBox, 1, 0, Qt::AlignBottom);
    connect(m_darkModeCheckBox, &UI_MaterialCheckBoxWidget::stateChanged, this,
            &UI_TsneSettingsSliderWidget::darkModeChecked);
    m_controlGrid->setColumnStretch(0, 0);
    m_controlGrid->setColumnStretch(1, 1);

    m_pages[0] = buildSingleCellPage();
    m_pages[1] = buildClusteringPage();
    m_pages[2] = buildAdvancedPage();
    for (QWidget* page : m_pages)
        page->setStyleSheet(kWhiteTexts);
    m_shownPage = m_pages[0];
    m_controlGrid->addWidget(m_shownPage, 0, 1, 3, 1, Qt::AlignTop);
    connect(m_modeComboBox, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &UI_TsneSettingsSliderWidget::setMode);

    auto* buttons = new QGridLayout(m_buttonColumn);
    buttons->setContentsMargins(0, 0, 0, 0);
    m_runButton = roundButton(m_buttonColumn, m_runIcon);
    m_replayButton = roundButton(m_buttonColumn, m_replayIcon);
    buttons->addWidget(m_runButton, 0, 0);
    buttons->addWidget(m_replayButton, 1, 0);
    // Pressed, not clicked: the run happens inside this signal.
    connect(m_runButton, &QPushButton::pressed, this, &UI_TsneSettingsSliderWidget::computeEmbeddingPressed);
    connect(m_replayButton, &QPushButton::pressed, this, &UI_TsneSettingsSliderWidget::restartEmbeddingPressed);

    // The analysis' settings, passed on through the setters like a user's.
    if (MCV_IterativeAnalysis* embedding = embeddingAnalysis()) {
        m_exaggerationSpinBox->setValue(embedding->exaggerationIterations());
        m_expDecaySpinBox->setValue(embedding->exponentialDecayIterations());
        m_iterationsSpinBox->setValue(embedding->iterations());
    }
}

QWidget* UI_TsneSettingsSliderWidget::buildSingleCellPage()
{
    auto* page = new QWidget(m_controlArea);
    auto* grid = new QGridLayout(page);
    m_markerComboBox = new QComboBox(page);
    m_markerComboBox->setMinimumWidth(125);
    grid->addWidget(m_markerComboBox, 0, 0);
    m_markerRangeSlider = new UI_DualSliderWidget(page);
    grid->addWidget(m_markerRangeSlider, 0, 1);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 999);
    connect(m_markerComboBox, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &UI_TsneSettingsSliderWidget::setMarker);
    connect(m_markerRangeSlider, &UI_DualSliderWidget::valuesChanged, this,
            &UI_TsneSettingsSliderWidget::setMarkerSpan);

    auto* look = new QWidget(page);
    auto* lookGrid = new QGridLayout(look);
    lookGrid->setContentsMargins(0, 0, 0, 0);
    const struct
    {
        const char* label;
        int minimum, maximum, value;
        void (UI_TsneSettingsSliderWidget::*slot)(int);
    } sliders[] = {{"Point Size", 50, 200, 100, &UI_TsneSettingsSliderWidget::setpointSize},
                   {"Point Opacity", 20, 100, 60, &UI_TsneSettingsSliderWidget::setpointOpacity},
                   {"Halo Size", 10, 50, 20, &UI_TsneSettingsSliderWidget::setpointHaloSize}};
    int column = 0;
    for (const auto& s : sliders) {
        lookGrid->addWidget(new QLabel(s.label, look), 0, column++);
        QSlider* slider = horizontalSlider(look, s.minimum, s.maximum, s.value);
        lookGrid->addWidget(slider, 0, column++);
        connect(slider, &QSlider::valueChanged, this, s.slot);
    }
    grid->addWidget(look, 1, 0, 1, 2);
    return page;
}

void UI_TsneSettingsSliderWidget::addSigmaControls(QWidget* page, QGridLayout* grid, int row, int column)
{
    QSlider* slider = horizontalSlider(page, 1, 200, m_sigma);
    QSpinBox* box = spinBox(page, 1, 200, m_sigma);
    grid->addWidget(slider, row, column, 1, 2);
    grid->addWidget(box, row, column + 2);
    connect(slider, &QSlider::valueChanged, this, &UI_TsneSettingsSliderWidget::sigmaChanged);
    connect(box, qOverload<int>(&QSpinBox::valueChanged), this, &UI_TsneSettingsSliderWidget::sigmaChanged);
    // Reclustering is slow: only once the user lets go.
    connect(slider, &QSlider::sliderReleased, this, &UI_TsneSettingsSliderWidget::sigmaSliderUp);
    connect(box, &QSpinBox::editingFinished, this, &UI_TsneSettingsSliderWidget::sigmaSliderUp);
    m_sigmaSliders.push_back(slider);
    m_sigmaSpinBoxes.push_back(box);
}

QWidget* UI_TsneSettingsSliderWidget::buildClusteringPage()
{
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    grid->addWidget(new QLabel("Sigma", page), 0, 0);
    addSigmaControls(page, grid, 0, 1);
    m_clusterButton = new QPushButton("Cluster", page);
    m_clusterButton->setEnabled(false);
    grid->addWidget(m_clusterButton, 1, 2);
    connect(m_clusterButton, &QPushButton::pressed, this, &UI_TsneSettingsSliderWidget::computeMSOnce);
    m_continuousCheckBox = new UI_MaterialCheckBoxWidget("Continously", page);
    grid->addWidget(m_continuousCheckBox, 1, 3);
    connect(m_continuousCheckBox, &UI_MaterialCheckBoxWidget::stateChanged, this,
            &UI_TsneSettingsSliderWidget::computeMSotf);
    const int stretches[] = {1, 99, 1, 0};
    for (int c = 0; c < 4; ++c)
        grid->setColumnStretch(c, stretches[c]);
    return page;
}

QWidget* UI_TsneSettingsSliderWidget::buildAdvancedPage()
{
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    m_clusterPointsRadio = new QRadioButton("Clusters Points", page);
    m_clusterPartitionsRadio = new QRadioButton("Clusters Partitions", page);
    m_rawDensityRadio = new QRadioButton("Raw Density", page);
    m_gradientsRadio = new QRadioButton("Gradients", page);
    m_clusterPointsRadio->setChecked(true);
    int row = 0;
    for (QRadioButton* radio : {m_clusterPointsRadio, m_clusterPartitionsRadio, m_rawDensityRadio, m_gradientsRadio}) {
        grid->addWidget(radio, row++, 0);
        connect(radio, &QRadioButton::clicked, this, &UI_TsneSettingsSliderWidget::setAdvancedMode);
    }
    addSigmaControls(page, grid, 0, 1);

    auto* settings = new QWidget(page);
    auto* settingsGrid = new QGridLayout(settings);
    settingsGrid->setContentsMargins(0, 0, 0, 0);
    m_iterationsSpinBox = spinBox(settings, 0, 99999);
    m_exaggerationSpinBox = spinBox(settings, 0, 500);
    m_expDecaySpinBox = spinBox(settings, 0, 500);
    m_clusterResolutionSpinBox = spinBox(settings, 64, 1024, 256);
    int column = 0;
    for (auto [label, box] : {std::pair<const char*, QSpinBox*>{"# Iters:", m_iterationsSpinBox},
                              {"Exag", m_exaggerationSpinBox},
                              {"ExpDec", m_expDecaySpinBox},
                              {"Cluster Res", m_clusterResolutionSpinBox}}) {
        settingsGrid->addWidget(new QLabel(label, settings), 0, column++);
        settingsGrid->addWidget(box, 0, column++);
    }
    grid->addWidget(settings, 2, 1, 1, 3);
    grid->setColumnStretch(1, 999);
    connect(m_iterationsSpinBox, qOverload<int>(&QSpinBox::valueChanged), this,
            &UI_TsneSettingsSliderWidget::iterationsChanged);
    connect(m_exaggerationSpinBox, qOverload<int>(&QSpinBox::valueChanged), this,
            &UI_TsneSettingsSliderWidget::exaggerationItChanged);
    connect(m_expDecaySpinBox, qOverload<int>(&QSpinBox::valueChanged), this,
            &UI_TsneSettingsSliderWidget::expDecayChanged);
    connect(m_clusterResolutionSpinBox, qOverload<int>(&QSpinBox::valueChanged), this,
            &UI_TsneSettingsSliderWidget::msGridSizeChanged);
    return page;
}

void UI_TsneSettingsSliderWidget::resizeEvent(QResizeEvent* event)
{
    UI_SettingsSliderWidget::resizeEvent(event);
    if (m_controlArea)
        m_controlArea->setFixedWidth(static_cast<int>(event->size().width() * 0.8));
    if (m_buttonColumn)
        m_buttonColumn->setFixedWidth(static_cast<int>(event->size().width() * 0.1));
}

void UI_TsneSettingsSliderWidget::setMarkerNames(const std::vector<std::string>& names)
{
    if (!m_markerComboBox)
        return;
    {
        const QSignalBlocker blocker(m_markerComboBox);
        m_markerComboBox->clear();
        m_markerComboBox->addItem("Sample");
        for (const std::string& name : names)
            m_markerComboBox->addItem(QString::fromStdString(name));
        m_markerComboBox->setCurrentIndex(0);
    }
    setMarker(0);
}

void UI_TsneSettingsSliderWidget::setMarkerRange(float minimum, float maximum, float lower, float upper)
{
    if (m_markerRangeSlider)
        m_markerRangeSlider->setRangeAndValues(minimum, maximum, lower, upper);
}

void UI_TsneSettingsSliderWidget::setComputing(bool computing)
{
    m_computing = computing;
    if (!m_runButton)
        return;
    if (computing) {
        m_replayButton->setEnabled(true);
        m_runButton->setEnabled(true);
        m_clusterButton->setEnabled(true);
    }
    m_runButton->setIcon(computing ? m_pauseIcon : m_runIcon);
}

void UI_TsneSettingsSliderWidget::setMode(int index)
{
    if (index < 0 || index > 2)
        return;
    if (m_shownPage != m_pages[index]) {
        m_controlGrid->removeWidget(m_shownPage);
        m_shownPage->setParent(nullptr);
        m_shownPage = m_pages[index];
        m_controlGrid->addWidget(m_shownPage, 0, 1, 3, 1, Qt::AlignTop);
        m_shownPage->show();
    }
    if (index < 2) {
        emit parentSetMode(index);
        emit parentSetAdvancedMode(-1);
    } else {
        emit parentSetMode(m_clusterPointsRadio->isChecked() ? 0 : 1);
        emit parentSetAdvancedMode(m_advancedMode);
    }
}

void UI_TsneSettingsSliderWidget::setAdvancedMode()
{
    const QRadioButton* partitionModes[] = {m_clusterPartitionsRadio, m_rawDensityRadio, m_gradientsRadio};
    if (m_clusterPointsRadio->isChecked()) {
        m_advancedMode = 0;
        emit parentSetMode(0);
    } else {
        for (int mode = 1; mode <= 3; ++mode) {
            if (partitionModes[mode - 1]->isChecked()) {
                m_advancedMode = mode;
                emit parentSetMode(1);
            }
        }
    }
    emit parentSetAdvancedMode(m_advancedMode);
}

void UI_TsneSettingsSliderWidget::darkModeChecked(int state)
{
    emit parentSetDarkMode(state > 0);
}

void UI_TsneSettingsSliderWidget::setMarker(int index)
{
    m_markerRangeSlider->setSliderEnabled(index >= 1);
    emit parentSetMarker(index - 1);
}

void UI_TsneSettingsSliderWidget::setMarkerSpan(float lower, float upper)
{
    emit parentSetMarkerSpan(lower, upper);
}

void UI_TsneSettingsSliderWidget::setpointSize(int value)
{
    emit parentSetpointSize(static_cast<float>(value * 0.0001));
}

void UI_TsneSettingsSliderWidget::setpointOpacity(int value)
{
    emit parentSetpointOpacity(static_cast<float>(value * 0.01));
}

void UI_TsneSettingsSliderWidget::setpointHaloSize(int value)
{
    emit parentSetpointHaloSize(static_cast<float>(value * 0.01));
}

void UI_TsneSettingsSliderWidget::saturationChanged(int value)
{
    emit parentSetSaturation(static_cast<float>(1.0 / (value * 1000.0)));
}

void UI_TsneSettingsSliderWidget::sigmaChanged(int value)
{
    m_sigma = value;
    // The other three follow without reporting back.
    for (QSlider* slider : m_sigmaSliders) {
        const QSignalBlocker blocker(slider);
        slider->setValue(value);
    }
    for (QSpinBox* box : m_sigmaSpinBoxes) {
        const QSignalBlocker blocker(box);
        box->setValue(value);
    }
    emit parentSetSigma(static_cast<float>(value * 0.005));
}

void UI_TsneSettingsSliderWidget::sigmaSliderUp()
{
    emit parentReclusterWithSigma(static_cast<float>(m_sigma * 0.005));
}

void UI_TsneSettingsSliderWidget::iterationsChanged(int value)
{
    if (MCV_IterativeAnalysis* embedding = embeddingAnalysis())
        embedding->setIterations(value);
}

void UI_TsneSettingsSliderWidget::exaggerationItChanged(int value)
{
    if (MCV_IterativeAnalysis* embedding = embeddingAnalysis())
        embedding->setExaggerationIterations(value);
}

void UI_TsneSettingsSliderWidget::expDecayChanged(int value)
{
    if (MCV_IterativeAnalysis* embedding = embeddingAnalysis())
        embedding->setExponentialDecayIterations(value);
}

void UI_TsneSettingsSliderWidget::msGridSizeChanged(int value)
{
    emit msGridSizeChangedSignal(value);
}

void UI_TsneSettingsSliderWidget::computeMSOnce()
{
    emit computeMSOnceSignal();
}

void UI_TsneSettingsSliderWidget::computeMSotf(int state)
{
    emit computeMSotfSignal(state);
}

void UI_TsneSettingsSliderWidget::computeEmbeddingPressed()
{
    MCV_IterativeAnalysis* embedding = embeddingAnalysis();
    if (!embedding)
        return;
    // Pausing needs no marker: a run must always be stoppable.
    if (embedding->isRunning()) {
        embedding->stop();
        return;
    }
    if (!hasActiveMarkersOrWarn(embedding, this))
        return;
    emit computationStartedSignal();
    embedding->runGradientDescent();
    settleAfterRunRequest();
}

void UI_TsneSettingsSliderWidget::restartEmbeddingPressed()
{
    MCV_IterativeAnalysis* embedding = embeddingAnalysis();
    if (!embedding || !hasActiveMarkersOrWarn(embedding, this))
        return;
    emit computationStartedSignal();
    embedding->stop();
    embedding->restart();
    settleAfterRunRequest();
}

void UI_TsneSettingsSliderWidget::settleAfterRunRequest()
{
    // Detached meanwhile: the analysis may be gone.
    const MCV_IterativeAnalysis* embedding = embeddingAnalysis();
    if (embedding && !embedding->isBusy() && m_computing)
        emit computationRefusedSignal();
}
