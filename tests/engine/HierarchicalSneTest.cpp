#include "VelRecordingLog.h"
#include "hsne/HierarchicalSne.h"
#include "sparse_tsne/SparseTsne.h"
#include "support/GaussianBlobs.h"
#include "support/logicErrorText.h"
#include "vel/MapHelpers.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <vector>

using vel::HierarchicalSne;
using vel::MapMemEff;
using Scale = HierarchicalSne::Scale;

namespace {

/// A previous scale made by hand: states 0..n-1 with the given rows and weight 1.
Scale chainScale(const std::vector<std::map<uint32_t, float>>& rows)
{
    Scale scale;
    const uint32_t n = static_cast<uint32_t>(rows.size());
    scale.landmarkToDataPoint.resize(n);
    std::iota(scale.landmarkToDataPoint.begin(), scale.landmarkToDataPoint.end(), 0u);
    scale.landmarkToPreviousScale = scale.landmarkToDataPoint;
    scale.landmarkWeights.assign(n, 1.0f);
    scale.transitionMatrix.resize(n);
    for (uint32_t i = 0; i < n; ++i)
        vel::MapHelpers::initialize(scale.transitionMatrix[i], rows[i], 0.0f);
    return scale;
}

/// n states, each moving to `k` random states with random weights.
std::vector<std::map<uint32_t, float>> randomChain(int n, int k, unsigned seed)
{
    std::mt19937 generator(seed);
    std::uniform_int_distribution<uint32_t> pick(0, static_cast<uint32_t>(n - 1));
    std::uniform_real_distribution<float> weight(0.2f, 1.0f);
    std::vector<std::map<uint32_t, float>> rows(static_cast<size_t>(n));
    for (auto& row : rows) {
        while (static_cast<int>(row.size()) < k)
            row[pick(generator)] = weight(generator);
        float sum = 0;
        for (const auto& entry : row)
            sum += entry.second;
        for (auto& entry : row)
            entry.second /= sum;
    }
    return rows;
}

/// The chosen states as landmarks of a new scale over `previous`.
Scale landmarksAt(const Scale& previous, const std::vector<uint32_t>& landmarks)
{
    Scale scale;
    scale.previousScaleToLandmark.assign(previous.size(), -1);
    scale.areaOfInfluence.resize(previous.size());
    for (uint32_t state : landmarks) {
        scale.previousScaleToLandmark[state] = static_cast<int32_t>(scale.landmarkToDataPoint.size());
        scale.landmarkToDataPoint.push_back(state);
        scale.landmarkToPreviousScale.push_back(state);
    }
    scale.landmarkWeights.assign(landmarks.size(), 0.0f);
    scale.transitionMatrix.resize(landmarks.size());
    return scale;
}

double rowSum(const MapMemEff& row)
{
    double sum = 0;
    for (const MapMemEff::Entry& entry : row)
        sum += entry.value;
    return sum;
}

HierarchicalSne::Parameters seeded(int seed)
{
    HierarchicalSne::Parameters parameters;
    parameters.seed = seed;
    return parameters;
}

/// An engine with scale 0 over the data.
HierarchicalSne firstScale(const std::vector<float>& data, int dims, const HierarchicalSne::Parameters& parameters)
{
    HierarchicalSne hsne;
    hsne.setDimensionality(dims);
    hsne.initialize(data.data(), static_cast<uint32_t>(data.size() / dims), parameters);
    return hsne;
}

void expectSameScale(const Scale& a, const Scale& b)
{
    EXPECT_EQ(a.landmarkToDataPoint, b.landmarkToDataPoint);
    EXPECT_EQ(a.landmarkWeights, b.landmarkWeights);
    ASSERT_EQ(a.areaOfInfluence.size(), b.areaOfInfluence.size());
    ASSERT_EQ(a.transitionMatrix.size(), b.transitionMatrix.size());
    auto same = [](const MapMemEff& x, const MapMemEff& y) {
        return x.size() == y.size() && std::equal(x.begin(), x.end(), y.begin(), [](const auto& p, const auto& q) {
                   return p.key == q.key && p.value == q.value;
               });
    };
    for (size_t i = 0; i < a.areaOfInfluence.size(); ++i)
        ASSERT_TRUE(same(a.areaOfInfluence[i], b.areaOfInfluence[i])) << "area " << i;
    for (size_t l = 0; l < a.transitionMatrix.size(); ++l)
        ASSERT_TRUE(same(a.transitionMatrix[l], b.transitionMatrix[l])) << "row " << l;
}

} // namespace

TEST(HierarchicalSne, FirstScaleHoldsTheNearestNeighboursWithGaussiansOfPerplexityTen)
{
    const int n = 400, dims = 10;
    std::vector<float> data = gaussianBlobs<float>(n, dims, 0, 1);
    std::copy_n(&data[5 * dims], dims, &data[6 * dims]);  // point 6 is an exact twin of point 5
    HierarchicalSne::Parameters parameters = seeded(1);
    parameters.checks = 4096;  // at least N
    const HierarchicalSne hsne = firstScale(data, dims, parameters);
    const Scale& scale = hsne.scales()[0];
    ASSERT_EQ(scale.size(), static_cast<uint32_t>(n));
    EXPECT_EQ(scale.landmarkWeights, std::vector<float>(n, 1.0f));

    // FLANN shuffles its trees from a random device, and its branch bound
    // adds up repeated splits of one dimension: even a search of N checks
    // may, very rarely, miss a neighbour. Nearly every row must still be the
    // exact one, and none may be far off.
    int exact = 0;
    for (int i = 0; i < n; ++i) {
        std::vector<std::pair<double, uint32_t>> distances;
        std::vector<double> distanceOf(n, 0.0);
        for (int j = 0; j < n; ++j) {
            distanceOf[j] = vel::squaredEuclideanDistance(&data[i * dims], &data[i * dims] + dims, &data[j * dims]);
            if (j != i)
                distances.emplace_back(distanceOf[j], j);
        }
        std::sort(distances.begin(), distances.end());
        std::vector<uint32_t> nearest;
        double nearestTotal = 0;
        for (int m = 0; m < 30; ++m) {
            nearest.push_back(distances[m].second);
            nearestTotal += distances[m].first;
        }
        std::sort(nearest.begin(), nearest.end());
        const MapMemEff& row = scale.transitionMatrix[i];
        ASSERT_EQ(row.size(), 30u);
        std::vector<uint32_t> keys;
        double entropy = 0, total = 0;
        for (const MapMemEff::Entry& entry : row) {
            keys.push_back(entry.key);
            entropy -= entry.value * std::log(entry.value);
            total += distanceOf[entry.key];
        }
        exact += keys == nearest;
        EXPECT_LE(total, nearestTotal * 1.05) << "point " << i;
        EXPECT_EQ(row.valueOf(i), 0.0f) << "point " << i;
        EXPECT_NEAR(rowSum(row), 1, 1e-5);
        EXPECT_NEAR(entropy, std::log(10.0), 1.5e-5) << "point " << i;  // the fit's 1e-5 and float rounding
        // One Gaussian over the squared distances: ln p is linear in them.
        const MapMemEff::Entry& first = *row.begin();
        const MapMemEff::Entry& last = *(row.end() - 1);
        const double beta = std::log(first.value / last.value) / (distanceOf[last.key] - distanceOf[first.key]);
        for (const MapMemEff::Entry& entry : row) {
            const double expected = -beta * (distanceOf[entry.key] - distanceOf[first.key]);
            ASSERT_NEAR(std::log(entry.value / first.value), expected, 1e-3 * (1 + std::abs(expected))) << i;
        }
    }
    EXPECT_GE(exact, n * 99 / 100);
    EXPECT_EQ(scale.transitionMatrix[5].valueOf(5), 0.0f);
    EXPECT_GT(scale.transitionMatrix[5].valueOf(6), 0.0f);
    EXPECT_EQ(scale.transitionMatrix[6].valueOf(6), 0.0f);

    // 31 identical points: no Gaussian fits, every row is uniform over the others.
    const std::vector<float> same(31 * 2, 1.5f);
    const HierarchicalSne flat = firstScale(same, 2, seeded(1));
    for (int i = 0; i < 31; ++i) {
        ASSERT_EQ(flat.scales()[0].transitionMatrix[i].size(), 30u);
        EXPECT_EQ(flat.scales()[0].transitionMatrix[i].valueOf(i), 0.0f);
        for (const MapMemEff::Entry& entry : flat.scales()[0].transitionMatrix[i])
            EXPECT_FLOAT_EQ(entry.value, 1.0f / 30);
    }
}

TEST(HierarchicalSne, RefusesWhatItCannotSearch)
{
    HierarchicalSne hsne;
    EXPECT_EQ(logicErrorText([&] { hsne.setDimensionality(0); }), "Invalid dimensionality");
    hsne.setDimensionality(2);
    const std::vector<float> few(30 * 2, 0.0f);
    EXPECT_EQ(logicErrorText([&] { hsne.initialize(few.data(), 30, seeded(1)); }),
              "The hierarchical SNE needs at least neighbours + 1 = 31 points, got 30.");
    HierarchicalSne::Parameters none = seeded(1);
    none.neighbours = 0;
    EXPECT_EQ(logicErrorText([&] { hsne.initialize(few.data(), 30, none); }),
              "The hierarchical SNE needs at least 1 neighbour.");
    EXPECT_EQ(logicErrorText([&] { hsne.addScale(); }), "HierarchicalSne::addScale: the first scale does not exist yet");
    const std::vector<float> enough(31 * 2, 0.0f);
    hsne.initialize(enough.data(), 31, seeded(1));
    EXPECT_EQ(logicErrorText([&] { hsne.setDimensionality(3); }),
              "Class should be uninitialized to change the dimensionality");

    std::vector<float> distances(4, 1.0f), shorter(3), empty;
    EXPECT_EQ(logicErrorText([&] {
                  vel::fitGaussianToPerplexity(distances.begin(), distances.end(), shorter.begin(), shorter.end(),
                                               2.0, 200, 1e-5, 0);
              }),
              "Invalid containers");
    EXPECT_EQ(logicErrorText([&] {
                  vel::fitGaussianToPerplexity(empty.begin(), empty.end(), empty.begin(), empty.end(), 2.0, 200,
                                               1e-5, 0);
              }),
              "Invalid containers");
}

TEST(HierarchicalSne, WalksFollowTheRowsFirstHitsAndFallToPointZero)
{
    const Scale rows = chainScale({{{1, 0.5f}, {2, 0.25f}, {3, 0.25f}}, {{1, 0.3f}}, {}, {}});
    std::mt19937 engine(5);
    const int steps = 1000000;
    std::vector<int> ends(4, 0);
    std::vector<int> fromShortRow(4, 0);
    for (int s = 0; s < steps; ++s) {
        ++ends[HierarchicalSne::randomWalk(0, 1, rows.transitionMatrix, engine)];
        ++fromShortRow[HierarchicalSne::randomWalk(1, 1, rows.transitionMatrix, engine)];
    }
    const double shares[4] = {0, 0.5, 0.25, 0.25};
    for (int state = 0; state < 4; ++state)
        EXPECT_NEAR(ends[state], shares[state] * steps, 4 * std::sqrt(shares[state] * (1 - shares[state]) * steps));
    EXPECT_NEAR(fromShortRow[0], 0.7 * steps, 4 * std::sqrt(0.21 * steps));
    EXPECT_EQ(fromShortRow[0] + fromShortRow[1], steps);

    // 0 -> 1 -> 2 -> 3 -> 0 with landmark 3.
    const Scale chain = chainScale({{{1, 1.0f}}, {{2, 1.0f}}, {{3, 1.0f}}, {{0, 1.0f}}});
    const std::vector<int32_t> landmark3{-1, -1, -1, 0};
    EXPECT_EQ(HierarchicalSne::walkToLandmark(0, landmark3, 3, chain.transitionMatrix, engine), 3);
    EXPECT_EQ(HierarchicalSne::walkToLandmark(0, landmark3, 2, chain.transitionMatrix, engine), -1);
    EXPECT_EQ(HierarchicalSne::walkToLandmark(3, landmark3, 4, chain.transitionMatrix, engine), 3);  // leaves it first
    EXPECT_EQ(HierarchicalSne::walkToLandmark(3, landmark3, 3, chain.transitionMatrix, engine), -1);

    // First hits on a 50-state chain equal the absorbing-chain sums
    // sum over s = 1..100 of (the start row, then Q^(s-1)) R.
    const int states = 50, limit = 100;
    const std::vector<std::map<uint32_t, float>> chain50 = randomChain(states, 3, 7);
    const Scale previous = chainScale(chain50);
    std::vector<uint32_t> fixed;
    for (uint32_t state = 0; state < states; state += 7)
        fixed.push_back(state);
    Scale scale = landmarksAt(previous, fixed);
    HierarchicalSne hsne;
    hsne.parameters().seed = 3;
    hsne.parameters().areaOfInfluenceWalks = 20000;
    hsne.computeScaleInCore(previous, scale);
    for (int start = 0; start < states; ++start) {
        std::vector<double> mass(states, 0.0), expected(fixed.size(), 0.0);
        mass[start] = 1;
        for (int step = 1; step <= limit; ++step) {
            std::vector<double> next(states, 0.0);
            for (int from = 0; from < states; ++from)
                for (const auto& [to, p] : chain50[from])
                    next[to] += mass[from] * p;
            for (int to = 0; to < states; ++to)
                if (scale.previousScaleToLandmark[to] >= 0) {
                    expected[scale.previousScaleToLandmark[to]] += next[to];
                    next[to] = 0;
                }
            mass = next;
        }
        for (uint32_t l = 0; l < fixed.size(); ++l)
            EXPECT_NEAR(scale.areaOfInfluence[start].valueOf(l), expected[l], 0.02) << start << " -> " << l;
    }
    // The procedure's steps search the rows' running sums; replayed from the
    // stream of its first block of points, scanning walks hit the same landmarks.
    std::seed_seq sequence{3u, 0u};
    std::mt19937 replay(sequence);
    for (uint32_t start = 0; start < states; ++start) {
        std::vector<int> hits(fixed.size(), 0);
        for (int w = 0; w < 20000; ++w) {
            const int64_t hit = HierarchicalSne::walkToLandmark(start, scale.previousScaleToLandmark, limit,
                                                                previous.transitionMatrix, replay);
            if (hit >= 0)
                ++hits[scale.previousScaleToLandmark[hit]];
        }
        for (uint32_t l = 0; l < fixed.size(); ++l)
            ASSERT_EQ(scale.areaOfInfluence[start].valueOf(l), hits[l] / 20000.0f) << start << " -> " << l;
    }
}

TEST(HierarchicalSne, MonteCarloSelectionFollowsTheWalkEndDistribution)
{
    // X_j, the walk ends on state j, is a sum over starts i of
    // Binomial(10, (T^11)_ij); state j is selected when X_j > 15.
    const int states = 40, seeds = 400;
    const std::vector<std::map<uint32_t, float>> rows = randomChain(states, 2, 11);
    const Scale previous = chainScale(rows);
    std::vector<std::vector<double>> power(states, std::vector<double>(states, 0.0));
    for (int i = 0; i < states; ++i)
        power[i][i] = 1;
    for (int step = 0; step < 11; ++step)
        for (auto& row : power) {
            std::vector<double> next(states, 0.0);
            for (int from = 0; from < states; ++from)
                for (const auto& [to, p] : rows[from])
                    next[to] += row[from] * p;
            row = next;
        }
    std::vector<int> selected(states, 0);
    for (int seed = 1; seed <= seeds; ++seed) {
        HierarchicalSne hsne;
        hsne.parameters().seed = seed;
        Scale scale;
        uint32_t landmarks = 0;
        hsne.selectLandmarksMonteCarlo(previous, scale, landmarks);
        for (uint32_t state : scale.landmarkToPreviousScale)
            ++selected[state];
    }
    for (int j = 0; j < states; ++j) {
        std::vector<double> distribution{1.0};
        for (int i = 0; i < states; ++i) {
            std::vector<double> next(distribution.size() + 10, 0.0);
            for (size_t x = 0; x < distribution.size(); ++x)
                for (int k = 0; k <= 10; ++k)
                    next[x + k] += distribution[x] * std::tgamma(11) / (std::tgamma(k + 1) * std::tgamma(11 - k))
                        * std::pow(power[i][j], k) * std::pow(1 - power[i][j], 10 - k);
            distribution = next;
        }
        const double p = std::accumulate(distribution.begin() + 16, distribution.end(), 0.0);
        EXPECT_NEAR(selected[j], p * seeds, 4 * std::sqrt(seeds * p * (1 - p)) + 1) << "state " << j;
    }
}

TEST(HierarchicalSne, DegenerateChainsSelectTooFewLandmarksOrStopAtTheBound)
{
    // A star: every walk of 11 steps from a leaf ends on the hub, the only landmark.
    std::vector<std::map<uint32_t, float>> star(21);
    for (uint32_t leaf = 1; leaf <= 20; ++leaf) {
        star[0][leaf] = 0.05f;
        star[leaf][0] = 1.0f;
    }
    VelRecordingLog log;
    HierarchicalSne hsne;
    hsne.setLog(&log);
    hsne.parameters().seed = 2;
    hsne.scales().push_back(chainScale(star));
    EXPECT_FALSE(hsne.addScale());
    EXPECT_EQ(hsne.scales().size(), 1u);
    EXPECT_EQ(log.count("\t#landmarks:\t1"), 1);
    EXPECT_EQ(log.count("\tFewer than 2 landmarks: no scale is added"), 1);

    Scale scale;
    uint32_t landmarks = 0;
    hsne.selectLandmarksMonteCarlo(chainScale({{{1, 1.0f}}, {{0, 1.0f}}}), scale, landmarks);
    EXPECT_EQ(landmarks, 0u);  // each of the two states gets exactly 10 ends

    hsne.parameters().monteCarloSelection = false;
    const Scale thousand = chainScale(randomChain(1000, 4, 3));
    hsne.selectLandmarksFixedReduction(thousand, scale, landmarks);
    EXPECT_EQ(landmarks, 100u);
    for (uint32_t l = 0; l < 100; ++l)
        EXPECT_EQ(scale.previousScaleToLandmark[scale.landmarkToPreviousScale[l]], static_cast<int32_t>(l));
    EXPECT_EQ(std::count(scale.previousScaleToLandmark.begin(), scale.previousScaleToLandmark.end(), -1), 900);

    // Every walk collapses onto state 0: one landmark, then the bound.
    std::vector<std::map<uint32_t, float>> collapsing(1000, std::map<uint32_t, float>{{0, 1.0f}});
    hsne.selectLandmarksFixedReduction(chainScale(collapsing), scale, landmarks);
    EXPECT_EQ(landmarks, 1u);
    EXPECT_EQ(hsne.statistics()[HierarchicalSne::LandmarkSelectionWalks], 100.0f * 1000 * 10);
    EXPECT_EQ(log.count("\tFixed reduction: stopped after 1000 walks per landmark sought"), 1);
}

TEST(HierarchicalSne, ScalesOfRealDataHaveProperRowsAndWeights)
{
    const int n = 5000, dims = 10;
    const std::vector<float> data = gaussianBlobs<float>(n, dims, 5, 4);
    const HierarchicalSne first = firstScale(data, dims, seeded(9));
    for (const bool outOfCore : {false, true}) {
        HierarchicalSne hsne = first;
        hsne.parameters().outOfCore = outOfCore;
        ASSERT_TRUE(hsne.addScale());
        const Scale& scale = hsne.scales()[1];
        const uint32_t landmarks = scale.size();
        EXPECT_GT(landmarks, 50u);
        EXPECT_LT(landmarks, 2500u);
        for (uint32_t l = 0; l < landmarks; ++l) {
            const MapMemEff& row = scale.transitionMatrix[l];
            EXPECT_NEAR(rowSum(row), 1, 1e-5) << l;
            for (const MapMemEff::Entry& entry : row) {
                ASSERT_LT(entry.key, landmarks);
                ASSERT_NE(entry.key, l);
                ASSERT_TRUE(std::isfinite(entry.value));
                if (outOfCore) {
                    ASSERT_GT(entry.value, 0.001f);
                }
            }
        }
        double weights = 0;
        for (float weight : scale.landmarkWeights)
            weights += weight;
        for (const MapMemEff& area : scale.areaOfInfluence)
            ASSERT_LE(rowSum(area), 1 + 1e-5);
        if (!outOfCore) {
            EXPECT_NEAR(weights, n, 0.01 * n);
        }
    }

    // Landmarks every walk reaches within 2 steps: all areas sum to 1, so
    // the weights sum to N.
    std::vector<std::map<uint32_t, float>> bipartite(100);
    for (uint32_t state = 0; state < 100; ++state)
        bipartite[state] = state < 10 ? std::map<uint32_t, float>{{10 + state, 0.5f}, {50 + state, 0.5f}}
                                      : std::map<uint32_t, float>{{state % 10, 0.5f}, {(state + 1) % 10, 0.5f}};
    const Scale previous = chainScale(bipartite);
    std::vector<uint32_t> hubs(10);
    std::iota(hubs.begin(), hubs.end(), 0u);
    Scale scale = landmarksAt(previous, hubs);
    HierarchicalSne hsne;
    hsne.parameters().seed = 5;
    hsne.computeScaleInCore(previous, scale);
    EXPECT_NEAR(std::accumulate(scale.landmarkWeights.begin(), scale.landmarkWeights.end(), 0.0), 100, 1e-5);
    EXPECT_FALSE(scale.transitionMatrix[0].empty());

    // Weights of 0 make every transition row empty, not NaN.
    Scale weightless = previous;
    weightless.landmarkWeights.assign(100, 0.0f);
    scale = landmarksAt(previous, hubs);
    hsne.computeScaleInCore(weightless, scale);
    for (const MapMemEff& row : scale.transitionMatrix)
        EXPECT_TRUE(row.empty());
}

TEST(HierarchicalSne, InfluenceOverScalesFollowsTheAreasOfInfluenceUpwards)
{
    const int dims = 6;
    const std::vector<float> data = gaussianBlobs<float>(3000, dims, 4, 8);
    HierarchicalSne hsne = firstScale(data, dims, seeded(3));
    std::vector<MapMemEff> maps;
    hsne.influenceOverScales(17, maps, 0.01f, true);
    ASSERT_EQ(maps.size(), 1u);
    ASSERT_EQ(maps[0].size(), 1u);
    EXPECT_EQ(maps[0].valueOf(17), 1.0f);

    ASSERT_TRUE(hsne.addScale());
    ASSERT_TRUE(hsne.addScale());
    const std::vector<Scale>& scales = hsne.scales();
    for (uint32_t point : {0u, 17u, 2999u}) {
        hsne.influenceOverScales(point, maps, 0.01f, true);
        ASSERT_EQ(maps.size(), 3u);
        for (const MapMemEff& map : maps)
            EXPECT_NEAR(rowSum(map), 1, 1e-5);

        hsne.influenceOverScales(point, maps, 0.0f, false);
        std::map<uint32_t, double> product;
        for (const MapMemEff::Entry& through : scales[1].areaOfInfluence[point])
            for (const MapMemEff::Entry& entry : scales[2].areaOfInfluence[through.key])
                product[entry.key] += double(through.value) * entry.value;
        ASSERT_EQ(maps[2].size(), product.size());
        for (const auto& [landmark, value] : product)
            EXPECT_NEAR(maps[2].valueOf(landmark), value, 1e-6);
        EXPECT_EQ(rowSum(maps[1]), rowSum(scales[1].areaOfInfluence[point]));
    }
}

TEST(HierarchicalSne, ScalesDependOnTheSeedOnlyNotOnTheThreads)
{
    const int dims = 6;
    const std::vector<float> data = gaussianBlobs<float>(3000, dims, 4, 12);
    const HierarchicalSne first = firstScale(data, dims, seeded(7));
    for (const bool monteCarlo : {true, false})
        for (const bool outOfCore : {false, true}) {
            auto build = [&](int threads, int seed) {
                omp_set_num_threads(threads);
                HierarchicalSne hsne = first;
                hsne.parameters().seed = seed;
                hsne.parameters().monteCarloSelection = monteCarlo;
                hsne.parameters().outOfCore = outOfCore;
                hsne.addScale();
                hsne.addScale();
                return hsne;
            };
            const int original = omp_get_max_threads();
            const HierarchicalSne one = build(1, 7);
            const HierarchicalSne eight = build(8, 7);
            const HierarchicalSne again = build(8, 7);
            const HierarchicalSne other = build(8, 8);
            omp_set_num_threads(original);
            SCOPED_TRACE(std::string(monteCarlo ? "Monte Carlo" : "fixed reduction") + (outOfCore ? ", out of core" : ", in core"));
            ASSERT_EQ(one.scales().size(), 3u);
            for (size_t s = 1; s < 3; ++s) {
                expectSameScale(one.scales()[s], eight.scales()[s]);
                expectSameScale(one.scales()[s], again.scales()[s]);
            }
            EXPECT_NE(one.scales()[1].landmarkToDataPoint, other.scales()[1].landmarkToDataPoint);
        }
}

TEST(HierarchicalSne, FixedSeedRepeatsTheHierarchyAndItsEmbeddingAtAnyThreadCount)
{
    const int dims = 6;
    const std::vector<float> data = gaussianBlobs<float>(3000, dims, 4, 12);
    auto run = [&](int threads) {
        const int original = omp_get_max_threads();
        omp_set_num_threads(threads);
        // Few checks: the neighbours found depend on the shape of the trees.
        HierarchicalSne::Parameters parameters = seeded(7);
        parameters.checks = 32;
        HierarchicalSne hsne = firstScale(data, dims, parameters);
        hsne.addScale();
        vel::SparseTsne::Parameters embedding;
        embedding.seed = 0;
        vel::SparseTsne tsne;
        vel::Embedding points;
        tsne.initialize(hsne.scales()[1].transitionMatrix, points, embedding);
        tsne.setTheta(0.5f);
        for (int i = 0; i < 20; ++i)
            tsne.iterate();
        omp_set_num_threads(original);
        return std::make_pair(hsne, points.coordinates());
    };
    const auto one = run(1);
    const auto eight = run(8);
    const auto again = run(8);
    for (size_t s = 0; s < 2; ++s) {
        SCOPED_TRACE("scale " + std::to_string(s));
        expectSameScale(one.first.scales()[s], eight.first.scales()[s]);
        expectSameScale(one.first.scales()[s], again.first.scales()[s]);
    }
    EXPECT_EQ(one.second, eight.second);
    EXPECT_EQ(one.second, again.second);
}

TEST(HierarchicalSne, StatisticsBlockShowsWhatTheProcedureSet)
{
    const int dims = 6;
    const std::vector<float> data = gaussianBlobs<float>(2000, dims, 4, 13);
    VelRecordingLog log;
    HierarchicalSne hsne = firstScale(data, dims, seeded(5));
    hsne.setLog(&log);
    hsne.setVerbose(true);
    hsne.parameters().monteCarloSelection = false;
    hsne.parameters().outOfCore = true;
    const int original = omp_get_max_threads();
    omp_set_num_threads(1);
    ASSERT_TRUE(hsne.addScale());
    omp_set_num_threads(original);

    for (const char* line : {"Add a new scale with out-of-core implementation ...", "\tComputing area of influence...",
                             "Start: Area of influence", "End: Area of influence", "\tCaching weights...",
                             "\tInverting the AoI matrix...", "\tComputing similarities...", "Start: Similarities",
                             "End: Similarities", "\tComputing finite markov chain..."})
        EXPECT_EQ(log.count(line), 1) << line;
    const auto first = std::find(log.lines.begin(), log.lines.end(),
                                 "\n--------------- Hierarchical-SNE Statistics ------------------");
    ASSERT_NE(first, log.lines.end());
    const std::vector<std::string> block(first + 1, std::find(first, log.lines.end(),
                                                              "--------------------------------------------------------------\n"));
    std::vector<std::string> labels;
    for (const std::string& line : block)
        labels.push_back(line.substr(0, line.find(':')));
    EXPECT_EQ(labels, (std::vector<std::string>{"Total time", "\tLandmark selection time", "\tLndks Slct #walks",
                                                "\tArea of Influence computation time", "\tFMC computation time",
                                                "\tAoI #walks", "\tIs sparsity (%)", "\tTs sparsity (%)",
                                                "\tTs effective sparsity (%)"}));
    EXPECT_EQ(block[5], "\tAoI #walks:\t\t\t\t200000");
    // The block shows the procedure's time; the call's own time replaced it afterwards.
    EXPECT_LE(std::stof(block[0].substr(block[0].find('\t') + 1)), hsne.statistics()[HierarchicalSne::TotalTime]);
    EXPECT_EQ(hsne.statistics()[HierarchicalSne::MonteCarloSamplingTime], -1.0f);
}
