#include "widgets/UI_SettingsWidget.h"

#include "widgets/UI_MarkerSelectionWidget.h"

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
