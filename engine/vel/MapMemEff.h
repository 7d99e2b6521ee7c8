#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vel {

/// A memory-saving sparse row: (key, value) entries of 8 bytes, strictly
/// increasing by key, in one vector; a missing key means 0. Lookups are
/// binary searches and insertions shift the later entries, which suits
/// rows built once in key order and then mostly read.
class MapMemEff
{
public:
    struct Entry
    {
        uint32_t key;
        float value;
    };
    using iterator = std::vector<Entry>::iterator;
    using const_iterator = std::vector<Entry>::const_iterator;

    /// The value of `key`, inserted with value 0 where it belongs when absent.
    float& operator[](uint32_t key);
    /// The value of `key`, 0 when absent.
    float valueOf(uint32_t key) const;

    /// Appends an entry whose key is greater than every key of the row.
    void appendLargest(uint32_t key, float value) { entries_.push_back(Entry{key, value}); }

    size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    size_t capacity() const { return entries_.capacity(); }
    void clear() { entries_.clear(); }
    void reserve(size_t entries) { entries_.reserve(entries); }
    void shrink_to_fit() { entries_.shrink_to_fit(); }

    /// Entries in key order; values may be changed, keys must not be.
    iterator begin() { return entries_.begin(); }
    iterator end() { return entries_.end(); }
    const_iterator begin() const { return entries_.begin(); }
    const_iterator end() const { return entries_.end(); }

private:
    std::vector<Entry> entries_;
};

} // namespace vel
