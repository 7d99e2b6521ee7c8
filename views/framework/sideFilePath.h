#pragma once

#include <QString>

/// The path of a side file (default markers, sample tags) in a data
/// directory, joined with the platform-neutral separator. Every reader and
/// writer of side files forms its path here. An empty directory gives an
/// empty path: there is no folder to put the file in.
QString sideFilePath(const QString& directory, const QString& name);
