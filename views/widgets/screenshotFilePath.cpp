#include "widgets/screenshotFilePath.h"

#include "widgets/sideFilePath.h"

#include "data/ExportFileNames.h"

QString screenshotFilePath(const QString& folder, const std::string& tag, const QDateTime& time)
{
    const QString stamp = time.toString("yy_MM_dd_HH_mm_ss_zzz");
    return sideFilePath(folder, QString::fromStdString(ExportFileNames::sanitize(tag)) + "_" + stamp + ".png");
}
