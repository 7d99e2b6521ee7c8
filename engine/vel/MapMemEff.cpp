#include "vel/MapMemEff.h"

#include <algorithm>

namespace vel {

namespace {

bool keyBelow(const MapMemEff::Entry& entry, uint32_t key)
{
    return entry.key < key;
}

} // namespace

float& MapMemEff::operator[](uint32_t key)
{
    const auto at = std::lower_bound(entries_.begin(), entries_.end(), key, keyBelow);
    if (at != entries_.end() && at->key == key)
        return at->value;
    return entries_.insert(at, Entry{key, 0.0f})->value;
}

float MapMemEff::valueOf(uint32_t key) const
{
    const auto at = std::lower_bound(entries_.begin(), entries_.end(), key, keyBelow);
    return at != entries_.end() && at->key == key ? at->value : 0.0f;
}

} // namespace vel
