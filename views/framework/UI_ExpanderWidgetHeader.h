#pragma once

#include <QPixmap>
#include <QString>
#include <QWidget>

class QLabel;
class QMouseEvent;

/// The clickable title bar of an expander: an arrow and a title. A click with
/// any mouse button asks to flip the collapsed state.
class UI_ExpanderWidgetHeader : public QWidget
{
    Q_OBJECT

public:
    explicit UI_ExpanderWidgetHeader(QWidget* parent = nullptr);

    bool isCollapsed() const { return m_collapsed; }
    /// Stores the state and shows the matching arrow.
    void setCollapsed(bool collapsed);
    void setTitle(const QString& text);

signals:
    void headerClicked(bool collapse);

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    bool m_collapsed = false;
    QWidget* m_arrow = nullptr;
    QLabel* m_label = nullptr;
    QString m_collapsedStyle;
    QString m_expandedStyle;
    QPixmap m_openArrow;
    QPixmap m_closeArrow;
};
