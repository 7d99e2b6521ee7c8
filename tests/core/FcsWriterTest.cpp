#include "data/FcsReader.h"
#include "data/FcsWriter.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataPoints.h"
#include "data/ReplacingFile.h"
#include "support/FcsStrictChecker.h"
#include "support/FcsTestFile.h"
#include "support/RegistryTestData.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <csignal>
#include <cstring>
#include <limits>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

std::string floatBytes(const std::vector<float>& values)
{
    std::string bytes(values.size() * 4, '\0');
    std::memcpy(&bytes[0], values.data(), bytes.size());
    return bytes;
}

class FcsWriterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        registry = RegistryTestData::freshRegistry();
        folder = dir.path().toStdString();
    }
    void TearDown() override { RegistryTestData::dropRegistry(); }

    std::string path(const std::string& name) const { return folder + "/" + name; }

    /// Loads a sample of `parameters` columns with the given values and keywords.
    void load(const std::string& name, int parameters, const std::vector<float>& values,
              const std::vector<std::pair<std::string, std::string>>& keywords = {})
    {
        ASSERT_EQ(registry->loadFcsFile(RegistryTestData::writeFcs(folder, name, parameters, values, keywords)),
                  FcsErrorNone);
    }

    MCV_DerivedDataPoints* pointsSet(const std::vector<MCV_PointIndex>& points)
    {
        MCV_DerivedDataPoints* set = registry->createPointsData("Set", false);
        set->setPoints(points, false);
        return set;
    }

    int writeFcs(MCV_DerivedDataPoints* set, const std::string& file)
    {
        FcsWriter writer;
        writer.setData(set);
        writer.setHeader(registry->mergedHeader());
        return writer.writeFcs(file);
    }

    int writeBinary(MCV_DerivedDataPoints* set, const std::string& file, const std::vector<int>& parameters,
                    int mode)
    {
        FcsWriter writer;
        writer.setData(set);
        writer.setHeader(registry->mergedHeader());
        return writer.writeBinary(file, parameters, mode);
    }

    /// Reads a written file back through the program's reader.
    int readBack(const std::string& file, FcsHeader& header, std::vector<float>& values)
    {
        header.setFileName(file);
        float* block = nullptr;
        FcsReader reader;
        const int code = reader.read(&block, header);
        if (code == FcsErrorNone) {
            values.assign(block, block + static_cast<std::size_t>(header.eventCount()) * header.parameterCount());
            delete[] block;
        }
        return code;
    }

    static void expectValidFcs(const std::string& file)
    {
        const std::vector<std::string> problems = FcsStrictChecker::checkFile(file);
        EXPECT_TRUE(problems.empty()) << file << ":\n" << FcsStrictChecker::join(problems);
    }

    QTemporaryDir dir;
    std::string folder;
    MCV_DataRegistry* registry = nullptr;
};

} // namespace

TEST_F(FcsWriterTest, WritesTheGoldenFcs31File)
{
    load("s.fcs", 2, {1.5f, -2.0f, 0.25f, 1.0e6f, -0.0f, 3.0f});
    MCV_DerivedDataPoints* set = pointsSet({{0, 2}, {0, 0}, {0, 1}});
    ASSERT_EQ(writeFcs(set, path("golden.fcs")), 0);

    const std::string golden =
        std::string("FCS3.1         100     502       0       0       0       0") + std::string(42, ' ')
        + "\\$BEGINANALYSIS\\0\\$ENDANALYSIS\\0\\$BEGINSTEXT\\0\\$ENDSTEXT\\0\\$NEXTDATA\\0"
          "\\$TOT\\3\\$PAR\\2\\FCSversion\\3.1\\CREATOR\\Vessarine FCS writer\\$COM\\Vessarine FCS writer"
          "\\FILENAME\\golden.fcs\\GUID\\1.fcs\\ORIGINALGUID\\1.fcs\\$BYTEORD\\1,2,3,4\\$DATATYPE\\F\\$MODE\\L"
          "\\$P1B\\32\\$P1N\\P1\\$P1S\\Marker 1\\$P1R\\1024\\$P1E\\0,0"
          "\\$P2B\\32\\$P2N\\P2\\$P2S\\Marker 2\\$P2R\\1024\\$P2E\\0,0"
          "\\$BEGINDATA\\503\\$ENDDATA\\526\\"
        + std::string(35, ' ') + floatBytes({-0.0f, 3.0f, 1.5f, -2.0f, 0.25f, 1.0e6f});
    EXPECT_EQ(FcsTestFile::readBytes(path("golden.fcs")), golden);
    expectValidFcs(path("golden.fcs"));
}

TEST_F(FcsWriterTest, RoundTripsNamesAndValuesBitIdentically)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<float> first = {nan, -inf, std::numeric_limits<float>::denorm_min(), -0.0f, 1e-38f, 7.0f};
    const std::vector<float> second = {3.25f, -1e30f, 0.1f, 42.0f, -7.5f, 8.0f};
    // Non-ASCII names move the data offsets if lengths are counted in
    // characters; names holding the delimiter must be escaped.
    const std::vector<std::pair<std::string, std::string>> keywords = {
        {"$P1N", "CD3\xce\xb1\xe2\x80\x93"}, {"$P1S", "Gr\xc3\xb6\xc3\x9f" "e \xe6\xb8\xac\xe5\xae\x9a"},
        {"$P2N", "a\\b"}, {"$P2S", "\\lead and trail\\"}};
    load("one.fcs", 2, first, keywords);
    load("two.fcs", 2, second, keywords);
    registry->appendChannels({"VSRNE_ST"}, -1.0f);
    MCV_DerivedDataPoints* set = pointsSet({{1, 2}, {0, 0}, {0, 1}, {1, 0}, {0, 2}});
    ASSERT_EQ(writeFcs(set, path("round.fcs")), 0);
    expectValidFcs(path("round.fcs"));

    FcsHeader header;
    std::vector<float> values;
    ASSERT_EQ(readBack(path("round.fcs"), header, values), FcsErrorNone);
    ASSERT_EQ(header.parameterCount(), 3u);
    EXPECT_EQ(header.parameters()[0].shortName, keywords[0].second);
    EXPECT_EQ(header.parameters()[0].longName, keywords[1].second);
    EXPECT_EQ(header.parameters()[1].shortName, "a\\b");
    EXPECT_EQ(header.parameters()[1].longName, "\\lead and trail\\");
    EXPECT_EQ(header.parameters()[2].shortName, "VSRNE_ST");
    EXPECT_EQ(header.parameters()[2].exponent, 1.0);

    std::vector<float> expected;
    const int64_t width = registry->parameterCount();
    for (const MCV_PointIndex& p : set->points()) {
        const float* row = registry->sampleData(p.sampleIndex) + p.eventIndex * width;
        expected.insert(expected.end(), row, row + width);
    }
    EXPECT_EQ(floatBytes(values), floatBytes(expected));
    EXPECT_EQ(expected[2], 1.0f);  // sample tag of sample 1
}

TEST_F(FcsWriterTest, TextFieldsFollowTheLayout)
{
    load("s.fcs", 2, {1, 2, 3, 4}, {{"$P2S", ""}, {"$P2E", "4,1"}});
    registry->appendChannels({"VSRNE_TsneX"}, 0.0f);
    registry->mergedHeader()->parameters()[0].exponent = 2.5;
    MCV_DerivedDataPoints* set = pointsSet({{0, 1}});
    ASSERT_TRUE(QDir(dir.path()).mkdir("sub"));
    ASSERT_EQ(writeFcs(set, path("sub/layout.fcs")), 0);
    expectValidFcs(path("sub/layout.fcs"));

    FcsStrictChecker::Keywords keywords;
    FcsStrictChecker::checkFile(path("sub/layout.fcs"), &keywords);
    EXPECT_EQ(keywords["FILENAME"], "layout.fcs");
    EXPECT_EQ(keywords["$P2S"], " ");  // never an empty value
    EXPECT_EQ(keywords["$P1E"], "2,5");
    EXPECT_EQ(keywords["$P2E"], "4,0");
    EXPECT_EQ(keywords["$P3E"], "1,0");
    EXPECT_EQ(keywords["$P3R"], "0");
    const std::string bytes = FcsTestFile::readBytes(path("sub/layout.fcs"));
    const std::size_t textEnd = std::stoul(bytes.substr(18, 8));
    EXPECT_EQ(bytes[textEnd], ' ');  // the TEXT is padded after its closing delimiter

    // Only a slash separates folders: a backslash belongs to the file name.
    ASSERT_EQ(writeFcs(set, path("sub/back\\slash.fcs")), 0);
    FcsStrictChecker::checkFile(path("sub/back\\slash.fcs"), &keywords);
    EXPECT_EQ(keywords["FILENAME"], "back\\slash.fcs");

    // A path without any folder gives the whole path as FILENAME.
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    const int result = writeFcs(set, "plain.fcs");
    QDir::setCurrent(previous);
    ASSERT_EQ(result, 0);
    FcsStrictChecker::checkFile(path("plain.fcs"), &keywords);
    EXPECT_EQ(keywords["FILENAME"], "plain.fcs");
}

TEST_F(FcsWriterTest, EmptySetWritesZeroDataOffsets)
{
    load("s.fcs", 2, {1, 2});
    MCV_DerivedDataPoints* set = pointsSet({});
    ASSERT_EQ(writeFcs(set, path("empty.fcs")), 0);
    expectValidFcs(path("empty.fcs"));
    FcsHeader header;
    std::vector<float> values;
    ASSERT_EQ(readBack(path("empty.fcs"), header, values), FcsErrorNone);
    EXPECT_EQ(header.eventCount(), 0);
}

TEST_F(FcsWriterTest, FailedWritesReportFailureAndLeaveNoFile)
{
    load("s.fcs", 2, {1, 2, 3, 4});
    MCV_DerivedDataPoints* set = pointsSet({{0, 0}, {0, 1}});

    EXPECT_EQ(writeFcs(set, "/dev/full"), 1);
    EXPECT_EQ(writeBinary(set, "/dev/full", {0}, 0), 0);
    struct stat device;
    ASSERT_EQ(stat("/dev/full", &device), 0);  // never removed
    EXPECT_TRUE(S_ISCHR(device.st_mode));

    EXPECT_EQ(writeFcs(set, path("missing/x.fcs")), 1);
    EXPECT_EQ(writeFcs(set, folder), 1);

    FcsWriter unset;
    EXPECT_EQ(unset.writeFcs(path("unset.fcs")), 1);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(path("unset.fcs"))));

    // A point outside the loaded samples is refused before anything is written.
    MCV_DerivedDataPoints* bad = registry->createPointsData("Bad", false);
    bad->setPoints({{0, 2}}, false);
    EXPECT_EQ(writeFcs(bad, path("bad.fcs")), 1);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(path("bad.fcs"))));

    // A write that fails half-way (file size limit) removes the partial file.
    load("big.fcs", 2, std::vector<float>(200000, 1.0f));
    std::vector<MCV_PointIndex> many;
    for (int e = 0; e < 100000; ++e)
        many.push_back({1, e});
    MCV_DerivedDataPoints* large = pointsSet(many);
    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 4096;
    // A failed replace keeps the file that was there.
    ASSERT_TRUE(FcsTestFile::writeBytes(path("kept.fcs"), "precious"));
    ASSERT_TRUE(FcsTestFile::writeBytes(path("kept.bin"), "raw"));
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const int fcsResult = writeFcs(large, path("partial.fcs"));
    const int rawResult = writeBinary(large, path("partial.bin"), {0, 1}, 0);
    const int replaceResult = writeFcs(large, path("kept.fcs"));
    const int rawReplaceResult = writeBinary(large, path("kept.bin"), {0, 1}, 0);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(fcsResult, 1);
    EXPECT_EQ(rawResult, 0);
    EXPECT_EQ(replaceResult, 1);
    EXPECT_EQ(rawReplaceResult, 0);
    EXPECT_EQ(FcsTestFile::readBytes(path("kept.fcs")), "precious");
    EXPECT_EQ(FcsTestFile::readBytes(path("kept.bin")), "raw");
    // Neither the new files nor temporary ones are left behind.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              (QStringList{"big.fcs", "kept.bin", "kept.fcs", "s.fcs"}));

    // The same write without the limit succeeds; a replaced file keeps its permissions.
    EXPECT_EQ(writeFcs(large, path("partial.fcs")), 0);
    expectValidFcs(path("partial.fcs"));
    ASSERT_EQ(chmod(path("kept.fcs").c_str(), 0640), 0);
    EXPECT_EQ(writeFcs(large, path("kept.fcs")), 0);
    expectValidFcs(path("kept.fcs"));
    struct stat kept;
    ASSERT_EQ(stat(path("kept.fcs").c_str(), &kept), 0);
    EXPECT_EQ(kept.st_mode & 0777, 0640u);
}

TEST_F(FcsWriterTest, PathsThatWouldDestroyDataAreRefused)
{
    load("s.fcs", 2, {1, 2, 3, 4});
    const std::string source = FcsTestFile::readBytes(path("s.fcs"));
    MCV_DerivedDataPoints* set = pointsSet({{0, 1}});
    ASSERT_TRUE(QFile::link(QString::fromStdString(path("s.fcs")), QString::fromStdString(path("link.fcs"))));

    // A loaded sample's own file, however it is named, is never written over.
    for (const std::string& target : {path("s.fcs"), folder + "/./s.fcs", path("link.fcs")}) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(writeFcs(set, target), 1) << target;
        EXPECT_EQ(writeBinary(set, target, {0}, 0), 0) << target;
        EXPECT_NE(testing::internal::GetCapturedStdout().find("is the file of the loaded sample"), std::string::npos);
    }
    // Nor by the text, image and side-file writers, which share the one write path.
    testing::internal::CaptureStdout();
    EXPECT_FALSE(ReplacingFile::writeAll(path("link.fcs"), "Subset,P1", 9));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Could not write " + path("link.fcs") + ": it is the file of the loaded sample " + path("s.fcs")
                  + "; nothing was written.\n");
    EXPECT_EQ(FcsTestFile::readBytes(path("s.fcs")), source);

    // A NUL would cut the path short: refused, and nothing is written at the shorter path.
    const std::string cut = path("cut.fcs") + std::string(1, '\0') + ".bak";
    EXPECT_EQ(writeFcs(set, cut), 1);
    EXPECT_EQ(writeBinary(set, cut, {0}, 0), 0);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(path("cut.fcs"))));
    EXPECT_EQ(writeFcs(set, ""), 1);
}

TEST_F(FcsWriterTest, EdgeDelimitersLatin1AndCommasAreWrittenConformantly)
{
    // Names as older files and users give them: a leading or trailing
    // backslash, "|" inside, Latin-1 bytes, a comma in a short name, and
    // values that end in or are another keyword's text.
    const std::vector<std::pair<std::string, std::string>> keywords = {
        {"$P1N", "\\lead"}, {"$P1S", "Gr\xf6\xdf" "e"}, {"$P2N", "CD3,CD4$P3N"},
        {"$P2S", "a|b trail\\"}, {"$P3N", "\xb5m"}, {"$P3S", "$P1N"}};
    load("s.fcs", 3, {1, 2, 3, 4, 5, 6}, keywords);
    testing::internal::CaptureStdout();
    ASSERT_EQ(writeFcs(pointsSet({{0, 1}, {0, 0}}), path("names.fcs")), 0);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("\"CD3,CD4$P3N\" written as \"CD3_CD4$P3N\""),
              std::string::npos);
    expectValidFcs(path("names.fcs"));
    // "\\" stands at an edge and "|" occurs: the next delimiter is taken.
    EXPECT_EQ(FcsTestFile::readBytes(path("names.fcs"))[100], '/');

    FcsHeader header;
    std::vector<float> values;
    ASSERT_EQ(readBack(path("names.fcs"), header, values), FcsErrorNone);
    EXPECT_EQ(header.nameList(0), (std::vector<std::string>{"\\lead", "CD3_CD4$P3N", "\xc2\xb5m"}));
    EXPECT_EQ(header.nameList(1), (std::vector<std::string>{"Gr\xc3\xb6\xc3\x9f" "e", "a|b trail\\", "$P1N"}));
    EXPECT_EQ(values, (std::vector<float>{4, 5, 6, 1, 2, 3}));
}

TEST_F(FcsWriterTest, NamesWithEveryDelimiterAtAnEdgeStillGiveAStrictFile)
{
    // Each accepted delimiter begins or ends some name: none can stay at the
    // edge of a value, so backslash is taken and becomes "_" where it does.
    const std::vector<std::pair<std::string, std::string>> keywords = {
        {"$P1N", "\\lead"}, {"$P1S", "a|"}, {"$P2N", "/b"}, {"$P2S", "c!"}, {"$P3N", "\fd"}, {"$P3S", "in\\side\\"}};
    load("s.fcs", 3, {1, 2, 3, 4, 5, 6}, keywords);
    testing::internal::CaptureStdout();
    ASSERT_EQ(writeFcs(pointsSet({{0, 0}, {0, 1}}), path("edges.fcs")), 0);
    const std::string lines = testing::internal::GetCapturedStdout();
    EXPECT_NE(lines.find("Value \"\\lead\" of $P1N written as \"_lead\""), std::string::npos) << lines;
    expectValidFcs(path("edges.fcs"));

    FcsHeader header;
    std::vector<float> values;
    ASSERT_EQ(readBack(path("edges.fcs"), header, values), FcsErrorNone);
    EXPECT_EQ(header.nameList(0), (std::vector<std::string>{"_lead", "/b", "\fd"}));
    EXPECT_EQ(header.nameList(1), (std::vector<std::string>{"a|", "c!", "in\\side_"}));
    EXPECT_EQ(values, (std::vector<float>{1, 2, 3, 4, 5, 6}));
}

TEST_F(FcsWriterTest, RawFloatRowsHoldTheChosenParametersInAscendingOrder)
{
    load("s.fcs", 3, {1, 2, 3, 4, 5, 6});
    MCV_DerivedDataPoints* set = pointsSet({{0, 1}, {0, 0}});
    ASSERT_EQ(writeBinary(set, path("rows.bin"), {2, 0}, 0), 1);
    EXPECT_EQ(FcsTestFile::readBytes(path("rows.bin")), floatBytes({4, 6, 1, 3}));

    // A repeated index counts once; the row's last slot stays 0.
    ASSERT_EQ(writeBinary(set, path("repeat.bin"), {1, 1}, 0), 1);
    EXPECT_EQ(FcsTestFile::readBytes(path("repeat.bin")), floatBytes({5, 0, 2, 0}));

    EXPECT_EQ(writeBinary(set, path("index.bin"), {3}, 0), 0);
    EXPECT_EQ(writeBinary(set, path("index.bin"), {-1}, 0), 0);
    EXPECT_EQ(writeBinary(set, path("index.bin"), {0}, 2), 0);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(path("index.bin"))));
}

TEST_F(FcsWriterTest, PerSampleRawFilesLandBesideTheChosenPath)
{
    ASSERT_TRUE(QDir(dir.path()).mkpath("a"));
    ASSERT_TRUE(QDir(dir.path()).mkpath("b"));
    ASSERT_TRUE(QDir(dir.path()).mkpath("out"));
    load("a/donor.fcs", 2, {1, 2, 3, 4});
    load("b/donor.fcs", 2, {5, 6, 7, 8});
    load("other.fcs", 2, {9, 10});
    MCV_DerivedDataPoints* set = pointsSet({{1, 1}, {0, 0}, {1, 0}});

    EXPECT_EQ(writeBinary(set, path("out/export.bin"), {}, 1), 0);  // no markers: nothing written
    EXPECT_TRUE(QDir(QString::fromStdString(path("out"))).isEmpty());

    ASSERT_EQ(writeBinary(set, path("out/export.bin"), {1}, 1), 1);
    EXPECT_EQ(FcsTestFile::readBytes(path("out/export-donor.bin")), floatBytes({2}));
    EXPECT_EQ(FcsTestFile::readBytes(path("out/export-donor-2.bin")), floatBytes({8, 6}));
    EXPECT_TRUE(QFileInfo(QString::fromStdString(path("out/export-other.bin"))).exists());
    EXPECT_EQ(QFileInfo(QString::fromStdString(path("out/export-other.bin"))).size(), 0);
    EXPECT_EQ(QDir(QString::fromStdString(path("out"))).entryList(QDir::Files).size(), 3);

    EXPECT_EQ(writeBinary(set, path("nowhere/export.bin"), {1}, 1), 0);
}

TEST_F(FcsWriterTest, StrictCheckerCatchesBrokenFiles)
{
    load("s.fcs", 2, {1, 2, 3, 4, 5, 6});
    ASSERT_EQ(writeFcs(pointsSet({{0, 0}, {0, 1}, {0, 2}}), path("good.fcs")), 0);
    const std::string good = FcsTestFile::readBytes(path("good.fcs"));
    ASSERT_TRUE(FcsStrictChecker::check(good).empty());

    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string bytes = good;
        bytes.replace(bytes.find(from), from.size(), to);
        return bytes;
    };
    auto expectProblem = [](const std::string& bytes, const std::string& expected) {
        const std::string problems = FcsStrictChecker::join(FcsStrictChecker::check(bytes));
        EXPECT_NE(problems.find(expected), std::string::npos) << "expected \"" << expected << "\" in:\n" << problems;
    };
    expectProblem(replaced("$TOT\\3", "$TOT\\4"), "DATA segment is 24 bytes, $TOT x $PAR x 4 is 32");
    expectProblem(replaced("     100", "100     "), "HEADER TEXT start");
    expectProblem(replaced("\\$MODE\\L", "\\$MODE\\\\"), "odd number");
    expectProblem(replaced("Marker 1", "Mark\\r 1"), "odd number");
    expectProblem(replaced("$P2R\\1024", "$P3R\\1024"), "$P3R names a parameter beyond $PAR");
    expectProblem(replaced("$P1N\\P1", "$P1N\\,1"), "$P1N holds a comma");
    expectProblem(replaced("\\P2\\", "\\\xc3\x28\\"), "value of $P2N is not UTF-8");
    expectProblem(good.substr(0, good.size() - 1), "runs past the end");
    expectProblem(good + "x", "1 stray bytes");
    expectProblem(replaced("$BYTEORD\\1,2,3,4", "$BYTEORD\\4,3,2,1"), "$BYTEORD is \"4,3,2,1\"");
    // A value beginning or ending with the delimiter, doubled as FCS 3.1 escapes it.
    expectProblem(replaced("Marker 1", "\\\\lead"), "3 delimiters in a row");
    expectProblem(replaced("Marker 1", "trail\\\\"), "3 delimiters in a row");
}
