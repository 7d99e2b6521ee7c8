#pragma once

#include "analyses/MCV_IterativeAnalysis.h"
#include "data/MCV_PointIndex.h"

#include "sparse_tsne/SparseTsne.h"
#include "vel/Embedding.h"
#include "vel/MapMemEff.h"
#include "vel/utils/CoutLog.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class MCV_DerivedDataHierarchy;
class MCV_HsneAnalysisHierarchy;

/// One level of a hierarchical SNE: the landmarks of one scale (all, or the
/// subset reached by drilling in) embedded by the sparse t-SNE, watched like
/// the A-tSNE. Its loop follows the run-state contract of
/// MCV_IterativeAnalysis: set-ups and runs requested during a run are taken
/// up at the next iteration, deletion is announced once and last.
///
/// The level shares the hierarchy data with its owner and the other levels
/// (a rebuild frees nothing a level uses) and reads its points from it.
/// Level and owner unlink when either is destroyed.
///
/// Files reopened (registry replaced) after the hierarchy was built:
/// selections, drills and point scales do nothing, with a line.
class MCV_HsneAnalysis : public MCV_IterativeAnalysis
{
public:
    MCV_HsneAnalysis();
    ~MCV_HsneAnalysis() override;

    /// MCV_Analysis::initialize, a new sparse t-SNE and log, an empty
    /// embedding and no transition matrix. Refused (a line) while busy.
    void initialize(MCV_UiInterface* uiInterface, std::string name);
    /// Stored now, taken by the next setHierarchy: the scale, its transition
    /// rows (the level's own, or none for the scale's) and the landmark
    /// subset (indices into the scale's landmarks, or none for all).
    void setScale(int scale, std::unique_ptr<std::vector<vel::MapMemEff>> transitions = nullptr,
                  std::unique_ptr<std::vector<unsigned>> subset = nullptr);
    /// Attaches the hierarchy: input set := the owner's, the embedding set up,
    /// the landmarks' points, samples, marker rows and weights gathered, then
    /// analysisInitializedSignal. During a run this happens once it unwinds.
    void setHierarchy(std::shared_ptr<MCV_DerivedDataHierarchy> hierarchy);
    /// initialize, setScale (all landmarks) and setHierarchy, then the loop:
    /// the hierarchy analysis' rebuild of its overview.
    void rebuild(std::string name, std::shared_ptr<MCV_DerivedDataHierarchy> hierarchy, int scale);
    /// Runs `iterations` iterations (resumes a stopped level; the count
    /// restarts at 1). Ignored while this level's loop runs.
    void runGradientDescent() override;
    /// A new start of the embedding, then the loop.
    void restart() override;

    /// The sparse t-SNE's settings for `rows` landmarks: exaggeration
    /// min(40, rows / 5000 + 10), removed after the exaggeration iterations
    /// (when the momentum switches too) and decaying over the decay iterations.
    static vel::SparseTsne::Parameters embeddingParameters(size_t rows, int exaggerationIterations,
                                                           int decayIterations);
    /// Barnes-Hut theta for `rows` landmarks: 0 (exact) up to 1000, 0.5 from 11000.
    static float embeddingTheta(size_t rows);

    MCV_HsneAnalysisHierarchy* owner() const { return m_owner; }
    /// The hierarchy analysis links and unlinks its levels.
    void setOwner(MCV_HsneAnalysisHierarchy* owner) { m_owner = owner; }
    const std::shared_ptr<MCV_DerivedDataHierarchy>& hierarchy() const { return m_hierarchy; }
    /// The scale shown; negative before setHierarchy.
    int scale() const { return m_scale; }
    /// The landmark subset shown, null for all landmarks of the scale.
    const std::vector<unsigned>* landmarkSubset() const { return m_subset.get(); }
    /// The rows embedded: the level's own or the scale's; null before set-up.
    const std::vector<vel::MapMemEff>* transitionMatrix() const { return m_transitions; }
    const vel::SparseTsne& sparseTsne() const { return *m_tsne; }
    /// True once an embedding is set up and until a failure.
    bool isEmbeddingReady() const { return m_embeddingReady; }

    int pointCount() const { return static_cast<int>(m_landmarkPoints.size()); }
    /// x, y per shown landmark.
    std::vector<float>& embeddingPositions() { return m_embedding.coordinates(); }
    /// All parameters of each shown landmark's event (markerCount() per row).
    std::vector<float>& markerValues() { return m_markerValues; }
    int* sampleIndices() { return m_sampleIndices.data(); }
    /// The (sample, event) of each shown landmark.
    const std::vector<MCV_PointIndex>& landmarkPoints() const { return m_landmarkPoints; }
    const std::vector<float>& landmarkWeights() const { return m_landmarkWeights; }
    /// Registry generation the marker rows were read from (0: none).
    uint64_t pointsGeneration() const { return m_pointsGeneration; }
    int markerCount() const { return static_cast<int>(m_markerCount); }
    const std::vector<std::string>& markerNames() const { return m_markerNames; }

    /// Indices into the shown landmarks as the scale's landmark indices
    /// (through the subset); indices out of range are left out.
    std::vector<unsigned> selectionToLandmarks(const std::vector<unsigned>& indices) const;
    /// The events the shown landmarks of `indices` represent: above scale 0
    /// each landmark's cached events, at scale 0 the landmark's own event;
    /// with sample bits, only events of samples whose bit is set (samples
    /// beyond the bits count as clear). False, with a line and nothing
    /// collected, when the files were reopened since the hierarchy was built.
    bool collectSelectionMembers(const std::vector<unsigned>& indices, std::vector<MCV_PointIndex>& out,
                                 const std::vector<bool>* sampleBits = nullptr) const;
    /// Per shown landmark: the share of its events whose sample bit is set
    /// times its weight, -1 when none is set or it has no events. Returns the
    /// largest landmark weight, or -1 (out unchanged) at scale 0, without a
    /// hierarchy, or after the files were reopened.
    float landmarkSelectionWeights(std::vector<bool> sampleBits, std::vector<float>& out) const;
    /// Puts the clusters of the named set under this level's exploration node.
    void drillIntoCluster(const std::string& clustersSetName);
    /// The name of a level drilled from a cluster its set no longer holds.
    void rename(std::string name) { m_name = std::move(name); }
    /// True when this level wrote the named clusters set.
    bool wroteClustersSet(const std::string& name) const;

    /// A clusters set "<name> - <level name>" (a new one, uniquely named,
    /// when another level wrote the set of that name before it was renamed);
    /// cluster c holds the events that the shown landmarks of indexLists[c]
    /// represent. When the exploration tree shows the set's clusters under
    /// this level, it shows the new ones (drillIntoCluster).
    MCV_DerivedData* createDerivedData(const std::vector<std::vector<unsigned>>& indexLists,
                                       std::string name) override;
    /// Previews are not kept; the vector is released.
    void setPreviewImages(std::vector<unsigned char*> images) override;

private:
    enum Request { Attach = 1, AttachAndRun, Restart, Resume };

    void runRequest(int request) override;
    void runFailed(const std::exception& failure) override;
    /// initialize without the busy check: attach() runs it inside its own request.
    void resetEngine(MCV_UiInterface* uiInterface, std::string name);
    /// Applies the staged name, scale and hierarchy; announces the set-up.
    void attach();
    void initializeEmbedding();
    void gatherLandmarkData();
    /// The iterations of one run and the closing announcement.
    void loop();
    void iterate();
    /// True when the hierarchy's events are those of the live registry; a line otherwise.
    bool hierarchyIsCurrent(const char* what) const;

    MCV_HsneAnalysisHierarchy* m_owner = nullptr;
    std::unique_ptr<vel::utils::CoutLog> m_log;
    std::shared_ptr<MCV_DerivedDataHierarchy> m_hierarchy;
    const std::vector<vel::MapMemEff>* m_transitions = nullptr;
    std::unique_ptr<std::vector<vel::MapMemEff>> m_ownTransitions;
    std::unique_ptr<std::vector<unsigned>> m_subset;
    std::unique_ptr<vel::SparseTsne> m_tsne;
    int m_scale = -1;
    std::vector<MCV_PointIndex> m_landmarkPoints;
    std::vector<float> m_markerValues;
    std::vector<float> m_landmarkWeights;
    vel::Embedding m_embedding;
    std::vector<int> m_sampleIndices;
    bool m_embeddingReady = false;
    uint64_t m_pointsGeneration = 0;
    int64_t m_markerCount = 0;
    std::vector<std::string> m_markerNames;
    /// Per set name asked for, the name of the set this level writes.
    std::map<std::string, std::string> m_clusterSets;

    // Set-up staged by setScale, setHierarchy and rebuild, applied by attach().
    bool m_stagedInitialize = false;
    std::string m_stagedName;
    bool m_scaleStaged = false;
    int m_stagedScale = -1;
    std::unique_ptr<std::vector<vel::MapMemEff>> m_stagedTransitions;
    std::unique_ptr<std::vector<unsigned>> m_stagedSubset;
    std::shared_ptr<MCV_DerivedDataHierarchy> m_stagedHierarchy;
};
