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

/// Reverses the bytes of `count` consecutive 2-, 4- or 8-byte values in
/// place (vectorised; kept out of line so that each loop is compiled on its
/// own).
void swap16(void* values, std::size_t count);
void swap32(void* values, std::size_t count);
void swap64(void* values, std::size_t count);

} // namespace ByteOrder
