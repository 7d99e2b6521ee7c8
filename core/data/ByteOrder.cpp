#include "data/ByteOrder.h"

// Written byte by byte: unlike a bswap per word, this form the compiler
// vectorises with plain SSE2.
namespace ByteOrder {

void swap16(void* values, std::size_t count)
{
    unsigned char* b = static_cast<unsigned char*>(values);
    for (std::size_t i = 0; i < 2 * count; i += 2) {
        const unsigned char b0 = b[i];
        b[i] = b[i + 1];
        b[i + 1] = b0;
    }
}

void swap32(void* values, std::size_t count)
{
    unsigned char* b = static_cast<unsigned char*>(values);
    for (std::size_t i = 0; i < 4 * count; i += 4) {
        const unsigned char b0 = b[i];
        const unsigned char b1 = b[i + 1];
        b[i] = b[i + 3];
        b[i + 1] = b[i + 2];
        b[i + 2] = b1;
        b[i + 3] = b0;
    }
}

void swap64(void* values, std::size_t count)
{
    unsigned char* b = static_cast<unsigned char*>(values);
    for (std::size_t i = 0; i < 8 * count; i += 8) {
        for (int k = 0; k < 4; ++k) {
            const unsigned char low = b[i + k];
            b[i + k] = b[i + 7 - k];
            b[i + 7 - k] = low;
        }
    }
}

} // namespace ByteOrder
