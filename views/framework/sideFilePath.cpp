#include "framework/sideFilePath.h"

#include <QDir>

QString sideFilePath(const QString& directory, const QString& name)
{
    if (directory.isEmpty())
        return QString();
    return QDir(directory).filePath(name);
}
