// The template table reader: CSV records, fields and quotes, the float
// table with the reasons it refuses a file, and the header check against
// the loaded files.
#include "csvToFloatTable.h"

#include "data/FcsHeader.h"
#include "data/TextEscaping.h"
#include "support/FcsTestFile.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

using Table = std::vector<std::vector<float>>;

/// Lets the process map at most `bytes` more than it has mapped now. The
/// sanitizer's shadow memory is beyond any such limit, so it runs without.
void limitAddressSpace(rlim_t bytes)
{
#if !defined(__SANITIZE_ADDRESS__)
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key && key != "VmSize:")
        status.ignore(1 << 20, '\n');
    rlim_t kilobytes = 0;
    status >> kilobytes;
    const rlimit limit = {kilobytes * 1024 + bytes, kilobytes * 1024 + bytes};
    setrlimit(RLIMIT_AS, &limit);
#endif
}

class TemplateTableReaderTest : public testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString write(const std::string& bytes, const QString& name = "table.csv")
    {
        const QString path = m_dir.filePath(name);
        EXPECT_TRUE(FcsTestFile::writeBytes(path.toStdString(), bytes));
        return path;
    }
    /// The table of the bytes; the refusal message, if any, in `message`.
    Table table(const std::string& bytes, QString* message = nullptr, bool* uneven = nullptr)
    {
        CsvTableRefusal refusal;
        const Table rows = csvToFloatTable(write(bytes), &refusal);
        EXPECT_EQ(rows.empty(), !refusal.message.isEmpty()) << refusal.message.toStdString();
        if (message)
            *message = refusal.message;
        if (uneven)
            *uneven = refusal.unevenRecords;
        return rows;
    }
    /// The refusal message with the file's path replaced by P.
    std::string refusal(const std::string& bytes, bool* uneven = nullptr)
    {
        QString message;
        EXPECT_TRUE(table(bytes, &message, uneven).empty());
        return message.replace(m_dir.filePath("table.csv"), "P").toStdString();
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(TemplateTableReaderTest, RecordsFieldsAndQuotes)
{
    EXPECT_EQ(table("CD3,CD4\r\n1,2\r\n3.5,4\r\n"), (Table{{0, 0}, {1, 2}, {3.5f, 4}}));
    EXPECT_EQ(table("a,b\n1,2"), (Table{{0, 0}, {1, 2}}));
    EXPECT_EQ(readCsvFile(write("\"x,y\",\"say \"\"hi\"\"\"\n\"two\nlines\",\"\"\n")),
              (QList<QStringList>{{"x,y", "say \"hi\""}, {"two\nlines", ""}}));
    EXPECT_EQ(readCsvFile(write("a\r\n\r\nb")), (QList<QStringList>{{"a"}, {""}, {"b"}}));
    // A text ending after a comma loses its last record.
    EXPECT_EQ(readCsvFile(write("a,b\n1,")), (QList<QStringList>{{"a", "b"}}));
    // Qt drops a leading byte-order mark.
    EXPECT_EQ(readCsvFile(write("\xEF\xBB\xBF" "CD3,CD4\n1,2\n")).first().first(), "CD3");
    // Header fields that are not numbers are 0; numbers keep their value.
    EXPECT_EQ(table("abc,7, 1e39 ,\"CD4 \"\"a\"\"\"\n1,2,3,4\n").front(), (std::vector<float>{0, 7, 0, 0}));
}

TEST_F(TemplateTableReaderTest, AcceptedNumbers)
{
    const Table rows = table("a,b,c,d,e,f,g,h\n 3.5 ,+1,.5,5.,1E3,-0,1e-50,\t-2\t\n");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1], (std::vector<float>{3.5f, 1, 0.5f, 5, 1000, 0, 0, -2}));
    EXPECT_TRUE(std::signbit(rows[1][5]));
    EXPECT_EQ(table("a\n1e-400\n")[1][0], 0.0f) << "too small for a double: 0";
    EXPECT_EQ(table("a\n3.4028234e38\n")[1][0], 3.4028234e38f);
}

TEST_F(TemplateTableReaderTest, EveryRefusalSaysWhy)
{
    bool uneven = false;
    EXPECT_EQ(refusal("a,b\n1,2,3\n", &uneven), "The template table \"P\": line 2 has 3 fields, but the header line has 2.");
    EXPECT_TRUE(uneven);
    EXPECT_EQ(refusal("a,b\n1,2\n\n", &uneven), "The template table \"P\": line 3 is empty.");
    EXPECT_TRUE(uneven);
    EXPECT_EQ(refusal("a,b\n\"1\n\",3\n4\n"), "The template table \"P\": line 4 has 1 fields, but the header line has 2.");
    EXPECT_EQ(refusal(""), "The template table \"P\" is empty.");
    EXPECT_EQ(refusal("a,b\n1,\xC0\xAF\n"), "The template table \"P\" is not UTF-8 text (line 2).");
    EXPECT_EQ(refusal("a,b\n"), "The template table \"P\" holds 1 record; it needs a header line and at least one "
                                "template line.");
    EXPECT_EQ(refusal("a,b\r1,2\r"), "The template table \"P\" holds 1 record; it needs a header line and at least "
                                     "one template line. Its lines end in carriage returns only, without line feeds.");
    EXPECT_EQ(refusal("a,b\n1,\"2\n3,4\n"),
              "The template table \"P\" ends inside the quoted field that begins on line 2, column 2.");
    EXPECT_EQ(refusal("a,b\n1,2\n3,"), "The template table \"P\" ends right after a comma on line 3.");
    const char* notNumbers[] = {"", "abc", "\"1,5\"", "0x10"};
    for (const char* field : notNumbers) {
        QString text = QString::fromUtf8(field);
        if (text.startsWith('"'))
            text = text.mid(1, text.size() - 2);
        EXPECT_EQ(refusal(std::string("a,b\n1,2\n3,") + field + "\n", &uneven),
                  "The template table \"P\": line 3, column 2 holds \"" + text.toStdString() + "\", which is not a number.");
        EXPECT_FALSE(uneven);
    }
    for (const char* field : {"nan", "inf", "-inf"})
        EXPECT_EQ(refusal(std::string("a\n") + field + "\n"),
                  std::string("The template table \"P\": line 2, column 1 holds \"") + field
                      + "\", which is not a finite number.");
    for (const char* field : {"1e39", "-3.5e38", "1e400"})
        EXPECT_EQ(refusal(std::string("a\n") + field + "\n"),
                  std::string("The template table \"P\": line 2, column 1 holds \"") + field
                      + "\", which is beyond the float range.");

    CsvTableRefusal missing;
    EXPECT_TRUE(csvToFloatTable(m_dir.filePath("missing.csv"), &missing).empty());
    EXPECT_EQ(missing.message.toStdString(),
              "The template table \"" + m_dir.filePath("missing.csv").toStdString() + "\" cannot be opened.");
    EXPECT_TRUE(readCsvFile(m_dir.filePath("missing.csv")).isEmpty());
}

TEST_F(TemplateTableReaderTest, LongFieldsAreReadInOnePass)
{
    // Each of these took seconds to minutes while the quotes were counted
    // again at every comma and the digits retried at every split.
    const std::string inside(300000, ',');
    EXPECT_EQ(readCsvFile(write("a,b\n\"x" + inside + "\"\"\ny\",2\n")),
              (QList<QStringList>{{"a", "b"}, {QString::fromStdString("x" + inside + "\"\ny"), "2"}}));
    EXPECT_EQ(refusal("a,b\n\"" + inside), "The template table \"P\" ends inside the quoted field that begins on line 2, "
                                           "column 1.");
    const Table rows = table("\"" + inside + "\",b\n1,2\n");
    EXPECT_EQ(rows, (Table{{0, 0}, {1, 2}}));
    const std::string digits(300000, '7');
    EXPECT_EQ(refusal("a\n" + digits + "x\n"), "The template table \"P\": line 2, column 1 holds \""
                                                + digits.substr(0, 60) + "\u2026\", which is not a number.");
}

TEST_F(TemplateTableReaderTest, RefusalsQuoteAtMostSixtyCharactersOfAField)
{
    const std::string digits(1000000, '7');
    EXPECT_EQ(refusal("a\n" + digits + "\n"), "The template table \"P\": line 2, column 1 holds \""
                                                + digits.substr(0, 60) + "\u2026\", which is beyond the float range.");
    const std::string sixty = std::string(59, 'x') + "y";
    EXPECT_EQ(refusal("a\n" + sixty + "\n"),
              "The template table \"P\": line 2, column 1 holds \"" + sixty + "\", which is not a number.");
    // A character outside the basic plane is not cut in two.
    const std::string smiles = std::string(59, 's') + "\xF0\x9F\x98\x80z";
    EXPECT_EQ(refusal("a\n" + smiles + "\n"), "The template table \"P\": line 2, column 1 holds \""
                                                 + std::string(59, 's') + "\u2026\", which is not a number.");

    FcsHeader merged;
    const std::string longName(100, 'L');
    merged.parameters() = {{"CD3", longName, 0, 32, 0.0}};
    merged.buildNameLists();
    EXPECT_EQ(templateColumnsMismatch("P", {QString::fromStdString(std::string(70, 'n'))}, merged).toStdString(),
              "The template table \"P\": column 1 of the header line names \"" + std::string(60, 'n')
                  + "\u2026\", but parameter 1 of the loaded files is \"CD3\" (\"" + std::string(60, 'L')
                  + "\u2026\"); no parameter of the loaded files is named \"" + std::string(60, 'n') + "\u2026\".");
}

TEST_F(TemplateTableReaderTest, OversizedTableIsRefusedBeforeItIsRead)
{
    const QString path = write("a,b\n1,2\n");
    ASSERT_TRUE(QFile::resize(path, int64_t(3) << 30));
    CsvTableRefusal why;
    EXPECT_TRUE(csvToFloatTable(path, &why).empty());
    EXPECT_EQ(why.message.replace(path, "P").toStdString(),
              "The template table \"P\" is too large to read: 3221225472 bytes, more than the limit of 16777216 "
              "bytes.");
}

TEST_F(TemplateTableReaderTest, TablesAtTheSizeLimitAreReadInBoundedMemory)
{
    // The costliest texts per byte, each read where 1 GiB more is all it may map.
    const size_t n = static_cast<size_t>(CsvReadReport::kMaximumBytes);
    const std::pair<std::string, QString> shapes[] = {
        {std::string(n, ','), " ends right after a comma on line 1."},
        {std::string(n, '\n'), ": line 1 is empty."},
        {"a\n" + std::string(n - 2, '"'), ", which is not a number."},
        {"a\n" + std::string(n - 3, '7') + "\n", ", which is beyond the float range."}};
    for (const auto& [bytes, reason] : shapes) {
        const QString path = write(bytes);
        EXPECT_EXIT(
            {
                limitAddressSpace(rlim_t(1) << 30);
                CsvTableRefusal why;
                std::exit(csvToFloatTable(path, &why).empty() && why.message.endsWith(reason) ? 0 : 1);
            },
            testing::ExitedWithCode(0), "")
            << reason.toStdString();
    }
}

TEST_F(TemplateTableReaderTest, HeaderNamesMustFitTheLoadedParameters)
{
    FcsHeader merged;
    merged.parameters() = {{"CD3", "T cells", 0, 32, 0.0}, {"CD4 \"a\"", "é µ –", 0, 32, 0.0},
                           {"CD8", "Killer", 0, 32, 0.0}};
    merged.buildNameLists();
    auto check = [&](const QStringList& header) {
        return templateColumnsMismatch("P", header, merged).toStdString();
    };
    EXPECT_EQ(check({" CD3 ", "é µ –", ""}), "");
    EXPECT_EQ(check({"T cells", "CD4 \"a\"", "3.5"}), "");
    EXPECT_EQ(check({"CD3"}), "");
    EXPECT_EQ(check({"a", "b", "c", "d"}),
              "The template table \"P\" has 4 columns, but the loaded files have only 3 parameters.");
    EXPECT_EQ(check({"CD3", "CD8"}),
              "The template table \"P\": column 2 of the header line names \"CD8\", but parameter 2 of the loaded "
              "files is \"CD4 \"a\"\" (\"é µ –\"); \"CD8\" is parameter 3.");
    EXPECT_EQ(check({"cd3"}),
              "The template table \"P\": column 1 of the header line names \"cd3\", but parameter 1 of the loaded "
              "files is \"CD3\" (\"T cells\"); no parameter of the loaded files is named \"cd3\".");
}

TEST_F(TemplateTableReaderTest, RandomRecordsWrittenAsCsvReadBackUnchanged)
{
    const std::vector<QString> pieces = {"a", "7", " ", ",", "\"", "\n", "é", "µ", "–", "\xF0\x9F\x98\x80", "x y"};
    std::mt19937 rng(27);
    std::uniform_int_distribution<int> recordCount(1, 5), fieldCount(1, 4), length(0, 5),
        piece(0, static_cast<int>(pieces.size()) - 1), coin(0, 1);
    for (int round = 0; round < 2000; ++round) {
        QList<QStringList> records;
        for (int r = recordCount(rng); r > 0; --r) {
            QStringList record;
            for (int f = fieldCount(rng); f > 0; --f) {
                QString field;
                for (int n = length(rng); n > 0; --n)
                    field += pieces[piece(rng)];
                record << field;
            }
            records << record;
        }
        const bool crlf = coin(rng), finalLineFeed = coin(rng) || records.last().last().isEmpty();
        std::string text;
        for (int r = 0; r < records.size(); ++r) {
            for (int f = 0; f < records[r].size(); ++f)
                text += (f ? "," : "") + TextEscaping::csvField(records[r][f].toStdString());
            if (r + 1 < records.size() || finalLineFeed)
                text += crlf ? "\r\n" : "\n";
        }
        CsvReadReport report;
        ASSERT_EQ(readCsvFile(write(text), &report), records) << text;
        EXPECT_EQ(report.status, CsvReadReport::Complete);
    }
}

TEST_F(TemplateTableReaderTest, DamagedTablesGiveATableOrAReason)
{
    const std::string valid = "CD3,\"CD4 \"\"a\"\"\",é µ –\r\n1,2.5,-3\r\n4e1, 5 ,6\r\n";
    std::mt19937 rng(4);
    std::uniform_int_distribution<int> byte(0, 255), edits(1, 3), kind(0, 2);
    int refused = 0;
    for (int round = 0; round < 2000; ++round) {
        std::string bytes = valid;
        for (int n = edits(rng); n > 0; --n) {
            const size_t at = std::uniform_int_distribution<size_t>(0, bytes.size())(rng);
            const int k = bytes.empty() ? 1 : kind(rng);
            if (k == 0 && at < bytes.size())
                bytes[at] = static_cast<char>(bytes[at] ^ (1 << (byte(rng) % 8)));
            else if (k == 1)
                bytes.insert(at, 1, static_cast<char>(byte(rng)));
            else if (at < bytes.size())
                bytes.erase(at, 1);
        }
        QString message;
        const Table rows = table(bytes, &message);
        if (rows.empty()) {
            EXPECT_TRUE(message.startsWith("The template table \"")) << message.toStdString();
            ++refused;
            continue;
        }
        ASSERT_GE(rows.size(), 2u);
        for (const auto& row : rows) {
            ASSERT_EQ(row.size(), rows.front().size());
            for (float x : row)
                EXPECT_TRUE(std::isfinite(x));
        }
    }
    EXPECT_GT(refused, 100);
    EXPECT_LT(refused, 1900);
}
