#include "approx_tsne/ApproxTsneGradientDescent.h"
#include "approx_tsne/approx_tsne.h"
#include "VelRecordingLog.h"
#include "sparse_tsne/SparseTsne.h"
#include "support/GaussianBlobs.h"
#include "support/logicErrorText.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

using vel::Embedding;
using vel::MapMemEff;
using vel::SparseTsne;

namespace {

/// Every row gets `k` distinct random keys other than itself, values summing to 1.
std::vector<MapMemEff> randomRows(int n, int k, unsigned seed)
{
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> pick(0, n - 1);
    std::uniform_real_distribution<float> value(0.1f, 1.0f);
    std::vector<MapMemEff> rows(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        std::set<int> keys;
        while (static_cast<int>(keys.size()) < k) {
            const int j = pick(generator);
            if (j != i)
                keys.insert(j);
        }
        float sum = 0;
        for (int j : keys)
            sum += rows[i][static_cast<uint32_t>(j)] = value(generator);
        for (MapMemEff::Entry& entry : rows[i])
            entry.value /= sum;
    }
    return rows;
}

std::vector<MapMemEff> pairRows()
{
    std::vector<MapMemEff> rows(2);
    rows[0][1] = 1;
    rows[1][0] = 1;
    return rows;
}

SparseTsne::Parameters withSeed(int seed)
{
    SparseTsne::Parameters parameters;
    parameters.seed = seed;
    return parameters;
}

void placeRandomly(Embedding& embedding, unsigned seed)
{
    std::mt19937 generator(seed);
    std::normal_distribution<float> normal(0.0f, 2.0f);
    for (float& value : embedding.coordinates())
        value = normal(generator);
}

/// The exact gradient by a plain double loop over the dense joint matrix.
std::vector<double> bruteForceGradient(const SparseTsne& tsne, const std::vector<float>& y, int n, double e)
{
    auto kernel = [&](int i, int j) {
        const double dx = double(y[2 * i]) - y[2 * j], dy = double(y[2 * i + 1]) - y[2 * j + 1];
        return 1 / (1 + dx * dx + dy * dy);
    };
    double z = 0;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            z += i == j ? 0 : kernel(i, j);
    std::vector<double> gradient(static_cast<size_t>(n) * 2, 0.0);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            if (i == j)
                continue;
            const double q = kernel(i, j);
            const double factor = 4 * e * q * tsne.jointProbability(i, j) / n - 4 * q * q / z;
            gradient[2 * i] += factor * (double(y[2 * i]) - y[2 * j]);
            gradient[2 * i + 1] += factor * (double(y[2 * i + 1]) - y[2 * j + 1]);
        }
    return gradient;
}

/// Peak resident memory of this process in bytes, since the last reset.
long long peakResidentBytes()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stoll(line.substr(6)) * 1024;
    return -1;
}

} // namespace

TEST(SparseTsne, TwoPointsPinTheConventionsOfBothGradients)
{
    // p = 1 both ways, y0 = (1, 0), y1 = (-1, 0), E = 4, q = 0.2, Z = 0.4.
    // Barnes-Hut: E^2 p q / n * 2 - q^2 * 2 / Z = 3.2 - 0.2 = 3.0;
    // exact: 4 E q p / n * 2 - 4 q^2 * 2 / Z = 3.2 - 0.8 = 2.4.
    for (const float theta : {0.5f, 0.0f}) {
        Embedding embedding;
        SparseTsne tsne;
        tsne.initialize(pairRows(), embedding, withSeed(1));
        tsne.setTheta(theta);
        embedding.coordinates() = {1, 0, -1, 0};
        tsne.iterate(1.0);
        const float expected = theta != 0 ? 3.0f : 2.4f;
        EXPECT_FLOAT_EQ(tsne.gradient()[0], expected);
        EXPECT_FLOAT_EQ(tsne.gradient()[2], -expected);
        // Gain 1.2, learning rate 200; no rescaling of a wide embedding.
        EXPECT_FLOAT_EQ(embedding.coordinates()[0], 1 - 240 * expected);
        EXPECT_FLOAT_EQ(embedding.coordinates()[2], -1 + 240 * expected);
    }
}

TEST(SparseTsne, ExactGradientEqualsABruteForceLoopAndBarnesHutIsAQuarterOfIt)
{
    const int n = 200;
    const std::vector<MapMemEff> rows = randomRows(n, 6, 5);
    SparseTsne exact;
    Embedding exactEmbedding;
    exact.initialize(rows, exactEmbedding, withSeed(2));
    placeRandomly(exactEmbedding, 3);
    const std::vector<float> y = exactEmbedding.coordinates();
    exact.iterate(1.0);
    const std::vector<double> reference = bruteForceGradient(exact, y, n, 4.0);
    double largest = 0;
    for (double g : reference)
        largest = std::max(largest, std::abs(g));
    for (size_t c = 0; c < reference.size(); ++c)
        ASSERT_NEAR(exact.gradient()[c], reference[c], 1e-4 * (std::abs(reference[c]) + 1e-3 * largest)) << c;

    // At E = 1 the Barnes-Hut gradient, nearly exact at theta 1e-3, is a
    // quarter of the exact one.
    SparseTsne::Parameters unexaggerated = withSeed(2);
    unexaggerated.exaggerationFactor = 1;
    std::vector<float> gradients[2];
    for (int branch = 0; branch < 2; ++branch) {
        SparseTsne tsne;
        Embedding embedding;
        tsne.initialize(rows, embedding, unexaggerated);
        tsne.setTheta(branch == 0 ? 0.0f : 1e-3f);
        embedding.coordinates() = y;
        tsne.iterate(1.0);
        gradients[branch] = tsne.gradient();
    }
    largest = 0;
    for (float g : gradients[0])
        largest = std::max(largest, double(std::abs(g)));
    for (size_t c = 0; c < y.size(); ++c)
        ASSERT_NEAR(4 * gradients[1][c], gradients[0][c], 1e-3 * (std::abs(gradients[0][c]) + 1e-2 * largest)) << c;
}

TEST(SparseTsne, JointMatrixIsTheSymmetrisedRowsNotDividedByN)
{
    const int n = 60;
    const std::vector<MapMemEff> rows = randomRows(n, 4, 8);
    SparseTsne tsne;
    Embedding embedding;
    tsne.initialize(rows, embedding, withSeed(1));
    double total = 0;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            const float dense = (rows[i].valueOf(j) + rows[j].valueOf(i)) / 2;
            ASSERT_EQ(tsne.jointProbability(i, j), dense) << i << ", " << j;
            ASSERT_EQ(tsne.jointProbability(j, i), dense);
            total += dense;
        }
    EXPECT_NEAR(total, n, 1e-4);

    std::vector<MapMemEff> oneSided(3);
    oneSided[0][2] = 0.6f;
    tsne.initialize(oneSided, embedding, withSeed(1));
    EXPECT_EQ(tsne.jointProbability(0, 2), 0.3f);
    EXPECT_EQ(tsne.jointProbability(2, 0), 0.3f);
    EXPECT_EQ(tsne.jointProbability(1, 2), 0.0f);
}

TEST(SparseTsne, ExaggerationScheduleMessagesAndRescaling)
{
    SparseTsne tsne;
    EXPECT_FLOAT_EQ(tsne.exaggerationFactor(250), 4.0f);
    EXPECT_FLOAT_EQ(tsne.exaggerationFactor(251), 3.9016483f);
    EXPECT_FLOAT_EQ(tsne.exaggerationFactor(400), 1.0202138f);
    EXPECT_FLOAT_EQ(tsne.exaggerationFactor(401), 1.0f);

    // A learning rate of 0 leaves the points where the test puts them; while
    // the factor exceeds 1.2 (up to iteration 331) a small embedding is
    // scaled to a dimension-0 extent of 0.1, afterwards only centred.
    VelRecordingLog log;
    tsne.setLog(&log);
    SparseTsne::Parameters parameters = withSeed(1);
    parameters.learningRate = 0;
    Embedding embedding;
    tsne.initialize(randomRows(6, 2, 1), embedding, parameters);
    tsne.setTheta(0.5f);
    std::vector<float> box;
    for (uint32_t t = 0; t <= 333; ++t) {
        for (size_t c = 0; c < embedding.coordinates().size(); ++c)
            embedding.coordinates()[c] = 0.01f + 0.001f * (c % 5);
        tsne.iterate(1.0);
        embedding.computeBoundingBox(box);
        ASSERT_NEAR(box[0] + box[1], 0, 1e-6) << t;
        ASSERT_NEAR(box[1] - box[0], t <= 331 ? 0.1 : 0.004, 1e-4) << t;
    }
    EXPECT_EQ(log.count("Switch to final momentum..."), 1);
    EXPECT_EQ(log.count("Remove exaggeration..."), 1);
    EXPECT_EQ(log.count("Initializing tSNE..."), 1);
    EXPECT_EQ(log.count("Number of data points:\t6"), 1);
    EXPECT_EQ(log.count("Initialization complete!"), 1);
}

TEST(SparseTsne, SeededStartIsTheApproximatedTsneStart)
{
    const int n = 50000;
    auto start = [&](int seed) {
        std::vector<MapMemEff> rows(static_cast<size_t>(n));
        Embedding embedding;
        SparseTsne tsne;
        tsne.initialize(rows, embedding, withSeed(seed));
        return embedding.coordinates();
    };
    const std::vector<float> a = start(7);
    EXPECT_EQ(a, start(7));
    EXPECT_NE(a, start(8));
    double sum = 0, squares = 0;
    for (float v : a) {
        sum += v;
        squares += double(v) * v;
    }
    EXPECT_NEAR(sum / a.size(), 0, 2e-6);
    EXPECT_NEAR(std::sqrt(squares / a.size()), 1e-4, 0.03e-4);

    ApproxTsneProbabilities probabilities(n);
    std::vector<int32_t> flags(static_cast<size_t>(n), 0);
    std::vector<double> y(static_cast<size_t>(n) * 2);
    ApproxTsneGradientDescent descent;
    descent.parameters().seed = 7;
    descent.initialize(&probabilities, flags.data(), y.data(), 2);
    for (size_t c = 0; c < y.size(); ++c)
        ASSERT_EQ(a[c], static_cast<float>(y[c])) << c;
}

TEST(SparseTsne, OneAndEightThreadsGiveIdenticalRuns)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "long runs: the sanitizer build runs the same code in the shorter tests";
#endif
    for (const int n : {8000, 640}) {
        const std::vector<MapMemEff> rows = randomRows(n, 5, 12);
        auto run = [&](int threads) {
            omp_set_num_threads(threads);
            SparseTsne tsne;
            Embedding embedding;
            tsne.initialize(rows, embedding, withSeed(4));
            tsne.setTheta(n > 1000 ? 0.5f : 0.0f);
            for (int t = 0; t < 300; ++t)
                tsne.iterate(1.0);
            return embedding.coordinates();
        };
        const int original = omp_get_max_threads();
        const std::vector<float> one = run(1);
        const std::vector<float> eight = run(8);
        omp_set_num_threads(original);
        ASSERT_EQ(one.size(), eight.size());
        EXPECT_EQ(std::memcmp(one.data(), eight.data(), one.size() * sizeof(float)), 0) << n << " points";
    }
}

TEST(SparseTsne, BarnesHutRunsAllocateNoSquareKernel)
{
    const int n = 200000;
    std::vector<MapMemEff> rows = randomRows(n, 3, 13);
    std::ofstream("/proc/self/clear_refs") << "5";  // restarts the peak where the kernel allows it
    const long long before = peakResidentBytes();
    {
        SparseTsne tsne;
        Embedding embedding;
        tsne.initialize(rows, embedding, withSeed(1));
        tsne.setTheta(0.5f);
        for (int t = 0; t < 5; ++t)
            tsne.iterate(1.0);
    }
    EXPECT_LT(peakResidentBytes() - before, 1LL << 30);
}

TEST(SparseTsne, RefusesUninitialisedRunsAndUnusableRows)
{
    const char* uninitialised = "Cannot compute a gradient descent iteration on unitialized data";
    SparseTsne tsne;
    Embedding embedding;
    EXPECT_EQ(logicErrorText([&] { tsne.iterate(1.0); }), uninitialised);
    tsne.initialize(pairRows(), embedding, withSeed(1));
    tsne.iterate(1.0);
    tsne.reset();
    EXPECT_EQ(embedding.numberOfPoints(), 0u);
    EXPECT_EQ(logicErrorText([&] { tsne.iterate(1.0); }), uninitialised);
    tsne.initialize(pairRows(), embedding, withSeed(1));
    tsne.markUninitialized();
    EXPECT_EQ(logicErrorText([&] { tsne.iterate(1.0); }), uninitialised);

    std::vector<std::vector<MapMemEff>> refused(4, pairRows());
    refused[0].resize(1);
    refused[1][0][2] = 0.5f;
    refused[2][1][0] = -0.5f;
    refused[3][1][0] = std::numeric_limits<float>::quiet_NaN();
    Embedding untouched;
    untouched.initialize(2, 3, 1);
    for (const std::vector<MapMemEff>& rows : refused)
        EXPECT_THROW(tsne.initialize(rows, untouched, withSeed(1)), std::logic_error);
    SparseTsne::Parameters flat = withSeed(1);
    flat.embeddingDimensions = 0;
    EXPECT_THROW(tsne.initialize(pairRows(), untouched, flat), std::logic_error);
    EXPECT_EQ(untouched.coordinates(), std::vector<float>(6, 1));
}

TEST(SparseTsne, SeparatedBlobsStaySeparatedWithTheAnalysisSettings)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "a quality check: the sanitizer build runs the same code in the tests above";
#endif
    // Five blobs of 1000 points in 10 dimensions; the similarity stage's
    // 30-neighbour rows, normalised to 1, as a landmark scale gives them.
    const int blobs = 5, perBlob = 1000, n = blobs * perBlob, dims = 10;
    std::vector<double> data = gaussianBlobs<double>(n, dims, blobs, 21);
    ApproxTsneProbabilities probabilities(n);
    ApproxTsneParameters similarity;
    similarity.perplexity = 10;
    computeHighDimensionalProbabilities(similarity, data.data(), n, dims, probabilities);
    std::vector<MapMemEff> rows(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        for (int64_t e = probabilities.knnRowBegin(i); e < probabilities.knnRowEnd(i); ++e)
            rows[i].appendLargest(probabilities.knnKeys[e],
                                  static_cast<float>(probabilities.knnValues[e] / probabilities.rowSums[i]));

    SparseTsne::Parameters parameters = withSeed(3);
    parameters.exaggerationFactor = std::min(40.0, n / 5000.0 + 10);
    parameters.exaggerationDecayLength = 70;
    SparseTsne tsne;
    Embedding embedding;
    tsne.initialize(rows, embedding, parameters);
    tsne.setTheta(static_cast<float>(std::clamp((n - 1000) * 5e-5, 0.0, 0.5)));
    for (int t = 0; t < 1000; ++t)
        tsne.iterate(1.0);

    const std::vector<float>& y = embedding.coordinates();
    for (float v : y)
        ASSERT_TRUE(std::isfinite(v));
    EXPECT_GE(sameBlobNeighbourShare(y, n, blobs), 0.98);
}
