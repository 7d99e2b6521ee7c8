#include "sparse_tsne/SparseTsne.h"

#include "helpers/rand15.h"
#include "sparse/RowTranspose.h"
#include "vel/utils/logValue.h"

#include <omp.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <stdexcept>

namespace vel {

namespace {

const char* const kUninitialized = "Cannot compute a gradient descent iteration on unitialized data";

int sign(float value)
{
    return (value > 0) - (value < 0);
}

/// Small embeddings use fewer threads, as waking more costs more than
/// their work (the results do not depend on the thread count).
int barnesHutThreads(int n)
{
    return std::max(1, std::min(omp_get_max_threads(), n / 1000));
}

int exactThreads(int n)
{
    return static_cast<int>(std::max<int64_t>(1, std::min<int64_t>(omp_get_max_threads(),
                                                                   static_cast<int64_t>(n) * n / 50000)));
}

double secondsSince(std::chrono::steady_clock::time_point& mark)
{
    const auto now = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(now - mark).count();
    mark = now;
    return seconds;
}

} // namespace

void SparseTsne::say(const char* text) const
{
    if (log_)
        log_->display(text, false);
}

void SparseTsne::checkProbabilities(const std::vector<MapMemEff>& probabilities, int dimensions)
{
    // With fewer than 2 points sumQ or Z is 0 and every coordinate turns
    // into a NaN; a key of n or more would read outside the embedding.
    if (probabilities.size() < 2 || probabilities.size() > static_cast<size_t>(INT_MAX))
        throw std::logic_error("SparseTsne::initialize: at least 2 probability rows are needed");
    if (dimensions < 1)
        throw std::logic_error("SparseTsne::initialize: the embedding needs at least 1 dimension");
    const uint32_t n = static_cast<uint32_t>(probabilities.size());
    for (const MapMemEff& row : probabilities)
        for (const MapMemEff::Entry& entry : row) {
            if (entry.key >= n)
                throw std::logic_error("SparseTsne::initialize: a probability row names a point beyond the rows");
            if (!(entry.value >= 0) || !std::isfinite(entry.value))
                throw std::logic_error("SparseTsne::initialize: a probability is negative or not finite");
        }
}

void SparseTsne::initialize(const std::vector<MapMemEff>& probabilities, Embedding& embedding,
                            const Parameters& parameters)
{
    checkProbabilities(probabilities, parameters.embeddingDimensions);
    say("Initializing tSNE...");
    parameters_ = parameters;
    embedding_ = &embedding;
    n_ = static_cast<int>(probabilities.size());
    dimensions_ = parameters.embeddingDimensions;
    embedding.initialize(static_cast<uint32_t>(dimensions_), static_cast<uint32_t>(n_), 0);

    // The n x n kernel serves only the exact gradient; it is allocated by
    // the first exact iteration (the caller may set theta afterwards).
    std::vector<float>().swap(kernel_);
    const size_t coordinates = static_cast<size_t>(n_) * dimensions_;
    gradient_.assign(coordinates, 0.0f);
    previousUpdate_.assign(coordinates, 0.0f);
    gains_.assign(coordinates, 1.0f);
    attraction_.assign(coordinates, 0.0);
    negativeForces_.assign(coordinates, 0.0);
    partialSums_.assign(static_cast<size_t>(n_), 0.0);
    forces_.forgetLayout();
    stageTimes_ = StageTimes();
    utils::logValue(log_, "Number of data points", static_cast<uint32_t>(n_), true, 1);

    computeJointProbabilities(probabilities);
    initializeEmbedding(parameters.seed, 1e-4);
    iteration_ = 0;
    initialized_ = true;
    say("Initialization complete!");
}

void SparseTsne::computeJointProbabilities(const std::vector<MapMemEff>& probabilities)
{
    say("Computing high-dimensional joint probability distribution...");
    // The rows, flat; then joint row i is the merge of row i with row i of
    // the transpose: (v + u) / 2 wherever either holds the pair.
    const int n = n_;
    std::vector<int64_t> offsets(static_cast<size_t>(n) + 1, 0);
    for (int i = 0; i < n; ++i)
        offsets[i + 1] = offsets[i] + static_cast<int64_t>(probabilities[i].size());
    std::vector<int32_t> keys(static_cast<size_t>(offsets[n]));
    std::vector<float> values(static_cast<size_t>(offsets[n]));
#pragma omp parallel for schedule(static)
    for (int i = 0; i < n; ++i) {
        int64_t e = offsets[i];
        for (const MapMemEff::Entry& entry : probabilities[i]) {
            keys[e] = static_cast<int32_t>(entry.key);
            values[e++] = entry.value;
        }
    }
    const TransposedRows<int32_t, float> transposed =
        transposeRows<int32_t, float>(n, n, offsets[n], [&](int r, auto visit) {
            for (int64_t e = offsets[r]; e < offsets[r + 1]; ++e)
                visit(keys[e], values[e]);
        });
    const std::vector<int64_t>& reverse = transposed.offsets;
    const auto mergeRow = [&](int r, auto visit) {
        mergeSortedRows(keys.data() + offsets[r], values.data() + offsets[r], offsets[r + 1] - offsets[r],
                        transposed.keys.get() + reverse[r], transposed.values.get() + reverse[r],
                        reverse[r + 1] - reverse[r], visit);
    };

    jointOffsets_.assign(static_cast<size_t>(n) + 1, 0);
#pragma omp parallel for schedule(static)
    for (int r = 0; r < n; ++r)
        mergeRow(r, [&](int32_t, float, float) { ++jointOffsets_[static_cast<size_t>(r) + 1]; });
    for (int r = 0; r < n; ++r)
        jointOffsets_[r + 1] += jointOffsets_[r];
    jointKeys_.resize(static_cast<size_t>(jointOffsets_[n]));
    jointValues_.resize(static_cast<size_t>(jointOffsets_[n]));
#pragma omp parallel for schedule(static)
    for (int r = 0; r < n; ++r) {
        int64_t e = jointOffsets_[r];
        mergeRow(r, [&](int32_t key, float own, float mirrored) {
            jointKeys_[e] = key;
            jointValues_[e++] = (own + mirrored) / 2;
        });
    }
}

void SparseTsne::initializeEmbedding(int seed, double multiplier)
{
    say("Initializing the embedding...");
    if (seed < 0)
        seed = static_cast<int>(std::time(nullptr));
    std::srand(static_cast<unsigned>(seed));
    for (float& coordinate : embedding_->coordinates())
        coordinate = static_cast<float>(multiplier * orb::polarNormal15());
}

float SparseTsne::exaggerationFactor(uint32_t iteration) const
{
    const uint64_t removal = parameters_.exaggerationRemovalIteration;
    if (iteration <= removal)
        return static_cast<float>(parameters_.exaggerationFactor);
    if (iteration > removal + parameters_.exaggerationDecayLength)
        return 1.0f;
    // The time constant is 30 iterations whatever the decay length.
    return static_cast<float>(1 + (parameters_.exaggerationFactor - 1)
                                      * std::exp(-(static_cast<double>(iteration) - removal) / 30));
}

float SparseTsne::jointProbability(uint32_t row, uint32_t column) const
{
    if (row >= static_cast<uint32_t>(n_))
        return 0;
    const auto begin = jointKeys_.begin() + jointOffsets_[row];
    const auto end = jointKeys_.begin() + jointOffsets_[row + 1];
    const auto at = std::lower_bound(begin, end, static_cast<int32_t>(column));
    return at != end && *at == static_cast<int32_t>(column) ? jointValues_[at - jointKeys_.begin()] : 0.0f;
}

void SparseTsne::iterate(double multiplier)
{
    if (!initialized_)
        throw std::logic_error(kUninitialized);
    if (static_cast<double>(iteration_) == parameters_.momentumSwitchIteration)
        say("Switch to final momentum...");
    if (iteration_ == parameters_.exaggerationRemovalIteration)
        say("Remove exaggeration...");
    const float exaggeration = exaggerationFactor(iteration_);
    if (theta_ != 0) {
        computeBarnesHutGradient(exaggeration);
        multiplier = 1;
    } else {
        computeExactGradient(exaggeration);
    }
    auto mark = std::chrono::steady_clock::now();
    updateEmbedding(multiplier);
    if (exaggeration > 1.2)
        embedding_->scaleIfSmallerThan(0.1f);
    else
        embedding_->zeroCentre();
    stageTimes_.update += secondsSince(mark);
    ++iteration_;
}

void SparseTsne::computeBarnesHutGradient(float exaggeration)
{
    const int n = n_;
    const int d = dimensions_;
    const int threads = barnesHutThreads(n);
    const float* y = embedding_->coordinates().data();
    auto mark = std::chrono::steady_clock::now();
    tree_.build(d, y, n, threads);
    stageTimes_.tree += secondsSince(mark);

    // p E / (1 + d^2) / n x diff x E: the exaggeration enters twice.
    weights_.assign(static_cast<size_t>(n), static_cast<double>(exaggeration) * exaggeration / n);
    const auto jointValue = [this](int, int64_t entry) { return static_cast<double>(jointValues_[entry]); };
    forces_.computeAttraction(tree_, y, n, d, jointOffsets_.data(), jointKeys_.data(), jointValue, weights_.data(),
                              attraction_.data(), threads);
    stageTimes_.attraction += secondsSince(mark);

    TreeOrderedForces::computeRepulsion(tree_, n, static_cast<double>(theta_), negativeForces_.data(),
                                        partialSums_.data(), threads);
    // sumQ is a float, summed in point order.
    float sumQ = 0;
    for (int i = 0; i < n; ++i)
        sumQ += partialSums_[i];
    const int64_t coordinates = static_cast<int64_t>(n) * d;
#pragma omp parallel for num_threads(threads) schedule(static)
    for (int64_t c = 0; c < coordinates; ++c)
        gradient_[c] = static_cast<float>(attraction_[c] - negativeForces_[c] / sumQ);
    stageTimes_.repulsion += secondsSince(mark);
}

void SparseTsne::computeExactGradient(float exaggeration)
{
    const int n = n_;
    const int d = dimensions_;
    const int threads = exactThreads(n);
    const float* y = embedding_->coordinates().data();
    auto mark = std::chrono::steady_clock::now();
    const size_t cells = static_cast<size_t>(n) * static_cast<size_t>(n);
    if (kernel_.size() != cells)
        kernel_.assign(cells, 0.0f);

    // Whole rows (each pair twice, the same value both ways), so every
    // thread writes only its own rows; Z sums the rows in row order.
#pragma omp parallel for num_threads(threads) schedule(static)
    for (int i = 0; i < n; ++i) {
        float* row = &kernel_[static_cast<size_t>(i) * n];
        const float* yi = y + static_cast<int64_t>(i) * d;
        double sum = 0;
        for (int j = 0; j < n; ++j) {
            if (j == i) {
                row[j] = 0;
                continue;
            }
            const float* yj = y + static_cast<int64_t>(j) * d;
            double distanceSquared = 0;
            for (int k = 0; k < d; ++k) {
                const double diff = static_cast<double>(yi[k]) - yj[k];
                distanceSquared += diff * diff;
            }
            row[j] = 1.0f / (1.0f + static_cast<float>(distanceSquared));
            sum += row[j];
        }
        partialSums_[i] = sum;
    }
    double z = 0;
    for (int i = 0; i < n; ++i)
        z += partialSums_[i];
    kernelSum_ = static_cast<float>(z);

    const double kernelSum = kernelSum_;
    const double attractionFactor = 4.0 * exaggeration / n;
#pragma omp parallel for num_threads(threads) schedule(static)
    for (int i = 0; i < n; ++i) {
        const float* row = &kernel_[static_cast<size_t>(i) * n];
        const float* yi = y + static_cast<int64_t>(i) * d;
        double gradient[SpacePartitionTree<float>::kMaxDimensions] = {};
        for (int k = 0; k < n; ++k) {
            const double q = row[k];
            const double factor = 4 * (q * q / kernelSum);
            const float* yk = y + static_cast<int64_t>(k) * d;
            for (int c = 0; c < d; ++c)
                gradient[c] -= factor * (static_cast<double>(yi[c]) - yk[c]);
        }
        for (int64_t e = jointOffsets_[i]; e < jointOffsets_[i + 1]; ++e) {
            const int j = jointKeys_[e];
            const double factor = attractionFactor * row[j] * jointValues_[e];
            const float* yj = y + static_cast<int64_t>(j) * d;
            for (int c = 0; c < d; ++c)
                gradient[c] += factor * (static_cast<double>(yi[c]) - yj[c]);
        }
        for (int c = 0; c < d; ++c)
            gradient_[static_cast<size_t>(i) * d + c] = static_cast<float>(gradient[c]);
    }
    stageTimes_.attraction += secondsSince(mark);
}

void SparseTsne::updateEmbedding(double multiplier)
{
    const double momentum = parameters_.momentumSwitchIteration > iteration_ ? parameters_.momentum
                                                                             : parameters_.finalMomentum;
    const double eta = parameters_.learningRate;
    const double minimumGain = parameters_.minimumGain;
    float* y = embedding_->coordinates().data();
    const int64_t coordinates = static_cast<int64_t>(n_) * dimensions_;
#pragma omp parallel for num_threads(barnesHutThreads(n_)) schedule(static)
    for (int64_t c = 0; c < coordinates; ++c) {
        const float gradient = gradient_[c];
        const float previous = previousUpdate_[c];
        // The gain grows while the gradient points against the last update.
        float gain = sign(gradient) != sign(previous) ? static_cast<float>(gains_[c] + 0.2)
                                                      : static_cast<float>(gains_[c] * 0.8);
        gain = static_cast<float>(std::max<double>(gain, minimumGain));
        gains_[c] = gain;
        const float update = static_cast<float>(momentum * previous - gain * eta * gradient);
        previousUpdate_[c] = update;
        y[c] = static_cast<float>(y[c] + update * multiplier);
    }
}

void SparseTsne::reset()
{
    if (embedding_)
        embedding_->clear();
    initialized_ = false;
}

} // namespace vel
