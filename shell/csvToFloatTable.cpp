#include "csvToFloatTable.h"

#include "data/FcsHeader.h"

#include <QFile>
#include <QRegularExpression>
#include <QTextCodec>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

enum class NumberVerdict
{
    Number,
    NotANumber,
    NotFinite,
    OutOfRange
};

/// A C-locale number, blanks around allowed, finite and within the float
/// range, rounded to float; a value too small for a double counts as 0.
NumberVerdict parseNumber(const QString& field, float* value)
{
    bool ok = false;
    const double number = field.toDouble(&ok);
    if (!ok) {
        if (std::isinf(number))
            return NumberVerdict::OutOfRange;
        // Possessive: a long run of digits that turns out not to be a
        // number is given up at once, not retried at every split.
        static const QRegularExpression decimal("^[+-]?+(\\d++\\.?+\\d*+|\\.\\d++)([eE][+-]?+\\d++)?+$");
        if (!decimal.match(field.trimmed()).hasMatch())
            return NumberVerdict::NotANumber;
        *value = field.trimmed().startsWith('-') ? -0.0f : 0.0f;
        return NumberVerdict::Number;
    }
    if (!std::isfinite(number))
        return NumberVerdict::NotFinite;
    if (std::fabs(number) > static_cast<double>(std::numeric_limits<float>::max()))
        return NumberVerdict::OutOfRange;
    *value = static_cast<float>(number);
    return NumberVerdict::Number;
}

bool isNumber(const QString& field)
{
    float ignored = 0.0f;
    return parseNumber(field, &ignored) == NumberVerdict::Number;
}

/// Decodes UTF-8 as Qt does (dropping a leading byte-order mark); false when
/// any byte sequence is not UTF-8.
bool decodeUtf8(const QByteArray& bytes, QString* text)
{
    QTextCodec::ConverterState state;
    *text = QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

/// The 1-based line holding the first bytes that are not UTF-8; line feeds
/// never occur inside a UTF-8 sequence, so each line is checked on its own.
int firstLineNotUtf8(const QByteArray& bytes)
{
    QString ignored;
    int line = 1;
    for (int start = 0;; ++line) {
        const int end = bytes.indexOf('\n', start);
        const int length = (end < 0 ? bytes.size() : end) - start;
        if (!decodeUtf8(QByteArray::fromRawData(bytes.constData() + start, length), &ignored) || end < 0)
            return line;
        start = end + 1;
    }
}

/// Characters of a field that a refusal quotes.
constexpr int kQuotedCharacters = 60;

QString quoted(const QString& text)
{
    return "\"" + text + "\"";
}

/// A text of the table or of the loaded files as a refusal quotes it: at
/// most kQuotedCharacters characters, without splitting a surrogate pair,
/// then an ellipsis. A whole field may run to megabytes.
QString quotedExcerpt(const QString& text)
{
    if (text.size() <= kQuotedCharacters)
        return quoted(text);
    int kept = kQuotedCharacters;
    if (text[kept - 1].isHighSurrogate())
        --kept;
    return quoted(text.left(kept) + QChar(0x2026));
}

QString tablePrefix(const QString& path)
{
    return "The template table " + quoted(path);
}

QString readFailure(const QString& path, const CsvReadReport& report)
{
    const QString table = tablePrefix(path);
    switch (report.status) {
    case CsvReadReport::CannotOpen:
        return table + " cannot be opened.";
    case CsvReadReport::TooLarge:
        return table + " is too large to read: " + QString::number(report.fileSize) + " bytes, more than the limit of "
               + QString::number(CsvReadReport::kMaximumBytes) + " bytes.";
    case CsvReadReport::EmptyFile:
        return table + " is empty.";
    case CsvReadReport::NotUtf8:
        return table + " is not UTF-8 text (line " + QString::number(report.problemLine) + ").";
    case CsvReadReport::OpenQuote:
        return table + " ends inside the quoted field that begins on line " + QString::number(report.problemLine)
               + ", column " + QString::number(report.problemColumn) + ".";
    case CsvReadReport::EndsAfterComma:
        return table + " ends right after a comma on line " + QString::number(report.problemLine) + ".";
    case CsvReadReport::Complete:
        break;
    }
    return QString();
}

/// Drops enclosing double quotes and makes every doubled double quote
/// single, in one pass over the field: QString::replace moves the rest of
/// the text again after every 1024 matches.
void unquote(QString& field)
{
    const int enclosing = field.size() >= 2 && field.startsWith('"') && field.endsWith('"') ? 1 : 0;
    QChar* const begin = field.data();
    const QChar* in = begin + enclosing;
    const QChar* const end = begin + field.size() - enclosing;
    QChar* out = begin;
    while (in != end) {
        *out++ = *in;
        in += *in == '"' && in + 1 != end && in[1] == '"' ? 2 : 1;
    }
    field.truncate(static_cast<int>(out - begin));
}

/// Appends the row of a record starting on `line` to the table, the header
/// record included. A record it cannot take empties the table and says why
/// in `refusal`.
void appendRow(const QString& path, const QStringList& record, int line, bool isHeader, int columns,
               std::vector<std::vector<float>>* table, CsvTableRefusal* refusal)
{
    auto refuse = [&](const QString& what, bool uneven) {
        refusal->message = tablePrefix(path) + ": line " + QString::number(line) + what;
        refusal->unevenRecords = uneven;
        std::vector<std::vector<float>>().swap(*table);
    };
    if (record.size() == 1 && record.first().isEmpty())
        return refuse(" is empty.", columns != 1);
    if (record.size() != columns)
        return refuse(" has " + QString::number(record.size()) + " fields, but the header line has "
                          + QString::number(columns) + ".",
                      true);
    std::vector<float> row(static_cast<size_t>(columns), 0.0f);
    for (int c = 0; c < columns; ++c) {
        const NumberVerdict verdict = parseNumber(record[c], &row[c]);
        if (isHeader || verdict == NumberVerdict::Number)
            continue;
        return refuse(", column " + QString::number(c + 1) + " holds " + quotedExcerpt(record[c])
                          + (verdict == NumberVerdict::NotANumber  ? ", which is not a number."
                             : verdict == NumberVerdict::NotFinite ? ", which is not a finite number."
                                                                   : ", which is beyond the float range."),
                      false);
    }
    table->push_back(std::move(row));
}

} // namespace

bool splitCsvField(QString& field, int64_t& quotes, QStringList& record, QChar separator)
{
    if (quotes % 2 == 1) {
        field.append(separator);
        return false;
    }
    if (quotes > 0)
        unquote(field);
    // The record gets a copy of its own size; the field keeps its buffer for
    // the next one instead of growing a new one character by character.
    record.append(QString(field.constData(), field.size()));
    field.resize(0);
    quotes = 0;
    return separator != ',';
}

void readCsvRecords(const QString& path, const std::function<void(const QStringList& record, int line)>& take,
                    CsvReadReport* report)
{
    CsvReadReport ignored;
    CsvReadReport& r = report ? *report : ignored;
    r = CsvReadReport();

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        r.status = CsvReadReport::CannotOpen;
        return;
    }
    r.fileSize = file.size();
    if (r.fileSize > CsvReadReport::kMaximumBytes) {
        r.status = CsvReadReport::TooLarge;
        return;
    }
    QString text;
    {
        const QByteArray bytes = file.readAll();
        if (bytes.isEmpty()) {
            r.status = CsvReadReport::EmptyFile;
            return;
        }
        if (!decodeUtf8(bytes, &text)) {
            r.status = CsvReadReport::NotUtf8;
            r.problemLine = firstLineNotUtf8(bytes);
            return;
        }
    }
    r.carriageReturnsOnly = text.contains('\r') && !text.contains('\n');
    text.remove('\r');

    QStringList record;
    QString field;
    // Double quotes in the field so far: counted as it grows, since counting
    // them again at every separator made a long quoted field quadratic.
    int64_t quotes = 0;
    int line = 1;
    int recordLine = 1;
    int fieldLine = 1;
    auto endField = [&](QChar separator) {
        if (splitCsvField(field, quotes, record, separator)) {
            take(record, recordLine);
            record.clear();
        }
    };
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (field.isEmpty())
            fieldLine = line;
        if (record.isEmpty() && field.isEmpty())
            recordLine = line;
        if (c == ',' || c == '\n') {
            endField(c);
        } else {
            field.append(c);
            quotes += c == '"';
            if (i == text.size() - 1)
                endField(QChar('\0'));
        }
        if (c == '\n')
            ++line;
    }
    if (!field.isEmpty()) {
        r.status = CsvReadReport::OpenQuote;
        r.problemLine = fieldLine;
        r.problemColumn = record.size() + 1;
    } else if (!record.isEmpty()) {
        r.status = CsvReadReport::EndsAfterComma;
        r.problemLine = line;
    }
}

QList<QStringList> readCsvFile(const QString& path, CsvReadReport* report)
{
    QList<QStringList> records;
    readCsvRecords(path, [&records](const QStringList& record, int) { records.append(record); }, report);
    return records;
}

std::vector<std::vector<float>> csvToFloatTable(const QString& path, CsvTableRefusal* refusal, QStringList* header)
{
    CsvTableRefusal ignored;
    CsvTableRefusal& why = refusal ? *refusal : ignored;
    why = CsvTableRefusal();

    // Each record becomes its row as it is read, so no file's records are
    // held all at once. Once a record is refused the rest is still read: a
    // text that cannot be read whole is refused for that instead.
    QStringList first;
    int records = 0;
    CsvTableRefusal rowRefusal;
    std::vector<std::vector<float>> table;
    CsvReadReport report;
    readCsvRecords(
        path,
        [&](const QStringList& record, int line) {
            if (records++ == 0)
                first = record;
            if (rowRefusal.message.isEmpty())
                appendRow(path, record, line, records == 1, first.size(), &table, &rowRefusal);
        },
        &report);
    if (header)
        *header = first;
    why.message = readFailure(path, report);
    if (!why.message.isEmpty())
        return {};
    if (records < 2) {
        why.message = tablePrefix(path) + " holds " + QString::number(records)
                      + (records == 1 ? " record" : " records")
                      + "; it needs a header line and at least one template line.";
        if (report.carriageReturnsOnly)
            why.message += " Its lines end in carriage returns only, without line feeds.";
        return {};
    }
    if (!rowRefusal.message.isEmpty()) {
        why = rowRefusal;
        return {};
    }
    return table;
}

QString templateColumnsMismatch(const QString& path, const QStringList& header, const FcsHeader& merged)
{
    const std::vector<std::string>& shortNames = merged.nameList(0);
    const std::vector<std::string>& longNames = merged.nameList(1);
    const int parameters = static_cast<int>(std::min(shortNames.size(), longNames.size()));
    if (header.size() > parameters)
        return tablePrefix(path) + " has " + QString::number(header.size())
               + " columns, but the loaded files have only " + QString::number(parameters) + " parameters.";
    for (int c = 0; c < header.size(); ++c) {
        const QString name = header[c].trimmed();
        if (name.isEmpty() || isNumber(name))
            continue;
        const QString shortName = QString::fromStdString(shortNames[c]);
        const QString longName = QString::fromStdString(longNames[c]);
        if (name == shortName.trimmed() || name == longName.trimmed())
            continue;
        QString message = tablePrefix(path) + ": column " + QString::number(c + 1) + " of the header line names "
                          + quotedExcerpt(name) + ", but parameter " + QString::number(c + 1)
                          + " of the loaded files is " + quotedExcerpt(shortName) + " (" + quotedExcerpt(longName)
                          + "); ";
        for (int p = 0; p < parameters; ++p)
            if (name == QString::fromStdString(shortNames[p]).trimmed()
                || name == QString::fromStdString(longNames[p]).trimmed())
                return message + quotedExcerpt(name) + " is parameter " + QString::number(p + 1) + ".";
        return message + "no parameter of the loaded files is named " + quotedExcerpt(name) + ".";
    }
    return QString();
}
