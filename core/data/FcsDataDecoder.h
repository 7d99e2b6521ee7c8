#pragma once

#include <cstdint>
#include <vector>

/// The layout of one list-mode event in an FCS DATA segment, and the
/// conversion of stored events into rows of 32-bit floats.
///
/// Float data ("F") is 32 bits per parameter; double data ("D") 64 bits,
/// each value narrowed to float; integer data ("I") has each parameter's own
/// width in whole bytes (8 to 64 bits), unsigned, masked to the bits its
/// range needs, then converted to the nearest float.
class FcsDataDecoder
{
public:
    enum class Type
    {
        Float,
        Double,
        Integer
    };

    FcsDataDecoder(Type type, bool littleEndian);

    /// Adds the next parameter with its $PnB and the bits its $PnR needs
    /// (-1 when absent). False when the width is not one the type stores.
    bool addParameter(int64_t bits, int rangeBits);

    Type type() const { return m_type; }
    /// Bytes of one stored event.
    int64_t eventBytes() const { return m_eventBytes; }

    /// Converts `events` stored events of double or integer data (`raw`,
    /// eventBytes() each) into rows of parameter-count floats at `out`.
    /// Values in the other byte order are swapped in place in `raw` first.
    void decode(unsigned char* raw, int64_t events, float* out) const;

    /// The mask an integer of `bits` bits is reduced to when its range needs
    /// `rangeBits` bits (the smallest p with 2^p >= range): the low rangeBits
    /// bits when fewer than the width, otherwise every bit of the width.
    static uint64_t integerMask(int bits, int rangeBits);

private:
    template <typename Word>
    void decodeUniform(unsigned char* raw, int64_t events, float* out) const;
    void decodeMixed(const unsigned char* raw, int64_t events, float* out) const;

    Type m_type;
    bool m_littleEndian;
    /// The file's byte order is not the host's.
    bool m_swap;
    int64_t m_eventBytes = 0;
    /// Per parameter: width in bytes, offset in the event, integer mask.
    std::vector<int> m_widths;
    std::vector<int64_t> m_offsets;
    std::vector<uint64_t> m_masks;
    /// Every parameter has the same width.
    bool m_uniform = true;
};
