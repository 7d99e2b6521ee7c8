#include "support/FcsStrictChecker.h"

#include <cctype>
#include <cstdint>
#include <fstream>
#include <iterator>

namespace {

bool parseUnsigned(const std::string& text, uint64_t& value)
{
    if (text.empty() || text.size() > 19)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

/// A HEADER offset: right-aligned ASCII digits, space-filled on the left.
bool headerField(const std::string& bytes, std::size_t at, uint64_t& value)
{
    const std::string field = bytes.substr(at, 8);
    const std::size_t first = field.find_first_not_of(' ');
    return field.size() == 8 && first != std::string::npos && parseUnsigned(field.substr(first), value);
}

bool validUtf8(const std::string& text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        std::size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xe ? 3 : (c >> 3) == 0x1e ? 4 : 0;
        if (length == 0 || i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) >> 6) != 0x2)
                return false;
        }
        i += length;
    }
    return true;
}

/// Digits, optionally followed by "." and digits.
bool decimalNumber(const std::string& text)
{
    const std::size_t dot = text.find('.');
    uint64_t ignored = 0;
    if (dot == std::string::npos)
        return parseUnsigned(text, ignored);
    return parseUnsigned(text.substr(0, dot), ignored) && parseUnsigned(text.substr(dot + 1), ignored);
}

/// "$P<n><letters>": true with n set.
bool parameterKeyword(const std::string& keyword, uint64_t& n)
{
    if (keyword.compare(0, 2, "$P") != 0)
        return false;
    std::size_t end = 2;
    while (end < keyword.size() && keyword[end] >= '0' && keyword[end] <= '9')
        ++end;
    if (end == 2 || end == keyword.size() || end - 2 > 18)
        return false;
    for (std::size_t i = end; i < keyword.size(); ++i) {
        if (keyword[i] < 'A' || keyword[i] > 'Z')
            return false;
    }
    return parseUnsigned(keyword.substr(2, end - 2), n);
}

std::string upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

std::vector<std::string> FcsStrictChecker::check(const std::string& bytes, Keywords* keywordsOut)
{
    std::vector<std::string> problems;
    auto problem = [&](const std::string& text) { problems.push_back(text); };

    if (bytes.size() < 58)
        return {"file shorter than the 58-byte HEADER"};
    if (bytes.compare(0, 10, "FCS3.1    ") != 0)
        problem("HEADER does not start with \"FCS3.1\" and four spaces");
    uint64_t offsets[6] = {};
    const char* names[6] = {"TEXT start", "TEXT end", "DATA start", "DATA end", "ANALYSIS start", "ANALYSIS end"};
    for (int f = 0; f < 6; ++f) {
        if (!headerField(bytes, 10 + 8 * static_cast<std::size_t>(f), offsets[f]))
            problem(std::string("HEADER ") + names[f] + " is not a right-aligned number");
    }
    if (!problems.empty())
        return problems;
    const uint64_t size = bytes.size();
    const uint64_t textStart = offsets[0];
    const uint64_t textEnd = offsets[1];
    if (textStart < 58 || textEnd < textStart || textEnd >= size)
        return {"TEXT segment outside the file or overlapping the HEADER"};
    if (offsets[4] != 0 || offsets[5] != 0)
        problem("ANALYSIS offsets are not 0 although there is no ANALYSIS segment");

    // TEXT: delimiter, then keyword/value pairs each ending in the delimiter;
    // a doubled delimiter stands for one inside a keyword or value. Only
    // white space may follow the last delimiter.
    const std::string text = bytes.substr(textStart, textEnd - textStart + 1);
    const char delimiter = text[0];
    if (delimiter < 1 || delimiter > 126)
        problem("delimiter is not an ASCII character 1-126");
    // A doubled delimiter inside a keyword or value is fine, but an odd run
    // of three or more means one begins or ends with the delimiter, which
    // readers cannot tell from the separator.
    for (std::size_t run = 0, p = 0; p <= text.size(); ++p) {
        if (p < text.size() && text[p] == delimiter) {
            ++run;
            continue;
        }
        if (run >= 3 && run % 2 == 1)
            problem("TEXT holds " + std::to_string(run) + " delimiters in a row: a keyword or value begins or ends with it");
        run = 0;
    }
    std::vector<std::string> tokens;
    std::string token;
    std::size_t i = 1;
    std::size_t lastDelimiter = 0;
    while (i < text.size()) {
        if (text[i] == delimiter) {
            if (i + 1 < text.size() && text[i + 1] == delimiter) {
                token += delimiter;
                i += 2;
                continue;
            }
            tokens.push_back(token);
            token.clear();
            lastDelimiter = i;
        } else {
            token += text[i];
        }
        ++i;
    }
    const std::string tail = text.substr(lastDelimiter + 1);
    if (tail.find_first_not_of(" \t\r\n") != std::string::npos)
        problem("TEXT continues after its last delimiter: \"" + tail + "\"");
    if (tokens.size() % 2 != 0)
        problem("TEXT holds an odd number of keywords and values");

    Keywords keywords;
    for (std::size_t t = 0; t + 1 < tokens.size(); t += 2) {
        const std::string& keyword = tokens[t];
        const std::string& value = tokens[t + 1];
        if (keyword.empty())
            problem("empty keyword");
        for (char c : keyword) {
            if (c < 32 || c > 126)
                problem("keyword \"" + keyword + "\" holds a character outside ASCII 32-126");
        }
        if (value.empty())
            problem("keyword " + keyword + " has an empty value");
        if (!validUtf8(value))
            problem("value of " + keyword + " is not UTF-8");
        if (!keywords.emplace(upper(keyword), value).second)
            problem("keyword " + keyword + " appears twice");
    }
    if (keywordsOut)
        *keywordsOut = keywords;

    auto number = [&](const std::string& keyword, uint64_t& value) {
        const auto found = keywords.find(keyword);
        if (found == keywords.end()) {
            problem("required keyword " + keyword + " is missing");
            return false;
        }
        if (!parseUnsigned(found->second, value)) {
            problem(keyword + " is not an unsigned number: \"" + found->second + "\"");
            return false;
        }
        return true;
    };
    auto expectValue = [&](const std::string& keyword, const std::string& expected) {
        const auto found = keywords.find(keyword);
        if (found == keywords.end())
            problem("required keyword " + keyword + " is missing");
        else if (found->second != expected)
            problem(keyword + " is \"" + found->second + "\", expected \"" + expected + "\"");
    };

    uint64_t zero = 0;
    for (const char* keyword : {"$BEGINANALYSIS", "$ENDANALYSIS", "$BEGINSTEXT", "$ENDSTEXT", "$NEXTDATA"}) {
        if (number(keyword, zero) && zero != 0)
            problem(std::string(keyword) + " is not 0");
    }
    expectValue("$BYTEORD", "1,2,3,4");
    expectValue("$DATATYPE", "F");
    expectValue("$MODE", "L");

    uint64_t events = 0;
    uint64_t parameters = 0;
    const bool counts = number("$TOT", events) && number("$PAR", parameters);
    if (counts) {
        for (uint64_t n = 1; n <= parameters; ++n) {
            const std::string p = "$P" + std::to_string(n);
            expectValue(p + "B", "32");
            uint64_t range = 0;
            number(p + "R", range);
            const auto name = keywords.find(p + "N");
            if (name == keywords.end())
                problem("required keyword " + p + "N is missing");
            else if (name->second.find(',') != std::string::npos)
                problem(p + "N holds a comma");
            const auto e = keywords.find(p + "E");
            if (e == keywords.end())
                problem("required keyword " + p + "E is missing");
            else if (e->second.find(',') == std::string::npos
                     || !decimalNumber(e->second.substr(0, e->second.find(',')))
                     || !decimalNumber(e->second.substr(e->second.find(',') + 1)))
                problem(p + "E is not two numbers: \"" + e->second + "\"");
        }
        for (const auto& entry : keywords) {
            uint64_t n = 0;
            if (parameterKeyword(entry.first, n) && (n == 0 || n > parameters))
                problem("keyword " + entry.first + " names a parameter beyond $PAR");
        }
    }

    uint64_t beginData = 0;
    uint64_t endData = 0;
    if (number("$BEGINDATA", beginData) && number("$ENDDATA", endData) && counts) {
        const uint64_t dataBytes = events * parameters * 4;
        uint64_t last = textEnd;
        if (dataBytes == 0) {
            if (beginData != 0 || endData != 0)
                problem("an empty DATA segment must have $BEGINDATA and $ENDDATA 0");
        } else if (endData < beginData || endData - beginData + 1 != dataBytes) {
            problem("DATA segment is " + std::to_string(endData - beginData + 1) + " bytes, $TOT x $PAR x 4 is "
                    + std::to_string(dataBytes));
        } else if (beginData <= textEnd || endData >= size) {
            problem("DATA segment overlaps the TEXT or runs past the end of the file");
        } else {
            last = endData;
        }
        if ((offsets[2] != 0 || offsets[3] != 0) && (offsets[2] != beginData || offsets[3] != endData))
            problem("HEADER DATA offsets differ from $BEGINDATA and $ENDDATA");
        // Nothing but an optional 8-byte CRC field may follow the last segment.
        if (size != last + 1 && size != last + 9)
            problem("file has " + std::to_string(size - last - 1) + " stray bytes after its last segment");
    }
    return problems;
}

std::vector<std::string> FcsStrictChecker::checkFile(const std::string& path, Keywords* keywords)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {"cannot open " + path};
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return check(bytes, keywords);
}

std::string FcsStrictChecker::join(const std::vector<std::string>& problems)
{
    std::string text;
    for (const std::string& p : problems)
        text += p + "\n";
    return text;
}
