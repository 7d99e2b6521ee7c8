#include "approx_tsne/approx_tsne.h"

#include "helpers/ScopedTimer.h"
#include "helpers/initialization_helper.h"
#include "helpers/logValue.h"
#include "knn/NeighbourSearch.h"
#include "parallel/LargeBuffers.h"
#include "parallel/WorkerPool.h"
#include "sparse/RowTranspose.h"

#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <memory>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

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

/// Writes one kNN row, key-sorted, at `keys`/`values`; a neighbour listed
/// twice keeps its later value, as a map assigned in search order would.
/// Returns the number of distinct keys.
int64_t writeSortedRow(const int* neighbours, const double* gaussians, int k, std::vector<uint64_t>& scratch,
                       int32_t* keys, double* values)
{
    // Key in the high half, search position in the low half: one integer sort
    // orders by key and keeps search order among equal keys.
    scratch.resize(static_cast<size_t>(k));
    for (int m = 0; m < k; ++m)
        scratch[m] = (static_cast<uint64_t>(static_cast<uint32_t>(neighbours[m])) << 32) | static_cast<uint32_t>(m);
    std::sort(scratch.begin(), scratch.end());
    int64_t written = 0;
    for (int position = 0; position < k; ++position) {
        const int32_t key = static_cast<int32_t>(scratch[position] >> 32);
        const double value = gaussians[scratch[position] & 0xffffffffu];
        if (written > 0 && keys[written - 1] == key) {
            values[written - 1] = value;
            continue;
        }
        keys[written] = key;
        values[written] = value;
        ++written;
    }
    return written;
}

/// Drops the unused tails of rows that held fewer than k distinct keys.
void compactKnnRows(const std::vector<int64_t>& counts, int k, ApproxTsneProbabilities& p)
{
    const size_t n = counts.size();
    p.knnOffsets.assign(n + 1, 0);
    for (size_t i = 0; i < n; ++i) {
        const int64_t from = static_cast<int64_t>(i) * k;
        const int64_t to = p.knnOffsets[i];
        std::copy_n(p.knnKeys.begin() + from, counts[i], p.knnKeys.begin() + to);
        std::copy_n(p.knnValues.begin() + from, counts[i], p.knnValues.begin() + to);
        p.knnOffsets[i + 1] = to + counts[i];
    }
    p.knnKeys.resize(static_cast<size_t>(p.knnOffsets[n]));
    p.knnValues.resize(static_cast<size_t>(p.knnOffsets[n]));
    p.knnKeys.shrink_to_fit();
    p.knnValues.shrink_to_fit();
}

/// Joint rows: row r holds every c with c in kNN row r or r in kNN row c,
/// with first = value of r in kNN row c and second = value of c in kNN row r
/// (0 when absent): the merge of kNN row r with transposed row r.
void symmetrize(int n, ApproxTsneProbabilities& p)
{
    const size_t rows = static_cast<size_t>(n);
    const std::vector<int64_t>& knnOffsets = p.knnOffsets;
    const std::vector<int32_t>& knnKeys = p.knnKeys;
    const std::vector<double>& knnValues = p.knnValues;
    const TransposedRows<int32_t, double> transposed =
        transposeRows<int32_t, double>(n, n, static_cast<int64_t>(knnKeys.size()), [&](int r, auto visit) {
            for (int64_t e = knnOffsets[r]; e < knnOffsets[r + 1]; ++e)
                visit(knnKeys[e], knnValues[e]);
        });
    const std::vector<int64_t>& reverseOffsets = transposed.offsets;

    // Walks the key-sorted union of transposed row r and kNN row r, once per
    // key: visit(key, value of r in kNN row key, value of key in kNN row r).
    const auto mergeRow = [&](int r, auto visit) {
        mergeSortedRows(transposed.keys.get() + reverseOffsets[r], transposed.values.get() + reverseOffsets[r],
                        reverseOffsets[r + 1] - reverseOffsets[r], knnKeys.data() + knnOffsets[r],
                        knnValues.data() + knnOffsets[r], knnOffsets[r + 1] - knnOffsets[r], visit);
    };

    std::vector<int64_t>& jointOffsets = p.jointOffsets;
    jointOffsets.assign(rows + 1, 0);
#pragma omp parallel for schedule(static)
    for (int r = 0; r < n; ++r)
        mergeRow(r, [&](int32_t, double, double) { ++jointOffsets[static_cast<size_t>(r) + 1]; });
    std::partial_sum(jointOffsets.begin(), jointOffsets.end(), jointOffsets.begin());
    const size_t total = static_cast<size_t>(jointOffsets[rows]);
    const int threads = omp_get_max_threads();
    assignZeroed(p.jointKeys, total, threads);
    assignZeroed(p.jointFirstValues, total, threads);
    assignZeroed(p.jointSecondValues, total, threads);
#pragma omp parallel for schedule(static)
    for (int r = 0; r < n; ++r) {
        int64_t e = jointOffsets[r];
        mergeRow(r, [&](int32_t key, double first, double second) {
            p.jointKeys[e] = key;
            p.jointFirstValues[e] = first;
            p.jointSecondValues[e] = second;
            ++e;
        });
    }
}

} // namespace

void centerData(double* data, int n, int d, int threads)
{
    std::vector<double> mean(static_cast<size_t>(d), 0.0);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < d; ++j)
            mean[j] += data[static_cast<int64_t>(i) * d + j];
    for (int j = 0; j < d; ++j)
        mean[j] /= n;
    WorkerPool::shared().forChunks(threads, n, 16384, [&](int64_t begin, int64_t end) {
        for (int64_t i = begin; i < end; ++i)
            for (int j = 0; j < d; ++j)
                data[i * d + j] -= mean[j];
    });
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
    if (d < 1)
        throw std::logic_error("The similarity stage needs at least one dimension.");
    if (k < 1)
        throw std::logic_error("The similarity stage needs a positive perplexity and multiplier.");
    if (n < k + 1)
        throw std::logic_error("The similarity stage needs at least perplexity x multiplier + 1 = "
                               + std::to_string(k + 1) + " points, got " + std::to_string(n) + ".");
    const double* values = data;
    const double* end = values + static_cast<int64_t>(n) * d;
    const double* nonFinite = std::find_if(values, end, [](double value) { return !std::isfinite(value); });
    if (nonFinite != end)
        throw std::logic_error("The similarity stage needs finite values; point " + std::to_string((nonFinite - values) / d)
                               + " holds a value that is not a finite number.");

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

        // Row p of the search results belongs to point order[p].
        const size_t rows = static_cast<size_t>(n);
        const size_t columns = static_cast<size_t>(k) + 1;
        std::vector<int32_t> order;
        std::vector<int> found;
        std::vector<double> distances;
        {
            NeighbourSearch<double> search;
            {
                orb::ScopedTimer timer(treeTime);
                search.build(data, n, d, parameters.trees,
                             parameters.seed == -1 ? std::nullopt
                                                   : std::optional<uint32_t>(static_cast<uint32_t>(parameters.seed)));
            }
            {
                orb::ScopedTimer timer(knnTime);
                search.search(k + 1, parameters.checks, parameters.cores, found, distances);
            }
            order = search.order();
        }
        // Column 0 (the point itself, or a duplicate of it) is dropped; the
        // Gaussians act on Euclidean, not squared, distances.
#pragma omp parallel for schedule(static)
        for (int p = 0; p < n; ++p)
            for (size_t m = 1; m < columns; ++m)
                distances[static_cast<size_t>(p) * columns + m] =
                    std::sqrt(distances[static_cast<size_t>(p) * columns + m]);

        say(parameters, "... done!", true);
        say(parameters, "Computing probability distributions...", true);
        {
            orb::ScopedTimer timer(betaTime);
            const double perplexity = parameters.perplexity;
            assignZeroed(probabilities.knnKeys, rows * k, omp_get_max_threads());
            assignZeroed(probabilities.knnValues, rows * k, omp_get_max_threads());
            std::vector<int64_t> counts(rows);
            std::atomic<bool> complete{true};
            WorkerPool::shared().forChunks(omp_get_max_threads(), n, 1024, [&](int64_t begin, int64_t end) {
                std::vector<double> gaussians(static_cast<size_t>(k));
                std::vector<uint64_t> scratch;
                bool chunkComplete = true;
                for (int64_t p = begin; p < end; ++p) {
                    const size_t i = static_cast<size_t>(order[p]);
                    const size_t row = static_cast<size_t>(p) * columns + 1;
                    fitGaussian(distances.data() + row, k, perplexity, gaussians.data(), probabilities.rowSums[i],
                                probabilities.precisions[i]);
                    counts[i] = writeSortedRow(found.data() + row, gaussians.data(), k, scratch,
                                               probabilities.knnKeys.data() + i * k,
                                               probabilities.knnValues.data() + i * k);
                    chunkComplete = chunkComplete && counts[i] == k;
                }
                if (!chunkComplete)
                    complete.store(false, std::memory_order_relaxed);
            });
            if (complete) {
                probabilities.knnOffsets.resize(rows + 1);
                for (size_t i = 0; i <= rows; ++i)
                    probabilities.knnOffsets[i] = static_cast<int64_t>(i) * k;
            } else {
                compactKnnRows(counts, k, probabilities);
            }
        }
        std::vector<int>().swap(found);
        std::vector<double>().swap(distances);

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
