#include "framework/chooseFileToSave.h"

#include "framework/settingsDirectory.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

QString chooseFileToSave(QWidget* parent, const char* folderKey, const QString& defaultSuffix,
                         const QString& nameFilter, const QString& proposedName)
{
    const QString folder = readDirectoryKey(folderKey);

    QFileDialog dialog(parent, QString(), folder.isEmpty() ? QDir::home().absolutePath() : folder, nameFilter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(defaultSuffix);
    if (!proposedName.isEmpty())
        dialog.selectFile(proposedName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();

    const QString path = dialog.selectedFiles().first();
    writeDirectoryKey(folderKey, QFileInfo(path).absolutePath());
    return path;
}
