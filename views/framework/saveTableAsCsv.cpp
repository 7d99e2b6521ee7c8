#include "framework/saveTableAsCsv.h"

#include "framework/chooseFileToSave.h"
#include "framework/showSaveFailure.h"

#include "data/TextEscaping.h"

#include <QLocale>
#include <QStyledItemDelegate>
#include <QTableWidget>

namespace {

/// What the table shows in the cell: numbers as its delegate formats them.
QString displayText(const QTableWidget* table, const QTableWidgetItem* item)
{
    if (!item)
        return QString();
    const QVariant value = item->data(Qt::DisplayRole);
    if (const auto* delegate = qobject_cast<const QStyledItemDelegate*>(table->itemDelegate()))
        return delegate->displayText(value, table->locale());
    return value.toString();
}

} // namespace

QString tableCsvText(const QTableWidget* table, const QString& headerLine, int escapedColumn)
{
    QStringList lines;
    if (!headerLine.isEmpty())
        lines << headerLine;
    for (int row = 0; row < table->rowCount(); ++row) {
        std::string line;
        for (int column = 0; column < table->columnCount(); ++column) {
            const std::string text = displayText(table, table->item(row, column)).toStdString();
            if (column == escapedColumn)
                line += column == 0 ? TextEscaping::csvField(text) : TextEscaping::csvNextField(text);
            else
                line += (column == 0 ? "" : ", ") + text;
        }
        lines << QString::fromStdString(line);
    }
    return lines.join("\n");
}

void saveTableAsCsv(QWidget* parent, const QTableWidget* table, const QString& headerLine, int escapedColumn)
{
    const QString path = chooseFileToSave(parent, "exportDefaultFilePath", "csv", "Table files (*.csv)");
    if (path.isEmpty())
        return;
    saveOrShowFailure(parent, path, tableCsvText(table, headerLine, escapedColumn).toUtf8());
}
