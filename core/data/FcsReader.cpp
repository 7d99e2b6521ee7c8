#include "data/FcsReader.h"

#include "data/ByteOrder.h"
#include "data/FcsDataDecoder.h"
#include "parallel/LargeBuffers.h"

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

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

/// The bits an integer parameter keeps, from $PnR read exactly as a decimal
/// number ("1024", "1024.0" and "1.024E3" alike, rounded up, never through a
/// double): the smallest p with 2^p >= range, so 2^63 keeps 63 bits and
/// 2^63 + 1 all 64; 65 for a range beyond 2^64 or an infinite one; -1 when
/// it is absent, not a number or below 1.
int maskingBits(const std::string& text)
{
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end && isWhiteSpace(*p))
        ++p;
    if (p < end && (*p == '+' || *p == '-')) {
        if (*p == '-')
            return -1;
        ++p;
    }
    if (end - p >= 3 && (p[0] | 0x20) == 'i' && (p[1] | 0x20) == 'n' && (p[2] | 0x20) == 'f')
        return 65;
    std::string digits;
    int64_t point = 0; // digits before the decimal point, moved by the exponent
    for (; p < end && isDigit(*p); ++p, ++point)
        digits.push_back(*p);
    if (p < end && *p == '.')
        for (++p; p < end && isDigit(*p); ++p)
            digits.push_back(*p);
    if (digits.empty())
        return -1;
    // Leading zeros dropped, so that a huge exponent soon overflows the range.
    const size_t first = std::min(digits.find_first_not_of('0'), digits.size());
    digits.erase(0, first);
    point -= static_cast<int64_t>(first);
    if (digits.empty())
        return -1;
    if (p < end && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        const bool negative = q < end && *q == '-';
        if (q < end && (*q == '+' || *q == '-'))
            ++q;
        int64_t exponent = 0;
        for (; q < end && isDigit(*q); ++q)
            exponent = std::min<int64_t>(exponent * 10 + (*q - '0'), int64_t(1) << 32);
        point += negative ? -exponent : exponent;
    }
    // The range is the integer part plus one when any fraction digit is not 0.
    uint64_t range = 0;
    bool fraction = false;
    const int64_t length = static_cast<int64_t>(digits.size());
    for (int64_t i = 0; i < std::max(point, length); ++i) {
        const int digit = i < length ? digits[static_cast<size_t>(i)] - '0' : 0;
        if (i >= point)
            fraction = fraction || digit != 0;
        else if (__builtin_mul_overflow(range, 10, &range) || __builtin_add_overflow(range, digit, &range))
            return 65;
    }
    if (fraction && __builtin_add_overflow(range, 1, &range))
        return 65;
    if (range < 1)
        return -1;
    return range == 1 ? 0 : 64 - __builtin_clzll(range - 1);
}

/// The FCS HEADER segment's size; data may not start inside it.
constexpr int64_t kHeaderBytes = 58;
/// Bytes read per call; floats are swapped in place chunk by chunk.
constexpr int64_t kChunkBytes = int64_t(1) << 22;
/// Bytes of stored double or integer data converted per read, small enough
/// to stay in the cache between the read and the conversion.
constexpr int64_t kConvertBytes = int64_t(1) << 20;

/// Reads exactly `size` bytes from the current position; false on any shortfall.
bool readExactly(QFile& file, char* destination, int64_t size)
{
    while (size > 0) {
        const qint64 got = file.read(destination, size);
        if (got <= 0)
            return false;
        destination += got;
        size -= got;
    }
    return true;
}

/// Reads exactly `size` bytes at `offset`. With swapWords the 4-byte words
/// are reversed chunk by chunk, while each chunk is still in the cache.
bool readFully(QFile& file, int64_t offset, char* destination, int64_t size, bool swapWords)
{
    if (!file.seek(offset))
        return false;
    for (int64_t done = 0; done < size; done += kChunkBytes) {
        const int64_t bytes = std::min(kChunkBytes, size - done);
        if (!readExactly(file, destination + done, bytes))
            return false;
        if (swapWords)
            ByteOrder::swap32(destination + done, static_cast<std::size_t>(bytes / 4));
    }
    return true;
}

/// Reads `events` stored events at `offset` a few at a time and converts
/// each batch into rows of floats while it is in the cache.
bool readConverted(QFile& file, int64_t offset, const FcsDataDecoder& decoder, int64_t events,
                   int64_t parameters, float* out)
{
    if (!file.seek(offset))
        return false;
    const int64_t eventBytes = decoder.eventBytes();
    const int64_t batch = std::max<int64_t>(1, kConvertBytes / eventBytes);
    std::vector<unsigned char> staging(static_cast<std::size_t>(std::min(batch, events) * eventBytes));
    for (int64_t first = 0; first < events; first += batch) {
        const int64_t count = std::min(batch, events - first);
        if (!readExactly(file, reinterpret_cast<char*>(staging.data()), count * eventBytes))
            return false;
        decoder.decode(staging.data(), count, out + first * parameters);
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

    std::string text(static_cast<std::size_t>(textEnd - textStart + 1), '\0');
    if (!readFully(file, textStart, &text[0], textEnd - textStart + 1, false))
        return FcsErrorTextSegment;
    if (!isAcceptedDelimiter(text[0]))
        return FcsErrorSeparator;
    // FCS 3.x escapes a delimiter inside a value by doubling it.
    m_keywords.assign(std::move(text), version != "FCS2.0");

    int64_t eventCount = 0;
    int64_t parameterCount = 0;
    const int64_t int32Max = std::numeric_limits<int32_t>::max();
    if (!parseInteger(keywordValue("$TOT"), eventCount) || !parseInteger(keywordValue("$PAR"), parameterCount)
        || eventCount < 0 || parameterCount < 1 || eventCount > int32Max || parameterCount > int32Max)
        return FcsErrorEventCounts;
    // Every parameter needs at least its own $PnB keyword, so a count beyond
    // the keywords in the TEXT is corrupt (and must not size the record list).
    if (parameterCount > static_cast<int64_t>(m_keywords.keywordCount()))
        return FcsErrorEventCounts;
    header.setEventCount(static_cast<int32_t>(eventCount));
    header.setParameterCount(static_cast<std::size_t>(parameterCount));

    std::vector<FcsParameter>& parameters = header.parameters();
    std::vector<int> maskBits(parameters.size());
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        const std::string prefix = "$P" + std::to_string(i + 1);
        FcsParameter& parameter = parameters[i];
        parameter.bits = toInt32(keywordValue(prefix + "B"));
        parameter.shortName = keywordValue(prefix + "N");
        parameter.longName = keywordValue(prefix + "S");
        const std::string range = keywordValue(prefix + "R");
        parameter.range = toInt32(range);
        maskBits[i] = maskingBits(range);
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
    const std::string dataType = header.dataType();
    if ((dataType != "F" && dataType != "D" && dataType != "I") || (m_keywords.find("$MODE", mode) && mode != "L"))
        return FcsErrorUnsupportedData;
    const FcsDataDecoder::Type type = dataType == "F"   ? FcsDataDecoder::Type::Float
                                      : dataType == "D" ? FcsDataDecoder::Type::Double
                                                        : FcsDataDecoder::Type::Integer;
    // Integer data may also carry the two-byte orders of FCS 2.0.
    const std::string byteOrder = header.byteOrder();
    const bool integers = type == FcsDataDecoder::Type::Integer;
    const bool littleEndian = byteOrder == "1,2,3,4" || (integers && byteOrder == "1,2");
    if (!littleEndian && byteOrder != "4,3,2,1" && !(integers && byteOrder == "2,1"))
        return FcsErrorByteOrder;
    FcsDataDecoder decoder(type, littleEndian);
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        if (!decoder.addParameter(parameters[i].bits, maskBits[i]))
            return FcsErrorUnsupportedData;
    }

    if (dataStart <= 0) {
        if (!parseInteger(keywordValue("$BEGINDATA"), dataStart))
            dataStart = -1;
        if (dataStart < 0)
            return FcsErrorNoDataStart;
    }

    // The block is $TOT events of the parameters' widths from the data
    // start; $ENDDATA is not trusted (files often put it one byte past the
    // true end).
    const int64_t eventBytes = decoder.eventBytes();
    if (dataStart > fileSize || (eventCount > 0 && eventBytes > (fileSize - dataStart) / eventCount))
        return FcsErrorDataSegment;
    const int64_t dataBytes = eventBytes * eventCount;
    if (dataBytes > 0 && (dataStart < kHeaderBytes || (dataStart <= textEnd && dataStart + dataBytes > textStart)))
        return FcsErrorDataOverlap;

    const uint64_t valueCount = static_cast<uint64_t>(eventCount) * static_cast<uint64_t>(parameterCount);
    std::unique_ptr<float[]> block(new float[valueCount]);
    // Millions of events would otherwise cost one page fault per 4 KiB, more than reading the file.
    adviseHugePages(block.get(), valueCount * sizeof(float));
    const bool read = type == FcsDataDecoder::Type::Float
                          ? readFully(file, dataStart, reinterpret_cast<char*>(block.get()), dataBytes,
                                      littleEndian != ByteOrder::hostIsLittleEndian())
                          : readConverted(file, dataStart, decoder, eventCount, parameterCount, block.get());
    if (!read)
        return FcsErrorDataSegment;

    *eventBlock = block.release();
    header.buildNameLists();
    return FcsErrorNone;
}

std::string FcsReader::keywordValue(const std::string& keyword) const
{
    std::string value;
    if (!m_keywords.find(keyword, value))
        return "-1";
    return value;
}
