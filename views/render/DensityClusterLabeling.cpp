#include "render/DensityClusterLabeling.h"

#include <climits>
#include <cmath>

namespace {

/// A cell's walk ended nowhere (no gradient at its start) or off the numbers.
bool unlabelled(float x, float y)
{
    return !std::isfinite(x) || !std::isfinite(y) || (x < 0.00001f && y < 0.00001f);
}

/// Modes bucketed on a grid a little coarser than the threshold, so every
/// mode within the threshold of a point lies in the 3 x 3 buckets around it.
/// Each bucket lists its modes in order of discovery; modes beyond the grid
/// are kept in one list. Finding the first close mode this way gives the
/// same mode as scanning the whole list.
class ModeIndex
{
public:
    explicit ModeIndex(float threshold)
        : m_threshold(threshold), m_bucket(static_cast<double>(threshold) * 1.001),
          m_side(static_cast<int>(std::ceil(extent / m_bucket)) + 1), m_heads(static_cast<size_t>(m_side) * m_side, -1),
          m_tails(m_heads)
    {
    }

    /// The first mode (lowest index) within the threshold of (x, y), or -1.
    int firstClose(const std::vector<float>& modes, float x, float y) const
    {
        int best = INT_MAX;
        const int bx = bucketOf(x);
        const int by = bucketOf(y);
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                const int b = index(bx + dx, by + dy);
                if (b < 0)
                    continue;
                for (int m = m_heads[static_cast<size_t>(b)]; m >= 0 && m < best; m = m_next[static_cast<size_t>(m)])
                    if (close(modes, m, x, y)) {
                        best = m;
                        break;
                    }
            }
        for (int m : m_outside) {
            if (m >= best)
                break;
            if (close(modes, m, x, y)) {
                best = m;
                break;
            }
        }
        return best == INT_MAX ? -1 : best;
    }

    void add(int mode, float x, float y)
    {
        m_next.push_back(-1);
        const int b = index(bucketOf(x), bucketOf(y));
        if (b < 0) {
            m_outside.push_back(mode);
            return;
        }
        if (m_tails[static_cast<size_t>(b)] >= 0)
            m_next[static_cast<size_t>(m_tails[static_cast<size_t>(b)])] = mode;
        else
            m_heads[static_cast<size_t>(b)] = mode;
        m_tails[static_cast<size_t>(b)] = mode;
    }

private:
    // Walks end near the unit square; the grid covers [-0.5, 1.5) in both axes.
    static constexpr double origin = -0.5;
    static constexpr double extent = 2.0;

    bool close(const std::vector<float>& modes, int m, float x, float y) const
    {
        return std::fabs(modes[2 * static_cast<size_t>(m)] - x) < m_threshold
               && std::fabs(modes[2 * static_cast<size_t>(m) + 1] - y) < m_threshold;
    }
    int bucketOf(float v) const
    {
        const double b = std::floor((static_cast<double>(v) - origin) / m_bucket);
        return b < -1.0 ? -2 : b > m_side ? m_side + 1 : static_cast<int>(b);
    }
    int index(int bx, int by) const
    {
        if (bx < 0 || by < 0 || bx >= m_side || by >= m_side)
            return -1;
        return by * m_side + bx;
    }

    float m_threshold;
    double m_bucket;
    int m_side;
    std::vector<int> m_heads;
    std::vector<int> m_tails;
    std::vector<int> m_next;
    std::vector<int> m_outside;
};

} // namespace

long long DensityClusterLabeling::cellOf(float x, float y, unsigned res)
{
    if (!std::isfinite(x) || !std::isfinite(y) || res == 0)
        return -1;
    const double cx = std::floor(static_cast<double>(res - 1) * x + 0.5);
    const double cy = std::floor(static_cast<double>(res - 1) * y + 0.5);
    if (cx < 0.0 || cy < 0.0 || cx >= res || cy >= res)
        return -1;
    return static_cast<long long>(cy) * res + static_cast<long long>(cx);
}

void DensityClusterLabeling::label(const std::vector<float>& meanShift, unsigned res,
                                   const std::vector<float>& positions)
{
    findModes(meanShift, res);
    numberModes(res, positions);
}

void DensityClusterLabeling::findModes(const std::vector<float>& meanShift, unsigned res)
{
    const size_t cells = static_cast<size_t>(res) * res;
    m_cellModes.assign(cells, -1);
    m_modes.clear();
    if (meanShift.size() < 3 * cells)
        return;
    ModeIndex index(modeThreshold(res));
    for (size_t c = 0; c < cells; ++c) {
        const float x = meanShift[3 * c];
        const float y = meanShift[3 * c + 1];
        if (unlabelled(x, y))
            continue;
        int mode = index.firstClose(m_modes, x, y);
        if (mode < 0) {
            mode = static_cast<int>(m_modes.size() / 2);
            m_modes.push_back(x);
            m_modes.push_back(y);
            index.add(mode, x, y);
        }
        m_cellModes[c] = mode;
    }
}

void DensityClusterLabeling::numberModes(unsigned res, const std::vector<float>& positions)
{
    const size_t points = positions.size() / 2;
    std::vector<int> numbers(m_modes.size() / 2, -1);
    m_centres.clear();
    int clusters = 0;
    for (size_t k = 0; k < points; ++k) {
        const long long cell = cellOf(positions[2 * k], positions[2 * k + 1], res);
        if (cell < 0)
            continue;
        const int mode = m_cellModes[static_cast<size_t>(cell)];
        if (mode < 0 || numbers[static_cast<size_t>(mode)] >= 0)
            continue;
        numbers[static_cast<size_t>(mode)] = clusters++;
        m_centres.push_back(m_modes[2 * static_cast<size_t>(mode)]);
        m_centres.push_back(m_modes[2 * static_cast<size_t>(mode) + 1]);
    }

    const std::ptrdiff_t cells = static_cast<std::ptrdiff_t>(m_cellModes.size());
    m_cellClusters.resize(m_cellModes.size());
#pragma omp parallel for schedule(static)
    for (std::ptrdiff_t c = 0; c < cells; ++c) {
        const int mode = m_cellModes[static_cast<size_t>(c)];
        m_cellClusters[static_cast<size_t>(c)] = mode >= 0 ? numbers[static_cast<size_t>(mode)] : -1;
    }

    m_members.assign(static_cast<size_t>(clusters), {});
    for (size_t k = 0; k < points; ++k) {
        const long long cell = cellOf(positions[2 * k], positions[2 * k + 1], res);
        if (cell < 0)
            continue;
        const int cluster = m_cellClusters[static_cast<size_t>(cell)];
        if (cluster >= 0)
            m_members[static_cast<size_t>(cluster)].push_back(static_cast<unsigned>(k));
    }
}
