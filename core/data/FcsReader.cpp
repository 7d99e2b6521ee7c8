#include "data/FcsReader.h"

#include "data/ByteOrder.h"

#include <QFile>
#include <QFileInfo>
#include <QString>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>

namespace {

bool isWhiteSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

/// Parses a decimal integer from [begin, end): leading white space, an
/// optional sign, the digits; whatever follows is ignored. False when there
/// is no digit or the number does not fit in 64 bits.
bool parseInteger(const char* begin, const char* end, int64_t& value)
{
    const char* p = begin;
    while (p < end && isWhiteSpace(*p))
        ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    if (p == end || *p < '0' || *p > '9')
        return false;
    uint64_t magnitude = 0;
    const uint64_t limit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        magnitude = magnitude * 10 + static_cast<uint64_t>(*p - '0');
        if (magnitude > limit)
            return false;
    }
    value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

bool parseInteger(const std::string& text, int64_t& value)
{
    return parseInteger(text.data(), text.data() + text.size(), value);
}

/// A keyword number as a 32-bit field: -1 when it has no digits (as when it
/// is absent), clamped to the 32-bit range.
int32_t toInt32(const std::string& text)
{
    int64_t value = 0;
    if (!parseInteger(text, value))
        return -1;
    if (value > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

/// The floating-point number at the start of the text ("4,1" gives 4.0,
/// no digits give 0.0), independent of the user's locale.
double toDouble(const std::string& text)
{
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end && isWhiteSpace(*p))
        ++p;
    if (p < end && *p == '+')
        ++p;
    double value = 0.0;
    if (std::from_chars(p, end, value).ec != std::errc())
        return 0.0;
    return value;
}

bool isAcceptedDelimiter(char c)
{
    return c == '\\' || c == '|' || c == '/' || c == '!' || c == '\f';
}

/// Reads exactly `size` bytes at `offset`; false on any shortfall. With
/// swapWords the 4-byte words are reversed chunk by chunk, while each chunk
/// is still in the cache.
bool readFully(QFile& file, int64_t offset, char* destination, int64_t size, bool swapWords)
{
    constexpr int64_t chunkBytes = int64_t(1) << 22;
    if (!file.seek(offset))
        return false;
    int64_t done = 0;
    int64_t swapped = 0;
    while (done < size) {
        const qint64 got = file.read(destination + done, std::min(chunkBytes, size - done));
        if (got <= 0)
            return false;
        done += got;
        if (swapWords) {
            const int64_t words = (done - swapped) / 4;
            ByteOrder::swap32(destination + swapped, static_cast<std::size_t>(words));
            swapped += words * 4;
        }
    }
    return true;
}

} // namespace

int FcsReader::read(float** eventBlock, FcsHeader& header)
{
    m_path = header.fileName();
    const QString path = QString::fromStdString(m_path);
    if (m_path.empty() || QFileInfo(path).isDir())
        return FcsErrorCannotOpen;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return FcsErrorCannotOpen;
    const int64_t fileSize = file.size();

    // The HEADER fields used here all lie in the first 64 bytes; a shorter
    // file leaves the rest blank.
    char head[64];
    std::memset(head, ' ', sizeof head);
    const qint64 headLength = file.read(head, sizeof head);
    if (headLength < 0)
        return FcsErrorCannotOpen;

    const char* wordBegin = head;
    const char* headEnd = head + headLength;
    while (wordBegin < headEnd && isWhiteSpace(*wordBegin))
        ++wordBegin;
    const char* wordEnd = wordBegin;
    while (wordEnd < headEnd && !isWhiteSpace(*wordEnd))
        ++wordEnd;
    const std::string version(wordBegin, wordEnd);
    if (version != "FCS3.1" && version != "FCS3.0" && version != "FCS2.0")
        return version == "FCS1.0" ? FcsErrorVersion1 : FcsErrorNoVersion;
    header.setVersion(version);

    // Each field is parsed within its own 8 characters, so adjacent 8-digit
    // fields cannot run together.
    int64_t textStart = 0;
    int64_t textEnd = 0;
    int64_t dataStart = 0;
    if (!parseInteger(head + 10, head + 18, textStart) || !parseInteger(head + 18, head + 26, textEnd))
        return FcsErrorTextSegment;
    if (!parseInteger(head + 26, head + 34, dataStart))
        dataStart = 0;
    if (textStart < 0 || textEnd < textStart || textEnd >= fileSize)
        return FcsErrorTextSegment;

    m_text.assign(static_cast<std::size_t>(textEnd - textStart + 1), '\0');
    if (!readFully(file, textStart, &m_text[0], textEnd - textStart + 1, false))
        return FcsErrorTextSegment;
    m_delimiter = m_text[0];
    if (!isAcceptedDelimiter(m_delimiter))
        return FcsErrorSeparator;
    // FCS 3.x escapes a delimiter inside a value by doubling it.
    m_doubledDelimiterEscapes = version != "FCS2.0";

    int64_t eventCount = 0;
    int64_t parameterCount = 0;
    const int64_t int32Max = std::numeric_limits<int32_t>::max();
    if (!parseInteger(keywordValue("$TOT"), eventCount) || !parseInteger(keywordValue("$PAR"), parameterCount)
        || eventCount < 0 || parameterCount < 0 || eventCount > int32Max || parameterCount > int32Max)
        return FcsErrorEventCounts;
    // Every parameter needs its own $PnB in the TEXT, so a count beyond the
    // TEXT's length is corrupt (and must not size the record list).
    if (parameterCount > static_cast<int64_t>(m_text.size()))
        return FcsErrorEventCounts;
    header.setEventCount(static_cast<int32_t>(eventCount));
    header.setParameterCount(static_cast<std::size_t>(parameterCount));

    std::vector<FcsParameter>& parameters = header.parameters();
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        const std::string prefix = "$P" + std::to_string(i + 1);
        FcsParameter& parameter = parameters[i];
        // Every value must be a 32-bit float, not only the first.
        parameter.bits = toInt32(keywordValue(prefix + "B"));
        if (parameter.bits != 32)
            return FcsErrorUnsupportedData;
        parameter.shortName = keywordValue(prefix + "N");
        parameter.longName = keywordValue(prefix + "S");
        parameter.range = toInt32(keywordValue(prefix + "R"));
        parameter.exponent = toDouble(keywordValue(prefix + "E"));
    }

    header.setBtim(keywordValue("$BTIM"));
    header.setEtim(keywordValue("$ETIM"));
    header.setCyt(keywordValue("$CYT"));
    header.setDate(keywordValue("$DATE"));
    header.setByteOrder(keywordValue("$BYTEORD"));
    header.setDataType(keywordValue("$DATATYPE"));
    header.setSys(keywordValue("$SYS"));
    header.setProj(keywordValue("$PROJ"));
    header.setExp(keywordValue("$EXP"));
    header.setCells(keywordValue("$Cells"));
    header.setCreator(keywordValue("CREATOR"));

    std::string mode;
    if (header.dataType() != "F" || (findKeyword("$MODE", mode) && mode != "L"))
        return FcsErrorUnsupportedData;
    const std::string byteOrder = header.byteOrder();
    if (byteOrder != "1,2,3,4" && byteOrder != "4,3,2,1")
        return FcsErrorByteOrder;

    if (dataStart <= 0) {
        if (!parseInteger(keywordValue("$BEGINDATA"), dataStart))
            dataStart = -1;
        if (dataStart < 0)
            return FcsErrorNoDataStart;
    }

    // The block is $TOT x $PAR values from the data start; $ENDDATA is not
    // trusted (files often put it one byte past the true end).
    const uint64_t valueCount = static_cast<uint64_t>(eventCount) * static_cast<uint64_t>(parameterCount);
    if (dataStart > fileSize || valueCount > static_cast<uint64_t>(fileSize - dataStart) / 4)
        return FcsErrorDataSegment;
    std::unique_ptr<float[]> block(new float[valueCount]);
    const bool swapWords = (byteOrder == "1,2,3,4") != ByteOrder::hostIsLittleEndian();
    if (!readFully(file, dataStart, reinterpret_cast<char*>(block.get()), static_cast<int64_t>(valueCount * 4),
                   swapWords))
        return FcsErrorDataSegment;

    *eventBlock = block.release();
    header.buildNameLists();
    return FcsErrorNone;
}

std::string FcsReader::keywordValue(const std::string& keyword) const
{
    std::string value;
    if (!findKeyword(keyword, value))
        return "-1";
    return value;
}

bool FcsReader::findKeyword(const std::string& keyword, std::string& value) const
{
    value.clear();
    const std::size_t at = m_text.find(keyword);
    if (keyword.empty() || at == std::string::npos)
        return false;
    std::size_t p = at + keyword.size();
    if (p >= m_text.size() || m_text[p] != m_delimiter)
        return false;
    for (++p; p < m_text.size(); ++p) {
        if (m_text[p] == m_delimiter) {
            if (!m_doubledDelimiterEscapes || p + 1 >= m_text.size() || m_text[p + 1] != m_delimiter)
                break;
            ++p;
        }
        value += m_text[p];
    }
    return true;
}
