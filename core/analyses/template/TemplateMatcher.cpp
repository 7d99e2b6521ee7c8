#include "analyses/template/TemplateMatcher.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kBlock = 16;
/// Markers between two checks whether a whole block has failed.
constexpr int kCheckEvery = 4;

/// For the kBlock templates whose marker-major columns start at `columns`:
/// total[c] = sum over k in order of |x[k] - column_k[c]| (single precision)
/// and exceeded[c] = whether any difference exceeded `limit`. Lanes marked
/// exceeded on entry (padding) stay so. Stops once every lane has exceeded.
__attribute__((target_clones("avx512f", "avx2", "default")))
void walkBlock(const float* x, const float* columns, int stride, int dims, float limit, float* total,
               int32_t* exceeded)
{
    for (int c = 0; c < kBlock; ++c)
        total[c] = 0.0f;
    for (int from = 0; from < dims; from += kCheckEvery) {
        const int to = std::min(dims, from + kCheckEvery);
        for (int k = from; k < to; ++k) {
            const float* col = columns + static_cast<int64_t>(k) * stride;
            const float xk = x[k];
            for (int c = 0; c < kBlock; ++c) {
                const float d = std::fabs(xk - col[c]);
                total[c] += d;
                exceeded[c] |= static_cast<int32_t>(d > limit);
            }
        }
        int32_t all = 1;
        for (int c = 0; c < kBlock; ++c)
            all &= exceeded[c];
        if (all)
            return;
    }
}

} // namespace

TemplateMatcher::TemplateMatcher(const std::vector<std::vector<float>>& profiles, float maxMarkerDistance,
                                 float maxProfileDistance)
    : m_count(static_cast<int>(profiles.size())),
      m_dims(profiles.empty() ? 0 : static_cast<int>(profiles.front().size())),
      m_maxMarkerDistance(maxMarkerDistance),
      m_maxProfileDistance(maxProfileDistance)
{
    m_stride = (m_count + kBlock - 1) / kBlock * kBlock;
    m_columns.assign(static_cast<size_t>(m_stride) * m_dims, 0.0f);
    for (int u = 0; u < m_count; ++u)
        for (int k = 0; k < m_dims; ++k)
            m_columns[static_cast<size_t>(k) * m_stride + u] = profiles[u][k];
}

TemplateMatcher::Match TemplateMatcher::match(const float* values) const
{
    float best = m_maxProfileDistance;
    int bestTemplate = m_count;
    int singleFailures = 0;
    int combinedFailures = 0;
    float total[kBlock];
    int32_t exceeded[kBlock];
    for (int from = 0; from < m_count; from += kBlock) {
        const int to = std::min(m_count, from + kBlock);
        for (int c = 0; c < kBlock; ++c)
            exceeded[c] = from + c >= to;
        walkBlock(values, m_columns.data() + from, m_stride, m_dims, m_maxMarkerDistance, total, exceeded);
        for (int u = from; u < to; ++u) {
            const float sum = total[u - from];
            if (exceeded[u - from])
                ++singleFailures;
            else if (sum < best) {
                best = sum;
                bestTemplate = u;
            } else if (sum > m_maxProfileDistance)
                ++combinedFailures;
        }
    }

    Match result;
    result.cluster = bestTemplate;
    if (bestTemplate < m_count)
        result.outcome = Matched;
    else if (singleFailures == m_count)
        result.outcome = SingleMarkerFailure;
    else if (combinedFailures == m_count)
        result.outcome = CombinedFailure;
    else
        result.outcome = MixedFailure;
    return result;
}
