// The template table reader on large and hostile tables.
//
//   template_reader_bench [MB]   MB megabytes (default 10) of table: a header whose first
//                                field is a quoted field of a tenth of that (commas, line
//                                feeds and doubled quotes), then rows of 30 numbers
//
// Prints for that table and for three refused ones (an open quoted field
// of 1 MB after "a,b"; a second line holding a number of 10^7 digits; one
// holding 10^6 digits and a letter) the file's size, the time of reading
// the records and of reading the table, the rows read and the length of the
// refusal message.

#include "csvToFloatTable.h"

#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string largeTable(size_t bytes)
{
    std::string text = "\"";
    const std::string piece = "a,b\"\"\n,";
    while (text.size() < bytes / 10)
        text += piece;
    text += "\"";
    for (int k = 2; k <= 30; ++k)
        text += ",M" + std::to_string(k);
    text += "\r\n";
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> value(-2.0, 12.0);
    char number[32];
    while (text.size() < bytes) {
        for (int k = 0; k < 30; ++k) {
            std::snprintf(number, sizeof number, "%s%.6g", k > 0 ? "," : "", value(rng));
            text += number;
        }
        text += "\r\n";
    }
    return text;
}

void measure(const QTemporaryDir& dir, const char* name, const std::string& text)
{
    const QString path = dir.filePath(name);
    std::ofstream(path.toStdString(), std::ios::binary) << text;

    auto start = std::chrono::steady_clock::now();
    const QList<QStringList> records = readCsvFile(path);
    const double reading = secondsSince(start);
    start = std::chrono::steady_clock::now();
    CsvTableRefusal refusal;
    const std::vector<std::vector<float>> table = csvToFloatTable(path, &refusal);
    const double whole = secondsSince(start);
    std::printf("%-28s %10.2f MB  records %8.3f s  table %8.3f s  %7zu rows  %7d records  message %d characters\n",
                name, static_cast<double>(text.size()) / 1e6, reading, whole, table.size(), records.size(),
                refusal.message.size());
}

} // namespace

int main(int argc, char** argv)
{
    const double megabytes = argc > 1 ? std::atof(argv[1]) : 10.0;
    QTemporaryDir dir;
    measure(dir, "quoted-header.csv", largeTable(static_cast<size_t>(megabytes * 1e6)));
    measure(dir, "open-quoted-field.csv", "a,b\n\"" + std::string(1000000, ','));
    measure(dir, "long-number.csv", "a\n" + std::string(10000000, '7') + "\n");
    measure(dir, "digits-then-letter.csv", "a\n" + std::string(1000000, '7') + "x\n");
    return 0;
}
