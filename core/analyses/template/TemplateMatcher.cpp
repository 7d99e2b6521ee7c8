#include "analyses/template/TemplateMatcher.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

namespace {

constexpr int kBlock = 16;

/// A block's lanes of single-precision values and of their comparison masks.
typedef float Lanes __attribute__((vector_size(4 * kBlock)));
typedef int32_t Mask __attribute__((vector_size(4 * kBlock)));
/// Clears the sign bits of the lanes.
constexpr int32_t kMagnitude = 0x7fffffff;

/// What one event is matched against: the matcher's profiles and limits.
struct Profiles
{
    const float* columns;      ///< marker-major, markers in their order
    const float* checkColumns; ///< marker-major, markers in check order
    int stride;
    int count;
    int dims;
    float maxMarkerDistance;
    float maxProfileDistance;
};

/// The walk for one event: x holds its values in check order, values in
/// marker order. One call per event, so the vector code is chosen once.
__attribute__((target_clones("avx512f", "avx2", "default")))
TemplateMatcher::Match matchEvent(const Profiles& p, const float* x, const float* values)
{
    float best = p.maxProfileDistance;
    int bestTemplate = p.count;
    int singleFailures = 0;
    int combinedFailures = 0;
    for (int from = 0; from < p.count; from += kBlock) {
        const int to = std::min(p.count, from + kBlock);
        // Lanes past the last template count as failed from the start.
        Mask exceeded = {};
        for (int c = to - from; c < kBlock; ++c)
            exceeded[c] = -1;
        bool allExceeded = false;
        Lanes column;
        for (int k = 0; k < p.dims && !allExceeded; ++k) {
            std::memcpy(&column, p.checkColumns + static_cast<int64_t>(k) * p.stride + from, sizeof column);
            const Mask difference = reinterpret_cast<Mask>(x[k] - column) & kMagnitude;
            exceeded |= reinterpret_cast<Lanes>(difference) > p.maxMarkerDistance;
            uint64_t words[kBlock / 2];
            std::memcpy(words, &exceeded, sizeof words);
            uint64_t all = ~uint64_t(0);
            for (uint64_t word : words)
                all &= word;
            allExceeded = all == ~uint64_t(0);
        }
        if (allExceeded) {
            singleFailures += to - from;
            continue;
        }
        Lanes total = {};
        for (int k = 0; k < p.dims; ++k) {
            std::memcpy(&column, p.columns + static_cast<int64_t>(k) * p.stride + from, sizeof column);
            const Mask difference = reinterpret_cast<Mask>(values[k] - column) & kMagnitude;
            total += reinterpret_cast<Lanes>(difference);
        }
        for (int u = from; u < to; ++u) {
            const float sum = total[u - from];
            if (exceeded[u - from])
                ++singleFailures;
            else if (sum < best) {
                best = sum;
                bestTemplate = u;
            } else if (sum > p.maxProfileDistance)
                ++combinedFailures;
        }
    }

    TemplateMatcher::Match result;
    result.cluster = bestTemplate;
    if (bestTemplate < p.count)
        result.outcome = TemplateMatcher::Matched;
    else if (singleFailures == p.count)
        result.outcome = TemplateMatcher::SingleMarkerFailure;
    else if (combinedFailures == p.count)
        result.outcome = TemplateMatcher::CombinedFailure;
    else
        result.outcome = TemplateMatcher::MixedFailure;
    return result;
}

} // namespace

TemplateMatcher::TemplateMatcher(const std::vector<std::vector<float>>& profiles, float maxMarkerDistance,
                                 float maxProfileDistance)
    : m_count(static_cast<int>(profiles.size())),
      m_dims(profiles.empty() ? 0 : static_cast<int>(profiles.front().size())),
      m_maxMarkerDistance(maxMarkerDistance),
      m_maxProfileDistance(maxProfileDistance)
{
    // Whether a template fails by a single marker does not depend on the
    // order the markers are checked in: markers on which the templates
    // differ most come first, so that most templates fail within a few.
    std::vector<double> spread(static_cast<size_t>(m_dims), 0.0);
    for (int k = 0; k < m_dims; ++k) {
        double sum = 0.0, squares = 0.0;
        for (int u = 0; u < m_count; ++u) {
            sum += profiles[u][k];
            squares += static_cast<double>(profiles[u][k]) * profiles[u][k];
        }
        spread[k] = squares - sum * sum / std::max(m_count, 1);
    }
    m_checkOrder.resize(static_cast<size_t>(m_dims));
    std::iota(m_checkOrder.begin(), m_checkOrder.end(), 0);
    std::stable_sort(m_checkOrder.begin(), m_checkOrder.end(),
                     [&spread](int a, int b) { return spread[a] > spread[b]; });

    m_stride = (m_count + kBlock - 1) / kBlock * kBlock;
    m_columns.assign(static_cast<size_t>(m_stride) * m_dims, 0.0f);
    m_checkColumns.assign(static_cast<size_t>(m_stride) * m_dims, 0.0f);
    for (int u = 0; u < m_count; ++u)
        for (int k = 0; k < m_dims; ++k) {
            m_columns[static_cast<size_t>(k) * m_stride + u] = profiles[u][k];
            m_checkColumns[static_cast<size_t>(k) * m_stride + u] = profiles[u][m_checkOrder[k]];
        }
}

TemplateMatcher::Match TemplateMatcher::match(const float* values) const
{
    float checked[kMaxStackMarkers];
    std::vector<float> wide;
    float* x = checked;
    if (m_dims > kMaxStackMarkers) {
        wide.resize(static_cast<size_t>(m_dims));
        x = wide.data();
    }
    for (int k = 0; k < m_dims; ++k)
        x[k] = values[m_checkOrder[k]];

    const Profiles profiles{m_columns.data(), m_checkColumns.data(), m_stride, m_count, m_dims,
                            m_maxMarkerDistance, m_maxProfileDistance};
    return matchEvent(profiles, x, values);
}
