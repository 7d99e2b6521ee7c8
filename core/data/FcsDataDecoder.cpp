#include "data/FcsDataDecoder.h"

#include "data/ByteOrder.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace {

/// Events converted per pass of swapping and converting, so that the raw
/// bytes are still in the cache when they are converted.
constexpr int64_t kBlockBytes = int64_t(1) << 15;

void swapInPlace(unsigned char* raw, std::size_t values, int width)
{
    switch (width) {
    case 2: ByteOrder::swap16(raw, values); break;
    case 4: ByteOrder::swap32(raw, values); break;
    case 8: ByteOrder::swap64(raw, values); break;
    default: break;
    }
}

} // namespace

FcsDataDecoder::FcsDataDecoder(Type type, bool littleEndian)
    : m_type(type), m_littleEndian(littleEndian), m_swap(littleEndian != ByteOrder::hostIsLittleEndian())
{
}

bool FcsDataDecoder::addParameter(int64_t bits, int rangeBits)
{
    const bool stored = m_type == Type::Float     ? bits == 32
                        : m_type == Type::Double  ? bits == 64
                                                  : bits >= 8 && bits <= 64 && bits % 8 == 0;
    if (!stored)
        return false;
    const int width = static_cast<int>(bits / 8);
    if (!m_widths.empty() && width != m_widths.front())
        m_uniform = false;
    m_widths.push_back(width);
    m_offsets.push_back(m_eventBytes);
    m_masks.push_back(m_type == Type::Integer ? integerMask(static_cast<int>(bits), rangeBits) : ~uint64_t(0));
    m_eventBytes += width;
    return true;
}

uint64_t FcsDataDecoder::integerMask(int bits, int rangeBits)
{
    if (rangeBits < 0 || rangeBits >= bits)
        return bits >= 64 ? ~uint64_t(0) : (uint64_t(1) << bits) - 1;
    return (uint64_t(1) << rangeBits) - 1;
}

void FcsDataDecoder::decode(unsigned char* raw, int64_t events, float* out) const
{
    if (m_type == Type::Double) {
        decodeUniform<double>(raw, events, out);
        return;
    }
    if (!m_uniform || m_widths.empty()) {
        decodeMixed(raw, events, out);
        return;
    }
    switch (m_widths.front()) {
    case 1: decodeUniform<uint8_t>(raw, events, out); break;
    case 2: decodeUniform<uint16_t>(raw, events, out); break;
    case 4: decodeUniform<uint32_t>(raw, events, out); break;
    case 8: decodeUniform<uint64_t>(raw, events, out); break;
    default: decodeMixed(raw, events, out); break;
    }
}

template <typename Word>
void FcsDataDecoder::decodeUniform(unsigned char* raw, int64_t events, float* out) const
{
    const std::size_t parameters = m_widths.size();
    // Integer masks in the word's own type (unused for doubles).
    using Mask = std::conditional_t<std::is_floating_point_v<Word>, uint64_t, Word>;
    const std::vector<Mask> masks(m_masks.begin(), m_masks.end());
    const int64_t blockEvents = std::max<int64_t>(1, kBlockBytes / m_eventBytes);
    for (int64_t first = 0; first < events; first += blockEvents) {
        const int64_t count = std::min(blockEvents, events - first);
        unsigned char* block = raw + first * m_eventBytes;
        if (m_swap)
            swapInPlace(block, static_cast<std::size_t>(count) * parameters, sizeof(Word));
        for (int64_t e = 0; e < count; ++e) {
            const unsigned char* in = block + e * m_eventBytes;
            float* row = out + (first + e) * static_cast<int64_t>(parameters);
            for (std::size_t j = 0; j < parameters; ++j) {
                Word word;
                std::memcpy(&word, in + j * sizeof(Word), sizeof(Word));
                if constexpr (std::is_floating_point_v<Word>)
                    row[j] = static_cast<float>(word);
                else
                    row[j] = static_cast<float>(word & masks[j]);
            }
        }
    }
}

void FcsDataDecoder::decodeMixed(const unsigned char* raw, int64_t events, float* out) const
{
    const std::size_t parameters = m_widths.size();
    for (int64_t e = 0; e < events; ++e) {
        const unsigned char* in = raw + e * m_eventBytes;
        float* row = out + e * static_cast<int64_t>(parameters);
        for (std::size_t j = 0; j < parameters; ++j) {
            const unsigned char* bytes = in + m_offsets[j];
            const int width = m_widths[j];
            uint64_t word = 0;
            for (int b = 0; b < width; ++b)
                word = word << 8 | bytes[m_littleEndian ? width - 1 - b : b];
            row[j] = static_cast<float>(word & m_masks[j]);
        }
    }
}
