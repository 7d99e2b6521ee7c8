#pragma once

#include "panels/UI_SettingsWidget.h"

class MCV_TemplateAnalysis;
class QGridLayout;
class QPushButton;

/// The "Settings" tab of a template-matching analysis: its active markers,
/// the two distance limits and " Upsample ", which classifies every event.
/// Edits go to the analysis at once; nothing runs until the button is
/// pressed. The destructor never touches the analysis (the window deletes
/// analyses first).
class UI_TemplateSettingsWidget : public UI_SettingsWidget
{
    Q_OBJECT

public:
    /// Builds the panel only for a non-null analysis.
    UI_TemplateSettingsWidget(QWidget* parent, MCV_Analysis* analysis);

    void initUI() override;

public slots:
    void maxSingleDifferenceChanged(double value);
    void maxTotalDifferenceChanged(double value);
    /// Warns when no marker is active; otherwise classifies, and shows the
    /// analysis' reason when it refuses to run.
    void compute();

private:
    /// The analysis as what it is; null for any other kind.
    MCV_TemplateAnalysis* templateAnalysis() const;
    /// A modal warning box with plain text.
    void warn(const QString& title, const QString& text);

    QGridLayout* m_gridLayout = nullptr;
    QPushButton* m_button = nullptr;
};
