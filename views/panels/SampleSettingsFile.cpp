#include "panels/SampleSettingsFile.h"

#include <QList>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

/// Splits "key flag red green blue" from the right; false when the line
/// holds fewer than five fields.
bool splitFields(const QByteArray& line, QByteArray* key, QByteArray numbers[4])
{
    int end = line.size();
    int start = end;
    for (int field = 3; field >= 0; --field) {
        end = start;
        while (end > 0 && isBlank(line[end - 1]))
            --end;
        start = end;
        while (start > 0 && !isBlank(line[start - 1]))
            --start;
        if (start == end)
            return false;
        numbers[field] = line.mid(start, end - start);
    }
    if (start == 0)
        return false;
    *key = line.left(start - 1);
    return true;
}

} // namespace

QByteArray SampleSettingsFile::format(const std::vector<Entry>& entries, std::vector<std::string>* skipped)
{
    QByteArray text;
    bool first = true;
    for (const Entry& entry : entries) {
        if (entry.key.find_first_of("\r\n") != std::string::npos) {
            if (skipped)
                skipped->push_back(entry.key);
            continue;
        }
        if (!first)
            text += '\n';
        first = false;
        text += QByteArray::fromStdString(entry.key) + ' ' + (entry.selected ? '1' : '0') + ' '
                + QByteArray::number(entry.red) + ' ' + QByteArray::number(entry.green) + ' '
                + QByteArray::number(entry.blue);
    }
    return text;
}

bool SampleSettingsFile::parse(const QByteArray& text, std::vector<Entry>* entries, QString* error)
{
    entries->clear();
    const QList<QByteArray> lines = text.split('\n');
    for (int number = 0; number < lines.size(); ++number) {
        QByteArray line = lines[number];
        line.replace('\r', QByteArray());
        if (line.trimmed().isEmpty())
            continue;
        const QString where = QString("line %1: \"%2\"").arg(number + 1).arg(QString::fromUtf8(line));
        QByteArray key;
        QByteArray numbers[4];
        if (!splitFields(line, &key, numbers)) {
            *error = "fewer than five fields on " + where;
            return false;
        }
        int values[4] = {};
        for (int field = 0; field < 4; ++field) {
            bool ok = false;
            values[field] = numbers[field].toInt(&ok);
            if (!ok) {
                *error = "\"" + QString::fromUtf8(numbers[field]) + "\" is not an integer on " + where;
                return false;
            }
            if (field > 0 && (values[field] < 0 || values[field] > 255)) {
                *error = "a colour outside 0-255 on " + where;
                return false;
            }
        }
        entries->push_back({key.toStdString(), values[0] != 0, values[1], values[2], values[3]});
    }
    return true;
}
