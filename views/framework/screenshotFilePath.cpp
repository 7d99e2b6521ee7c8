#include "framework/screenshotFilePath.h"

#include "framework/sideFilePath.h"

#include "data/ExportFileNames.h"

QString screenshotFilePath(const QString& folder, const std::string& tag, const QDateTime& time)
{
    const QString stamp = time.toString("yy_MM_dd_HH_mm_ss_zzz");
    QString safeTag = QString::fromStdString(ExportFileNames::sanitize(tag));
    // A name that begins with a dot would be a hidden file.
    if (safeTag.startsWith('.'))
        safeTag[0] = '_';
    return sideFilePath(folder, safeTag + "_" + stamp + ".png");
}
