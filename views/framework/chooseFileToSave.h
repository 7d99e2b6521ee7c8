#pragma once

#include <QString>

class QWidget;

/// Runs a modal save dialog (parent `parent`, empty caption) in the folder
/// that the settings key `folderKey` holds, or in the home folder when the
/// key is empty, proposing `proposedName`. When a file is chosen, its folder
/// is stored under the key (then synchronised) and its path returned; empty
/// when the dialog was cancelled.
QString chooseFileToSave(QWidget* parent, const char* folderKey, const QString& defaultSuffix,
                         const QString& nameFilter, const QString& proposedName = QString());
