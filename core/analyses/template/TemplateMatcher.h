#pragma once

#include <cstdint>
#include <vector>

/// Finds the best-matching template profile for an event, the way the
/// template-matching analysis walks the templates: in table order, a
/// template fails by a single marker when any one absolute difference
/// exceeds the single-marker limit; otherwise its single-precision sum of
/// differences (in marker order) is a match when strictly below the best so
/// far, which starts at the profile limit, and a combined failure when above
/// the profile limit. A NaN sum is neither chosen nor counted. The first
/// template wins ties.
///
/// Blocks of templates are checked side by side, markers on which the
/// templates differ most first, and a block stops as soon as every template
/// in it has failed by a single marker; only blocks with a template left
/// are summed, in marker order. Neither changes an outcome.
class TemplateMatcher
{
public:
    /// Why an event went to the unmatched cluster, or that it did not.
    enum Outcome : uint8_t
    {
        Matched = 0,
        SingleMarkerFailure = 1, ///< every template failed by a single marker (also with no templates)
        CombinedFailure = 2,     ///< every template failed by the combined markers
        MixedFailure = 3         ///< anything else
    };

    struct Match
    {
        int cluster = 0; ///< the matching template, or the template count when none matched
        Outcome outcome = Matched;
    };

    /// profiles: one per template, each with one value per marker (all of equal length).
    TemplateMatcher(const std::vector<std::vector<float>>& profiles, float maxMarkerDistance,
                    float maxProfileDistance);

    int templateCount() const { return m_count; }
    int markerCount() const { return m_dims; }

    /// values: the event's values at the profile markers, in order.
    Match match(const float* values) const;

private:
    /// Markers an event's values are copied for on the stack.
    static constexpr int kMaxStackMarkers = 256;

    int m_count = 0;
    int m_dims = 0;
    float m_maxMarkerDistance = 0.0f;
    float m_maxProfileDistance = 0.0f;
    /// Marker-major profiles, padded to whole blocks, markers in their order
    /// and in the order they are checked in.
    std::vector<float> m_columns;
    std::vector<float> m_checkColumns;
    std::vector<int> m_checkOrder;
    int m_stride = 0;
};
