#pragma once

#include "tree/SpacePartitionTree.h"
#include "tree/TreeOrderedForces.h"
#include "vel/Embedding.h"
#include "vel/MapMemEff.h"
#include "vel/utils/AbstractLog.h"

#include <cstdint>
#include <vector>

namespace vel {

/// The float t-SNE that embeds one hierarchical-SNE scale: it symmetrises a
/// sparse probability matrix (one MapMemEff row per point) and moves the
/// caller's Embedding one gradient-descent step per call of iterate, with
/// Barnes-Hut forces (theta > 0) or the exact O(n^2) gradient (theta 0).
///
/// The attraction of the Barnes-Hut gradient carries the exaggeration E
/// twice and no factor 4; the exact gradient carries 4E and a factor 4 in
/// the repulsion, and only it applies the caller's multiplier. The joint
/// matrix is (P + P^T) / 2, not divided by n: both gradients divide by n.
/// Results do not depend on the thread count.
class SparseTsne
{
public:
    struct Parameters
    {
        int seed = -1;                          ///< negative: the current time in seconds
        int embeddingDimensions = 2;
        double minimumGain = 0.1;
        double learningRate = 200;
        double momentum = 0.2;
        double finalMomentum = 0.5;
        double momentumSwitchIteration = 250.0; ///< from here on the final momentum is used
        double exaggerationFactor = 4.0;
        uint32_t exaggerationRemovalIteration = 250;  ///< last iteration with the full factor
        uint32_t exaggerationDecayLength = 150;       ///< iterations of decay after the removal
    };

    /// Seconds spent in each stage, summed over all iterations.
    struct StageTimes
    {
        double tree = 0;        ///< Barnes-Hut tree builds
        double attraction = 0;  ///< attraction, or the exact kernel and gradient
        double repulsion = 0;   ///< Barnes-Hut repulsion
        double update = 0;      ///< gains, momentum, moves, rescaling or centring
    };

    SparseTsne() = default;

    /// Symmetrises the rows, binds the embedding and gives it n points of a
    /// small random start (seeded by the seed parameter). Throws
    /// std::logic_error, changing nothing, for fewer than 2 rows, fewer than
    /// 1 dimension, a key of n or more, or a negative or non-finite value.
    void initialize(const std::vector<MapMemEff>& probabilities, Embedding& embedding, const Parameters& parameters);

    /// One gradient-descent step; the exact gradient's update is multiplied
    /// by `multiplier`. Throws std::logic_error when not initialised.
    void iterate(double multiplier = 1.0);

    /// Clears the embedding and the initialised flag.
    void reset();
    void markUninitialized() { initialized_ = false; }

    /// The exaggeration factor of iteration t: E up to the removal
    /// iteration R, then 1 + (E - 1) exp(-(t - R) / 30) up to R + the decay
    /// length, then 1.
    float exaggerationFactor(uint32_t iteration) const;

    /// The joint probability of (row, column); 0 when absent.
    float jointProbability(uint32_t row, uint32_t column) const;
    /// The gradient of the last iteration (n x dimensions).
    const std::vector<float>& gradient() const { return gradient_; }
    const StageTimes& stageTimes() const { return stageTimes_; }

    float theta() const { return theta_; }
    /// 0 selects the exact gradient.
    void setTheta(float theta) { theta_ = theta; }
    uint32_t iteration() const { return iteration_; }
    const Parameters& parameters() const { return parameters_; }
    utils::AbstractLog* log() const { return log_; }
    void setLog(utils::AbstractLog* log) { log_ = log; }

private:
    void say(const char* text) const;
    static void checkProbabilities(const std::vector<MapMemEff>& probabilities, int dimensions);
    void computeJointProbabilities(const std::vector<MapMemEff>& probabilities);
    void initializeEmbedding(int seed, double multiplier);
    void computeBarnesHutGradient(float exaggeration);
    void computeExactGradient(float exaggeration);
    void updateEmbedding(double multiplier);

    Embedding* embedding_ = nullptr;
    bool initialized_ = false;
    int n_ = 0;
    int dimensions_ = 0;

    // Joint rows, flat: row i at jointOffsets_[i] .. jointOffsets_[i + 1] - 1,
    // keys ascending.
    std::vector<int64_t> jointOffsets_;
    std::vector<int32_t> jointKeys_;
    std::vector<float> jointValues_;

    std::vector<float> kernel_;   ///< n x n, allocated at the first exact iteration
    float kernelSum_ = 0;         ///< Z
    std::vector<float> gradient_;
    std::vector<float> previousUpdate_;
    std::vector<float> gains_;
    float theta_ = 0;
    Parameters parameters_;
    uint32_t iteration_ = 0;
    utils::AbstractLog* log_ = nullptr;
    StageTimes stageTimes_;

    // Per-step scratch, kept to avoid allocations in the hot loop.
    SpacePartitionTree<float> tree_;
    TreeOrderedForces forces_;
    std::vector<double> weights_;
    std::vector<double> attraction_;
    std::vector<double> negativeForces_;
    std::vector<double> partialSums_;
};

} // namespace vel
