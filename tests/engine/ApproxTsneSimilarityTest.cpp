#include "approx_tsne/ApproxTsneGradientDescent.h"
#include "approx_tsne/approx_tsne.h"
#include "helpers/CoutLog.h"
#include "support/logicErrorText.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

std::vector<double> randomPoints(int n, int d, unsigned seed)
{
    std::mt19937 generator(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::vector<double> data(static_cast<size_t>(n) * d);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < d; ++j)
            data[static_cast<size_t>(i) * d + j] = normal(generator) + (i % 3) * 4.0;
    return data;
}

double distance(const std::vector<double>& data, int d, int a, int b)
{
    double sum = 0;
    for (int j = 0; j < d; ++j) {
        const double diff = data[static_cast<size_t>(a) * d + j] - data[static_cast<size_t>(b) * d + j];
        sum += diff * diff;
    }
    return std::sqrt(sum);
}

/// A run with checks at least N. The search is then nearly, not always,
/// exact: the KD-trees are shuffled from a random device, and the branch
/// bound adds up repeated splits of one dimension, so a rare row may miss a
/// neighbour.
struct ExactRun
{
    static constexpr int n = 400;
    static constexpr int d = 6;
    static constexpr int perplexity = 10;
    std::vector<double> data = randomPoints(n, d, 7);
    std::vector<double> original = data;
    ApproxTsneProbabilities probabilities{n};

    ExactRun()
    {
        ApproxTsneParameters parameters;
        parameters.perplexity = perplexity;
        parameters.checks = 4096;
        parameters.cores = 4;
        computeHighDimensionalProbabilities(parameters, data.data(), n, d, probabilities);
    }

    double knnValue(int row, int key) const
    {
        for (int64_t e = probabilities.knnRowBegin(row); e < probabilities.knnRowEnd(row); ++e)
            if (probabilities.knnKeys[e] == key)
                return probabilities.knnValues[e];
        return 0;
    }
};

TEST(ApproxTsneSimilarities, NeighboursEqualBruteForceAndRowsMatchThePerplexity)
{
    ExactRun run;
    const int k = ExactRun::perplexity * 3;
    int converged = 0, exact = 0;
    for (int i = 0; i < ExactRun::n; ++i) {
        std::vector<std::pair<double, int>> byDistance;
        for (int j = 0; j < ExactRun::n; ++j)
            if (j != i)
                byDistance.push_back({distance(run.data, ExactRun::d, i, j), j});
        std::sort(byDistance.begin(), byDistance.end());
        std::vector<int> expected;
        for (int m = 0; m < k; ++m)
            expected.push_back(byDistance[m].second);
        std::sort(expected.begin(), expected.end());
        const std::vector<int> found(run.probabilities.knnKeys.begin() + run.probabilities.knnRowBegin(i),
                                     run.probabilities.knnKeys.begin() + run.probabilities.knnRowEnd(i));
        ASSERT_EQ(found.size(), expected.size()) << "point " << i;
        exact += found == expected;
        double foundTotal = 0, expectedTotal = 0;
        for (int m = 0; m < k; ++m) {
            foundTotal += distance(run.data, ExactRun::d, i, found[m]);
            expectedTotal += byDistance[m].first;
        }
        EXPECT_LE(foundTotal, expectedTotal * 1.05) << "point " << i;

        // Entropy of the stored Gaussian, recomputed from the stored values.
        double weighted = 0;
        for (int m = 0; m < k; ++m) {
            const int j = found[m];
            weighted += distance(run.data, ExactRun::d, i, j) * run.knnValue(i, j);
        }
        const double sum = run.probabilities.rowSums[i];
        const double entropy = std::log(sum) + run.probabilities.precisions[i] * weighted / sum;
        if (std::abs(entropy - std::log(double(ExactRun::perplexity))) < 1e-5 + 1e-9)
            ++converged;
    }
    EXPECT_EQ(converged, ExactRun::n);
    EXPECT_GE(exact, ExactRun::n * 99 / 100);
}

TEST(ApproxTsneSimilarities, JointProbabilitiesAreSymmetricSumToOneAndMatchADenseReference)
{
    ExactRun run;
    const ApproxTsneProbabilities& p = run.probabilities;
    EXPECT_EQ(p.normalisation, 2.0 * ExactRun::n);

    std::map<std::pair<int, int>, double> joint;
    double total = 0;
    for (int r = 0; r < ExactRun::n; ++r) {
        for (int64_t e = p.jointRowBegin(r); e < p.jointRowEnd(r); ++e) {
            if (e > p.jointRowBegin(r)) {
                ASSERT_LT(p.jointKeys[e - 1], p.jointKeys[e]);
            }
            const int c = p.jointKeys[e];
            const ApproxTsneProbabilities::JointEntry entry = p.jointEntry(r, e);
            EXPECT_EQ(entry.firstIndex, c);
            EXPECT_EQ(entry.secondIndex, r);
            EXPECT_EQ(entry.firstValue, run.knnValue(c, r));
            EXPECT_EQ(entry.secondValue, run.knnValue(r, c));
            joint[{r, c}] = p.jointProbability(r, e);
            total += p.jointProbability(r, e);
        }
    }
    EXPECT_NEAR(total, 1.0, 1e-12);

    // The key sets are exactly the union of both neighbour directions, and
    // every pair carries the same probability in both rows.
    std::set<std::pair<int, int>> expectedPairs;
    for (int r = 0; r < ExactRun::n; ++r)
        for (int64_t e = p.knnRowBegin(r); e < p.knnRowEnd(r); ++e) {
            expectedPairs.insert({r, p.knnKeys[e]});
            expectedPairs.insert({p.knnKeys[e], r});
        }
    ASSERT_EQ(joint.size(), expectedPairs.size());
    for (const auto& [pair, probability] : joint) {
        ASSERT_TRUE(expectedPairs.count(pair));
        EXPECT_EQ(probability, joint.at({pair.second, pair.first}));
    }
}

TEST(ApproxTsneSimilarities, KlDivergenceEqualsABruteForceDoubleLoop)
{
    ExactRun run;
    const int n = ExactRun::n;
    std::vector<double> embedding = randomPoints(n, 2, 11);
    double sumQ = 0;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            if (i != j)
                sumQ += 1.0 / (1.0 + std::pow(distance(embedding, 2, i, j), 2));

    double expected = 0;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            const double pij = (run.knnValue(j, i) / run.probabilities.rowSums[j]
                                + run.knnValue(i, j) / run.probabilities.rowSums[i])
                / (2.0 * n);
            if (run.knnValue(j, i) == 0 && run.knnValue(i, j) == 0)
                continue;
            const double q = 1.0 / (1.0 + std::pow(distance(embedding, 2, i, j), 2)) / sumQ;
            expected += pij * std::log((pij + FLT_MIN) / (q + FLT_MIN));
        }
    }
    double total = 0, minimum = 0, maximum = 0;
    run.probabilities.computeKlDivergence(embedding.data(), 2, sumQ, total, minimum, maximum);
    EXPECT_NEAR(total, expected, 1e-9 * std::abs(expected));
    EXPECT_LE(minimum, maximum);
    EXPECT_GT(total, 0);
}

TEST(ApproxTsneSimilarities, NormalisationCentresAndScalesTheInput)
{
    ExactRun run;
    double maximum = -1;
    for (int j = 0; j < ExactRun::d; ++j) {
        double mean = 0;
        for (int i = 0; i < ExactRun::n; ++i) {
            mean += run.data[static_cast<size_t>(i) * ExactRun::d + j];
            maximum = std::max(maximum, run.data[static_cast<size_t>(i) * ExactRun::d + j]);
        }
        EXPECT_NEAR(mean / ExactRun::n, 0.0, 1e-12);
    }
    EXPECT_EQ(maximum, 1.0);

    std::vector<double> untouched = randomPoints(100, 3, 5);
    const std::vector<double> copy = untouched;
    ApproxTsneParameters skip;
    skip.perplexity = 5;
    skip.skipNormalization = true;
    ApproxTsneProbabilities probabilities(100);
    computeHighDimensionalProbabilities(skip, untouched.data(), 100, 3, probabilities);
    EXPECT_EQ(untouched, copy);
}

/// The text of the std::logic_error the stage throws for this input.
std::string refusal(std::vector<double>& data, int n, int d, int probabilitiesN)
{
    ApproxTsneParameters parameters;
    ApproxTsneProbabilities probabilities(probabilitiesN);
    return logicErrorText([&] { computeHighDimensionalProbabilities(parameters, data.data(), n, d, probabilities); });
}

TEST(ApproxTsneSimilarities, PreconditionsAreCheckedBeforeAnyWork)
{
    std::vector<double> data = randomPoints(50, 3, 3);
    const std::vector<double> copy = data;
    EXPECT_EQ(refusal(data, 50, 3, 49).rfind("A precondition has been violated!\nFile: ", 0), 0u);
    EXPECT_EQ(data, copy);
    // 50 points cannot have 90 neighbours each.
    EXPECT_EQ(refusal(data, 50, 3, 50),
              "The similarity stage needs at least perplexity x multiplier + 1 = 91 points, got 50.");
    EXPECT_EQ(data, copy);
    EXPECT_EQ(refusal(data, 0, 3, 0), "The similarity stage needs at least one point.");
    std::vector<double> many = randomPoints(100, 3, 3);
    EXPECT_EQ(refusal(many, 100, 0, 100), "The similarity stage needs at least one dimension.");
    // One NaN or infinity would turn every row sum into NaN.
    many[7 * 3 + 1] = std::nan("");
    EXPECT_EQ(refusal(many, 100, 3, 100),
              "The similarity stage needs finite values; point 7 holds a value that is not a finite number.");
    many[7 * 3 + 1] = 0.5;
    many[99 * 3 + 2] = -HUGE_VAL;
    EXPECT_NE(refusal(many, 100, 3, 100).find("; point 99 holds"), std::string::npos);
}

TEST(ApproxTsneSimilarities, OneAndEightThreadsGiveTheSameProbabilities)
{
    // Every row holds all other points (K = N - 1), so the search is exact
    // whatever shape the randomly shuffled trees take, and every difference
    // would come from the stage itself.
    const int perplexity = 200, n = 3 * perplexity + 1, d = 12;
    std::vector<ApproxTsneProbabilities> results;
    for (int threads : {1, 8}) {
        std::vector<double> data = randomPoints(n, d, 21);
        ApproxTsneParameters parameters;
        parameters.perplexity = perplexity;
        parameters.checks = 4096;
        parameters.cores = threads;
        const int previous = omp_get_max_threads();
        omp_set_num_threads(threads);
        results.emplace_back(n);
        computeHighDimensionalProbabilities(parameters, data.data(), n, d, results.back());
        omp_set_num_threads(previous);
    }
    const ApproxTsneProbabilities& a = results[0];
    const ApproxTsneProbabilities& b = results[1];
    EXPECT_EQ(a.knnOffsets, b.knnOffsets);
    EXPECT_EQ(a.knnKeys, b.knnKeys);
    EXPECT_EQ(a.knnValues, b.knnValues);
    EXPECT_EQ(a.rowSums, b.rowSums);
    EXPECT_EQ(a.precisions, b.precisions);
    EXPECT_EQ(a.jointOffsets, b.jointOffsets);
    EXPECT_EQ(a.jointKeys, b.jointKeys);
    EXPECT_EQ(a.jointFirstValues, b.jointFirstValues);
    EXPECT_EQ(a.jointSecondValues, b.jointSecondValues);
}

TEST(ApproxTsneSimilarities, FixedSeedRepeatsTheWholeRunAtAnyThreadCount)
{
    // Few checks for the neighbours sought: what the search finds depends on
    // the shape of its trees.
    const int n = 3000, d = 10;
    auto run = [&](int threads) {
        const int previous = omp_get_max_threads();
        omp_set_num_threads(threads);
        std::vector<double> data = randomPoints(n, d, 5);
        ApproxTsneParameters parameters;
        parameters.perplexity = 10;
        parameters.checks = 32;
        parameters.cores = threads;
        parameters.seed = 1;
        ApproxTsneProbabilities probabilities(n);
        computeHighDimensionalProbabilities(parameters, data.data(), n, d, probabilities);
        std::vector<int32_t> flags(n, 0);
        std::vector<double> embedding(2 * n);
        ApproxTsneGradientDescent descent;
        descent.parameters().seed = 1;
        descent.initialize(&probabilities, flags.data(), embedding.data(), 2);
        for (int i = 0; i < 20; ++i)
            descent.iterate();
        omp_set_num_threads(previous);
        return std::make_pair(probabilities.jointKeys, embedding);
    };
    const auto one = run(1);
    const auto eight = run(8);
    const auto again = run(8);
    EXPECT_EQ(one.first, eight.first);
    EXPECT_EQ(one.first, again.first);
    EXPECT_EQ(one.second, eight.second);
    EXPECT_EQ(one.second, again.second);
}

TEST(ApproxTsneSimilarities, DuplicatePointsStillGiveCompleteRows)
{
    // Many exact duplicates: a point may find a twin in column 0 and itself
    // among its neighbours; rows stay key-sorted and within K entries.
    const int n = 200, d = 2;
    std::vector<double> data(static_cast<size_t>(n) * d);
    for (int i = 0; i < n; ++i) {
        data[static_cast<size_t>(i) * d] = i % 20;
        data[static_cast<size_t>(i) * d + 1] = (i % 20) * 0.5;
    }
    ApproxTsneParameters parameters;
    parameters.perplexity = 5;
    parameters.checks = 4096;
    ApproxTsneProbabilities probabilities(n);
    computeHighDimensionalProbabilities(parameters, data.data(), n, d, probabilities);
    double total = 0;
    for (int r = 0; r < n; ++r) {
        EXPECT_LE(probabilities.knnRowEnd(r) - probabilities.knnRowBegin(r), 15);
        for (int64_t e = probabilities.jointRowBegin(r); e < probabilities.jointRowEnd(r); ++e)
            total += probabilities.jointProbability(r, e);
    }
    EXPECT_NEAR(total, 1.0, 1e-9);
}

} // namespace
