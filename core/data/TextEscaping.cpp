#include "data/TextEscaping.h"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace {

/// Well-formed UTF-8: no overlong forms, surrogates or code points above U+10FFFF.
bool isUtf8(const std::string& text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xc2 ? 0 : lead < 0xe0 ? 2 : lead < 0xf0 ? 3 : lead < 0xf5 ? 4 : 0;
        if (length == 0 || i + length > text.size())
            return false;
        uint32_t code = length == 1 ? lead : lead & (0x7f >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xc0) != 0x80)
                return false;
            code = code << 6 | (next & 0x3f);
        }
        const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < smallest[length] || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
            return false;
        i += length;
    }
    return true;
}

} // namespace

std::string TextEscaping::utf8FromLatin1(const std::string& text)
{
    if (isUtf8(text))
        return text;
    std::string out;
    out.reserve(text.size() * 2);
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xc0 | byte >> 6);
            out += static_cast<char>(0x80 | (byte & 0x3f));
        }
    }
    return out;
}

std::string TextEscaping::jsonEscape(const std::string& text)
{
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() + 8);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '<': out += "\\u003c"; break;
        default:
            if (c < 0x20 || c == 0x7f) {
                out += "\\u00";
                out += hex[c >> 4];
                out += hex[c & 0xf];
            } else if (c == 0xe2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80
                       && (static_cast<unsigned char>(text[i + 2]) == 0xa8
                           || static_cast<unsigned char>(text[i + 2]) == 0xa9)) {
                // Line and paragraph separators end a script line in older engines.
                out += static_cast<unsigned char>(text[i + 2]) == 0xa8 ? "\\u2028" : "\\u2029";
                i += 2;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}

std::string TextEscaping::jsonString(const std::string& text)
{
    return "\"" + jsonEscape(text) + "\"";
}

std::string TextEscaping::csvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string TextEscaping::csvNextField(const std::string& text)
{
    const std::string field = csvField(text);
    return (field == text ? ", " : ",") + field;
}

std::string TextEscaping::scriptLiteral(const std::string& json)
{
    std::string out;
    out.reserve(json.size() + json.size() / 4);
    for (char c : json) {
        if (c == '\n')
            continue;
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out;
}

std::string TextEscaping::fixed(double value)
{
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
    return std::string(buffer, result.ptr);
}

std::string TextEscaping::jsonNumber(double value)
{
    return fixed(std::isfinite(value) ? value : 0.0);
}
