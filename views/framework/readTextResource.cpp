#include "framework/readTextResource.h"

#include <QFile>
#include <QTextStream>

QString readTextResource(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    QTextStream stream(&file);
    return stream.readAll();
}
