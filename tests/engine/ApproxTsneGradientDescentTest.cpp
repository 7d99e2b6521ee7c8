#include "approx_tsne/ApproxTsneGradientDescent.h"
#include "approx_tsne/approx_tsne.h"
#include "support/GaussianBlobs.h"

#include <gtest/gtest.h>

#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

/// Probabilities filled by hand: every point gets `k` random neighbours with
/// random Gaussian values; the joint rows are the symmetrised kNN rows.
ApproxTsneProbabilities randomProbabilities(int n, int k, unsigned seed)
{
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> pick(0, n - 1);
    std::uniform_real_distribution<double> value(0.05, 1.0);
    std::vector<std::vector<std::pair<int, double>>> knn(static_cast<size_t>(n));
    ApproxTsneProbabilities p(n);
    for (int i = 0; i < n; ++i) {
        std::set<int> chosen;
        while (static_cast<int>(chosen.size()) < std::min(k, n - 1)) {
            const int j = pick(generator);
            if (j != i)
                chosen.insert(j);
        }
        for (int j : chosen) {
            knn[i].emplace_back(j, value(generator));
            p.rowSums[i] += knn[i].back().second;
        }
    }
    auto knnValue = [&](int row, int key) {
        for (const auto& entry : knn[row])
            if (entry.first == key)
                return entry.second;
        return 0.0;
    };
    std::vector<std::set<int>> joint(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        for (const auto& entry : knn[i]) {
            joint[i].insert(entry.first);
            joint[entry.first].insert(i);
        }
    for (int r = 0; r < n; ++r) {
        for (int c : joint[r]) {
            p.jointKeys.push_back(c);
            p.jointFirstValues.push_back(knnValue(c, r));
            p.jointSecondValues.push_back(knnValue(r, c));
        }
        p.jointOffsets[r + 1] = static_cast<int64_t>(p.jointKeys.size());
    }
    p.normalisation = 2.0 * n;
    return p;
}

/// Two points that are each other's only neighbour: p = 0.5 both ways.
ApproxTsneProbabilities pairProbabilities()
{
    ApproxTsneProbabilities p(2);
    p.rowSums = {0.25, 0.25};
    p.jointOffsets = {0, 1, 2};
    p.jointKeys = {1, 0};
    p.jointFirstValues = {0.25, 0.25};
    p.jointSecondValues = {0.25, 0.25};
    p.normalisation = 4;
    return p;
}

std::vector<double> randomEmbedding(int n, int d, double spread, unsigned seed)
{
    std::mt19937 generator(seed);
    std::normal_distribution<double> normal(0.0, spread);
    std::vector<double> y(static_cast<size_t>(n) * d);
    for (double& v : y)
        v = normal(generator);
    return y;
}

/// Exact KL divergence of an embedding against the joint probabilities.
double bruteForceKl(const ApproxTsneProbabilities& p, const std::vector<double>& y, int d)
{
    auto q = [&](int i, int j) {
        double d2 = 0;
        for (int k = 0; k < d; ++k)
            d2 += (y[i * d + k] - y[j * d + k]) * (y[i * d + k] - y[j * d + k]);
        return 1 / (1 + d2);
    };
    double z = 0;
    for (int i = 0; i < p.N; ++i)
        for (int j = 0; j < p.N; ++j)
            if (i != j)
                z += q(i, j);
    double kl = 0;
    for (int i = 0; i < p.N; ++i)
        for (int64_t e = p.jointRowBegin(i); e < p.jointRowEnd(i); ++e) {
            const double pij = p.jointProbability(i, e);
            kl += pij * std::log(pij / (q(i, p.jointKeys[e]) / z));
        }
    return kl;
}

struct RecordingLog : orb::AbstractLog
{
    std::vector<std::string> lines;
    void clear() override { lines.clear(); }
    void display(const std::string& text) override { lines.push_back(text); }
    bool has(const std::string& text) const { return std::find(lines.begin(), lines.end(), text) != lines.end(); }
};

/// An engine over caller-owned data, initialised with a fixed seed.
struct DescentRun
{
    ApproxTsneProbabilities probabilities;
    std::vector<int32_t> flags;
    std::vector<double> y;
    ApproxTsneGradientDescent descent;

    DescentRun(ApproxTsneProbabilities p, int d, int seed = 3)
        : probabilities(std::move(p)), flags(static_cast<size_t>(probabilities.N), 0),
          y(static_cast<size_t>(probabilities.N) * d)
    {
        descent.parameters().seed = seed;
    }
    void initialize(int d) { descent.initialize(&probabilities, flags.data(), y.data(), d); }
    /// Overwrites the embedding in place (the engine keeps its address).
    void place(const std::vector<double>& values) { std::copy(values.begin(), values.end(), y.begin()); }
};

} // namespace

TEST(ApproxTsneGradientDescent, GradientIsAQuarterOfTheKlGradient)
{
    const int n = 30, d = 2;
    DescentRun run(randomProbabilities(n, 4, 1), d);
    run.descent.parameters().theta = 0;
    run.initialize(d);
    std::fill(run.probabilities.exaggerationWeights.begin(), run.probabilities.exaggerationWeights.end(), 1.0);
    run.place(randomEmbedding(n, d, 1.0, 2));

    std::vector<double> gradient(static_cast<size_t>(n) * d);
    double sumQ = 0;
    run.descent.computeGradient(gradient.data(), sumQ);

    const double h = 1e-5;
    for (size_t c = 0; c < run.y.size(); ++c) {
        std::vector<double> plus = run.y, minus = run.y;
        plus[c] += h;
        minus[c] -= h;
        const double numeric = (bruteForceKl(run.probabilities, plus, d) - bruteForceKl(run.probabilities, minus, d))
            / (2 * h);
        EXPECT_NEAR(4 * gradient[c], numeric, 1e-7) << "coordinate " << c;
    }
}

TEST(ApproxTsneGradientDescent, GradientStaysExactWhileTheEmbeddingMoves)
{
    // The engine keeps its own layouts of the rows between steps; after many
    // steps the gradient must still be the plain sums over the joint rows and
    // all pairs.
    const int n = 3000, d = 2;
    DescentRun run(randomProbabilities(n, 5, 9), d);
    run.initialize(d);
    for (int t = 0; t < 35; ++t)
        run.descent.iterate();
    run.descent.parameters().theta = 0;
    std::vector<double> gradient(static_cast<size_t>(n) * d);
    double sumQ = 0;
    run.descent.computeGradient(gradient.data(), sumQ);

    const ApproxTsneProbabilities& p = run.probabilities;
    const std::vector<double>& y = run.y;
    double z = 0;
    std::vector<double> repulsion(static_cast<size_t>(n) * d, 0.0);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            if (i == j)
                continue;
            const double dx = y[2 * i] - y[2 * j], dy = y[2 * i + 1] - y[2 * j + 1];
            const double q = 1 / (1 + dx * dx + dy * dy);
            z += q;
            repulsion[2 * i] += q * q * dx;
            repulsion[2 * i + 1] += q * q * dy;
        }
    EXPECT_NEAR(sumQ, z, 1e-9 * z);
    for (int i = 0; i < n; ++i) {
        double attraction[2] = {0, 0};
        for (int64_t e = p.jointRowBegin(i); e < p.jointRowEnd(i); ++e) {
            const int j = p.jointKeys[e];
            const double dx = y[2 * i] - y[2 * j], dy = y[2 * i + 1] - y[2 * j + 1];
            const double factor = p.jointProbability(i, e) * p.exaggerationWeights[i] / (1 + dx * dx + dy * dy);
            attraction[0] += factor * dx;
            attraction[1] += factor * dy;
        }
        for (int k = 0; k < d; ++k) {
            const double expected = attraction[k] - repulsion[2 * i + k] / z;
            ASSERT_NEAR(gradient[2 * i + k], expected, 1e-9 * (std::abs(expected) + 1e-6)) << "point " << i;
        }
    }
}

TEST(ApproxTsneGradientDescent, TwoPointsFollowTheHandComputedFirstStep)
{
    RecordingLog log;
    DescentRun run(pairProbabilities(), 2);
    run.descent.setLog(&log);
    run.initialize(2);
    EXPECT_TRUE(log.has("Initialization of the t-SNE gradient descent"));
    EXPECT_TRUE(log.has("Exaggeration factor: 10.0004"));
    EXPECT_EQ(run.descent.minimum(), std::vector<double>({-1, -1}));
    EXPECT_EQ(run.descent.maximum(), std::vector<double>({1, 1}));

    // E = 2 / 5000 + 10; attraction on point 0: 0.5 E (2, 0) / 5; repulsion:
    // q = 0.2 on each point, sumQ = 0.4, negative force 0.2 * 0.2 * (2, 0).
    // gradient 2.00008 - 0.2 = 1.80008; gain 1.2; update -1.2 * 200 * 1.80008.
    run.y = {1, 0, -1, 0};
    run.descent.iterate();
    EXPECT_NEAR(run.y[0], -431.0192, 1e-9);
    EXPECT_NEAR(run.y[2], 431.0192, 1e-9);
    EXPECT_EQ(run.y[1], 0);
    EXPECT_EQ(run.y[3], 0);
    EXPECT_NEAR(run.descent.minimum()[0], -431.0192, 1e-9);
    EXPECT_NEAR(run.descent.maximum()[0], 431.0192, 1e-9);
    EXPECT_EQ(run.descent.minimum()[1], 0);
    EXPECT_EQ(run.descent.maximum()[1], DBL_MIN);  // the maximum never falls below it
    EXPECT_EQ(run.descent.iteration(), 1);
}

TEST(ApproxTsneGradientDescent, GainsAndMomentumFollowThePreviousUpdate)
{
    const int n = 40, d = 2;
    DescentRun run(randomProbabilities(n, 5, 4), d);
    run.descent.parameters().momentumSwitchIteration = 2;
    run.descent.parameters().stepGrowthLimit = 1e300;  // tested on its own below
    run.initialize(d);
    run.place(randomEmbedding(n, d, 2.0, 5));
    const double eta = run.descent.parameters().learningRate;

    // Each step: coordinate change = momentum * previous - gain * eta * g,
    // then the common shift of the centring.
    std::vector<double> previous(run.y.size(), 0.0), gain(run.y.size(), 1.0);
    for (int step = 0; step < 4; ++step) {
        std::vector<double> g(run.y.size());
        double sumQ = 0;
        run.descent.computeGradient(g.data(), sumQ);
        const std::vector<double> before = run.y;
        run.descent.iterate();
        const double momentum = step < 2 ? 0.5 : 0.8;
        std::vector<double> update(run.y.size());
        double shift[2] = {0, 0};
        for (size_t c = 0; c < update.size(); ++c) {
            const bool flip = (g[c] > 0) != (previous[c] > 0) || (g[c] == 0) != (previous[c] == 0);
            gain[c] = std::max(flip ? gain[c] + 0.2 : gain[c] * 0.8, 0.01);
            update[c] = momentum * previous[c] - gain[c] * eta * g[c];
            shift[c % 2] += (before[c] + update[c]) / n;
        }
        for (size_t c = 0; c < update.size(); ++c) {
            ASSERT_NEAR(run.y[c], before[c] + update[c] - shift[c % 2], 1e-9 * (1 + std::abs(update[c])))
                << "step " << step << " coordinate " << c;
            if (step == 0 && g[c] != 0) {
                EXPECT_EQ(gain[c], 1.2);  // every non-zero gradient flips against a zero update
            }
        }
        previous = update;
    }
}

TEST(ApproxTsneGradientDescent, StepGrowthIsLimitedByThePreviousUpdate)
{
    const int n = 20, d = 2;
    DescentRun run(randomProbabilities(n, 4, 6), d);
    run.initialize(d);
    run.place(randomEmbedding(n, d, 1.0, 7));
    run.descent.parameters().learningRate = 1e-6;  // a tiny first update
    std::vector<double> g(run.y.size());
    double sumQ = 0;
    run.descent.computeGradient(g.data(), sumQ);
    std::vector<double> before = run.y;
    run.descent.iterate();
    std::vector<double> first(run.y.size());
    for (size_t c = 0; c < first.size(); ++c)
        first[c] = -1.2 * 1e-6 * g[c];

    run.descent.parameters().learningRate = 200;
    run.descent.computeGradient(g.data(), sumQ);
    before = run.y;
    run.descent.iterate();
    // Every step is cut to 7.5 previous updates: the new update is
    // 0.5 previous - sign(g) 7.5 |previous|.
    double shift[2] = {0, 0};
    std::vector<double> update(first.size());
    for (size_t c = 0; c < first.size(); ++c) {
        const double s = (g[c] > 0) - (g[c] < 0);
        update[c] = 0.5 * first[c] - s * 7.5 * std::abs(first[c]);
        shift[c % 2] += (before[c] + update[c]) / n;
    }
    for (size_t c = 0; c < first.size(); ++c)
        EXPECT_NEAR(run.y[c], before[c] + update[c] - shift[c % 2], 1e-12);
}

TEST(ApproxTsneGradientDescent, ExaggerationIsRemovedAtOnceOrDecays)
{
    const double e = 2 / 5000.0 + 10;
    {
        DescentRun run(pairProbabilities(), 2);
        run.descent.parameters().exaggerationRemovalIteration = 3;
        run.initialize(2);
        std::vector<double> seen;
        for (int t = 0; t < 5; ++t) {
            run.descent.iterate();
            seen.push_back(run.probabilities.exaggerationWeights[1]);
        }
        EXPECT_EQ(seen, std::vector<double>({e, e, e, 1, 1}));
    }
    {
        DescentRun run(pairProbabilities(), 2);
        run.descent.parameters().exaggerationRemovalIteration = 2;
        run.descent.parameters().exponentialDecay = true;
        run.descent.parameters().exaggerationDecayFactor = 0.5;
        run.initialize(2);
        std::vector<double> seen;
        for (int t = 0; t < 7; ++t) {
            run.descent.iterate();
            seen.push_back(run.probabilities.exaggerationWeights[0]);
        }
        EXPECT_EQ(seen, std::vector<double>({e, e, e * 0.5, e * 0.25, e * 0.125, 1, 1}));
    }
}

TEST(ApproxTsneGradientDescent, MomentumSwitchIsAnnounced)
{
    RecordingLog log;
    DescentRun run(pairProbabilities(), 2);
    run.descent.setLog(&log);
    run.descent.parameters().momentumSwitchIteration = 2;
    run.initialize(2);
    run.descent.iterate();
    run.descent.iterate();
    EXPECT_FALSE(log.has("Switch momentum!"));
    run.descent.iterate();
    EXPECT_TRUE(log.has("Switch momentum!"));
    RecordingLog quiet;
    DescentRun silent(pairProbabilities(), 2);
    silent.descent.setLog(&quiet);
    silent.descent.setVerbose(false);
    silent.descent.parameters().momentumSwitchIteration = 0;
    silent.initialize(2);
    silent.descent.iterate();
    EXPECT_EQ(quiet.lines, std::vector<std::string>({"Initialization of the t-SNE gradient descent"}));
}

TEST(ApproxTsneGradientDescent, FixedPointsOnlyFollowTheCentring)
{
    const int n = 50, d = 2;
    DescentRun run(randomProbabilities(n, 5, 8), d);
    run.flags[0] = 2;
    run.flags[1] = 6;
    run.flags[2] = 1;  // other bits do not fix a point
    run.initialize(d);
    run.place(randomEmbedding(n, d, 1.0, 9));
    run.y[0] = 40;
    run.y[2] = -35;
    for (int t = 0; t < 3; ++t) {
        const double gap = run.y[0] - run.y[2];
        const double movedBefore = run.y[4];
        run.descent.iterate();
        EXPECT_NEAR(run.y[0] - run.y[2], gap, 1e-12);
        EXPECT_NE(run.y[4], movedBefore);
        EXPECT_LT(run.descent.maximum()[0], 39.0);  // the fixed points enter no bound
    }
}

TEST(ApproxTsneGradientDescent, SeedGivesTheStartingEmbedding)
{
    auto start = [](int seed) {
        DescentRun run(randomProbabilities(2000, 3, 10), 2, seed);
        run.initialize(2);
        return run.y;
    };
    const std::vector<double> a = start(17);
    EXPECT_EQ(a, start(17));
    EXPECT_NE(a, start(18));
    double sum = 0, squares = 0;
    for (double v : a) {
        sum += v;
        squares += v * v;
    }
    const double mean = sum / a.size();
    EXPECT_NEAR(mean, 0, 1e-5);
    EXPECT_NEAR(std::sqrt(squares / a.size() - mean * mean), 1e-4, 0.1e-4);
}

TEST(ApproxTsneGradientDescent, InitializationChecks)
{
    DescentRun run(pairProbabilities(), 2);
    try {
        run.descent.iterate();
        FAIL() << "iterate before initialize";
    } catch (const std::logic_error& error) {
        EXPECT_STREQ(error.what(), "Initialization check failed!!");
    }
    run.initialize(2);
    try {
        run.initialize(2);
        FAIL() << "second initialize";
    } catch (const std::logic_error& error) {
        EXPECT_EQ(std::string(error.what()).rfind("A precondition has been violated!\n", 0), 0u);
    }
}

TEST(ApproxTsneGradientDescent, SameResultOnOneAndEightThreadsAndUnderLoad)
{
    const int n = 16000, d = 2;  // large enough for the tree's parallel subtrees
    const ApproxTsneProbabilities probabilities = randomProbabilities(n, 6, 11);
    auto runWith = [&](int threads, double& kl) {
        omp_set_num_threads(threads);
        DescentRun run(probabilities, d);
        run.descent.parameters().computeKlDivergence = true;
        run.initialize(d);
        for (int t = 0; t < 6; ++t)
            run.descent.iterate();
        kl = run.descent.klDivergence();
        return run.y;
    };
    const int original = omp_get_max_threads();
    double kl1 = 0, kl8 = 0, klLoaded = 0;
    const std::vector<double> one = runWith(1, kl1);
    const std::vector<double> eight = runWith(8, kl8);
    // Busy threads take the cores from the engine's threads at random times.
    std::atomic<bool> stop{false};
    std::vector<std::thread> busy;
    for (int b = 0; b < 8; ++b)
        busy.emplace_back([&stop] {
            volatile double x = 1;
            while (!stop.load(std::memory_order_relaxed))
                x = x * 1.0000001 + 1e-9;
        });
    const std::vector<double> loaded = runWith(8, klLoaded);
    stop.store(true);
    for (std::thread& thread : busy)
        thread.join();
    omp_set_num_threads(original);
    ASSERT_EQ(one.size(), eight.size());
    EXPECT_EQ(std::memcmp(one.data(), eight.data(), one.size() * sizeof(double)), 0);
    EXPECT_EQ(std::memcmp(one.data(), loaded.data(), one.size() * sizeof(double)), 0);
    EXPECT_EQ(kl1, kl8);
    EXPECT_EQ(kl1, klLoaded);
}

TEST(ApproxTsneGradientDescent, SeparatedBlobsStaySeparatedAndKlFallsAfterExaggeration)
{
    // Five well-separated Gaussian blobs in 10 dimensions.
    const int blobs = 5, perBlob = 200, n = blobs * perBlob, dims = 10;
    std::vector<double> data = gaussianBlobs<double>(n, dims, blobs, 21);
    ApproxTsneProbabilities probabilities(n);
    ApproxTsneParameters parameters;
    parameters.checks = 1024;
    computeHighDimensionalProbabilities(parameters, data.data(), n, dims, probabilities);

    DescentRun run(std::move(probabilities), 2);
    run.initialize(2);
    std::vector<double> kl(500, 0.0);
    for (int t = 0; t < 500; ++t) {
        run.descent.parameters().computeKlDivergence = t == 260 || t == 300 || t == 499;
        run.descent.iterate();
        kl[t] = run.descent.klDivergence();
    }
    EXPECT_LT(kl[499], kl[260]);
    EXPECT_LT(kl[499], kl[300]);
    EXPECT_GT(kl[499], 0);
    EXPECT_GE(sameBlobNeighbourShare(run.y, n, blobs), 0.98);
}
