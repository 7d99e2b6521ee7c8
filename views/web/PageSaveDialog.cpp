#include "web/PageSaveDialog.h"

#include "framework/chooseFileToSave.h"
#include "framework/showSaveFailure.h"

#include "data/ExportFileNames.h"
#include "data/ReplacingFile.h"
#include "data/WriteFailure.h"

QString PageSaveDialog::chooseFile(QWidget* parent, const QString& baseName, const QString& defaultSuffix,
                                   const QString& nameFilter)
{
    const QString proposed = QString::fromStdString(ExportFileNames::sanitize(baseName.toStdString()));
    return chooseFileToSave(parent, "exportDefaultFilePath", defaultSuffix, nameFilter, proposed + "." + defaultSuffix);
}

bool PageSaveDialog::writeText(QWidget* parent, const QString& path, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    WriteFailure failure;
    if (ReplacingFile::writeAll(path.toStdString(), bytes.constData(), bytes.size(), &failure))
        return true;
    showSaveFailure(parent, failure);
    return false;
}
