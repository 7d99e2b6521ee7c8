#include "approx_tsne/ApproxTsneGradientDescent.h"

#include "approx_tsne/approx_tsne.h"
#include "helpers/initialization_helper.h"
#include "helpers/logValue.h"
#include "helpers/rand15.h"

#include "parallel/WorkerPool.h"

#include <omp.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <ctime>

namespace {

constexpr double kSmallestNormal = 2.2250738585072014e-308;

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

/// Points per task of the update.
constexpr int64_t kUpdateChunk = 8192;

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

    const int seed = parameters_.seed == -1 ? static_cast<int>(std::time(nullptr)) : parameters_.seed;
    std::srand(static_cast<unsigned>(seed));
    for (size_t k = 0; k < coordinates; ++k)
        embedding_[k] = 1e-4 * orb::polarNormal15();

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

double ApproxTsneGradientDescent::computeForces()
{
    const int threads = forceThreads(n_);
    tree_.build(dimensions_, embedding_, n_, threads);
    // The joint probabilities are formed whenever the rows are laid out
    // anew rather than kept: at a million points they would take a gigabyte.
    const ApproxTsneProbabilities& p = *probabilities_;
    const auto jointProbability = [&p](int row, int64_t entry) { return p.jointProbability(row, entry); };
    forces_.computeAttraction(tree_, embedding_, n_, dimensions_, p.jointOffsets.data(), p.jointKeys.data(),
                              jointProbability, p.exaggerationWeights.data(), gradient_.data(), threads);
    TreeOrderedForces::computeRepulsion(tree_, n_, parameters_.theta, negativeForces_.data(),
                                        partialSums_.data(), threads);
    // sumQ in point order, whatever the thread count.
    double sumQ = 0;
    for (int i = 0; i < n_; ++i)
        sumQ += partialSums_[i];
    return sumQ;
}

void ApproxTsneGradientDescent::computeGradient(double* gradient, double& sumQ)
{
    orb::checkInitialized(initialized_);
    sumQ = computeForces();
    const int64_t coordinates = static_cast<int64_t>(n_) * dimensions_;
    for (int64_t k = 0; k < coordinates; ++k)
        gradient[k] = gradient_[k] - negativeForces_[k] / sumQ;
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
    // Every task keeps the bounds of its own points; minima and maxima do
    // not depend on the order in which they are combined.
    const int threads = forceThreads(n_);
    const int64_t tasks = (static_cast<int64_t>(n_) + kUpdateChunk - 1) / kUpdateChunk;
    taskBounds_.resize(static_cast<size_t>(tasks) * 2 * d);
    WorkerPool::shared().run(threads, tasks, [&](int64_t task) {
        double* minimum = &taskBounds_[static_cast<size_t>(task) * 2 * d];
        double* maximum = minimum + d;
        std::fill_n(minimum, d, DBL_MAX);
        std::fill_n(maximum, d, kSmallestNormal);
        const int64_t end = std::min<int64_t>(n_, (task + 1) * kUpdateChunk);
        for (int64_t i = task * kUpdateChunk; i < end; ++i) {
            if (pointFlags_ && (pointFlags_[i] & kFixedPoint))
                continue;
            for (int k = 0; k < d; ++k) {
                const size_t c = static_cast<size_t>(i) * d + k;
                double gradient = gradient_[c] - negativeForces_[c] / sumQ;
                gradient_[c] = gradient;
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
    });
    std::fill(minimum_.begin(), minimum_.end(), DBL_MAX);
    std::fill(maximum_.begin(), maximum_.end(), kSmallestNormal);
    for (int64_t t = 0; t < tasks; ++t)
        for (int k = 0; k < d; ++k) {
            minimum_[k] = std::min(minimum_[k], taskBounds_[static_cast<size_t>(t) * 2 * d + k]);
            maximum_[k] = std::max(maximum_[k], taskBounds_[static_cast<size_t>(t) * 2 * d + d + k]);
        }
    centerData(embedding_, n_, d, threads);

    if (iteration_ == parameters_.momentumSwitchIteration && verbose_ && log_)
        log_->display("Switch momentum!");
    ++iteration_;
}
