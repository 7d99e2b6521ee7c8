#pragma once

#include "parallel/LargeBuffers.h"

#include <omp.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <numeric>
#include <vector>

/// Sparse rows transposed: row c lists, ascending, every r whose row holds
/// key c, with the value there; flat (CSR), row c at offsets[c] to
/// offsets[c + 1] - 1.
template <typename Key, typename Value>
struct TransposedRows
{
    std::vector<int64_t> offsets;
    std::unique_ptr<Key[]> keys;
    std::unique_ptr<Value[]> values;
};

/// Transposes `rows` sparse rows whose keys lie below `columns`.
/// visitRow(r, f) calls f(key, value) for every entry of row r. Each thread
/// scatters a contiguous block of rows into slots reserved by per-thread
/// counts, so the lists come out in row order whatever the thread count.
template <typename Key, typename Value, typename VisitRow>
TransposedRows<Key, Value> transposeRows(int rows, int columns, int64_t entries, VisitRow visitRow)
{
    const size_t width = static_cast<size_t>(columns);
    TransposedRows<Key, Value> transposed;
    transposed.offsets.assign(width + 1, 0);
    transposed.keys.reset(new Key[static_cast<size_t>(entries)]);
    transposed.values.reset(new Value[static_cast<size_t>(entries)]);
    // Their pages are faulted in by the scattering threads below.
    adviseHugePages(transposed.keys.get(), static_cast<size_t>(entries) * sizeof(Key));
    adviseHugePages(transposed.values.get(), static_cast<size_t>(entries) * sizeof(Value));
    // Per thread and column; a column holds at most `rows` entries.
    std::vector<std::vector<int32_t>> counts;
#pragma omp parallel
    {
        const int threads = omp_get_num_threads();
        const int thread = omp_get_thread_num();
#pragma omp single
        counts.resize(static_cast<size_t>(threads));
        std::vector<int32_t>& mine = counts[static_cast<size_t>(thread)];
        mine.assign(width, 0);
        const int first = static_cast<int>(static_cast<int64_t>(rows) * thread / threads);
        const int last = static_cast<int>(static_cast<int64_t>(rows) * (thread + 1) / threads);
        for (int r = first; r < last; ++r)
            visitRow(r, [&](Key key, Value) { ++mine[static_cast<size_t>(key)]; });
#pragma omp barrier
        // Every thread's count becomes the start of its slots within the row.
#pragma omp for schedule(static)
        for (int c = 0; c < columns; ++c) {
            int64_t total = 0;
            for (std::vector<int32_t>& threadCounts : counts) {
                const int32_t count = threadCounts[static_cast<size_t>(c)];
                threadCounts[static_cast<size_t>(c)] = static_cast<int32_t>(total);
                total += count;
            }
            transposed.offsets[static_cast<size_t>(c) + 1] = total;
        }
#pragma omp single
        std::partial_sum(transposed.offsets.begin(), transposed.offsets.end(), transposed.offsets.begin());
        for (int r = first; r < last; ++r) {
            visitRow(r, [&](Key key, Value value) {
                const size_t c = static_cast<size_t>(key);
                const int64_t slot = transposed.offsets[c] + mine[c]++;
                transposed.keys[slot] = static_cast<Key>(r);
                transposed.values[slot] = value;
            });
        }
    }
    return transposed;
}

/// Walks the key-sorted union of two key-sorted rows once per key:
/// visit(key, value in row a or 0, value in row b or 0).
template <typename Key, typename Value, typename Visit>
void mergeSortedRows(const Key* aKeys, const Value* aValues, int64_t aCount, const Key* bKeys, const Value* bValues,
                     int64_t bCount, Visit visit)
{
    constexpr Key kPastEnd = std::numeric_limits<Key>::max();
    int64_t a = 0;
    int64_t b = 0;
    while (a < aCount || b < bCount) {
        const Key x = a < aCount ? aKeys[a] : kPastEnd;
        const Key y = b < bCount ? bKeys[b] : kPastEnd;
        visit(x < y ? x : y, x <= y ? aValues[a] : Value(0), y <= x ? bValues[b] : Value(0));
        a += x <= y;
        b += y <= x;
    }
}
