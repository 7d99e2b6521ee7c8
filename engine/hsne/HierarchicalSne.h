#pragma once

#include "vel/MapMemEff.h"
#include "vel/utils/AbstractLog.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <random>
#include <stdexcept>
#include <vector>

namespace vel {

/// The hierarchical SNE: a hierarchy of scales over a caller-owned N x D
/// float matrix. Scale 0 holds every point and the transition matrix of a
/// Markov chain over the approximate k-nearest-neighbour graph (each row a
/// Gaussian fitted to the perplexity k / 3); every further scale keeps as
/// landmarks a subset of the previous scale's points, chosen by random
/// walks, with the areas of influence of the previous points, landmark
/// weights and a transition matrix between the landmarks.
///
/// Every random procedure derives its numbers from the seed parameter:
/// every block of 256 consecutive walking points draws from a stream of its
/// own (seed, block), point after point, so a scale does not depend on the
/// thread count, and every sum over points runs in point order. A seed of 1
/// or more also builds the neighbour search's trees, so that it repeats the
/// whole hierarchy; below 1 they come from FLANN's own randomness.
class HierarchicalSne
{
public:
    struct Parameters
    {
        int seed = -1;                              ///< below 1: the clock
        int neighbours = 30;                        ///< k of the neighbourhood graph
        int trees = 4;                              ///< FLANN randomised KD-trees
        int checks = 1024;                          ///< FLANN search checks
        bool monteCarloSelection = true;            ///< else the fixed reduction
        int walksPerPoint = 10;                     ///< selection walks from every point
        float landmarkThreshold = 1.5f;             ///< landmark: walk ends > walks per point x this
        int walkLength = 10;                        ///< steps of a selection walk (one more is taken)
        float reduction = 0.1f;                     ///< share of points the fixed reduction keeps
        int fixedReductionWalkLength = 10;
        bool outOfCore = false;                     ///< build scales with the out-of-core procedure
        int areaOfInfluenceWalks = 100;             ///< walks per point for its area of influence
        float areaOfInfluencePruneThreshold = 1.5f; ///< percent; pairs below it add no transition
    };

    /// One scale: its landmarks among the previous scale's points.
    struct Scale
    {
        std::vector<uint32_t> landmarkToDataPoint;      ///< per landmark: its row of the data
        std::vector<uint32_t> landmarkToPreviousScale;  ///< per landmark: its previous-scale index
        std::vector<MapMemEff> transitionMatrix;        ///< per landmark; keys are landmarks
        std::vector<float> landmarkWeights;
        std::vector<int32_t> previousScaleToLandmark;   ///< per previous point: landmark or -1
        std::vector<MapMemEff> areaOfInfluence;         ///< per previous point; keys are landmarks

        uint32_t size() const { return static_cast<uint32_t>(landmarkToDataPoint.size()); }
        /// Megabytes held by the scale.
        float memorySize() const;
    };

    /// Timings and counts of the last initialisation or added scale; -1
    /// where unset.
    enum Statistic {
        TotalTime,
        NeighbourGraphTime,
        TransitionProbabilitiesTime,
        FirstScaleChainTime,
        MonteCarloSamplingTime,
        LandmarkSelectionTime,
        LandmarkSelectionWalks,
        AreaOfInfluenceTime,
        ChainTime,
        AreaOfInfluenceWalks,
        AreaOfInfluenceSparsity,
        TransitionSparsity,
        TransitionEffectiveSparsity,
        StatisticCount
    };
    using Statistics = std::array<float, StatisticCount>;

    HierarchicalSne();

    /// Throws std::logic_error "Class should be uninitialized to change the
    /// dimensionality" once initialised, "Invalid dimensionality" for D <= 0.
    void setDimensionality(int dimensionality);

    /// Binds the data (N x D floats, kept by the caller) and builds scale 0.
    /// Throws std::logic_error, before any search, without dimensionality,
    /// with fewer than 1 neighbour or fewer than neighbours + 1 points.
    void initialize(const float* data, uint32_t n, const Parameters& parameters);

    /// Builds and appends one more scale on the last one and prints the
    /// statistics block. Returns false, appending nothing, when fewer than 2
    /// landmarks are found: the hierarchy ends there. Throws
    /// std::logic_error when there is no scale yet.
    bool addScale();

    /// One map per scale of the landmarks that data point `point` influences:
    /// map 0 is {point: 1}, map 1 its area of influence at scale 1, and map
    /// s the areas of influence at scale s of map s - 1's entries of at
    /// least `threshold`, weighted by them; each normalised to sum 1 when
    /// asked.
    void influenceOverScales(uint32_t point, std::vector<MapMemEff>& maps, float threshold, bool normalise) const;

    /// The statistics block of the last call, without time stamps.
    void logStatistics(utils::AbstractLog* log) const;

    // The steps of a new scale, callable on hand-built scales as well.

    /// Landmarks: the points where more than walks per point x threshold of
    /// the walks end (walks of walk length + 1 steps from every point).
    void selectLandmarksMonteCarlo(const Scale& previous, Scale& scale, uint32_t& landmarks);
    /// Landmarks: the ends of walks from uniformly drawn points until
    /// n x reduction are found, or 1000 walks per landmark sought were made.
    void selectLandmarksFixedReduction(const Scale& previous, Scale& scale, uint32_t& landmarks);
    /// Areas of influence, landmark weights and transition rows of a scale
    /// whose landmarks are chosen: the in-core procedure (walk limit 100,
    /// pairs pruned on hit counts, weights with the previous weights,
    /// transition rows whole).
    void computeScaleInCore(const Scale& previous, Scale& scale);
    /// The same by the out-of-core procedure (walk limit 200, pairs pruned
    /// on hit shares, weights without the previous weights, transition
    /// entries at or below 0.001 dropped), with progress lines.
    void computeScaleOutOfCore(const Scale& previous, Scale& scale);

    /// One uniform draw in [0, 1): an engine output x 2^-32.
    static double uniform(std::mt19937& engine) { return engine() * (1.0 / 4294967296.0); }
    /// The end of a walk of `steps` steps from `start`: each step goes to the
    /// first key whose running sum of values exceeds a uniform draw, or to
    /// point 0 when none does.
    static uint32_t randomWalk(uint32_t start, int steps, const std::vector<MapMemEff>& transitions,
                               std::mt19937& engine);
    /// The previous-scale index of the first landmark a walk from `start`
    /// reaches within `limit` steps, or -1. The walk takes up to limit + 1
    /// steps; a landmark reached only by the last one gives -1 as well. The
    /// start itself is never tested.
    static int64_t walkToLandmark(uint32_t start, const std::vector<int32_t>& previousToLandmark, int limit,
                                  const std::vector<MapMemEff>& transitions, std::mt19937& engine);

    const std::vector<Scale>& scales() const { return scales_; }
    std::vector<Scale>& scales() { return scales_; }
    const Statistics& statistics() const { return statistics_; }
    const Parameters& parameters() const { return parameters_; }
    Parameters& parameters() { return parameters_; }
    int dimensionality() const { return dimensionality_; }
    uint32_t numberOfPoints() const { return n_; }
    bool isInitialized() const { return initialized_; }
    utils::AbstractLog* log() const { return log_; }
    void setLog(utils::AbstractLog* log) { log_ = log; }
    /// Gates only the progress lines of the out-of-core procedure.
    void setVerbose(bool verbose) { verbose_ = verbose; }
    bool verbose() const { return verbose_; }

private:
    void say(const char* text) const;
    void initializeFirstScale();
    bool addScaleInCore();
    bool addScaleOutOfCore();
    /// Selects the landmarks; false (with a line) when fewer than 2.
    bool selectLandmarks(const Scale& previous, Scale& scale);
    /// The seed of a random procedure: the parameter, or the clock below 1.
    uint32_t procedureSeed() const;
    /// Every previous point's walks to landmarks, the hits counted per
    /// landmark into its area-of-influence row (as whole numbers).
    void countLandmarkHits(const Scale& previous, Scale& scale, int limit, uint32_t seed, bool progress);
    /// Divides every transition row by its sum and sets the two transition
    /// sparsities, entries above `cut` counting as effective.
    void normaliseTransitions(Scale& scale, float cut);

    std::vector<Scale> scales_;
    int dimensionality_ = 0;
    uint32_t n_ = 0;
    const float* data_ = nullptr;
    bool initialized_ = false;
    bool verbose_ = false;
    Parameters parameters_;
    utils::AbstractLog* log_ = nullptr;
    Statistics statistics_;
};

/// Fits a Gaussian over squared distances d(0..m-1) to the perplexity by
/// bisection on its precision beta, ignoring entry `ignore` (its
/// probability is 0): writes the normalised probabilities and returns sigma
/// = sqrt(1 / (2 beta)). When `limit` iterations do not bring the entropy
/// within `tolerance` of ln(perplexity), every output is 1 / (m - 1)
/// (1 / m when `ignore` lies outside the range) and 0 is returned. Throws
/// std::logic_error "Invalid containers" for ranges of different or no
/// length.
template <typename InputIt, typename OutputIt>
double fitGaussianToPerplexity(InputIt distancesBegin, InputIt distancesEnd, OutputIt probabilitiesBegin,
                               OutputIt probabilitiesEnd, double perplexity, int limit, double tolerance,
                               int64_t ignore)
{
    constexpr double kSmallestNormal = 2.2250738585072014e-308;
    constexpr double kLargest = 1.7976931348623157e308;
    const int64_t m = std::distance(distancesBegin, distancesEnd);
    if (m != std::distance(probabilitiesBegin, probabilitiesEnd) || m == 0)
        throw std::logic_error("Invalid containers");
    double beta = 1;
    double betaMinimum = -kLargest;
    double betaMaximum = kLargest;
    const double target = std::log(perplexity);
    for (int iteration = 0; iteration < limit; ++iteration) {
        double sum = kSmallestNormal;
        double weighted = 0;
        InputIt distance = distancesBegin;
        OutputIt probability = probabilitiesBegin;
        for (int64_t i = 0; i < m; ++i, ++distance, ++probability) {
            const double p = i == ignore ? 0.0 : std::exp(-beta * *distance);
            *probability = p;
            sum += p;
            weighted += *distance * p;
        }
        const double sigma = std::sqrt(1 / (2 * beta));
        const double entropy = std::log(sum) + beta * weighted / sum - target;
        if (entropy < tolerance && -entropy < tolerance) {
            for (OutputIt p = probabilitiesBegin; p != probabilitiesEnd; ++p)
                *p = *p / sum;
            return sigma;
        }
        if (entropy > 0) {
            betaMinimum = beta;
            beta = betaMaximum == kLargest || betaMaximum == -kLargest ? beta * 2 : (beta + betaMaximum) / 2;
        } else {
            betaMaximum = beta;
            beta = betaMinimum == kLargest || betaMinimum == -kLargest ? beta / 2 : (beta + betaMinimum) / 2;
        }
    }
    const double uniform = ignore >= 0 && ignore < m ? 1.0 / (m - 1) : 1.0 / m;
    for (OutputIt p = probabilitiesBegin; p != probabilitiesEnd; ++p)
        *p = uniform;
    return 0;
}

/// Sum of (a - b)^2 over two ranges of equal length, accumulated in double.
template <typename InputIt>
float squaredEuclideanDistance(InputIt aBegin, InputIt aEnd, InputIt bBegin)
{
    double sum = 0;
    for (; aBegin != aEnd; ++aBegin, ++bBegin) {
        const double difference = static_cast<double>(*aBegin) - static_cast<double>(*bBegin);
        sum += difference * difference;
    }
    return static_cast<float>(sum);
}

} // namespace vel
