#include "widgets/chooseFileToSave.h"

#include "widgets/UI_Settings.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

QString chooseFileToSave(QWidget* parent, const char* folderKey, const QString& defaultSuffix,
                         const QString& nameFilter, const QString& proposedName)
{
    UI_Settings* settings = UI_Settings::instance();
    settings->sync();
    const QString folder = settings->value(folderKey, QString()).toString();

    QFileDialog dialog(parent, QString(), folder.isEmpty() ? QDir::home().absolutePath() : folder, nameFilter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(defaultSuffix);
    if (!proposedName.isEmpty())
        dialog.selectFile(proposedName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();

    const QString path = dialog.selectedFiles().first();
    settings->setValue(folderKey, QFileInfo(path).absolutePath());
    settings->sync();
    return path;
}
