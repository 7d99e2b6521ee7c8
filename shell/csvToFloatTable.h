#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

class FcsHeader;

/// What readCsvFile found besides the records: why the text could not be read
/// whole.
struct CsvReadReport
{
    enum Status
    {
        Complete,       ///< every record was read
        CannotOpen,     ///< the file cannot be opened
        TooLarge,       ///< the file has more than kMaximumBytes bytes; nothing was read
        EmptyFile,      ///< the file has no bytes
        NotUtf8,        ///< problemLine holds bytes that are not UTF-8
        OpenQuote,      ///< the text ends inside the quoted field begun at problemLine, problemColumn
        EndsAfterComma  ///< the text ends right after a comma on problemLine
    };

    /// The largest file read: far beyond any table of marker profiles. A
    /// record or row may take tens of bytes per byte of text (a line feed
    /// alone is a record, a line "0" a row of its own), so at this size the
    /// worst texts still stay well below a gigabyte.
    static constexpr int64_t kMaximumBytes = int64_t(16) << 20;

    Status status = Complete;
    /// The file's size in bytes.
    int64_t fileSize = 0;
    int problemLine = 0;
    /// Field number (1-based) within its record.
    int problemColumn = 0;
    /// The file holds carriage returns but no line feed.
    bool carriageReturnsOnly = false;
};

/// Why a template table was refused: the message for the user (naming the
/// file and, where there is one, the line, column and text found, at most
/// 60 characters of it and then an ellipsis), and whether its records were
/// of different sizes.
struct CsvTableRefusal
{
    QString message;
    bool unevenRecords = false;
};

/// Reads a CSV text file record by record, in one pass over the text, and
/// hands each record with the line (1-based, counted by line feeds) it
/// starts on to `take`; no record is kept. The file is decoded as UTF-8 (a
/// leading byte-order mark dropped) and every carriage return is removed
/// first. Records end at a line feed and fields at a comma, except inside a
/// field holding an odd number of double quotes; an empty line is a record
/// of one empty field; the last record needs no line feed. A file that
/// cannot be opened, is larger than CsvReadReport::kMaximumBytes (refused
/// before it is read) or is not UTF-8 gives no records; a text ending after
/// a comma or inside an open quoted field loses its last record. The
/// report, when given, says which.
void readCsvRecords(const QString& path, const std::function<void(const QStringList& record, int line)>& take,
                    CsvReadReport* report = nullptr);

/// All records of a CSV file, as readCsvRecords reads them.
QList<QStringList> readCsvFile(const QString& path, CsvReadReport* report = nullptr);

/// Ends the pending field at a separator (a comma, a line feed, or the null
/// character for the end of the text): while the field holds an odd number
/// of double quotes (`quotes`, which the caller counts as it appends to the
/// field) the separator joins it instead. A finished field loses enclosing
/// double quotes, its doubled double quotes become single, and it joins the
/// record; the field and its count start again empty. True when the
/// separator also ended the record (any separator but a comma): the caller
/// hands the record on and clears it.
bool splitCsvField(QString& field, int64_t& quotes, QStringList& record, QChar separator);

/// The template table of a CSV file: one row of floats per record, the first
/// (header) row included, all of equal length. Fields after the first
/// record must be C-locale numbers (blanks around allowed), finite and
/// within the float range; header fields that are not such numbers give 0.
/// Each record becomes its row as it is read. An unusable file gives an
/// empty table and, when asked, the refusal and the header record's texts.
std::vector<std::vector<float>> csvToFloatTable(const QString& path, CsvTableRefusal* refusal = nullptr,
                                                QStringList* header = nullptr);

/// Checks a template table's header record against the loaded files' merged
/// header: no more columns than parameters, and every header field that is
/// neither empty nor a number names (blanks trimmed) the short or long name
/// of the parameter at its position. Empty when it fits, else the refusal
/// message.
QString templateColumnsMismatch(const QString& path, const QStringList& header, const FcsHeader& merged);
