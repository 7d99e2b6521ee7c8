#pragma once

#include <QString>

class QTableWidget;
class QWidget;

/// The table as comma-separated text: `headerLine` (when not empty) and a
/// line feed, then one line per row in the displayed order (after sorting),
/// each cell's display text separated by ", ". The cells of `escapedColumn`
/// (-1: none) hold user text and are written as TextEscaping's CSV fields
/// (quoted right after their comma when they must be). Lines are separated
/// by "\n"; the last one has no line feed after it.
QString tableCsvText(const QTableWidget* table, const QString& headerLine, int escapedColumn);

/// Asks for a ".csv" file in the export folder and writes tableCsvText into
/// it as UTF-8 through ReplacingFile::writeAll: the file is replaced only
/// once it is complete, and a failure is a printed line and a warning box.
void saveTableAsCsv(QWidget* parent, const QTableWidget* table, const QString& headerLine, int escapedColumn);
