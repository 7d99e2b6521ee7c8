#pragma once

#include "framework/UI_DockableWidget.h"

class QTabWidget;

/// A dock that shows one tab per added widget (the "Settings" dock holds one
/// settings panel per analysis). The tab widget exists from the first tab on.
class UI_DockableContainerWidget : public UI_DockableWidget
{
    Q_OBJECT

public:
    explicit UI_DockableContainerWidget(QWidget* parent = nullptr);
    ~UI_DockableContainerWidget() override;

    /// Adds `widget` as a new tab titled `title`; the first call creates the
    /// tab widget at row 0, column 0 of the content layout.
    void addTab(QWidget* widget, const QString& title);
    /// Takes the widget's tab away; the widget is neither hidden nor deleted.
    void removeTab(QWidget* widget);

private:
    QTabWidget* m_tabWidget = nullptr;
};
