#pragma once

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QMenu>
#include <QMetaObject>
#include <QObject>
#include <QStringList>

#include <string>

/// Records every dialog and menu shown while it lives, and closes each again,
/// for checks that a call opens none. Code that opens one inside the call
/// shows it there (exec() then blocks in its own event loop; show() and
/// popup() return), so the record is complete when the call returns, however
/// briefly the window was open. The close is queued: the window's own event
/// loop runs it, where exec() would block forever on a window closed before
/// it entered that loop.
///
///     ShownDialogsAndMenus shown;
///     EXPECT_FALSE(SvgDocument::save(nullptr, "<div></div>", "", "x"));
///     EXPECT_EQ(shown.names(), "");
class ShownDialogsAndMenus : public QObject
{
public:
    ShownDialogsAndMenus() { qApp->installEventFilter(this); }
    ~ShownDialogsAndMenus() override { qApp->removeEventFilter(this); }
    ShownDialogsAndMenus(const ShownDialogsAndMenus&) = delete;
    ShownDialogsAndMenus& operator=(const ShownDialogsAndMenus&) = delete;

    /// Class and title of each window shown, in order, joined by ", ";
    /// empty when none was.
    std::string names() const { return m_names.join(", ").toStdString(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // The show of the widget itself; the window system's later one is not a second window.
        if (event->type() != QEvent::Show || event->spontaneous())
            return false;
        const char* close = nullptr;
        if (qobject_cast<QDialog*>(watched))
            close = "reject";
        else if (qobject_cast<QMenu*>(watched))
            close = "close";
        else
            return false;
        const auto* window = static_cast<QWidget*>(watched);
        m_names << QString::fromLatin1(watched->metaObject()->className()) + " \"" + window->windowTitle() + "\"";
        QMetaObject::invokeMethod(watched, close, Qt::QueuedConnection);
        return false;
    }

private:
    QStringList m_names;
};
