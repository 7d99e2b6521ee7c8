#include "panels/UI_SettingsWidget.h"

#include "framework/UI_DockableWidget.h"
#include "framework/UI_ExpanderWidget.h"
#include "panels/UI_MarkerSelectionWidget.h"

#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataPoints.h"

#include <QComboBox>
#include <QGridLayout>
#include <QMainWindow>
#include <QScrollArea>

UI_SettingsWidget::UI_SettingsWidget(QWidget* parent, MCV_Analysis* analysis)
    : QWidget(parent)
    , m_analysis(analysis)
{
}

void UI_SettingsWidget::refreshInputData()
{
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

void UI_SettingsWidget::showFloatingOnHoldingWindow(UI_DockableWidget* dock)
{
    QMainWindow* mainWindow = nullptr;
    for (QWidget* widget = parentWidget(); widget && !mainWindow; widget = widget->parentWidget())
        mainWindow = qobject_cast<QMainWindow*>(widget);
    if (!mainWindow || !dock)
        return;
    mainWindow->addDockWidget(Qt::RightDockWidgetArea, dock);
    dock->setFloating(true);
    dock->setVisibility(true);
}
