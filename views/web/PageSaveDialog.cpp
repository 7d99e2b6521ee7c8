#include "web/PageSaveDialog.h"

#include "widgets/UI_Settings.h"

#include "data/ExportFileNames.h"
#include "data/ReplacingFile.h"

#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace {

const char* const kFolderKey = "exportDefaultFilePath";

} // namespace

QString PageSaveDialog::chooseFile(QWidget* parent, const QString& baseName, const QString& defaultSuffix,
                                   const QString& nameFilter)
{
    UI_Settings* settings = UI_Settings::instance();
    settings->sync();
    const QString folder = settings->value(kFolderKey, QString()).toString();

    QFileDialog dialog(parent, QString(), QString(), QString());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDirectory(folder.isEmpty() ? QDir::home().absolutePath() : folder);
    dialog.setDefaultSuffix(defaultSuffix);
    dialog.selectFile(QString::fromStdString(ExportFileNames::sanitize(baseName.toStdString())) + "."
                      + defaultSuffix);
    dialog.setNameFilter(nameFilter);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();

    const QString path = dialog.selectedFiles().first();
    settings->setValue(kFolderKey, QFileInfo(path).absoluteDir().absolutePath());
    settings->sync();
    return path;
}

bool PageSaveDialog::writeText(const QString& path, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    ReplacingFile file(path.toStdString());
    if (file.open()) {
        file.write(bytes.constData(), bytes.size());
        if (file.commit())
            return true;
    }
    qDebug().noquote() << "Could not write " + path + ": nothing was written.";
    return false;
}
