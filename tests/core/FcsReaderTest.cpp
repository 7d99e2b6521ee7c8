#include "data/FcsReader.h"
#include "support/FcsTestFile.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

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

TEST_F(FcsReaderTest, KeywordLookupTakesTheFirstOccurrenceOnly)
{
    FcsTestFile file(1, 1);
    file.keywords.insert(file.keywords.begin(), {"$EXPERIMENT", "long one"});
    file.setKeyword("$EXP", "short one");
    file.setKeyword("$SYS", "A$PROJx");  // the text occurs inside a value first
    file.setKeyword("$PROJ", "real");
    const ReadResult result = read(file);
    ASSERT_EQ(result.code, FcsErrorNone);
    EXPECT_EQ(result.header.exp(), "-1");
    EXPECT_EQ(result.header.proj(), "-1");
    EXPECT_EQ(result.header.sys(), "A$PROJx");
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

TEST_F(FcsReaderTest, DataOtherThanFloatListModeIsRefused)
{
    FcsTestFile file(3, 3);
    file.setKeyword("$DATATYPE", "I");
    expectRefused(read(file), FcsErrorUnsupportedData);
    file.removeKeyword("$DATATYPE");
    expectRefused(read(file), FcsErrorUnsupportedData);

    FcsTestFile wrongBits(3, 3);
    wrongBits.setKeyword("$P3B", "16");  // not only the first width counts
    expectRefused(read(wrongBits), FcsErrorUnsupportedData);
    wrongBits.setKeyword("$P3B", "64");
    expectRefused(read(wrongBits), FcsErrorUnsupportedData);
    wrongBits.removeKeyword("$P3B");
    expectRefused(read(wrongBits), FcsErrorUnsupportedData);

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
    file.setKeyword("$TOT", "2147483647");
    expectRefused(read(file), FcsErrorDataSegment);
    // More parameters than the TEXT could describe.
    file.setKeyword("$PAR", "2147483647");
    expectRefused(read(file), FcsErrorEventCounts);

    std::string farData = bytes;
    farData.replace(26, 8, "99999999");
    expectRefused(readBytes(farData), FcsErrorDataSegment);
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
        const ReadResult result = readBytes(bytes, "mutant.fcs");
        ASSERT_GE(result.code, 0) << "round " << round;
        ASSERT_LT(result.code, static_cast<int>(fcsErrorMessages.size())) << "round " << round;
        ASSERT_NE(result.code, FcsErrorFilesDiffer);
        ASSERT_NE(result.code, FcsErrorUnknown);
        ASSERT_EQ(result.blockHandedOver, result.code == FcsErrorNone) << "round " << round;
        if (result.code == FcsErrorNone) {
            ++succeeded;
            EXPECT_GE(result.header.eventCount(), 0);
            EXPECT_LE(static_cast<std::size_t>(result.header.eventCount()) * result.header.parameterCount() * 4,
                      bytes.size());
        }
    }
    // The mix must exercise both outcomes.
    EXPECT_GT(succeeded, 100);
    EXPECT_LT(succeeded, 2900);
}

TEST(FcsErrorTest, MessageTableHoldsTheFixedTextsAndTheNewCodes)
{
    ASSERT_EQ(fcsErrorMessages.size(), 13u);
    EXPECT_EQ(fcsErrorMessages[0], "No Error");
    EXPECT_EQ(fcsErrorMessages[4], "Error code 4: Files differ to much.");
    EXPECT_EQ(fcsErrorMessages[5], "Error code 5: Could not find startbyte for data in short or textheader.");
    EXPECT_EQ(fcsErrorMessages[6], "Unknown Error.");
    for (std::size_t code = 7; code < fcsErrorMessages.size(); ++code)
        EXPECT_EQ(fcsErrorMessages[code].rfind("Error code " + std::to_string(code) + ": ", 0), 0u);
}
