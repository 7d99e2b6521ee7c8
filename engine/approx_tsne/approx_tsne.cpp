#include "approx_tsne/approx_tsne.h"

#include "helpers/ScopedTimer.h"
#include "helpers/initialization_helper.h"
#include "helpers/logValue.h"

#include <flann/flann.hpp>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <numeric>
#include <stdexcept>
#include <string>

namespace {

constexpr double kSmallestNormal = 2.2250738585072014e-308;

void say(const ApproxTsneParameters& parameters, const char* text, bool onlyWhenVerbose)
{
    if (parameters.log && (parameters.verbose || !onlyWhenVerbose))
        parameters.log->display(text);
}

/// Fits one point's Gaussian to the perplexity by bisection on beta; writes
/// the un-normalised values of the last evaluated beta into `values`.
void fitGaussian(const double* distances, int k, double perplexity, double* values, double& rowSum,
                 double& precision)
{
    double beta = 1;
    double betaMin = -DBL_MAX;
    double betaMax = DBL_MAX;
    const double target = std::log(perplexity);
    double sum = kSmallestNormal;
    for (int iteration = 0; iteration < 200; ++iteration) {
        sum = kSmallestNormal;
        double weighted = 0;
        for (int m = 0; m < k; ++m) {
            values[m] = std::exp(-beta * distances[m]);
            sum += values[m];
            weighted += distances[m] * values[m];
        }
        const double entropy = std::log(sum) + beta * weighted / sum;
        const double diff = entropy - target;
        if (diff < 1e-5 && -diff < 1e-5)
            break;
        if (diff > 0) {
            betaMin = beta;
            if (betaMax == DBL_MAX || betaMax == -DBL_MAX)
                beta *= 2;
            else
                beta = (beta + betaMax) / 2;
        } else {
            betaMax = beta;
            if (betaMin == -DBL_MAX || betaMin == DBL_MAX)
                beta /= 2;
            else
                beta = (beta + betaMin) / 2;
        }
    }
    rowSum = sum;
    precision = beta;
}

/// Value of `key` in kNN row `row`, 0 when absent.
double knnValue(const ApproxTsneProbabilities& p, int row, int32_t key)
{
    const auto begin = p.knnKeys.begin() + p.knnOffsets[row];
    const auto end = p.knnKeys.begin() + p.knnOffsets[row + 1];
    const auto found = std::lower_bound(begin, end, key);
    if (found == end || *found != key)
        return 0;
    return p.knnValues[static_cast<size_t>(found - p.knnKeys.begin())];
}

/// Turns fixed-width neighbour rows (in search order) into key-sorted kNN
/// rows; a neighbour listed twice keeps its last value, like a map would.
void buildKnnRows(const std::vector<int32_t>& neighbours, const std::vector<double>& values, int n, int k,
                  ApproxTsneProbabilities& p)
{
    std::vector<int64_t> counts(static_cast<size_t>(n), 0);
    std::vector<int32_t> keys(neighbours.size());
    std::vector<double> sortedValues(values.size());
#pragma omp parallel for schedule(static)
    for (int i = 0; i < n; ++i) {
        const size_t base = static_cast<size_t>(i) * k;
        std::vector<int> order(static_cast<size_t>(k));
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(),
                         [&](int a, int b) { return neighbours[base + a] < neighbours[base + b]; });
        int64_t written = 0;
        for (int position = 0; position < k; ++position) {
            const int m = order[static_cast<size_t>(position)];
            const int32_t key = neighbours[base + m];
            if (written > 0 && keys[base + written - 1] == key) {
                sortedValues[base + written - 1] = values[base + m];
                continue;
            }
            keys[base + written] = key;
            sortedValues[base + written] = values[base + m];
            ++written;
        }
        counts[static_cast<size_t>(i)] = written;
    }
    p.knnOffsets.assign(static_cast<size_t>(n) + 1, 0);
    for (int i = 0; i < n; ++i)
        p.knnOffsets[i + 1] = p.knnOffsets[i] + counts[static_cast<size_t>(i)];
    p.knnKeys.resize(static_cast<size_t>(p.knnOffsets[n]));
    p.knnValues.resize(static_cast<size_t>(p.knnOffsets[n]));
#pragma omp parallel for schedule(static)
    for (int i = 0; i < n; ++i) {
        const size_t base = static_cast<size_t>(i) * k;
        std::copy_n(keys.begin() + base, counts[i], p.knnKeys.begin() + p.knnOffsets[i]);
        std::copy_n(sortedValues.begin() + base, counts[i], p.knnValues.begin() + p.knnOffsets[i]);
    }
}

/// Joint rows: row r holds every c with c in kNN row r or r in kNN row c,
/// with first = value of r in kNN row c and second = value of c in kNN row r.
void symmetrize(int n, ApproxTsneProbabilities& p)
{
    const size_t rows = static_cast<size_t>(n);
    std::vector<int64_t> candidateOffsets(rows + 1, 0);
    for (int r = 0; r < n; ++r) {
        candidateOffsets[r + 1] += p.knnOffsets[r + 1] - p.knnOffsets[r];
        for (int64_t e = p.knnOffsets[r]; e < p.knnOffsets[r + 1]; ++e)
            candidateOffsets[static_cast<size_t>(p.knnKeys[e]) + 1] += 1;
    }
    for (size_t r = 0; r < rows; ++r)
        candidateOffsets[r + 1] += candidateOffsets[r];
    std::vector<int32_t> candidates(static_cast<size_t>(candidateOffsets[rows]));
    std::vector<int64_t> fill(candidateOffsets.begin(), candidateOffsets.end() - 1);
    for (int r = 0; r < n; ++r) {
        for (int64_t e = p.knnOffsets[r]; e < p.knnOffsets[r + 1]; ++e) {
            const int32_t c = p.knnKeys[e];
            candidates[fill[r]++] = c;
            candidates[fill[c]++] = r;
        }
    }
    std::vector<int64_t> counts(rows, 0);
#pragma omp parallel for schedule(static)
    for (int r = 0; r < n; ++r) {
        const auto begin = candidates.begin() + candidateOffsets[r];
        const auto end = candidates.begin() + candidateOffsets[r + 1];
        std::sort(begin, end);
        counts[r] = std::unique(begin, end) - begin;
    }
    p.jointOffsets.assign(rows + 1, 0);
    for (size_t r = 0; r < rows; ++r)
        p.jointOffsets[r + 1] = p.jointOffsets[r] + counts[r];
    const size_t total = static_cast<size_t>(p.jointOffsets[rows]);
    p.jointKeys.resize(total);
    p.jointFirstValues.resize(total);
    p.jointSecondValues.resize(total);
#pragma omp parallel for schedule(static)
    for (int r = 0; r < n; ++r) {
        int64_t e = p.jointOffsets[r];
        for (int64_t c = 0; c < counts[r]; ++c, ++e) {
            const int32_t key = candidates[static_cast<size_t>(candidateOffsets[r] + c)];
            p.jointKeys[e] = key;
            p.jointFirstValues[e] = knnValue(p, key, r);
            p.jointSecondValues[e] = knnValue(p, r, key);
        }
    }
}

} // namespace

void centerData(double* data, int n, int d)
{
    std::vector<double> mean(static_cast<size_t>(d), 0.0);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < d; ++j)
            mean[j] += data[static_cast<int64_t>(i) * d + j];
    for (int j = 0; j < d; ++j)
        mean[j] /= n;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < d; ++j)
            data[static_cast<int64_t>(i) * d + j] -= mean[j];
}

void normalizeByMaximum(double* data, int n, int d)
{
    const int64_t count = static_cast<int64_t>(n) * d;
    double maximum = kSmallestNormal;
    for (int64_t i = 0; i < count; ++i)
        maximum = std::max(maximum, data[i]);
    for (int64_t i = 0; i < count; ++i)
        data[i] /= maximum;
}

void computeHighDimensionalProbabilities(const ApproxTsneParameters& parameters, double* data, int n, int d,
                                         ApproxTsneProbabilities& probabilities)
{
    orb::checkAndThrow(probabilities.N == n, "A precondition has been violated!", __FILE__, __LINE__);
    const int k = parameters.perplexity * parameters.perplexityMultiplier;
    // FLANN asked for more neighbours than points answers with index 0 and
    // unwritten distances, so small input is refused before it is called.
    if (n < 1)
        throw std::logic_error("The similarity stage needs at least one point.");
    if (k < 1)
        throw std::logic_error("The similarity stage needs a positive perplexity and multiplier.");
    if (n < k + 1)
        throw std::logic_error("The similarity stage needs at least perplexity x multiplier + 1 = "
                               + std::to_string(k + 1) + " points, got " + std::to_string(n) + ".");

    say(parameters, "Computing high dimensional probability distributions...", false);
    say(parameters, "Computing KNNs using FLANN...", true);

    double totalTime = 0, auxTime = 0, treeTime = 0, knnTime = 0, betaTime = 0, symmetrizationTime = 0;
    {
        orb::ScopedTimer totalTimer(totalTime);
        if (!parameters.skipNormalization) {
            orb::ScopedTimer timer(auxTime);
            centerData(data, n, d);
            normalizeByMaximum(data, n, d);
        }

        const size_t columns = static_cast<size_t>(k) + 1;
        std::vector<int32_t> neighbours(static_cast<size_t>(n) * k);
        std::vector<double> distances(static_cast<size_t>(n) * k);
        {
            flann::Matrix<double> dataset(data, static_cast<size_t>(n), static_cast<size_t>(d));
            flann::Index<flann::L2<double>> index(dataset, flann::KDTreeIndexParams(parameters.trees));
            {
                orb::ScopedTimer timer(treeTime);
                index.buildIndex();
            }
            std::vector<int> foundIndices(static_cast<size_t>(n) * columns);
            std::vector<double> foundDistances(static_cast<size_t>(n) * columns);
            flann::Matrix<int> indexMatrix(foundIndices.data(), static_cast<size_t>(n), columns);
            flann::Matrix<double> distanceMatrix(foundDistances.data(), static_cast<size_t>(n), columns);
            {
                orb::ScopedTimer timer(knnTime);
                flann::SearchParams search(parameters.checks, 0, true);
                search.cores = parameters.cores;
                index.knnSearch(dataset, indexMatrix, distanceMatrix, columns, search);
            }
            // Column 0 (the point itself, or a duplicate of it) is dropped; the
            // Gaussians act on Euclidean, not squared, distances.
#pragma omp parallel for schedule(static)
            for (int i = 0; i < n; ++i) {
                for (int m = 0; m < k; ++m) {
                    const size_t from = static_cast<size_t>(i) * columns + m + 1;
                    const size_t to = static_cast<size_t>(i) * k + m;
                    neighbours[to] = static_cast<int32_t>(foundIndices[from]);
                    distances[to] = std::sqrt(foundDistances[from]);
                }
            }
        }

        say(parameters, "... done!", true);
        say(parameters, "Computing probability distributions...", true);
        std::vector<double> values(static_cast<size_t>(n) * k);
        {
            orb::ScopedTimer timer(betaTime);
            const double perplexity = parameters.perplexity;
#pragma omp parallel for schedule(static)
            for (int i = 0; i < n; ++i) {
                const size_t base = static_cast<size_t>(i) * k;
                fitGaussian(distances.data() + base, k, perplexity, values.data() + base, probabilities.rowSums[i],
                            probabilities.precisions[i]);
            }
            buildKnnRows(neighbours, values, n, k, probabilities);
        }

        say(parameters, "... done!", true);
        say(parameters, "Computing joint-probability distribution...", true);
        {
            orb::ScopedTimer timer(symmetrizationTime);
            symmetrize(n, probabilities);
            probabilities.normalisation = 2.0 * n;
        }
        say(parameters, "... done!", false);
    }

    orb::logValue(parameters.log, "Initialization time", totalTime, parameters.verbose);
    orb::logValue(parameters.log, "\taux", auxTime, parameters.verbose);
    orb::logValue(parameters.log, "\ttree build", treeTime, parameters.verbose);
    orb::logValue(parameters.log, "\tknn", knnTime, parameters.verbose);
    orb::logValue(parameters.log, "\tbeta computation", betaTime, parameters.verbose);
    orb::logValue(parameters.log, "\tsymmetrization", symmetrizationTime, parameters.verbose);
}
