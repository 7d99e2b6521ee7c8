#pragma once

#include <QFileDialog>
#include <QStringList>

/// Runs a modal Qt file dialog (parent `parent`, empty caption) for existing
/// files in `mode`, filtered by `nameFilter`, starting in `directory` or in
/// the home folder when that is empty; in the Directory mode only folders
/// are shown. Returns the chosen files; empty when the dialog was cancelled
/// or nothing was chosen.
QStringList chooseFilesToOpen(QWidget* parent, QFileDialog::FileMode mode, const QString& directory,
                              const QString& nameFilter);
