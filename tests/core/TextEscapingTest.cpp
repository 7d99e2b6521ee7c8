#include "data/TextEscaping.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TEST(TextEscapingTest, JsonEscapesQuotesBackslashesControlsAndScriptEnds)
{
    EXPECT_EQ(TextEscaping::jsonEscape("plain ü ✓"), "plain ü ✓");
    EXPECT_EQ(TextEscaping::jsonEscape("a\"b\\c"), "a\\\"b\\\\c");
    EXPECT_EQ(TextEscaping::jsonEscape("l\nr\rt\tb\bf\f"), "l\\nr\\rt\\tb\\bf\\f");
    EXPECT_EQ(TextEscaping::jsonEscape(std::string("\x01\x1f\x7f", 3)), "\\u0001\\u001f\\u007f");
    EXPECT_EQ(TextEscaping::jsonEscape(std::string("nul\0x", 5)), "nul\\u0000x");
    EXPECT_EQ(TextEscaping::jsonEscape("</script>"), "\\u003c/script>");
    EXPECT_EQ(TextEscaping::jsonEscape("a\xe2\x80\xa8" "b\xe2\x80\xa9"), "a\\u2028b\\u2029");
    EXPECT_EQ(TextEscaping::jsonString("x\"y"), "\"x\\\"y\"");
}

TEST(TextEscapingTest, CsvQuotesOnlyFieldsThatNeedIt)
{
    EXPECT_EQ(TextEscaping::csvField("CD45 ü"), "CD45 ü");
    EXPECT_EQ(TextEscaping::csvField("a,b"), "\"a,b\"");
    EXPECT_EQ(TextEscaping::csvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(TextEscaping::csvField("two\nlines"), "\"two\nlines\"");
    EXPECT_EQ(TextEscaping::csvField("cr\r"), "\"cr\r\"");
    EXPECT_EQ(TextEscaping::csvField(""), "");
}

TEST(TextEscapingTest, ScriptLiteralDropsLineFeedsAndEscapesBackslashesBeforeQuotes)
{
    // An escaped quote inside a JSON string must come out as \\\" so that the
    // literal yields \" again.
    EXPECT_EQ(TextEscaping::scriptLiteral("{\n\"n\":\"a\\\"b\"\n}"), "{\\\"n\\\":\\\"a\\\\\\\"b\\\"}");
    EXPECT_EQ(TextEscaping::scriptLiteral("\\\\"), "\\\\\\\\");
}

TEST(TextEscapingTest, FixedPointNumbers)
{
    EXPECT_EQ(TextEscaping::fixed(1.0), "1.000000");
    EXPECT_EQ(TextEscaping::fixed(-0.0000004), "-0.000000");
    EXPECT_EQ(TextEscaping::fixed(2.5e7), "25000000.000000");
    EXPECT_EQ(TextEscaping::fixed(1.0f / 3.0f), "0.333333");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(TextEscaping::fixed(inf), "inf");
    EXPECT_EQ(TextEscaping::jsonNumber(nan), "0.000000");
    EXPECT_EQ(TextEscaping::jsonNumber(-inf), "0.000000");
    EXPECT_EQ(TextEscaping::jsonNumber(0.5), "0.500000");
}

TEST(TextEscapingTest, TextThatIsNotUtf8IsReadAsLatin1)
{
    for (const std::string utf8 : {"plain", "Gr\xc3\xbc\xc3\x9f" "e", "\xe6\xb8\xac", "\xf0\x9f\x98\x80", ""})
        EXPECT_EQ(TextEscaping::utf8FromLatin1(utf8), utf8);
    EXPECT_EQ(TextEscaping::utf8FromLatin1("Gr\xfc\xdf" "e \xb5m"), "Gr\xc3\xbc\xc3\x9f" "e \xc2\xb5m");
    // Overlong forms, surrogates, cut sequences and stray continuation bytes are not UTF-8.
    EXPECT_EQ(TextEscaping::utf8FromLatin1("\xc0\xaf"), "\xc3\x80\xc2\xaf");
    EXPECT_EQ(TextEscaping::utf8FromLatin1("\xed\xa0\x80"), "\xc3\xad\xc2\xa0\xc2\x80");
    EXPECT_EQ(TextEscaping::utf8FromLatin1("a\xe6\xb8"), "a\xc3\xa6\xc2\xb8");
    EXPECT_EQ(TextEscaping::utf8FromLatin1("\x80"), "\xc2\x80");
}

} // namespace
