#pragma once

#include "vel/MapMemEff.h"

#include <cstdint>
#include <stdexcept>

namespace vel {
namespace MapHelpers {

/// Fills an empty row from an ordered range of (key, value) pairs (an
/// ordered map, or a vector of pairs sorted by key), keeping only the
/// values above `threshold`; the row holds exactly what it keeps. Throws
/// std::logic_error when the row is not empty or the keys do not increase.
template <typename OrderedPairs>
void initialize(MapMemEff& row, const OrderedPairs& pairs, float threshold)
{
    if (!row.empty())
        throw std::logic_error("MapMemEff::initialize: map is not empty");
    size_t kept = 0;
    bool first = true;
    uint32_t previous = 0;
    for (const auto& pair : pairs) {
        const uint32_t key = pair.first;
        if (!first && key <= previous)
            throw std::logic_error("MapHelpers::initialize: input data is not ordered");
        first = false;
        previous = key;
        kept += pair.second > threshold;
    }
    row.reserve(kept);
    for (const auto& pair : pairs)
        if (pair.second > threshold)
            row.appendLargest(pair.first, pair.second);
}

} // namespace MapHelpers
} // namespace vel
