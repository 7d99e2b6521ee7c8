#pragma once

#include <cstdint>

/// The identity of an event everywhere in the program: the sample's position
/// in load order and the event's row in that sample's matrix.
struct MCV_PointIndex
{
    int32_t sampleIndex = 0;
    int32_t eventIndex = 0;

    friend bool operator==(const MCV_PointIndex& a, const MCV_PointIndex& b)
    {
        return a.sampleIndex == b.sampleIndex && a.eventIndex == b.eventIndex;
    }
    friend bool operator!=(const MCV_PointIndex& a, const MCV_PointIndex& b) { return !(a == b); }
};
