#include "widgets/UI_SettingsWidget.h"

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
    // The marker selection panel rebuilds its boxes here (setData with the
    // analysis, without the "Sample" entry) once that panel exists.
}
