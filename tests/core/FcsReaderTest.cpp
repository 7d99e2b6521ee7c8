#include "data/FcsReader.h"
#include "support/FcsTestFile.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct ReadResult
{
    int code = -1;
    FcsHeader header;
    std::vector<float> values;
    bool blockHandedOver = false;
};

class FcsReaderTest : public ::testing::Test
{
protected:
    std::string path(const std::string& name) const { return dir.path().toStdString() + "/" + name; }

    /// Reads a file; on success copies and frees the block, checking its size.
    ReadResult read(const std::string& file)
    {
        ReadResult result;
        result.header.setFileName(file);
        float sentinel = 0.0f;
        float* block = &sentinel;
        FcsReader reader;
        result.code = reader.read(&block, result.header);
        result.blockHandedOver = block != &sentinel;
        if (result.blockHandedOver) {
            const std::size_t count = static_cast<std::size_t>(result.header.eventCount())
                                      * result.header.parameterCount();
            result.values.assign(block, block + count);
            delete[] block;
        }
        return result;
    }

    ReadResult read(const FcsTestFile& file, const std::string& name = "t.fcs")
    {
        EXPECT_TRUE(file.write(path(name)));
        return read(path(name));
    }

    ReadResult readBytes(const std::string& bytes, const std::string& name = "t.fcs")
    {
        EXPECT_TRUE(FcsTestFile::writeBytes(path(name), bytes));
        return read(path(name));
    }

    static bool bitIdentical(const std::vector<float>& a, const std::vector<float>& b)
    {
        return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * 4) == 0);
    }

    /// Expects the code and that no block was handed over.
    void expectRefused(const ReadResult& result, int code)
    {
        EXPECT_EQ(result.code, code);
        EXPECT_FALSE(result.blockHandedOver);
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(FcsReaderTest, EveryVersionByteOrderAndDelimiterReadsTheSameFloats)
{
    const char delimiters[] = {'\\', '|', '/', '!', '\f'};
    FcsTestFile reference(37, 4);
    reference.values[5] = -0.0f;
    reference.values[6] = std::numeric_limits<float>::infinity();
    reference.values[7] = std::numeric_limits<float>::denorm_min();
    for (const std::string version : {"FCS2.0", "FCS3.0", "FCS3.1"}) {
        for (char delimiter : delimiters) {
            for (bool big : {false, true}) {
                SCOPED_TRACE(version + " delimiter " + std::to_string(int(delimiter)) + (big ? " big" : " little"));
                FcsTestFile file = reference;
                file.version = version;
                file.delimiter = delimiter;
                file.setBigEndian(big);
                const ReadResult result = read(file);
                ASSERT_EQ(result.code, FcsErrorNone);
                EXPECT_TRUE(bitIdentical(result.values, reference.values));
                EXPECT_EQ(result.header.version(), version);
                EXPECT_EQ(result.header.eventCount(), 37);
                ASSERT_EQ(result.header.parameterCount(), 4u);
                EXPECT_EQ(result.header.byteOrder(), big ? "4,3,2,1" : "1,2,3,4");
                const FcsParameter& p = result.header.parameters()[3];
                EXPECT_EQ(p.shortName, "P4");
                EXPECT_EQ(p.longName, "Marker 4");
                EXPECT_EQ(p.range, 1024);
                EXPECT_EQ(p.bits, 32);
                EXPECT_EQ(p.exponent, 0.0);
                EXPECT_EQ(result.header.nameList(0), (std::vector<std::string>{"P1", "P2", "P3", "P4"}));
                EXPECT_EQ(result.header.nameList(1).back(), "Marker 4");
            }
        }
    }
}

TEST_F(FcsReaderTest, DescriptiveKeywordsAreStoredAndAbsentOnesBecomeMinusOne)
{
    FcsTestFile file(2, 1);
    file.setKeyword("$BTIM", "09:01:02");
    file.setKeyword("$CYT", "Instrument 7");
    file.setKeyword("$Cells", "PBMC");
    file.setKeyword("CREATOR", "maker");
    file.setKeyword("$P1E", "4,1");
    ReadResult result = read(file);
    ASSERT_EQ(result.code, FcsErrorNone);
    EXPECT_EQ(result.header.btim(), "09:01:02");
    EXPECT_EQ(result.header.cyt(), "Instrument 7");
    EXPECT_EQ(result.header.cells(), "PBMC");
    EXPECT_EQ(result.header.creator(), "maker");
    EXPECT_EQ(result.header.dataType(), "F");
    EXPECT_EQ(result.header.parameters()[0].exponent, 4.0);
    EXPECT_EQ(result.header.etim(), "-1");
    EXPECT_EQ(result.header.sys(), "-1");
    EXPECT_EQ(result.header.date(), "-1");

    // The cells keyword is case-sensitive; absent numbers become -1.
    file.removeKeyword("$Cells");
    file.setKeyword("$CELLS", "PBMC");
    file.removeKeyword("$P1R");
    file.removeKeyword("$P1S");
    result = read(file);
    ASSERT_EQ(result.code, FcsErrorNone);
    EXPECT_EQ(result.header.cells(), "-1");
    EXPECT_EQ(result.header.parameters()[0].range, -1);
    EXPECT_EQ(result.header.parameters()[0].longName, "-1");
}

TEST_F(FcsReaderTest, KeywordsMatchOnlyWhereAKeywordCanStand)
{
    FcsTestFile file(1, 2);
    file.keywords.insert(file.keywords.begin(), {"$EXPERIMENT", "long one"});
    file.setKeyword("$EXP", "short one");  // a longer keyword stands first
    file.setKeyword("$SYS", "A$PROJx");
    file.setKeyword("$PROJ", "real");
    // Values that end in, or are, another keyword's text.
    file.setKeyword("$P1N", "CD3$P2N");
    file.setKeyword("$P1S", "$P2N");
    const ReadResult result = read(file);
    ASSERT_EQ(result.code, FcsErrorNone);
    EXPECT_EQ(result.header.exp(), "-1");
    EXPECT_EQ(result.header.proj(), "real");
    EXPECT_EQ(result.header.sys(), "A$PROJx");
    EXPECT_EQ(result.header.nameList(0), (std::vector<std::string>{"CD3$P2N", "P2"}));
    EXPECT_EQ(result.header.parameters()[0].longName, "$P2N");

    // Empty values (not allowed, but written by old instruments) keep the
    // keywords behind them in their places, in every version.
    for (const std::string version : {"FCS2.0", "FCS3.0"}) {
        FcsTestFile empty(2, 2, version);
        empty.setKeyword("$SYS", "");
        empty.setKeyword("$CYT", "after");
        const ReadResult emptyResult = read(empty);
        ASSERT_EQ(emptyResult.code, FcsErrorNone) << version;
        EXPECT_EQ(emptyResult.header.sys(), "");
        EXPECT_EQ(emptyResult.header.cyt(), "after");
    }
}

TEST_F(FcsReaderTest, DoubledDelimiterIsUnescapedInVersion3AndEndsTheValueInVersion2)
{
    for (const std::string version : {"FCS3.0", "FCS3.1", "FCS2.0"}) {
        SCOPED_TRACE(version);
        FcsTestFile file(3, 2, version);
        file.delimiter = '/';
        file.setKeyword("$P1N", "CD3/CD4");
        file.setKeyword("$P2S", "a//b/");
        file.setKeyword("$SYS", "/lead");
        file.setKeyword("$CYT", "behind");
        const ReadResult result = read(file);
        ASSERT_EQ(result.code, FcsErrorNone);
        if (version == "FCS2.0") {
            EXPECT_EQ(result.header.parameters()[0].shortName, "CD3");
            EXPECT_EQ(result.header.parameters()[1].longName, "a");
        } else {
            EXPECT_EQ(result.header.parameters()[0].shortName, "CD3/CD4");
            EXPECT_EQ(result.header.parameters()[1].longName, "a//b/");
            EXPECT_EQ(result.header.sys(), "/lead");
        }
        EXPECT_EQ(result.header.cyt(), "behind");
        EXPECT_TRUE(bitIdentical(result.values, file.values));
    }
}

TEST_F(FcsReaderTest, VersionWordMustMatchExactly)
{
    FcsTestFile file(2, 2);
    std::string bytes = file.bytes();
    EXPECT_EQ(readBytes(bytes).code, FcsErrorNone);

    std::string leading = bytes;
    leading.replace(0, 6, " FCS3.");
    leading[6] = '1';  // still one word after white space
    EXPECT_EQ(readBytes(leading).code, FcsErrorNone);

    std::string longer = bytes;
    longer[6] = 'x';
    expectRefused(readBytes(longer), FcsErrorNoVersion);

    std::string old = bytes;
    old.replace(0, 6, "FCS1.0");
    expectRefused(readBytes(old), FcsErrorVersion1);

    old.replace(0, 6, "FCS4.0");
    expectRefused(readBytes(old), FcsErrorNoVersion);
    expectRefused(readBytes(""), FcsErrorNoVersion);
    expectRefused(readBytes("FCS3.1"), FcsErrorTextSegment);
}

TEST_F(FcsReaderTest, UnacceptedDelimitersAreRefused)
{
    for (char delimiter : {';', '\t', ',', 'A'}) {
        FcsTestFile file(2, 2);
        file.delimiter = delimiter;
        expectRefused(read(file), FcsErrorSeparator);
    }
}

TEST_F(FcsReaderTest, DataStartComesFromHeaderOrBeginData)
{
    FcsTestFile file(5, 3);
    file.dataOffsetsInHeader = false;
    ReadResult result = read(file);
    ASSERT_EQ(result.code, FcsErrorNone);
    EXPECT_TRUE(bitIdentical(result.values, file.values));

    file.dataKeywords = false;
    expectRefused(read(file), FcsErrorNoDataStart);

    // Only the HEADER gives it (typical FCS 2.0).
    file.dataOffsetsInHeader = true;
    result = read(file);
    ASSERT_EQ(result.code, FcsErrorNone);
    EXPECT_TRUE(bitIdentical(result.values, file.values));
}

TEST_F(FcsReaderTest, HeaderFieldsAreParsedWithinTheirOwnEightCharacters)
{
    FcsTestFile file(4, 2);
    file.zeroPaddedHeader = true;
    file.textStart = 64;
    const ReadResult result = read(file);
    ASSERT_EQ(result.code, FcsErrorNone);
    EXPECT_TRUE(bitIdentical(result.values, file.values));
}

TEST_F(FcsReaderTest, EndDataPastTheEndAndTrailingBytesStillRead)
{
    FcsTestFile file(6, 2);
    file.dataEndAdjust = 1;
    ReadResult result = read(file);
    ASSERT_EQ(result.code, FcsErrorNone);
    EXPECT_TRUE(bitIdentical(result.values, file.values));

    file.dataEndAdjust = 0;
    file.trailer = "00000000";
    result = read(file);
    ASSERT_EQ(result.code, FcsErrorNone);
    EXPECT_TRUE(bitIdentical(result.values, file.values));
}

TEST_F(FcsReaderTest, EmptyDataSetsRead)
{
    FcsTestFile file(0, 3);
    ReadResult result = read(file);
    ASSERT_EQ(result.code, FcsErrorNone);
    EXPECT_TRUE(result.blockHandedOver);
    EXPECT_EQ(result.header.eventCount(), 0);
    EXPECT_EQ(result.header.parameterCount(), 3u);
}

TEST_F(FcsReaderTest, FilesThatCannotBeOpenedAreFailures)
{
    expectRefused(read(path("missing.fcs")), FcsErrorCannotOpen);
    expectRefused(read(dir.path().toStdString()), FcsErrorCannotOpen);
    ReadResult empty = read(std::string());
    expectRefused(empty, FcsErrorCannotOpen);

    if (geteuid() != 0) {  // root reads everything
        FcsTestFile file(2, 2);
        ASSERT_TRUE(file.write(path("locked.fcs")));
        chmod(path("locked.fcs").c_str(), 0);
        expectRefused(read(path("locked.fcs")), FcsErrorCannotOpen);
    }
}

TEST_F(FcsReaderTest, IntegerFilesReadAsTheFloatsOfTheirMaskedValues)
{
    // Per parameter: width, $PnR ("" for none) and the mask FCS 3.1 gives it.
    struct Column
    {
        int bits;
        std::string range;
        uint64_t mask;
    };
    const uint64_t all = ~uint64_t(0);
    const std::vector<std::vector<Column>> layouts = {
        {{8, "100", 127}, {8, "256", 255}, {8, "", 255}},
        {{16, "1024", 1023}, {16, "1000", 1023}, {16, "1025", 2047}, {16, "65536", 65535}, {16, "4096.0", 4095}},
        {{32, "262144", 262143}, {32, "4294967296", 0xffffffffu}, {32, "", 0xffffffffu}},
        {{64, "1099511627776", (uint64_t(1) << 40) - 1}, {64, "", all}},
        {{16, "1024", 1023}, {8, "", 255}, {32, "", 0xffffffffu}, {24, "1000000", (1u << 20) - 1}, {64, "", all},
         {16, "70000", 65535}},
    };
    const struct
    {
        std::string order;
        bool big;
        std::string version;
    } orders[] = {{"1,2,3,4", false, "FCS3.1"}, {"4,3,2,1", true, "FCS3.0"}, {"1,2", false, "FCS2.0"},
                  {"2,1", true, "FCS2.0"}};

    std::mt19937_64 random(16);
    for (const auto& layout : layouts) {
        const int parameters = static_cast<int>(layout.size());
        const int events = 41;
        std::vector<int> bits;
        for (const Column& column : layout)
            bits.push_back(column.bits);
        // Random words fill every bit of their width, also above the masks.
        std::vector<uint64_t> words(static_cast<std::size_t>(events * parameters));
        std::vector<float> expected(words.size());
        for (std::size_t i = 0; i < words.size(); ++i) {
            const Column& column = layout[i % layout.size()];
            words[i] = column.bits == 64 ? random() : random() & ((uint64_t(1) << column.bits) - 1);
            expected[i] = static_cast<float>(words[i] & column.mask);
        }
        for (const auto& order : orders) {
            SCOPED_TRACE(order.order + " with " + std::to_string(parameters) + " parameters, first "
                         + std::to_string(bits[0]) + " bits");
            FcsTestFile file(events, parameters, order.version);
            file.setIntegers(bits, words);
            file.bigEndian = order.big;
            file.setKeyword("$BYTEORD", order.order);
            for (int n = 0; n < parameters; ++n) {
                const std::string keyword = "$P" + std::to_string(n + 1) + "R";
                if (layout[static_cast<std::size_t>(n)].range.empty())
                    file.removeKeyword(keyword);
                else
                    file.setKeyword(keyword, layout[static_cast<std::size_t>(n)].range);
            }
            const ReadResult result = read(file);
            ASSERT_EQ(result.code, FcsErrorNone);
            EXPECT_TRUE(bitIdentical(result.values, expected));
            EXPECT_EQ(result.header.dataType(), "I");
            EXPECT_EQ(result.header.parameters()[0].bits, bits[0]);
        }
    }
}

TEST_F(FcsReaderTest, IntegerRangesKeepExactlyTheBitsTheyNeed)
{
    // $PnR 2^64 (in two spellings) and 1e19 need all 64 bits; 2^63 needs 63.
    std::vector<std::string> ranges = {"18446744073709551616", "1.8446744073709552E19", "1e19",
                                       "9223372036854775808"};
    std::vector<int> needed = {64, 64, 64, 63};
    // Largest legal value (range - 1, at most 2^64 - 1) and all bits, per range.
    const uint64_t all = ~uint64_t(0);
    std::vector<uint64_t> largest = {all, all, all, (uint64_t(1) << 63) - 1};
    // 2^k - 1 and 2^k need k bits, 2^k + 1 needs k + 1, for k = 8..64.
    for (int k = 8; k <= 64; ++k)
        for (int delta : {-1, 0, 1}) {
            if (k < 64) {
                const uint64_t range = (uint64_t(1) << k) + static_cast<uint64_t>(static_cast<int64_t>(delta));
                ranges.push_back(std::to_string(range));
                largest.push_back(range - 1);
            } else {
                ranges.push_back(delta < 0 ? "18446744073709551615" : delta == 0 ? "18446744073709551616"
                                                                                : "18446744073709551617");
                largest.push_back(delta < 0 ? all - 1 : all);
            }
            needed.push_back(delta > 0 ? k + 1 : k);
        }
    const int parameters = static_cast<int>(ranges.size());
    std::vector<uint64_t> words(largest);
    words.insert(words.end(), ranges.size(), all);
    std::vector<float> expected(words.size());
    for (size_t i = 0; i < words.size(); ++i) {
        const int bits = needed[i % ranges.size()];
        expected[i] = static_cast<float>(words[i] & (bits >= 64 ? all : (uint64_t(1) << bits) - 1));
    }
    for (bool big : {false, true}) {
        FcsTestFile file(2, parameters);
        file.setIntegers(std::vector<int>(static_cast<size_t>(parameters), 64), words);
        file.setBigEndian(big);
        for (int n = 0; n < parameters; ++n)
            file.setKeyword("$P" + std::to_string(n + 1) + "R", ranges[static_cast<size_t>(n)]);
        const ReadResult result = read(file);
        ASSERT_EQ(result.code, FcsErrorNone);
        ASSERT_EQ(result.values.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i)
            EXPECT_EQ(result.values[i], expected[i]) << "range " << ranges[i % ranges.size()] << ", event " << i / ranges.size() << (big ? ", big" : ", little") << " endian";
    }
}

TEST_F(FcsReaderTest, LargeIntegerAndDoubleFilesConvertAcrossChunks)
{
    // Enough events to span several reads and conversion blocks.
    const int events = 100003;
    const int parameters = 6;
    std::vector<uint64_t> words(static_cast<std::size_t>(events) * parameters);
    std::vector<double> doubles(words.size());
    std::vector<float> fromWords(words.size());
    std::vector<float> fromDoubles(words.size());
    for (std::size_t i = 0; i < words.size(); ++i) {
        words[i] = (i * 2654435761u) & 0xffff;
        fromWords[i] = static_cast<float>(words[i] & 1023);
        doubles[i] = (static_cast<double>(i) - 3.0e5) * 1.000000123;
        fromDoubles[i] = static_cast<float>(doubles[i]);
    }
    doubles[1] = 1e300;  // beyond float: infinity
    doubles[2] = -0.0;
    doubles[3] = std::numeric_limits<double>::denorm_min();
    doubles[4] = std::numeric_limits<double>::quiet_NaN();
    for (int k = 1; k <= 4; ++k)
        fromDoubles[static_cast<std::size_t>(k)] = static_cast<float>(doubles[static_cast<std::size_t>(k)]);

    for (bool big : {false, true}) {
        FcsTestFile integers(events, parameters);
        integers.setIntegers(std::vector<int>(parameters, 16), words);
        integers.setBigEndian(big);
        const std::string order = big ? "big" : "little";
        ReadResult result = read(integers, "integers-" + order + ".fcs");
        ASSERT_EQ(result.code, FcsErrorNone);
        EXPECT_TRUE(bitIdentical(result.values, fromWords)) << order;

        FcsTestFile narrowed(events, parameters);
        narrowed.setDoubles(doubles);
        narrowed.setBigEndian(big);
        result = read(narrowed, "doubles-" + order + ".fcs");
        ASSERT_EQ(result.code, FcsErrorNone);
        EXPECT_EQ(result.header.parameters()[5].bits, 64);
        EXPECT_TRUE(bitIdentical(result.values, fromDoubles)) << order;
    }
}

TEST_F(FcsReaderTest, UnsupportedDataIsRefused)
{
    FcsTestFile file(3, 3);
    for (const std::string type : {"A", "f", ""}) {
        file.setKeyword("$DATATYPE", type);
        expectRefused(read(file), FcsErrorUnsupportedData);
    }
    file.removeKeyword("$DATATYPE");
    expectRefused(read(file), FcsErrorUnsupportedData);

    // Float data is 32 bits and double data 64 bits in every parameter.
    FcsTestFile wrongBits(3, 3);
    for (const std::string bits : {"16", "64"}) {
        wrongBits.setKeyword("$P3B", bits);
        expectRefused(read(wrongBits), FcsErrorUnsupportedData);
    }
    wrongBits.removeKeyword("$P3B");
    expectRefused(read(wrongBits), FcsErrorUnsupportedData);
    FcsTestFile doubles(3, 3);
    doubles.setDoubles(std::vector<double>(9, 1.0));
    doubles.setKeyword("$P2B", "32");
    expectRefused(read(doubles), FcsErrorUnsupportedData);

    // Integers come in whole bytes up to 64 bits.
    for (int bits : {12, 0, 72, -8}) {
        FcsTestFile integers(3, 3);
        integers.setIntegers({16, bits, 16}, std::vector<uint64_t>(9, 1));
        expectRefused(read(integers), FcsErrorUnsupportedData);
    }
    FcsTestFile integers(3, 3);
    integers.setIntegers({16, 16, 16}, std::vector<uint64_t>(9, 1));
    integers.setKeyword("$BYTEORD", "2,1,4,3");
    expectRefused(read(integers), FcsErrorByteOrder);

    FcsTestFile histogram(3, 3);
    histogram.setKeyword("$MODE", "C");
    expectRefused(read(histogram), FcsErrorUnsupportedData);
    histogram.removeKeyword("$MODE");
    EXPECT_EQ(read(histogram).code, FcsErrorNone);
}

TEST_F(FcsReaderTest, UnknownByteOrdersAreRefused)
{
    FcsTestFile file(3, 3);
    for (const std::string order : {"2,1,4,3", "1,2", "1,2,3,4 ", ""}) {
        file.setKeyword("$BYTEORD", order);
        expectRefused(read(file), FcsErrorByteOrder);
    }
    file.removeKeyword("$BYTEORD");
    expectRefused(read(file), FcsErrorByteOrder);
}

TEST_F(FcsReaderTest, MissingNegativeOrNonNumericCountsAreRefused)
{
    FcsTestFile none(3, 3);
    none.setKeyword("$PAR", "0");
    expectRefused(read(none), FcsErrorEventCounts);

    // Every parameter needs its keywords: far more than the TEXT holds are
    // refused before anything is sized by the count.
    FcsTestFile hostile(3, 3);
    hostile.setKeyword("$PAR", "60000000");
    expectRefused(read(hostile), FcsErrorEventCounts);
    for (const std::string keyword : {"$TOT", "$PAR"}) {
        for (const std::string value : {"-1", "abc", "", "99999999999"}) {
            SCOPED_TRACE(keyword + "=" + value);
            FcsTestFile file(3, 3);
            file.setKeyword(keyword, value);
            expectRefused(read(file), FcsErrorEventCounts);
        }
        FcsTestFile file(3, 3);
        file.removeKeyword(keyword);
        expectRefused(read(file), FcsErrorEventCounts);
    }
}

TEST_F(FcsReaderTest, TextSegmentOutsideTheFileIsRefused)
{
    FcsTestFile file(3, 3);
    FcsTestFile::Layout layout;
    const std::string bytes = file.bytes(&layout);
    auto withField = [&](std::size_t offset, const std::string& field) {
        std::string changed = bytes;
        changed.replace(offset, 8, field);
        return changed;
    };
    expectRefused(readBytes(withField(18, "      20")), FcsErrorTextSegment);       // end before start
    expectRefused(readBytes(withField(18, "      57")), FcsErrorTextSegment);       // empty TEXT
    expectRefused(readBytes(withField(18, " 9999999")), FcsErrorTextSegment);       // past the end
    expectRefused(readBytes(withField(10, "        ")), FcsErrorTextSegment);       // no digits
    expectRefused(readBytes(withField(10, "     -10")), FcsErrorTextSegment);
    expectRefused(readBytes(bytes.substr(0, 30)), FcsErrorTextSegment);
    expectRefused(readBytes(bytes.substr(0, static_cast<std::size_t>(layout.textEnd))), FcsErrorTextSegment);

    // A one-byte TEXT holds only the delimiter: no $TOT.
    expectRefused(readBytes(withField(18, "      58")), FcsErrorEventCounts);
}

TEST_F(FcsReaderTest, DataSegmentThatDoesNotFitIsRefused)
{
    FcsTestFile file(10, 4);
    FcsTestFile::Layout layout;
    const std::string bytes = file.bytes(&layout);
    expectRefused(readBytes(bytes.substr(0, bytes.size() - 1)), FcsErrorDataSegment);
    expectRefused(readBytes(bytes.substr(0, static_cast<std::size_t>(layout.dataStart))), FcsErrorDataSegment);

    file.setKeyword("$TOT", "11");
    expectRefused(read(file), FcsErrorDataSegment);
    FcsTestFile integers(10, 4);
    integers.setIntegers({16, 32, 8, 64}, std::vector<uint64_t>(40, 7));
    integers.setKeyword("$TOT", "11");
    expectRefused(read(integers), FcsErrorDataSegment);
    file.setKeyword("$TOT", "2147483647");
    expectRefused(read(file), FcsErrorDataSegment);
    // More parameters than the TEXT could describe.
    file.setKeyword("$PAR", "2147483647");
    expectRefused(read(file), FcsErrorEventCounts);

    std::string farData = bytes;
    farData.replace(26, 8, "99999999");
    expectRefused(readBytes(farData), FcsErrorDataSegment);
}

TEST_F(FcsReaderTest, DataOverlappingTheHeaderOrTextIsRefused)
{
    FcsTestFile file(4, 2);
    FcsTestFile::Layout layout;
    const std::string bytes = file.bytes(&layout);
    auto withDataStart = [&](int64_t start) {
        std::string changed = bytes;
        const std::string digits = std::to_string(start);
        changed.replace(26, 8, std::string(8 - digits.size(), ' ') + digits);
        return changed;
    };
    for (int64_t start : {int64_t(1), int64_t(57), layout.textStart, layout.textEnd, layout.textEnd - 20})
        expectRefused(readBytes(withDataStart(start)), FcsErrorDataOverlap);
    EXPECT_EQ(readBytes(withDataStart(layout.textEnd + 1)).code, FcsErrorNone);

    // Data placed before the TEXT is fine when it does not reach into it.
    FcsTestFile late(4, 2);
    late.textStart = 58 + 32;
    std::string before = late.bytes(&layout);
    before.replace(58, 32, std::string(reinterpret_cast<const char*>(late.values.data()), 32));
    before.replace(26, 8, "      58");
    ReadResult result = readBytes(before);
    ASSERT_EQ(result.code, FcsErrorNone);
    EXPECT_TRUE(bitIdentical(result.values, late.values));
    before.replace(26, 8, "      59");
    expectRefused(readBytes(before), FcsErrorDataOverlap);
}

TEST_F(FcsReaderTest, RandomMutationsGiveACodeOrValidData)
{
    FcsTestFile base(20, 5);
    base.setKeyword("$CYT", "mutation");
    std::vector<std::string> originals;
    for (const std::string version : {"FCS2.0", "FCS3.1"}) {
        FcsTestFile file = base;
        file.version = version;
        file.dataOffsetsInHeader = version == "FCS2.0";
        originals.push_back(file.bytes());
    }
    // Converted data: integers of mixed widths and byte order, doubles.
    FcsTestFile integers = base;
    integers.setIntegers({16, 8, 32, 24, 64}, std::vector<uint64_t>(100, 0x0123456789abcdefu));
    integers.setBigEndian(true);
    originals.push_back(integers.bytes());
    FcsTestFile doubles = base;
    doubles.setDoubles(std::vector<double>(100, -2.5e-3));
    originals.push_back(doubles.bytes());

    std::mt19937 random(20240611u);
    int succeeded = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string bytes = originals[static_cast<std::size_t>(round) % originals.size()];
        const int kind = round % 4;
        if (kind == 3) {
            bytes.resize(random() % bytes.size());
        } else {
            const int flips = 1 + static_cast<int>(random() % 6);
            // Most flips hit the HEADER and TEXT, where the parsing is.
            const std::size_t span = kind == 2 ? bytes.size() : std::min<std::size_t>(bytes.size(), 400);
            for (int f = 0; f < flips; ++f) {
                const std::size_t at = random() % span;
                bytes[at] = kind == 0 ? static_cast<char>(random() & 0xff)
                                      : static_cast<char>("0123456789 -\\|$"[random() % 15]);
            }
        }
        // A new name each round: rewriting a truncated file waits for the disk.
        const std::string name = "mutant" + std::to_string(round) + ".fcs";
        const ReadResult result = readBytes(bytes, name);
        std::remove(path(name).c_str());
        ASSERT_GE(result.code, 0) << "round " << round;
        ASSERT_LT(result.code, static_cast<int>(fcsErrorMessages.size())) << "round " << round;
        ASSERT_NE(result.code, FcsErrorFilesDiffer);
        ASSERT_NE(result.code, FcsErrorUnknown);
        ASSERT_EQ(result.blockHandedOver, result.code == FcsErrorNone) << "round " << round;
        if (result.code == FcsErrorNone) {
            ++succeeded;
            EXPECT_GE(result.header.eventCount(), 0);
            // Every value takes at least one byte of the file.
            EXPECT_LE(static_cast<std::size_t>(result.header.eventCount()) * result.header.parameterCount(),
                      bytes.size());
        }
    }
    // The mix must exercise both outcomes.
    EXPECT_GT(succeeded, 100);
    EXPECT_LT(succeeded, 2900);
}

TEST(FcsErrorTest, MessageTableHoldsTheFixedTextsAndTheNewCodes)
{
    ASSERT_EQ(fcsErrorMessages.size(), 14u);
    EXPECT_EQ(fcsErrorMessages[0], "No Error");
    EXPECT_EQ(fcsErrorMessages[4], "Error code 4: Files differ to much.");
    EXPECT_EQ(fcsErrorMessages[5], "Error code 5: Could not find startbyte for data in short or textheader.");
    EXPECT_EQ(fcsErrorMessages[6], "Unknown Error.");
    EXPECT_EQ(fcsErrorMessages[8], "Error code 8: Only list mode data of integer or floating point type is supported.");
    for (std::size_t code = 7; code < fcsErrorMessages.size(); ++code)
        EXPECT_EQ(fcsErrorMessages[code].rfind("Error code " + std::to_string(code) + ": ", 0), 0u);
}
