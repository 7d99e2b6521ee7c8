#include "framework/chooseFilesToOpen.h"

#include <QDir>

QStringList chooseFilesToOpen(QWidget* parent, QFileDialog::FileMode mode, const QString& directory,
                              const QString& nameFilter)
{
    QFileDialog dialog(parent, QString(), QString(), QString());
    dialog.setFileMode(mode);
    if (mode == QFileDialog::Directory)
        dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setDirectory(directory.isEmpty() ? QDir::homePath() : directory);
    dialog.setNameFilter(nameFilter);
    if (dialog.exec() != QDialog::Accepted)
        return QStringList();
    return dialog.selectedFiles();
}
