#pragma once

#include <QWidget>

class QGridLayout;
class UI_ExpanderWidgetHeader;

/// A collapsible box: a clickable header over one body widget. With
/// resizeParentOnToggle the parent given at construction is resized to its
/// size hint after every toggle, so a dialog shrinks and grows with the box.
class UI_ExpanderWidget : public QWidget
{
    Q_OBJECT

public:
    /// `expanded` false starts the box collapsed.
    UI_ExpanderWidget(QWidget* parent, bool expanded, bool resizeParentOnToggle);

    void setTitle(const QString& text);
    /// Puts `body` under the header (hidden at once while collapsed). A
    /// previous body leaves the layout but is neither hidden nor deleted.
    void setBody(QWidget* body);
    bool isCollapsed() const;

public slots:
    /// Collapses (true) or expands (false) the box, then resizes the parent
    /// when asked to; events other than user input are processed meanwhile.
    void hideBody(bool collapse);

private:
    UI_ExpanderWidgetHeader* m_header = nullptr;
    QWidget* m_body = nullptr;
    QWidget* m_parentToResize = nullptr;
    bool m_resizeParentOnToggle = false;
    QGridLayout* m_layout = nullptr;
};
