#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QVariant>
#include <QWebFrame>
#include <QWebPage>
#include <QWebView>

/// Runs `script` in the view's page and returns its value.
inline QVariant evaluate(QWebView* view, const QString& script)
{
    return view->page()->mainFrame()->evaluateJavaScript(script);
}

/// Keeps the event loop turning for `ms` milliseconds, so pages load, lay
/// out and animate meanwhile.
inline void wait(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
}
