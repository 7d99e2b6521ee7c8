#pragma once

#include "parallel/WorkerPool.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

/// Asks the system to back [address, address + bytes) with huge pages
/// where it can: the first write to fresh memory then costs one page fault
/// per 2 MiB instead of one per 4 KiB. A hint only; the memory stays valid
/// either way.
void adviseHugePages(void* address, size_t bytes);

/// Makes `values` hold `count` zeros, like assign(count, T()), in fresh
/// memory that the pool's threads fault in together, on huge pages where
/// the system gives them. One thread faulting a gigabyte in 4 KiB pages
/// takes seconds, which at a million points made the similarity stage's
/// allocations a long serial step.
template <typename T>
void assignZeroed(std::vector<T>& values, size_t count, int threads)
{
    static_assert(std::is_trivially_copyable_v<T>, "zeroed bytes must be a valid value");
    std::vector<T> fresh;
    fresh.reserve(count);
    char* bytes = reinterpret_cast<char*>(fresh.data());
    const int64_t size = static_cast<int64_t>(count * sizeof(T));
    adviseHugePages(bytes, static_cast<size_t>(size));
    constexpr int64_t kChunk = int64_t{1} << 24;
    WorkerPool::shared().forChunks(threads, size, kChunk,
                                   [&](int64_t begin, int64_t end) { std::memset(bytes + begin, 0, end - begin); });
    // The pages are present now, so the value-initialisation runs at memory speed.
    fresh.resize(count);
    values.swap(fresh);
}
