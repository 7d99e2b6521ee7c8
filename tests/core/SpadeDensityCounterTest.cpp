#include "analyses/spade/SpadeDensityCounter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

/// The plain quadratic loop the counter must match exactly.
float referenceDistance(const std::vector<float>& m, int stride, const std::vector<int>& markers, int a, int b)
{
    float sum = 0.0f;
    for (int k : markers)
        sum += std::fabs(m[a * stride + k] - m[b * stride + k]);
    return sum;
}

std::vector<int32_t> referenceCounts(const std::vector<float>& m, int events, int stride,
                                     const std::vector<int>& markers, float radius)
{
    std::vector<int32_t> counts(events, 0);
    for (int i = 0; i < events; ++i)
        for (int j = 0; j < events; ++j)
            if (j != i && referenceDistance(m, stride, markers, i, j) <= radius)
                ++counts[i];
    return counts;
}

std::vector<float> referenceNearest(const std::vector<float>& m, int events, int stride,
                                    const std::vector<int>& markers, const std::vector<int64_t>& samples)
{
    std::vector<float> result;
    for (int64_t f : samples) {
        float best = 1e8f;
        for (int j = 0; j < events; ++j) {
            const float d = referenceDistance(m, stride, markers, static_cast<int>(f), j);
            if (j != f && d < best)
                best = d;
        }
        result.push_back(best);
    }
    return result;
}

/// Gaussian blobs of different widths, some events duplicated.
std::vector<float> clusteredEvents(int events, int stride, unsigned seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::uniform_int_distribution<int> blob(0, 5);
    std::vector<float> centres(6 * stride);
    for (float& c : centres)
        c = std::uniform_real_distribution<float>(-20.0f, 20.0f)(rng);
    std::vector<float> m(static_cast<size_t>(events) * stride);
    for (int e = 0; e < events; ++e) {
        const int b = blob(rng);
        const float width = 0.2f + 0.5f * b;
        for (int k = 0; k < stride; ++k)
            m[e * stride + k] = centres[b * stride + k] + width * noise(rng);
        if (e > 10 && e % 17 == 0)
            for (int k = 0; k < stride; ++k)
                m[e * stride + k] = m[(e - 7) * stride + k];
    }
    return m;
}

struct Case
{
    const char* name;
    std::vector<float> matrix;
    int events;
    int stride;
    std::vector<int> markers;
    std::vector<float> radii;
};

std::vector<Case> cases()
{
    std::vector<Case> all;
    {
        // Uniform noise; the markers in a scrambled order with one skipped.
        std::mt19937 rng(7);
        std::uniform_real_distribution<float> u(-3.0f, 3.0f);
        Case c{"uniform", {}, 1500, 9, {4, 0, 8, 2, 7, 1, 3, 6}, {0.0f, 2.0f, 6.5f, 12.0f, 100.0f}};
        c.matrix.resize(c.events * c.stride);
        for (float& v : c.matrix)
            v = u(rng);
        all.push_back(c);
    }
    {
        Case c{"clustered", clusteredEvents(2500, 12, 11), 2500, 12, {}, {0.0f, 1.5f, 5.0f, 9.0f, 20.0f, 60.0f}};
        for (int k = 0; k < 12; ++k)
            c.markers.push_back(k);
        all.push_back(c);
    }
    {
        // Tenths on a grid: many pairs sit exactly at the radius or one float rounding away from it.
        std::mt19937 rng(3);
        std::uniform_int_distribution<int> step(0, 6);
        Case c{"grid ties", {}, 1800, 5, {0, 1, 2, 3, 4}, {0.0f, 0.1f, 0.3f, 0.7f, 1.0f, 1.3f, 3.0f}};
        c.matrix.resize(c.events * c.stride);
        for (float& v : c.matrix)
            v = 0.1f * static_cast<float>(step(rng));
        all.push_back(c);
    }
    {
        // Integers: exact sums, ties at the radius everywhere; long runs of duplicates.
        std::mt19937 rng(5);
        std::uniform_int_distribution<int> level(0, 3);
        Case c{"integer duplicates", {}, 1600, 4, {0, 1, 2, 3}, {-1.0f, 0.0f, 1.0f, 2.0f, 4.0f}};
        c.matrix.resize(c.events * c.stride);
        for (int e = 0; e < c.events; ++e)
            for (int k = 0; k < c.stride; ++k)
                c.matrix[e * c.stride + k] = e < 600 ? 2.0f : static_cast<float>(level(rng));
        all.push_back(c);
    }
    {
        // Wide magnitudes, NaN and infinite values.
        std::mt19937 rng(9);
        std::uniform_real_distribution<float> u(-1.0f, 1.0f);
        Case c{"non-finite", {}, 700, 3, {0, 2}, {0.5f, 1e6f, std::numeric_limits<float>::infinity(),
                                                  std::numeric_limits<float>::quiet_NaN()}};
        c.matrix.resize(c.events * c.stride);
        for (int e = 0; e < c.events; ++e)
            for (int k = 0; k < c.stride; ++k)
                c.matrix[e * c.stride + k] = u(rng) * (e % 3 == 0 ? 1e6f : 1.0f);
        c.matrix[5 * 3] = std::numeric_limits<float>::quiet_NaN();
        c.matrix[9 * 3 + 2] = std::numeric_limits<float>::infinity();
        c.matrix[13 * 3 + 2] = std::numeric_limits<float>::infinity();
        c.matrix[17 * 3] = -std::numeric_limits<float>::infinity();
        all.push_back(c);
    }
    return all;
}

} // namespace

TEST(SpadeDensityCounter, CountsEqualThePlainLoopAtOneAndEightThreads)
{
    for (const Case& c : cases()) {
        SpadeDensityCounter counter(c.matrix.data(), c.events, c.stride, c.markers);
        for (float r : c.radii) {
            const std::vector<int32_t> expected = referenceCounts(c.matrix, c.events, c.stride, c.markers, r);
            EXPECT_EQ(counter.countWithin(r, 1), expected) << c.name << " radius " << r;
            EXPECT_EQ(counter.countWithin(r, 8), expected) << c.name << " radius " << r;
        }
    }
}

TEST(SpadeDensityCounter, NearestDistancesEqualThePlainLoop)
{
    for (const Case& c : cases()) {
        SpadeDensityCounter counter(c.matrix.data(), c.events, c.stride, c.markers);
        std::vector<int64_t> samples;
        for (int64_t s = 0; s < c.events; s += 7)
            samples.push_back(s);
        samples.push_back(samples.front()); // drawn twice
        const std::vector<float> expected = referenceNearest(c.matrix, c.events, c.stride, c.markers, samples);
        EXPECT_EQ(counter.nearestDistances(samples, 1), expected) << c.name;
        EXPECT_EQ(counter.nearestDistances(samples, 8), expected) << c.name;
        for (int64_t s = 0; s < 50; ++s) {
            const float got = counter.distance(s, s + 3);
            const float want = referenceDistance(c.matrix, c.stride, c.markers, static_cast<int>(s), static_cast<int>(s) + 3);
            EXPECT_TRUE(got == want || (std::isnan(got) && std::isnan(want))) << c.name << " " << s;
        }
    }
}

TEST(SpadeDensityCounter, DegenerateInputs)
{
    const std::vector<float> one{1.0f, 2.0f};
    SpadeDensityCounter single(one.data(), 1, 2, {0, 1});
    EXPECT_EQ(single.countWithin(5.0f, 4), std::vector<int32_t>{0});
    EXPECT_EQ(single.nearestDistances({0}, 4), std::vector<float>{1e8f});

    SpadeDensityCounter empty(one.data(), 0, 2, {0, 1});
    EXPECT_TRUE(empty.countWithin(5.0f, 4).empty());
    EXPECT_TRUE(empty.nearestDistances({}, 4).empty());

    // No markers: every distance is 0.
    std::vector<float> three(6, 1.0f);
    SpadeDensityCounter noMarkers(three.data(), 3, 2, {});
    EXPECT_EQ(noMarkers.countWithin(0.0f, 2), (std::vector<int32_t>{2, 2, 2}));

    // Progress reports every tenth once, in order.
    std::vector<float> many(4000);
    for (size_t i = 0; i < many.size(); ++i)
        many[i] = static_cast<float>(i % 97);
    SpadeDensityCounter counter(many.data(), 2000, 2, {0, 1});
    std::vector<int> reported;
    counter.countWithin(10.0f, 8, [&](int p) { reported.push_back(p); });
    EXPECT_EQ(reported, (std::vector<int>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100}));
    // One leaf of work still reports every tenth; fewer than 10 events report nothing.
    reported.clear();
    SpadeDensityCounter(many.data(), 50, 2, {0, 1}).countWithin(10.0f, 8, [&](int p) { reported.push_back(p); });
    EXPECT_EQ(reported.size(), 10u);
    reported.clear();
    SpadeDensityCounter(many.data(), 9, 2, {0, 1}).countWithin(10.0f, 8, [&](int p) { reported.push_back(p); });
    SpadeDensityCounter(many.data(), 9, 2, {0, 1}).nearestDistances({0, 1, 2}, 8, [&](int p) { reported.push_back(p); });
    EXPECT_TRUE(reported.empty());
}
