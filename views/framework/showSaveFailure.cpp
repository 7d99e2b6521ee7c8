#include "framework/showSaveFailure.h"

#include "framework/showPlainMessage.h"

#include "data/ReplacingFile.h"
#include "data/WriteFailure.h"

#include <QDir>

void showSaveFailure(QWidget* parent, const WriteFailure& failure)
{
    showPlainMessage(parent, QMessageBox::Warning, "Not Saved",
                     "Could not write " + QDir::toNativeSeparators(QString::fromStdString(failure.path)) + ": "
                         + QString::fromStdString(failure.reason) + ".");
}

bool saveOrShowFailure(QWidget* parent, const QString& path, const QByteArray& bytes)
{
    WriteFailure failure;
    if (ReplacingFile::writeAll(path.toStdString(), bytes.constData(), bytes.size(), &failure))
        return true;
    showSaveFailure(parent, failure);
    return false;
}
