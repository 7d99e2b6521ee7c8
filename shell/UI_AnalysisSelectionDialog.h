#pragma once

#include <QDialog>

class QGridLayout;
class QListView;

/// Asks which of several analyses a new view should show: a list of their
/// names, one of which is chosen, with "OK" and "Cancel".
class UI_AnalysisSelectionDialog : public QDialog
{
    Q_OBJECT

public:
    UI_AnalysisSelectionDialog(QWidget* parent, Qt::WindowFlags flags);

    /// Title, prompt, the names (row 0 chosen) and the buttons; call once.
    void build(const QStringList& names);
    /// Row of the chosen name, -1 when none is chosen.
    int selectedIndexes() const;

private:
    QGridLayout* m_layout = nullptr;
    QListView* m_listView = nullptr;
};
