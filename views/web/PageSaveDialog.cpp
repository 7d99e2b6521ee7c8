#include "web/PageSaveDialog.h"

#include "framework/chooseFileToSave.h"
#include "framework/showSaveFailure.h"

#include "data/ExportFileNames.h"

QString PageSaveDialog::chooseFile(QWidget* parent, const QString& baseName, const QString& defaultSuffix,
                                   const QString& nameFilter)
{
    const QString proposed = QString::fromStdString(ExportFileNames::sanitize(baseName.toStdString()));
    return chooseFileToSave(parent, "exportDefaultFilePath", defaultSuffix, nameFilter, proposed + "." + defaultSuffix);
}

bool PageSaveDialog::writeText(QWidget* parent, const QString& path, const QString& text)
{
    return saveOrShowFailure(parent, path, text.toUtf8());
}
