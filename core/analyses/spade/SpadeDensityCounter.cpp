#include "analyses/spade/SpadeDensityCounter.h"

#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <numeric>

namespace {

/// Pairs measured side by side: one vector register of floats on the widest unit.
constexpr int kLanes = 16;
/// Events per leaf of the partition that groups nearby events.
constexpr int64_t kLeafSize = 128;
/// Relative slack for bounds computed in double precision: far wider than the
/// rounding of a few dozen double operations, far narrower than float rounding.
constexpr double kDoubleSlack = 1e-10;

using FloatLanes = float __attribute__((vector_size(kLanes * sizeof(float))));
using IntLanes = int32_t __attribute__((vector_size(kLanes * sizeof(int32_t))));

/// Sign bit of a float lane: clearing it is fabs.
constexpr int32_t kMagnitudeBits = 0x7fffffff;

/// True when any lane of the mask is set: the halves are folded onto each other.
inline bool anyLane(IntLanes mask)
{
    static_assert(kLanes == 16, "the fold below is written for 16 lanes");
    mask |= __builtin_shufflevector(mask, mask, 8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7);
    mask |= __builtin_shufflevector(mask, mask, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3);
    mask |= __builtin_shufflevector(mask, mask, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1);
    return (mask[0] | mask[1]) != 0;
}

/// Counts the events q in [q0, q1) (marker-major columns of the given stride)
/// whose distance to the event with values xi is at most r; increments cnt[q]
/// for each of them (cnt may be touched, by 0, up to kLanes past q1). Each lane
/// sums its markers in order in single precision, exactly as the plain loop
/// does; a block stops early only when every lane already exceeds r.
__attribute__((target_clones("avx512f", "avx2", "default")))
int64_t countRange(const float* xi, const float* columns, int64_t stride, int dims, int64_t q0,
                   int64_t q1, float r, int32_t* cnt)
{
    IntLanes laneIndex;
    for (int l = 0; l < kLanes; ++l)
        laneIndex[l] = l;
    IntLanes hits = {};
    for (int64_t q = q0; q < q1; q += kLanes) {
        const IntLanes valid = laneIndex < static_cast<int32_t>(std::min<int64_t>(q1 - q, kLanes));
        FloatLanes acc = {};
        for (int k0 = 0; k0 < dims; k0 += 8) {
            const int k1 = std::min(dims, k0 + 8);
            for (int k = k0; k < k1; ++k) {
                // The column store is padded, so a block may read past the end.
                IntLanes diff;
                std::memcpy(&diff, columns + k * stride + q, sizeof diff);
                diff = reinterpret_cast<IntLanes>(xi[k] - reinterpret_cast<FloatLanes>(diff)) & kMagnitudeBits;
                acc += reinterpret_cast<FloatLanes>(diff);
            }
            if (k1 < dims && !anyLane(valid & ~(acc > r)))
                break;
        }
        const IntLanes hit = valid & (acc <= r);
        IntLanes c;
        std::memcpy(&c, cnt + q, sizeof c);
        c -= hit;
        std::memcpy(cnt + q, &c, sizeof c);
        hits += hit; // a hit lane is -1
    }
    int64_t total = 0;
    for (int l = 0; l < kLanes; ++l)
        total -= hits[l];
    return total;
}

/// The smallest distance below best from xi to the events [0, count) except
/// skip; the minimum of a set does not depend on the order it is scanned in.
__attribute__((target_clones("avx512f", "avx2", "default")))
float nearestInRange(const float* xi, const float* columns, int64_t count, int dims, int64_t skip,
                     float best)
{
    IntLanes laneIndex;
    for (int l = 0; l < kLanes; ++l)
        laneIndex[l] = l;
    for (int64_t q = 0; q < count; q += kLanes) {
        const IntLanes valid = laneIndex < static_cast<int32_t>(std::min<int64_t>(count - q, kLanes));
        FloatLanes acc = {};
        for (int k0 = 0; k0 < dims; k0 += 8) {
            const int k1 = std::min(dims, k0 + 8);
            for (int k = k0; k < k1; ++k) {
                IntLanes diff;
                std::memcpy(&diff, columns + k * count + q, sizeof diff);
                diff = reinterpret_cast<IntLanes>(xi[k] - reinterpret_cast<FloatLanes>(diff)) & kMagnitudeBits;
                acc += reinterpret_cast<FloatLanes>(diff);
            }
            if (k1 < dims && !anyLane(valid & ~(acc >= best)))
                break;
        }
        const IntLanes closer = valid & (acc < best);
        if (anyLane(closer))
            for (int l = 0; l < kLanes; ++l)
                if (closer[l] && q + l != skip && acc[l] < best)
                    best = acc[l];
    }
    return best;
}

/// Adds the double-precision L1 distance of every event [0, n) of a leaf
/// (marker-major columns of the given stride) to the point c into out[i].
__attribute__((target_clones("avx512f", "avx2", "default")))
void distancesToPoint(const float* columns, int64_t stride, int dims, int64_t n, const double* c,
                      double* out)
{
    std::fill(out, out + n, 0.0);
    for (int k = 0; k < dims; ++k) {
        const float* col = columns + k * stride;
        const double ck = c[k];
        for (int64_t i = 0; i < n; ++i)
            out[i] += std::fabs(static_cast<double>(col[i]) - ck);
    }
}

/// Reports every tenth of the work once, in order, whichever thread gets
/// there; silent for fewer than 10 items.
class TenthsReporter
{
public:
    TenthsReporter(int64_t items, int64_t total, const SpadeDensityCounter::Progress& progress)
        : m_enabled(items >= 10 && progress), m_total(total), m_progress(progress)
    {
    }
    void add(int64_t work)
    {
        if (!m_enabled)
            return;
        const int64_t done = m_done.fetch_add(work) + work;
#pragma omp critical(spade_density_progress)
        while (m_next <= 10 && done * 10 >= m_next * m_total) {
            m_progress(m_next * 10);
            ++m_next;
        }
    }

private:
    bool m_enabled;
    int64_t m_total;
    const SpadeDensityCounter::Progress& m_progress;
    std::atomic<int64_t> m_done{0};
    int m_next = 1;
};

/// Events of one file grouped into leaves of nearby events, each leaf sorted
/// by the distance of its events to the leaf's centroid.
struct LeafPartition
{
    std::vector<int64_t> order;        ///< event index at each position
    std::vector<int64_t> leafStart;    ///< first position of each leaf, plus the end
    std::vector<double> centroids;     ///< dims values per leaf
    std::vector<double> radii;         ///< largest centre distance per leaf
    std::vector<double> centreDistance; ///< per position: distance to its leaf's centroid
    std::vector<float> columns;        ///< marker-major values in position order
};

} // namespace

namespace {

std::vector<int64_t> allRows(int64_t eventCount)
{
    std::vector<int64_t> rows(static_cast<size_t>(std::max<int64_t>(eventCount, 0)));
    std::iota(rows.begin(), rows.end(), int64_t(0));
    return rows;
}

} // namespace

SpadeDensityCounter::SpadeDensityCounter(const float* matrix, int64_t eventCount, int64_t rowStride,
                                         const std::vector<int>& markers)
    : SpadeDensityCounter(matrix, allRows(eventCount), rowStride, markers)
{
}

SpadeDensityCounter::SpadeDensityCounter(const float* matrix, const std::vector<int64_t>& rows,
                                         int64_t rowStride, const std::vector<int>& markers)
    : m_events(static_cast<int64_t>(rows.size())), m_dims(static_cast<int>(markers.size()))
{
    m_columns.resize(static_cast<size_t>(m_events) * m_dims + kLanes);
#pragma omp parallel for schedule(static)
    for (int64_t e = 0; e < m_events; ++e)
        for (int k = 0; k < m_dims; ++k)
            m_columns[static_cast<size_t>(k) * m_events + e] = matrix[rows[e] * rowStride + markers[k]];
}

float SpadeDensityCounter::distance(int64_t a, int64_t b) const
{
    float sum = 0.0f;
    for (int k = 0; k < m_dims; ++k)
        sum += std::fabs(value(k, a) - value(k, b));
    return sum;
}

std::vector<float> SpadeDensityCounter::nearestDistances(const std::vector<int64_t>& samples,
                                                         int threads, const Progress& progress) const
{
    const int64_t count = static_cast<int64_t>(samples.size());
    std::vector<float> result(samples.size(), 1e8f);
    TenthsReporter reporter(count, count, progress);
#pragma omp parallel num_threads(std::max(threads, 1))
    {
        std::vector<float> xi(static_cast<size_t>(m_dims));
#pragma omp for schedule(static)
        for (int64_t s = 0; s < count; ++s) {
            const int64_t f = samples[static_cast<size_t>(s)];
            for (int k = 0; k < m_dims; ++k)
                xi[k] = value(k, f);
            result[static_cast<size_t>(s)] =
                nearestInRange(xi.data(), m_columns.data(), m_events, m_dims, f, 1e8f);
            reporter.add(1);
        }
    }
    return result;
}

namespace {

/// Splits the finite events into leaves: a range is halved at the median of
/// its widest marker until it holds at most kLeafSize events or all of its
/// events are equal. Deterministic: ties are ordered by event index.
LeafPartition buildPartition(const std::vector<float>& source, int64_t events, int dims,
                             std::vector<int64_t> finite)
{
    LeafPartition part;
    part.order = std::move(finite);
    const int64_t n = static_cast<int64_t>(part.order.size());
    auto at = [&](int k, int64_t e) { return source[static_cast<size_t>(k) * events + e]; };

    std::vector<std::pair<int64_t, int64_t>> stack;
    if (n > 0)
        stack.emplace_back(0, n);
    while (!stack.empty()) {
        const auto [lo, hi] = stack.back();
        stack.pop_back();
        int widest = -1;
        float widestSpread = 0.0f;
        if (hi - lo > kLeafSize) {
            for (int k = 0; k < dims; ++k) {
                float mn = at(k, part.order[lo]), mx = mn;
                for (int64_t p = lo + 1; p < hi; ++p) {
                    const float v = at(k, part.order[p]);
                    mn = std::min(mn, v);
                    mx = std::max(mx, v);
                }
                if (mx - mn > widestSpread) {
                    widestSpread = mx - mn;
                    widest = k;
                }
            }
        }
        if (widest < 0) {
            part.leafStart.push_back(lo);
            continue;
        }
        const int64_t mid = lo + (hi - lo) / 2;
        std::nth_element(part.order.begin() + lo, part.order.begin() + mid, part.order.begin() + hi,
                         [&](int64_t a, int64_t b) {
                             const float va = at(widest, a), vb = at(widest, b);
                             return va < vb || (va == vb && a < b);
                         });
        // Right half first on the stack, so leaves come out left to right.
        stack.emplace_back(mid, hi);
        stack.emplace_back(lo, mid);
    }
    part.leafStart.push_back(n);

    const int64_t leaves = static_cast<int64_t>(part.leafStart.size()) - 1;
    part.centroids.assign(static_cast<size_t>(leaves) * dims, 0.0);
    part.radii.assign(static_cast<size_t>(leaves), 0.0);
    part.centreDistance.assign(static_cast<size_t>(n), 0.0);
    part.columns.resize(static_cast<size_t>(n) * dims + kLanes);

#pragma omp parallel
    {
        std::vector<float> leafColumns;
        std::vector<std::pair<double, int64_t>> keyed;
        std::vector<double> dist;
#pragma omp for schedule(dynamic, 16)
        for (int64_t leaf = 0; leaf < leaves; ++leaf) {
            const int64_t lo = part.leafStart[leaf], size = part.leafStart[leaf + 1] - lo;
            double* c = part.centroids.data() + leaf * dims;
            leafColumns.resize(static_cast<size_t>(size) * dims);
            for (int k = 0; k < dims; ++k) {
                double sum = 0.0;
                for (int64_t i = 0; i < size; ++i) {
                    const float v = at(k, part.order[lo + i]);
                    leafColumns[static_cast<size_t>(k) * size + i] = v;
                    sum += v;
                }
                c[k] = sum / static_cast<double>(size);
            }
            dist.resize(static_cast<size_t>(size));
            distancesToPoint(leafColumns.data(), size, dims, size, c, dist.data());
            keyed.resize(static_cast<size_t>(size));
            for (int64_t i = 0; i < size; ++i)
                keyed[i] = {dist[i], part.order[lo + i]};
            std::sort(keyed.begin(), keyed.end());
            for (int64_t i = 0; i < size; ++i) {
                part.order[lo + i] = keyed[i].second;
                part.centreDistance[lo + i] = keyed[i].first;
                for (int k = 0; k < dims; ++k)
                    part.columns[static_cast<size_t>(k) * n + lo + i] = at(k, keyed[i].second);
            }
            part.radii[leaf] = size > 0 ? keyed.back().first : 0.0;
        }
    }
    return part;
}

double centroidDistance(const double* a, const double* b, int dims)
{
    double sum = 0.0;
    for (int k = 0; k < dims; ++k)
        sum += std::fabs(a[k] - b[k]);
    return sum;
}

} // namespace

std::vector<int32_t> SpadeDensityCounter::countWithin(float radius, int threads,
                                                      const Progress& progress) const
{
    std::vector<int32_t> counts(static_cast<size_t>(m_events), 0);
    if (m_events == 0 || std::isnan(radius)) {
        if (progress && m_events >= 10)
            for (int p = 10; p <= 100; p += 10)
                progress(p);
        return counts;
    }
    threads = std::max(threads, 1);

    // Events with a NaN or infinite active value have a NaN or infinite sum
    // with every other event; they take part only when the radius is infinite.
    std::vector<int64_t> finite, other;
    for (int64_t e = 0; e < m_events; ++e) {
        bool ok = true;
        for (int k = 0; k < m_dims && ok; ++k)
            ok = std::isfinite(value(k, e));
        (ok ? finite : other).push_back(e);
    }

    const LeafPartition part = buildPartition(m_columns, m_events, m_dims, std::move(finite));
    const int64_t n = static_cast<int64_t>(part.order.size());
    const int64_t leaves = static_cast<int64_t>(part.leafStart.size()) - 1;
    const float* columns = part.columns.data();
    const int dims = m_dims;

    // A float sum of d rounded non-negative terms lies within a relative
    // (d + 1) * 2^-24 of the exact L1 distance. Pairs whose exact distance is
    // at most rLow therefore qualify, pairs beyond rHigh never do.
    const double floatError = (dims + 2) * std::ldexp(1.0, -23);
    const double r = radius;
    const double rLow = r >= 0 ? r * (1.0 - floatError) : r * (1.0 + floatError);
    const double rHigh = r >= 0 ? r * (1.0 + floatError) : r * (1.0 - floatError);
    // Exactly equal events have a float distance of 0, whatever the bounds say.
    const bool zeroQualifies = 0.0f <= radius;
    auto surelyWithin = [&](double upper) {
        return (upper == 0.0 && zeroQualifies) || upper * (1.0 + kDoubleSlack) <= rLow;
    };
    auto surelyBeyond = [&](double lower, double scale) {
        return lower - kDoubleSlack * scale > rHigh;
    };

    std::vector<std::vector<int32_t>> threadCounts(static_cast<size_t>(threads));
    std::vector<std::vector<int32_t>> threadRuns(static_cast<size_t>(threads));
    const int64_t totalWork = leaves * (leaves + 1) / 2;
    TenthsReporter reporter(m_events, totalWork, progress);

#pragma omp parallel num_threads(threads)
    {
        const int t = omp_get_thread_num();
        std::vector<int32_t>& cnt = threadCounts[t];
        std::vector<int32_t>& runs = threadRuns[t];
        cnt.assign(static_cast<size_t>(n) + kLanes, 0);
        runs.assign(static_cast<size_t>(n) + 1, 0);
        std::vector<float> xi(static_cast<size_t>(dims));
        std::vector<double> toCentre;

        // The result is a sum of integer counts, so any schedule gives the same numbers.
#pragma omp for schedule(dynamic, 1)
        for (int64_t a = 0; a < leaves; ++a) {
            const int64_t aLo = part.leafStart[a], aSize = part.leafStart[a + 1] - aLo;
            const double* ca = part.centroids.data() + a * dims;
            const double ra = part.radii[a];

            // Pairs inside leaf a, each measured once.
            if (surelyWithin(2 * ra)) {
                for (int64_t p = aLo; p < aLo + aSize; ++p)
                    cnt[p] += static_cast<int32_t>(aSize - 1);
            } else {
                for (int64_t p = aLo; p < aLo + aSize; ++p) {
                    for (int k = 0; k < dims; ++k)
                        xi[k] = columns[static_cast<size_t>(k) * n + p];
                    cnt[p] += static_cast<int32_t>(
                        countRange(xi.data(), columns, n, dims, p + 1, aLo + aSize, radius, cnt.data()));
                }
            }

            toCentre.resize(static_cast<size_t>(aSize));
            for (int64_t b = a + 1; b < leaves; ++b) {
                const int64_t bLo = part.leafStart[b], bSize = part.leafStart[b + 1] - bLo;
                const double* cb = part.centroids.data() + b * dims;
                const double rb = part.radii[b];
                const double d = centroidDistance(ca, cb, dims);
                if (surelyBeyond(d - ra - rb, d + ra + rb))
                    continue;
                if (surelyWithin(d + ra + rb)) {
                    for (int64_t p = aLo; p < aLo + aSize; ++p)
                        cnt[p] += static_cast<int32_t>(bSize);
                    runs[bLo] += static_cast<int32_t>(aSize);
                    runs[bLo + bSize] -= static_cast<int32_t>(aSize);
                    continue;
                }
                // Per event of a: the triangle inequality through b's centroid
                // bounds its distance to every event of b; b is sorted by the
                // centre distance, so the undecided events form one run.
                distancesToPoint(columns + aLo, n, dims, aSize, cb, toCentre.data());
                const double* bc = &part.centreDistance[bLo];
                for (int64_t i = 0; i < aSize; ++i) {
                    const double di = toCentre[i];
                    const int64_t p = aLo + i;
                    if (surelyBeyond(di - rb, di + rb))
                        continue;
                    if (surelyWithin(di + rb)) {
                        cnt[p] += static_cast<int32_t>(bSize);
                        runs[bLo] += 1;
                        runs[bLo + bSize] -= 1;
                        continue;
                    }
                    const int64_t accepted =
                        std::partition_point(bc, bc + bSize, [&](double dq) { return surelyWithin(di + dq); }) - bc;
                    const int64_t low = accepted > 0 ? 0 :
                        std::partition_point(bc, bc + bSize, [&](double dq) { return surelyBeyond(di - dq, di + dq); }) - bc;
                    const int64_t high =
                        std::partition_point(bc + low, bc + bSize, [&](double dq) { return !surelyBeyond(dq - di, di + dq); }) - bc;
                    if (accepted > 0) {
                        cnt[p] += static_cast<int32_t>(accepted);
                        runs[bLo] += 1;
                        runs[bLo + accepted] -= 1;
                    }
                    const int64_t from = std::max(low, accepted);
                    if (from < high) {
                        for (int k = 0; k < dims; ++k)
                            xi[k] = columns[static_cast<size_t>(k) * n + p];
                        cnt[p] += static_cast<int32_t>(countRange(xi.data(), columns, n, dims, bLo + from,
                                                                  bLo + high, radius, cnt.data()));
                    }
                }
            }
            reporter.add(leaves - a);
        }

        // Turn each thread's runs into per-position counts.
#pragma omp for schedule(static)
        for (int u = 0; u < threads; ++u) {
            if (threadRuns[u].empty())
                continue; // a thread the runtime did not start
            int32_t running = 0;
            for (int64_t p = 0; p < n; ++p) {
                running += threadRuns[u][p];
                threadCounts[u][p] += running;
            }
        }
#pragma omp for schedule(static)
        for (int64_t p = 0; p < n; ++p) {
            int32_t sum = 0;
            for (int u = 0; u < threads; ++u)
                if (!threadCounts[u].empty())
                    sum += threadCounts[u][p];
            counts[static_cast<size_t>(part.order[p])] = sum;
        }
    }

    if (!other.empty() && std::isinf(radius) && radius > 0) {
        // Only an infinite radius lets an event with an infinite value qualify: measure those pairs plainly.
        std::vector<char> isOther(static_cast<size_t>(m_events), 0);
        for (int64_t e : other)
            isOther[e] = 1;
#pragma omp parallel for schedule(static) num_threads(threads)
        for (int64_t e = 0; e < m_events; ++e) {
            int32_t hits = 0;
            if (isOther[e]) {
                for (int64_t j = 0; j < m_events; ++j)
                    hits += j != e && distance(e, j) <= radius;
                counts[e] = hits;
            } else {
                for (int64_t o : other)
                    hits += distance(e, o) <= radius;
                counts[e] += hits;
            }
        }
    }
    return counts;
}
