#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

#include <functional>

/// Drives a dialog that the code under test runs with exec(): polls the
/// event loop every 10 ms and, once the active modal widget is a visible T
/// (with that window title, when one is given), runs `action` on it once.
/// The action must close the dialog. Reports a failure and gives up when no
/// such dialog appears within `timeoutMs`.
template <class T>
void whenModal(std::function<void(T*)> action, const QString& title = QString(), int timeoutMs = 10000)
{
    auto* timer = new QTimer();
    int waited = 0;
    QObject::connect(timer, &QTimer::timeout, [timer, action, title, timeoutMs, waited]() mutable {
        T* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (dialog && dialog->isVisible() && (title.isNull() || dialog->windowTitle() == title)) {
            timer->stop();
            timer->deleteLater();
            action(dialog);
            return;
        }
        waited += timer->interval();
        if (waited >= timeoutMs) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "no modal " << T::staticMetaObject.className() << " appeared";
        }
    });
    timer->start(10);
}
