#include "approx_tsne/ApproxTsneGradientDescent.h"

#include "approx_tsne/approx_tsne.h"
#include "helpers/initialization_helper.h"
#include "helpers/logValue.h"
#include "helpers/rand15.h"

#include <omp.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <ctime>

namespace {

constexpr double kSmallestNormal = 2.2250738585072014e-308;

/// Points per chunk of the force loops. Both run in the tree's spatial
/// order: neighbouring points share tree paths and neighbours, so a chunk
/// keeps its part of the tree and of the embedding in cache.
constexpr int kChunk = 512;

/// The neighbours' coordinates are scattered over the embedding; asking
/// for them this many entries ahead hides most of the wait.
constexpr int64_t kPrefetchDistance = 16;

/// Force evaluations between two layouts of the attraction rows: the
/// spatial order drifts slowly, and copying the rows costs a few evaluations'
/// worth of attraction.
constexpr int kEvaluationsPerLayout = 10;

inline void prefetch(const double* address)
{
#if defined(__GNUC__)
    __builtin_prefetch(address);
#else
    (void)address;
#endif
}

int sign(double value)
{
    return (value > 0) - (value < 0);
}

/// The force loops leave one core to the user interface; small embeddings
/// use fewer threads, as waking more costs more than their work (the
/// results do not depend on the thread count).
int forceThreads(int n)
{
    return std::max(1, std::min(omp_get_max_threads() - 1, n / 2000));
}

/// Standard normal sample by the polar method from 15-bit draws; the second
/// value of the pair is dropped.
double polarNormal()
{
    double u, v, s;
    do {
        u = 2.0 * orb::rand15() / 32768 - 1;
        v = 2.0 * orb::rand15() / 32768 - 1;
        s = u * u + v * v;
    } while (s >= 1 || s == 0);
    return u * std::sqrt(-2 * std::log(s) / s);
}

} // namespace

void ApproxTsneGradientDescent::initialize(ApproxTsneProbabilities* probabilities, int32_t* pointFlags,
                                           double* embedding, int dimensions)
{
    if (log_)
        log_->display("Initialization of the t-SNE gradient descent");
    orb::initialize(initialized_);
    iteration_ = 0;
    dimensions_ = dimensions;
    n_ = probabilities->N;
    pointFlags_ = pointFlags;
    probabilities_ = probabilities;
    embedding_ = embedding;

    const size_t coordinates = static_cast<size_t>(n_) * dimensions_;
    gradient_.assign(coordinates, 0.0);
    previousUpdate_.assign(coordinates, 0.0);
    gains_.assign(coordinates, 1.0);
    negativeForces_.assign(coordinates, 0.0);
    partialSums_.assign(static_cast<size_t>(n_), 0.0);

    // The joint probabilities, formed once instead of in every iteration.
    jointProbabilities_.resize(probabilities_->jointKeys.size());
#pragma omp parallel for schedule(static)
    for (int i = 0; i < n_; ++i)
        for (int64_t e = probabilities_->jointRowBegin(i); e < probabilities_->jointRowEnd(i); ++e)
            jointProbabilities_[e] = probabilities_->jointProbability(i, e);

    const int seed = parameters_.seed == -1 ? static_cast<int>(std::time(nullptr)) : parameters_.seed;
    std::srand(static_cast<unsigned>(seed));
    for (size_t k = 0; k < coordinates; ++k)
        embedding_[k] = 1e-4 * polarNormal();

    minimum_.assign(static_cast<size_t>(dimensions_), -1.0);
    maximum_.assign(static_cast<size_t>(dimensions_), 1.0);

    const double exaggeration = n_ / 5000.0 + 10;
    orb::logValue(log_, "Exaggeration factor", exaggeration, verbose_);
    std::fill(probabilities_->exaggerationWeights.begin(), probabilities_->exaggerationWeights.end(), exaggeration);
}

void ApproxTsneGradientDescent::updateExaggeration()
{
    std::vector<double>& weights = probabilities_->exaggerationWeights;
    const int removal = parameters_.exaggerationRemovalIteration;
    if (!parameters_.exponentialDecay && iteration_ == removal) {
        std::fill(weights.begin(), weights.end(), 1.0);
    } else if (iteration_ >= removal) {
        for (double& weight : weights) {
            weight *= parameters_.exaggerationDecayFactor;
            if (weight < 1)
                weight = 1;
        }
    }
}

/// The attraction of every point, rows visited in their stored order: the
/// rows, their keys and the coordinates are laid out in a recent spatial
/// order of the embedding, so a point's neighbours sit close to it in memory.
/// Each row sums its entries in the order of the joint row it was copied from.
template <int Dim>
void ApproxTsneGradientDescent::attractRows(const AttractionRows& rows, const double* weights, int dimensions,
                                            double* attraction, int threads)
{
    const int d = Dim > 0 ? Dim : dimensions;
    const int n = static_cast<int>(rows.order.size());
    const double* embedding = rows.embedding.data();
#pragma omp parallel for num_threads(threads) schedule(static, kChunk)
    for (int position = 0; position < n; ++position) {
        const int i = rows.order[position];
        const double* yi = embedding + static_cast<int64_t>(position) * d;
        double sum[Dim > 0 ? Dim : SpacePartitionTree<double>::kMaxDimensions] = {};
        const double weight = weights[i];
        const int64_t end = rows.offsets[position + 1];
        for (int64_t e = rows.offsets[position]; e < end; ++e) {
            if (e + kPrefetchDistance < end)
                prefetch(embedding + static_cast<int64_t>(rows.keys[e + kPrefetchDistance]) * d);
            const double* yj = embedding + static_cast<int64_t>(rows.keys[e]) * d;
            double diff[Dim > 0 ? Dim : SpacePartitionTree<double>::kMaxDimensions];
            double distanceSquared = 0;
            for (int k = 0; k < d; ++k) {
                diff[k] = yi[k] - yj[k];
                distanceSquared += diff[k] * diff[k];
            }
            const double factor = rows.probabilities[e] * weight / (1 + distanceSquared);
            for (int k = 0; k < d; ++k)
                sum[k] += factor * diff[k];
        }
        for (int k = 0; k < d; ++k)
            attraction[static_cast<int64_t>(i) * d + k] = sum[k];
    }
}

void ApproxTsneGradientDescent::layOutAttractionRows(int threads)
{
    AttractionRows& rows = attractionRows_;
    const std::vector<int32_t>& order = tree_.spatialOrder();
    rows.order.assign(order.begin(), order.end());
    rows.positionOf.resize(static_cast<size_t>(n_));
#pragma omp parallel for num_threads(threads) schedule(static)
    for (int position = 0; position < n_; ++position)
        rows.positionOf[rows.order[position]] = position;

    const ApproxTsneProbabilities& p = *probabilities_;
    rows.offsets.resize(static_cast<size_t>(n_) + 1);
    rows.offsets[0] = 0;
    for (int position = 0; position < n_; ++position) {
        const int i = rows.order[position];
        rows.offsets[position + 1] = rows.offsets[position] + p.jointRowEnd(i) - p.jointRowBegin(i);
    }
    rows.keys.resize(p.jointKeys.size());
    rows.probabilities.resize(p.jointKeys.size());
#pragma omp parallel for num_threads(threads) schedule(static, kChunk)
    for (int position = 0; position < n_; ++position) {
        const int i = rows.order[position];
        int64_t target = rows.offsets[position];
        for (int64_t e = p.jointRowBegin(i); e < p.jointRowEnd(i); ++e, ++target) {
            rows.keys[target] = rows.positionOf[p.jointKeys[e]];
            rows.probabilities[target] = jointProbabilities_[e];
        }
    }
}

void ApproxTsneGradientDescent::computeAttraction(int threads)
{
    if (attractionRows_.order.empty() || ++attractionRows_.evaluationsSinceLayout >= kEvaluationsPerLayout) {
        layOutAttractionRows(threads);
        attractionRows_.evaluationsSinceLayout = 0;
    }
    AttractionRows& rows = attractionRows_;
    const int d = dimensions_;
    rows.embedding.resize(static_cast<size_t>(n_) * d);
#pragma omp parallel for num_threads(threads) schedule(static)
    for (int position = 0; position < n_; ++position)
        std::copy_n(embedding_ + static_cast<int64_t>(rows.order[position]) * d, d,
                    &rows.embedding[static_cast<size_t>(position) * d]);
    const double* weights = probabilities_->exaggerationWeights.data();
    if (d == 2)
        attractRows<2>(rows, weights, d, gradient_.data(), threads);
    else
        attractRows<0>(rows, weights, d, gradient_.data(), threads);
}

double ApproxTsneGradientDescent::computeRepulsion(int threads)
{
    const std::vector<int32_t>& order = tree_.spatialOrder();
    const int d = dimensions_;
    const double theta = parameters_.theta;
#pragma omp parallel for num_threads(threads) schedule(static, kChunk)
    for (int k = 0; k < n_; ++k) {
        const int i = order[k];
        double* force = &negativeForces_[static_cast<size_t>(i) * d];
        std::fill_n(force, d, 0.0);
        double sum = 0;
        tree_.computeRepulsiveForces(i, theta, force, sum);
        partialSums_[i] = sum;
    }
    double sumQ = 0;
    for (int i = 0; i < n_; ++i)
        sumQ += partialSums_[i];
    return sumQ;
}

double ApproxTsneGradientDescent::computeForces()
{
    const int threads = forceThreads(n_);
    tree_.build(dimensions_, embedding_, n_, threads);
    computeAttraction(threads);
    const double sumQ = computeRepulsion(threads);
    const int64_t coordinates = static_cast<int64_t>(n_) * dimensions_;
#pragma omp parallel for num_threads(threads) schedule(static)
    for (int64_t k = 0; k < coordinates; ++k)
        gradient_[k] = gradient_[k] - negativeForces_[k] / sumQ;
    return sumQ;
}

void ApproxTsneGradientDescent::computeGradient(double* gradient, double& sumQ)
{
    orb::checkInitialized(initialized_);
    sumQ = computeForces();
    std::copy(gradient_.begin(), gradient_.end(), gradient);
}

void ApproxTsneGradientDescent::iterate()
{
    orb::checkInitialized(initialized_);
    updateExaggeration();
    const double sumQ = computeForces();
    if (parameters_.computeKlDivergence)
        probabilities_->computeKlDivergence(embedding_, dimensions_, sumQ, klTotal_, klMinimum_, klMaximum_);

    const int d = dimensions_;
    const double eta = parameters_.learningRate;
    const double momentum = iteration_ < parameters_.momentumSwitchIteration ? parameters_.momentum
                                                                              : parameters_.finalMomentum;
    // Every thread keeps the bounds of its own points; minima and maxima do
    // not depend on the order in which they are combined.
    const int threads = forceThreads(n_);
    threadBounds_.resize(static_cast<size_t>(threads) * 2 * d);
    for (int t = 0; t < threads; ++t) {
        std::fill_n(&threadBounds_[static_cast<size_t>(t) * 2 * d], d, DBL_MAX);
        std::fill_n(&threadBounds_[static_cast<size_t>(t) * 2 * d + d], d, kSmallestNormal);
    }
#pragma omp parallel num_threads(threads)
    {
        double* minimum = &threadBounds_[static_cast<size_t>(omp_get_thread_num()) * 2 * d];
        double* maximum = minimum + d;
#pragma omp for schedule(static)
        for (int i = 0; i < n_; ++i) {
            if (pointFlags_ && (pointFlags_[i] & kFixedPoint))
                continue;
            for (int k = 0; k < d; ++k) {
                const size_t c = static_cast<size_t>(i) * d + k;
                double gradient = gradient_[c];
                double gain = gains_[c];
                gain = sign(gradient) != sign(previousUpdate_[c]) ? gain + 0.2 : gain * 0.8;
                gain = std::max(gain, parameters_.minimumGain);
                gains_[c] = gain;
                if (previousUpdate_[c] != 0) {
                    const double step = std::abs(eta * gain * gradient);
                    const double limit = std::abs(parameters_.stepGrowthLimit * previousUpdate_[c]);
                    gradient = sign(gradient) * std::min(step, limit) / (eta * gain);
                    gradient_[c] = gradient;
                }
                const double update = momentum * previousUpdate_[c] - gain * eta * gradient;
                previousUpdate_[c] = update;
                const double coordinate = embedding_[c] + update;
                embedding_[c] = coordinate;
                maximum[k] = std::max(maximum[k], coordinate);
                minimum[k] = std::min(minimum[k], coordinate);
            }
        }
    }
    std::fill(minimum_.begin(), minimum_.end(), DBL_MAX);
    std::fill(maximum_.begin(), maximum_.end(), kSmallestNormal);
    for (int t = 0; t < threads; ++t)
        for (int k = 0; k < d; ++k) {
            minimum_[k] = std::min(minimum_[k], threadBounds_[static_cast<size_t>(t) * 2 * d + k]);
            maximum_[k] = std::max(maximum_[k], threadBounds_[static_cast<size_t>(t) * 2 * d + d + k]);
        }
    centerData(embedding_, n_, d);

    if (iteration_ == parameters_.momentumSwitchIteration && verbose_ && log_)
        log_->display("Switch momentum!");
    ++iteration_;
}
