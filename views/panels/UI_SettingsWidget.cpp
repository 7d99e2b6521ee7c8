#include "panels/UI_SettingsWidget.h"

#include "framework/UI_ExpanderWidget.h"
#include "panels/UI_MarkerSelectionWidget.h"

#include "analyses/MCV_Analysis.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataPoints.h"

#include <QComboBox>
#include <QGridLayout>
#include <QMainWindow>
#include <QPushButton>
#include <QScrollArea>

UI_SettingsWidget::UI_SettingsWidget(QWidget* parent, MCV_Analysis* analysis)
    : QWidget(parent)
    , m_analysis(analysis)
{
}

UI_SettingsWidget::~UI_SettingsWidget()
{
    delete m_downsamplingWidget.data();
}

void UI_SettingsWidget::refreshInputData()
{
    if (!m_inputDataComboBox)
        return;
    fillWithPointsSets(m_inputDataComboBox);
    m_inputDataComboBox->setCurrentIndex(m_inputDataComboBox->count() - 1);
    inputDataChanged(m_inputDataComboBox->currentIndex());
}

void UI_SettingsWidget::initUI()
{
}

void UI_SettingsWidget::updateMarkerSelection()
{
    if (!m_markerSelectionWidget || !m_analysis)
        return;
    m_markerSelectionWidget->setData(m_analysis, false);
}

void UI_SettingsWidget::detachAnalysis()
{
    m_analysis = nullptr;
    if (m_markerSelectionWidget)
        m_markerSelectionWidget->setData(nullptr, false);
    if (m_downsamplingWidget)
        m_downsamplingWidget->setAnalysis(nullptr);
}

QGridLayout* UI_SettingsWidget::buildScrollingContent()
{
    m_layout = new QGridLayout(this);
    auto* scrollArea = new QScrollArea(this);
    scrollArea->setWidgetResizable(true);
    auto* content = new QWidget(scrollArea);
    auto* grid = new QGridLayout(content);
    scrollArea->setWidget(content);
    m_layout->addWidget(scrollArea, 0, 0);

    auto* markers = new UI_ExpanderWidget(content, true, false);
    markers->setTitle("Active Markers");
    m_markerSelectionWidget = new UI_MarkerSelectionWidget(markers, 2);
    m_markerSelectionWidget->setData(m_analysis, false);
    markers->setBody(m_markerSelectionWidget);
    grid->addWidget(markers, 0, 0);
    return grid;
}

QWidget* UI_SettingsWidget::buildInputDataBox(QWidget* parent)
{
    auto* expander = new UI_ExpanderWidget(parent, true, false);
    expander->setTitle("Input Data");
    auto* body = new QWidget(expander);
    auto* rows = new QGridLayout(body);
    m_inputDataComboBox = new QComboBox(body);
    rows->addWidget(m_inputDataComboBox, 0, 0);
    auto* downsample = new QPushButton("Downsampling ...", body);
    rows->addWidget(downsample, 1, 0);
    expander->setBody(body);
    m_downsamplingWidget = new UI_SelectiveDownsamplingWidget;
    m_downsamplingWidget->setAnalysis(m_analysis);
    connect(downsample, &QPushButton::clicked, this, &UI_SettingsWidget::downsampleButtonClicked);
    connect(m_downsamplingWidget, &UI_SelectiveDownsamplingWidget::dataDownsampled, this,
            &UI_SettingsWidget::downsamplingComplete);
    connect(m_inputDataComboBox, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &UI_SettingsWidget::inputDataChanged);
    fillWithPointsSets(m_inputDataComboBox);
    return expander;
}

void UI_SettingsWidget::inputDataChanged(int)
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

void UI_SettingsWidget::downsampleButtonClicked()
{
    QMainWindow* mainWindow = nullptr;
    for (QWidget* widget = parentWidget(); widget && !mainWindow; widget = widget->parentWidget())
        mainWindow = qobject_cast<QMainWindow*>(widget);
    if (!mainWindow || !m_downsamplingWidget)
        return;
    mainWindow->addDockWidget(Qt::RightDockWidgetArea, m_downsamplingWidget);
    m_downsamplingWidget->setFloating(true);
    m_downsamplingWidget->setVisibility(true);
}

void UI_SettingsWidget::downsamplingComplete()
{
    emit dataDownsampled();
}

void UI_SettingsWidget::fillWithPointsSets(QComboBox* box)
{
    const QString current = box->currentText();
    box->clear();
    if (MCV_DataRegistry::currentGeneration() != 0)
        for (const MCV_DerivedDataPoints* points : MCV_DataRegistry::instance()->pointsDataList())
            box->addItem(QString::fromStdString(points->name()));
    box->setCurrentText(current);
}

MCV_DerivedDataPoints* UI_SettingsWidget::pointsSetNamed(const std::string& name)
{
    MCV_DerivedDataPoints* found = nullptr;
    if (MCV_DataRegistry::currentGeneration() != 0)
        for (MCV_DerivedDataPoints* points : MCV_DataRegistry::instance()->pointsDataList())
            if (points->name() == name)
                found = points;
    return found;
}
