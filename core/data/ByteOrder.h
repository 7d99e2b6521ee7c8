#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

/// Byte-order helpers shared by the FCS reader and writer.
namespace ByteOrder {

/// True on little-endian hosts, the order FCS files of this program use.
inline bool hostIsLittleEndian()
{
    const uint32_t probe = 1;
    unsigned char first;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

/// Reverses the bytes of `count` consecutive 4-byte values in place
/// (vectorised; kept out of line so that the loop is compiled on its own).
void swap32(void* values, std::size_t count);

} // namespace ByteOrder
