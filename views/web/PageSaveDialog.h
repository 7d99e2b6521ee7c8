#pragma once

#include <QString>

class QWidget;

/// The save dialog that every page view (SPADE tree, heat map, hierarchy)
/// runs when its page asks for a file, and the writing of text files.
///
///     const QString path = PageSaveDialog::chooseFile(this, bubbleName, "fcs",
///                                                     "Cytometry Files (*.fcs);;Binary File (*.bin)");
///     if (!path.isEmpty()) ...                       // empty: cancelled
///     PageSaveDialog::writeText(this, path, csvText);  // whole or nothing
///
/// The dialog opens in the folder stored under "exportDefaultFilePath" (the
/// home folder when none is stored) and stores the chosen file's folder there.
class PageSaveDialog
{
public:
    /// Runs a modal save dialog (parent `parent`, empty caption, the
    /// default suffix and name filter given) proposing `baseName` made safe
    /// for a file name (ExportFileNames::sanitize) plus "." and the suffix.
    /// Returns the chosen path, empty when the dialog was cancelled.
    static QString chooseFile(QWidget* parent, const QString& baseName, const QString& defaultSuffix,
                              const QString& nameFilter);

    /// Writes the text as UTF-8 through ReplacingFile::writeAll: the file
    /// replaces the one at `path` only once it is complete, and a loaded
    /// sample's file is never written over. On failure the old file stays as
    /// it was, a line and a warning box (parent `parent`) say why, and the
    /// result is false.
    static bool writeText(QWidget* parent, const QString& path, const QString& text);
};
