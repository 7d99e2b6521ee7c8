#pragma once

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

/// Drives a dialog that the code under test runs with exec(): polls the
/// event loop every 10 ms and, once the active modal widget is a visible T
/// (with that window title, when one is given), runs `action` on it once.
/// The action must close the dialog. Reports a failure and gives up when no
/// such dialog appears within `timeoutMs`. The returned flag turns true once
/// the action ran: a dialog that should have come from a step is checked
/// there, as the timeout's failure may come after the test has ended.
template <class T>
std::shared_ptr<const bool> whenModal(std::function<void(T*)> action, const QString& title = QString(),
                                      int timeoutMs = 10000)
{
    auto* timer = new QTimer();
    auto handled = std::make_shared<bool>(false);
    int waited = 0;
    QObject::connect(timer, &QTimer::timeout, [timer, action, title, timeoutMs, waited, handled]() mutable {
        T* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (dialog && dialog->isVisible() && (title.isNull() || dialog->windowTitle() == title)) {
            timer->stop();
            timer->deleteLater();
            *handled = true;
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
    return handled;
}

/// Chooses `path` (absolute, or relative to the shown folder) in a Qt file
/// dialog and accepts it, as typing the name and pressing Enter would.
/// QFileDialog::selectFile leaves a name field that has the focus alone, so
/// it would race with the dialog's activation.
inline void chooseInFileDialog(QFileDialog* dialog, const QString& path)
{
    auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
    if (!name) {
        ADD_FAILURE() << "not the Qt file dialog";
        dialog->reject();
        return;
    }
    name->setText(path);
    static_cast<QDialog*>(dialog)->accept();
}
