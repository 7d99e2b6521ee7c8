#pragma once

#include <string>

/// The one place where text typed by users or read from files is made safe
/// for the texts the program writes: JSON strings, CSV fields and JSON that
/// is embedded in a double-quoted script literal; plus the fixed-point
/// number text (six decimals, independent of the locale) of those texts.
class TextEscaping
{
public:
    /// The contents of a JSON string for the text (no surrounding quotes):
    /// quotes, backslashes and control characters escaped; "<", U+2028 and
    /// U+2029 written as \u escapes so the JSON is also safe inside a page's
    /// script element and a script literal.
    static std::string jsonEscape(const std::string& text);
    /// The text as a quoted JSON string.
    static std::string jsonString(const std::string& text);
    /// An RFC 4180 CSV field: quoted (quotes doubled) when the text holds a
    /// comma, a quote or a line break, otherwise the text itself.
    static std::string csvField(const std::string& text);
    /// A field after the first of a line of the program's tables, whose
    /// fields are separated by ", ": ", " and csvField(text), except that a
    /// quoted field follows its comma directly (CSV readers take a quote as
    /// quoting only at the very start of a field).
    static std::string csvNextField(const std::string& text);
    /// The JSON text for a double-quoted script literal: line feeds removed,
    /// then backslashes doubled, then quotes preceded by a backslash.
    static std::string scriptLiteral(const std::string& json);

    /// The text itself when it is valid UTF-8; otherwise the text read as
    /// Latin-1 (as files of older standards store it) and written as UTF-8.
    static std::string utf8FromLatin1(const std::string& text);

    /// Fixed-point text with six decimals ("1.000000"); non-finite values as
    /// the formatter spells them ("nan", "inf", "-inf").
    static std::string fixed(double value);
    /// Fixed-point text for JSON: a non-finite value is written "0.000000".
    static std::string jsonNumber(double value);
};
