#include "parallel/LargeBuffers.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

void adviseHugePages(void* address, size_t bytes)
{
#if defined(MADV_HUGEPAGE)
    constexpr uintptr_t kHugePage = uintptr_t{1} << 21;
    const uintptr_t first = (reinterpret_cast<uintptr_t>(address) + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t last = (reinterpret_cast<uintptr_t>(address) + bytes) & ~(kHugePage - 1);
    if (last > first)
        madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)address;
    (void)bytes;
#endif
}
