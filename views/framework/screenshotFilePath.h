#pragma once

#include <QDateTime>
#include <QString>

#include <string>

/// The PNG path of a scatterplot screenshot (Ctrl+P and every image of a
/// series): "<tag>_yy_MM_dd_HH_mm_ss_zzz.png" in `folder`, the tag made safe
/// as a file-name part so that a marker such as "CD45/Ki67" or "../x" never
/// leaves the folder, and never begins with a dot (a hidden file). Empty when
/// the folder is: nothing should be written.
QString screenshotFilePath(const QString& folder, const std::string& tag, const QDateTime& time);
