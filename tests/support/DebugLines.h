#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

/// Collects the lines written through Qt's debug stream while it lives.
class DebugLines
{
public:
    DebugLines()
    {
        lines().clear();
        m_previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& text) { lines() << text; });
    }
    ~DebugLines() { qInstallMessageHandler(m_previous); }
    DebugLines(const DebugLines&) = delete;
    DebugLines& operator=(const DebugLines&) = delete;

    /// The lines collected so far (by the latest DebugLines).
    static QStringList& lines()
    {
        static QStringList collected;
        return collected;
    }
    /// Collected lines containing `text`, joined by "|".
    static QString matching(const QString& text) { return lines().filter(text).join("|"); }

private:
    QtMessageHandler m_previous = nullptr;
};
