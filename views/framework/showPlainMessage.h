#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

/// Runs a modal message box with one "OK" button whose text is shown as it
/// is, never read as markup: every box that quotes a file's text, a path or
/// a name goes through here, so tags in them show as typed and load nothing.
void showPlainMessage(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text);
