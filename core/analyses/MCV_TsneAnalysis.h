#pragma once

#include "analyses/MCV_IterativeAnalysis.h"
#include "data/MCV_PointIndex.h"

#include "approx_tsne/ApproxTsneGradientDescent.h"
#include "approx_tsne/ApproxTsneProbabilities.h"
#include "helpers/CoutLog.h"

#include <cstdint>
#include <string>
#include <vector>

/// The A-tSNE analysis: sparse joint probabilities over the active markers
/// of its input set, then the engine's gradient descent run synchronously on
/// the GUI thread (one analysisUpdatedSignal per iteration), and finally the
/// embedding written into the channels "VSRNE_TsneX" and "VSRNE_TsneY".
///
/// Run requests follow the run-state contract of MCV_IterativeAnalysis:
/// compute, restart and runGradientDescent made during a run are honoured at
/// the next iteration, and deletion is announced once and last. A run that
/// ends writes the channels and prints the summary before its closing
/// announcement. Closing the main window uses requestDeletion too.
///
/// Refusals (a line on standard output, nothing announced, nothing changed):
/// no active markers; a perplexity below 1, which an input of 1 to 3 points
/// gives once the perplexity is lowered to N / 4 for N < 4 x perplexity;
/// restart or runGradientDescent before any set-up. Events with a value that
/// is not a finite number in an active marker are left out of the embedding
/// (a line says how many; their channels keep their values). An engine
/// failure ends the computation with a line holding its text.
///
/// Files reopened (registry replaced) during a run: the embedding is not
/// written into the new registry's samples; a line says so. Any slot may
/// reopen the files; only the slots of readyForDeletionSignal and of
/// createDerivedData's announcements (newDerivedDataAddedSignal,
/// dataRefreshedSignal) may delete the analysis.
class MCV_TsneAnalysis : public MCV_IterativeAnalysis
{
public:
    MCV_TsneAnalysis();
    ~MCV_TsneAnalysis() override;

    /// MCV_Analysis::initialize only.
    void initialize(MCV_UiInterface* uiInterface, std::string name);

    /// Probabilities from the input set, a new gradient descent, the loop.
    void compute();
    /// A new gradient descent on the kept probabilities, then the loop.
    void restart() override;
    /// Runs `iterations` iterations of the current gradient descent (resumes a
    /// stopped one). Ignored while a loop of this analysis is already running.
    void runGradientDescent() override;

    /// Target perplexity of the next probabilities; lowered for small inputs.
    void setPerplexity(int perplexity) { m_perplexity = perplexity; }
    int perplexity() const { return m_perplexity; }
    /// The similarity stage leaves the data as they are when set.
    void setSkipNormalization(bool skip) { m_skipNormalization = skip; }
    bool skipNormalization() const { return m_skipNormalization; }
    void setVerbose(bool verbose) { m_verbose = verbose; }

    /// True from a gradient-descent set-up until the end of the next run.
    bool isEmbeddingLive() const { return m_embeddingLive; }

    int pointCount() const { return m_pointCount; }
    /// The embedded points; index k of every buffer is point k of this list.
    const std::vector<MCV_PointIndex>& points() const { return m_points; }
    /// x, y per point, refreshed after every iteration.
    std::vector<float>& embeddingPositions() { return m_renderPositions; }
    /// The whole event row (all merged parameters) of every point.
    std::vector<float>& markerValues() { return m_markerValues; }
    /// Sample index of the first point (one int per point).
    int* sampleIndices() { return m_sampleIndices.data(); }
    /// Registry generation the points and marker rows were taken from; 0
    /// before the first probabilities. Views compare it with the live one.
    uint64_t pointsGeneration() const { return m_pointsGeneration; }
    /// The default-state keys of the files sampleIndices() number, as they
    /// were loaded when the points were taken.
    const std::vector<std::string>& sampleKeys() const { return m_sampleKeys; }
    /// Values per row of markerValues(): the merged parameter count when the
    /// points were taken. Channels appended later are not in the rows.
    int markerCount() const { return static_cast<int>(m_markerCount); }
    /// $PnN of the parameters in the marker rows, as they were named then.
    const std::vector<std::string>& markerNames() const { return m_markerNames; }
    /// The engine (read-only): iteration counter, bounds, parameters.
    const ApproxTsneGradientDescent& gradientDescent() const { return m_gradientDescent; }

    /// A clusters set "<name> - <analysis name>" whose cluster c holds the
    /// points named by indexLists[c] (indices into points()); indices out of
    /// range are left out. After the files were reopened the set stays empty.
    /// Null when a slot of its announcements reopened the files.
    MCV_DerivedData* createDerivedData(const std::vector<std::vector<unsigned>>& indexLists,
                                       std::string name) override;
    /// Nothing to do with the previews; the vector is released.
    void setPreviewImages(std::vector<unsigned char*> images) override;

private:
    /// What a run request asks for; later ones replace earlier pending ones.
    enum Request { Compute = 1, Restart, Resume };

    void runRequest(int request) override;
    void runFailed(const std::exception& failure) override;
    /// Fills the buffers and probabilities from the input set; false (nothing
    /// changed, nothing announced) when there is nothing to compute.
    bool computeProbabilities();
    void initializeGradientDescent();
    /// The iterations of one run, the channel write and the summary; the
    /// closing announcement is left to drive().
    void iterate();
    void writeEmbeddingToChannels();
    double computeKlDivergence();
    void copyEmbeddingToRenderPositions();

    bool m_verbose = false;
    bool m_skipNormalization = false;
    int m_knnTrees = 4;
    int m_knnChecks = 1024;
    int m_perplexity = 30;
    int m_embeddingDimensions = 2;
    bool m_embeddingLive = false;

    std::vector<MCV_PointIndex> m_points;
    int m_pointCount = 0;
    std::vector<int> m_pointFlags;
    std::vector<float> m_renderPositions;
    std::vector<int> m_sampleIndices;
    std::vector<double> m_embedding;
    std::vector<float> m_markerValues;
    orb::CoutLog m_log;
    ApproxTsneProbabilities m_probabilities;
    std::vector<double> m_dataMatrix;
    ApproxTsneGradientDescent m_gradientDescent;

    bool m_descentReady = false;
    /// Registry generation the points (and the marker rows) were taken from.
    uint64_t m_pointsGeneration = 0;
    std::vector<std::string> m_sampleKeys;
    /// Parameters per row of the marker values, as taken, with their names.
    int64_t m_markerCount = 0;
    std::vector<std::string> m_markerNames;
};
