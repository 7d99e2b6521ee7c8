#pragma once

#include "support/ModalDialogDriver.h"
#include "support/RegistryTestData.h"

#include "data/DefaultStateStore.h"
#include "framework/UI_Settings.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

/// A session as the program starts one: no registry, no kept marker states,
/// and the open-files dialog in `dataFolder`.
inline void startFreshSession(const QString& dataFolder)
{
    RegistryTestData::dropRegistry();
    std::vector<bool> none;
    DefaultStateStore::instance()->setMarkerStates(none);
    UI_Settings::instance()->setValue("dataDefaultFilePath", dataFolder);
    UI_Settings::instance()->sync();
}

/// Opens files through the window's real "Open FCS File(s) ..." dialog,
/// typing `typedNames` (names in the dialog's folder, each quoted when
/// several), and closes the post-load dialog with the button `postLoadButton`
/// ("OK", "Start SPADE" or "Start A-tSNE").
inline void openFilesThroughDialog(QMainWindow& window, const QString& typedNames,
                                   const QString& postLoadButton = "OK")
{
    whenModal<QFileDialog>([typedNames](QFileDialog* dialog) {
        dialog->findChild<QLineEdit*>("fileNameEdit")->setText(typedNames);
        static_cast<QDialog*>(dialog)->accept();
    });
    whenModal<QDialog>(
        [postLoadButton](QDialog* dialog) {
            for (QPushButton* button : dialog->findChildren<QPushButton*>())
                if (button->text() == postLoadButton) {
                    QTest::mouseClick(button, Qt::LeftButton);
                    return;
                }
            ADD_FAILURE() << "no button " << postLoadButton.toStdString();
            dialog->reject();
        },
        "Succes");
    window.findChild<QAction*>("actionOpenFile")->trigger();
}

/// Answers the next "Analysis Name" prompt with `answer` (a null string keeps
/// the proposed name; an empty one cancels) and reports the proposed name.
inline void answerNamePrompt(const QString& answer, QString* proposed = nullptr)
{
    whenModal<QInputDialog>(
        [answer, proposed](QInputDialog* dialog) {
            if (proposed)
                *proposed = dialog->textValue();
            if (answer.isNull()) {
                dialog->accept();
            } else if (answer.isEmpty()) {
                dialog->reject();
            } else {
                dialog->setTextValue(answer);
                dialog->accept();
            }
        },
        "Analysis Name");
}

/// Runs the application's event loop with `start` queued as its first
/// event, the console captured, until the loop ends; its exit code, or 1
/// when it had not ended within a minute.
inline int runEventLoopFrom(const std::function<void()>& start)
{
    QTimer::singleShot(0, start);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QApplication::exit(1); });
    guard.start(60000);
    testing::internal::CaptureStdout();
    const int code = QApplication::exec();
    testing::internal::GetCapturedStdout();
    return code;
}
