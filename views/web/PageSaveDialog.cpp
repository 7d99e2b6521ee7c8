#include "web/PageSaveDialog.h"

#include "framework/chooseFileToSave.h"

#include "data/ExportFileNames.h"
#include "data/ReplacingFile.h"

QString PageSaveDialog::chooseFile(QWidget* parent, const QString& baseName, const QString& defaultSuffix,
                                   const QString& nameFilter)
{
    const QString proposed = QString::fromStdString(ExportFileNames::sanitize(baseName.toStdString()));
    return chooseFileToSave(parent, "exportDefaultFilePath", defaultSuffix, nameFilter, proposed + "." + defaultSuffix);
}

bool PageSaveDialog::writeText(const QString& path, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    return ReplacingFile::writeAll(path.toStdString(), bytes.constData(), bytes.size());
}
