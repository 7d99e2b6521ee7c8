#pragma once

class QByteArray;
class QString;
class QWidget;
struct WriteFailure;

/// The warning box of a save that the user started and that failed, titled
/// "Not Saved": "Could not write <path>: <reason>." in plain text. Every
/// save the window offers shows its failure here, once per save however
/// many files the save writes.
void showSaveFailure(QWidget* parent, const WriteFailure& failure);

/// Writes the bytes through ReplacingFile::writeAll (whole or not at all, a
/// loaded sample's file never written over); a failure shows its box.
/// True when written.
bool saveOrShowFailure(QWidget* parent, const QString& path, const QByteArray& bytes);
