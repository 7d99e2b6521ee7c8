#include "analyses/spade/SpadeNearestMedian.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr int kBlock = 64;

/// out[c] = sum over k in order of |x[k] - columns[k * stride + c]|, c in [0, kBlock).
__attribute__((target_clones("avx512f", "avx2", "default")))
void distancesToBlock(const float* x, const float* columns, int stride, int dims, float* out)
{
    for (int c = 0; c < kBlock; ++c)
        out[c] = 0.0f;
    for (int k = 0; k < dims; ++k) {
        const float* col = columns + static_cast<int64_t>(k) * stride;
        const float xk = x[k];
        for (int c = 0; c < kBlock; ++c)
            out[c] += std::fabs(xk - col[c]);
    }
}

} // namespace

SpadeNearestMedian::SpadeNearestMedian(const std::vector<std::vector<float>>& medians)
    : m_count(static_cast<int>(medians.size())),
      m_dims(medians.empty() ? 0 : static_cast<int>(medians.front().size()))
{
    m_stride = (m_count + kBlock - 1) / kBlock * kBlock;
    m_columns.assign(static_cast<size_t>(m_stride) * m_dims, 0.0f);
    for (int c = 0; c < m_count; ++c)
        for (int k = 0; k < m_dims; ++k)
            m_columns[static_cast<size_t>(k) * m_stride + c] = medians[c][k];
}

int SpadeNearestMedian::nearest(const float* row, const std::vector<int>& markers) const
{
    if (m_count == 0)
        return -1;
    float x[256];
    std::vector<float> wide;
    float* values = x;
    if (m_dims > 256) {
        wide.resize(static_cast<size_t>(m_dims));
        values = wide.data();
    }
    bool finite = true;
    for (int k = 0; k < m_dims; ++k) {
        values[k] = row[markers[k]];
        finite = finite && std::isfinite(values[k]);
    }
    if (!finite)
        return nearestOverFinite(values);

    float best = std::numeric_limits<float>::infinity();
    int bestCluster = 0;
    float d[kBlock];
    for (int from = 0; from < m_count; from += kBlock) {
        distancesToBlock(values, m_columns.data() + from, m_stride, m_dims, d);
        const int to = std::min(m_count, from + kBlock);
        for (int c = from; c < to; ++c)
            if (d[c - from] < best) {
                best = d[c - from];
                bestCluster = c;
            }
    }
    return bestCluster;
}

int SpadeNearestMedian::nearestOverFinite(const float* values) const
{
    float best = std::numeric_limits<float>::infinity();
    int bestCluster = 0;
    for (int c = 0; c < m_count; ++c) {
        float distance = 0.0f;
        for (int k = 0; k < m_dims; ++k)
            if (std::isfinite(values[k]))
                distance += std::fabs(values[k] - m_columns[static_cast<size_t>(k) * m_stride + c]);
        if (distance < best) {
            best = distance;
            bestCluster = c;
        }
    }
    return bestCluster;
}
