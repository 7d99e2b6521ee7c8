#pragma once

#include "approx_tsne/ApproxTsneProbabilities.h"
#include "helpers/AbstractLog.h"
#include "tree/SpacePartitionTree.h"
#include "tree/TreeOrderedForces.h"

#include <cstdint>
#include <vector>

/// Moves a caller-owned embedding (N x D doubles, row-major) one step of the
/// approximated t-SNE gradient descent at a time: attraction from the joint
/// probabilities, Barnes-Hut repulsion from a SpacePartitionTree.
///
/// The caller owns the probabilities, the point flags and the embedding, sets
/// log, verbosity and parameters, then calls initialize once and iterate once
/// per step, reading the embedding and its bounds between steps. The joint
/// rows are read every tenth step, the exaggeration weights in every step,
/// so the probabilities must outlive the engine unchanged: changed
/// probabilities need a new engine, as does a new initialisation.
class ApproxTsneGradientDescent
{
public:
    struct Parameters
    {
        int seed = -1;                          ///< -1: the current time in seconds
        double theta = 0.5;                     ///< Barnes-Hut threshold of the repulsion
        int momentumSwitchIteration = 250;      ///< from here on the final momentum is used
        int exaggerationRemovalIteration = 250; ///< the exaggeration ends or starts to decay here
        double momentum = 0.5;
        double finalMomentum = 0.8;
        double learningRate = 200;
        double minimumGain = 0.01;
        double stepGrowthLimit = 7.5;           ///< largest ratio of a step to the previous update
        double exaggerationDecayFactor = 0.95;  ///< per iteration, with exponential decay
        bool computeKlDivergence = false;       ///< in every iteration
        bool exponentialDecay = false;          ///< decay the exaggeration instead of removing it at once
    };

    /// Point flag bit of a fixed point: never moved by an update.
    static constexpr int32_t kFixedPoint = 2;

    ApproxTsneGradientDescent() = default;

    /// Binds the engine to the caller's data, fills the embedding with a
    /// small random start (seeded by the seed parameter) and sets every
    /// exaggeration weight to N / 5000 + 10. Throws when called twice.
    void initialize(ApproxTsneProbabilities* probabilities, int32_t* pointFlags, double* embedding, int dimensions);

    /// One gradient-descent step. Throws "Initialization check failed!!"
    /// before initialize.
    void iterate();

    /// The gradient iterate would apply to the current embedding with the
    /// current exaggeration weights (attraction minus repulsion / sumQ; the
    /// gradient of the KL divergence divided by 4 when the weights are 1),
    /// N x D values; also gives sumQ. Moves nothing.
    void computeGradient(double* gradient, double& sumQ);

    double* embedding() const { return embedding_; }
    /// Per-dimension bounds of the moved points after the last step, before
    /// centring; -1 and 1 after initialisation.
    const std::vector<double>& minimum() const { return minimum_; }
    const std::vector<double>& maximum() const { return maximum_; }
    /// Number of steps taken.
    int iteration() const { return iteration_; }
    /// KL divergence of the last step, when computing it is on.
    double klDivergence() const { return klTotal_; }
    double klMinimum() const { return klMinimum_; }
    double klMaximum() const { return klMaximum_; }

    Parameters& parameters() { return parameters_; }
    const Parameters& parameters() const { return parameters_; }
    void setLog(orb::AbstractLog* log) { log_ = log; }
    orb::AbstractLog* log() const { return log_; }
    void setVerbose(bool verbose) { verbose_ = verbose; }
    bool verbose() const { return verbose_; }

private:
    void updateExaggeration();
    /// Attraction into gradient_, negative forces into negativeForces_;
    /// returns sumQ, summed in point order. The gradient is then
    /// attraction - negative force / sumQ.
    double computeForces();

    bool initialized_ = false;
    ApproxTsneProbabilities* probabilities_ = nullptr;
    int32_t* pointFlags_ = nullptr;
    int dimensions_ = 0;
    int n_ = 0;
    double* embedding_ = nullptr;
    std::vector<double> gradient_;
    std::vector<double> previousUpdate_;
    double klMinimum_ = 0;
    double klMaximum_ = 0;
    double klTotal_ = 0;
    std::vector<double> minimum_;
    std::vector<double> maximum_;
    int iteration_ = 0;
    std::vector<double> gains_;
    TreeOrderedForces forces_;   ///< the joint rows laid out in the tree's spatial order
    orb::AbstractLog* log_ = nullptr;
    bool verbose_ = true;
    Parameters parameters_;

    // Per-step scratch, kept to avoid allocations in the hot loop.
    SpacePartitionTree<double> tree_;
    std::vector<double> negativeForces_;
    std::vector<double> partialSums_;
    std::vector<double> taskBounds_;   ///< per update task: D minima, then D maxima
};
