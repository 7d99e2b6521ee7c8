#include "framework/showSaveFailure.h"

#include "framework/showPlainMessage.h"

#include "data/WriteFailure.h"

#include <QDir>

void showSaveFailure(QWidget* parent, const WriteFailure& failure)
{
    showPlainMessage(parent, QMessageBox::Warning, "Not Saved",
                     "Could not write " + QDir::toNativeSeparators(QString::fromStdString(failure.path)) + ": "
                         + QString::fromStdString(failure.reason) + ".");
}
