#pragma once

#include "analyses/MCV_Analysis.h"
#include "data/MCV_PointIndex.h"

#include "vel/MapMemEff.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class MCV_DerivedDataExploration;
class MCV_DerivedDataHierarchy;
class MCV_HsneAnalysis;

/// The hierarchical SNE's settings and hierarchy: builds the landmark
/// scales over the active markers of its input set, keeps the levels that
/// embed them (the first is the overview of the top scale), creates the
/// levels that drilling in asks for, and adds to the exploration tree.
///
/// Its type stays unset (-1): nothing renders or removes it by type.
/// Levels are owned by whoever created them (the main window); the
/// hierarchy analysis only lists them, except an overview that
/// computeHierarchy had to create itself, which it deletes.
///
/// Deletion requested while computeHierarchy is on the call stack (its
/// overview's loop runs inside it) is announced once that call returns.
class MCV_HsneAnalysisHierarchy : public MCV_Analysis
{
public:
    MCV_HsneAnalysisHierarchy();
    ~MCV_HsneAnalysisHierarchy() override;

    void setScaleCount(int count) { m_scaleCount = count; }
    void setSeed(int seed) { m_seed = seed; }
    void setWalksPerLandmark(int walks) { m_walksPerLandmark = walks; }
    void setMonteCarloSelection(bool on) { m_monteCarloSelection = on; }
    void setMonteCarloWalks(int walks) { m_monteCarloWalks = walks; }
    void setLandmarkThreshold(float threshold) { m_landmarkThreshold = threshold; }
    void setWalkLength(int length) { m_walkLength = length; }
    void setPruneThreshold(int threshold) { m_pruneThreshold = threshold; }
    void setIterations(int iterations) { m_iterations = iterations; }
    void setOutOfCore(bool on) { m_outOfCore = on; }
    void setKnnChecks(int checks) { m_knnChecks = checks; }
    int scaleCount() const { return m_scaleCount; }
    int seed() const { return m_seed; }
    int walksPerLandmark() const { return m_walksPerLandmark; }
    bool monteCarloSelection() const { return m_monteCarloSelection; }
    int monteCarloWalks() const { return m_monteCarloWalks; }
    float landmarkThreshold() const { return m_landmarkThreshold; }
    int walkLength() const { return m_walkLength; }
    int pruneThreshold() const { return m_pruneThreshold; }
    int iterations() const { return m_iterations; }
    bool outOfCore() const { return m_outOfCore; }
    int knnChecks() const { return m_knnChecks; }

    /// The exploration tree the levels add to (owned by the registry); null
    /// once the files were reopened, until a build on the new files takes
    /// the tree of the same name there.
    MCV_DerivedDataExploration* exploration() const;
    void setExploration(MCV_DerivedDataExploration* exploration);

    /// Builds the hierarchy over the input set (a line and nothing more
    /// without input, without active markers, or when the engine refuses),
    /// then makes the first level the overview of the top scale built (a
    /// level is created when there is none), announces the other levels as
    /// removed, restarts the exploration at the overview's node (after the
    /// files were reopened: the live registry's tree of the same name, the
    /// one a page shows by it) and runs the overview's loop. False when
    /// nothing was built.
    bool computeHierarchy();
    /// The exploration's addClusterChildren, keeping the nodes of its levels;
    /// a level drilled from a cluster its set no longer holds takes the new
    /// name its node is told apart by (tellApartEarlierClusters).
    void addClusterToExploration(const std::string& clustersSetName, const std::string& parentName, bool isLeaf);

    /// Appends a level (the first one becomes the overview) and links it.
    void addLevel(MCV_HsneAnalysis* level);
    /// Called by a level that is destroyed.
    void unlinkLevel(MCV_HsneAnalysis* level);
    const std::vector<MCV_HsneAnalysis*>& levels() const { return m_levels; }
    /// The hierarchy data, shared with the levels; null before a build.
    const std::shared_ptr<MCV_DerivedDataHierarchy>& hierarchy() const { return m_hierarchy; }
    /// The input events of the last build, in data order.
    const std::vector<MCV_PointIndex>& landmarkPoints() const { return m_points; }
    int pointCount() const { return m_pointCount; }

    /// A new level (owned by the caller), one scale below `parent`, showing
    /// the points of that scale that stand for the events of `landmarks`
    /// (indices into parent's scale; see drillSubset): it is named `name`,
    /// set up with those points' transition rows (renumbered and
    /// normalised), linked and given an exploration node under parent's
    /// unless one of that name exists. The caller wires its views and then
    /// calls setHierarchy(hierarchy()) and runGradientDescent(). Null, with
    /// a line, for a parent that is not a level of this hierarchy, scale 0,
    /// fewer than 2 landmarks, a landmark out of range, or reopened files.
    MCV_HsneAnalysis* createLevel(MCV_HsneAnalysis* parent, const std::vector<unsigned>& landmarks,
                                  const std::string& name);
    /// The landmarks (indices into parent's scale) among parent's shown ones
    /// that stand for events of cluster `cluster` of the clusters set
    /// `clustersSetName`, which parent must have created (the rule of
    /// MCV_DerivedDataHierarchy::pointsWithin). False with a line otherwise,
    /// or for a cluster out of range or reopened files.
    bool clusterLandmarks(MCV_HsneAnalysis* parent, const std::string& clustersSetName, int cluster,
                          std::vector<unsigned>& landmarks) const;

    /// For landmarks of `scale` (s >= 1): the points of scale s - 1 that
    /// stand for the events the landmarks list
    /// (MCV_DerivedDataHierarchy::pointsWithin), ascending, and their
    /// transition rows restricted to them, renumbered to positions in
    /// `subset` and normalised (an empty sum leaves an empty row).
    static void drillSubset(const MCV_DerivedDataHierarchy& hierarchy, int scale,
                            const std::vector<unsigned>& landmarks, std::vector<unsigned>& subset,
                            std::vector<vel::MapMemEff>& rows);

    /// The hierarchy analysis has no clusters of its own.
    MCV_DerivedData* createDerivedData(const std::vector<std::vector<unsigned>>& indexLists,
                                       std::string name) override;
    void setPreviewImages(std::vector<unsigned char*> images) override;
    /// Announced at once, or when computeHierarchy returns if it is running.
    void requestDeletion() override;

private:
    /// Builds the hierarchy data; false with a line when there is nothing to build.
    bool buildHierarchy();

    int m_scaleCount = 3;
    int m_seed = -1;
    int m_walksPerLandmark = 100;
    bool m_monteCarloSelection = true;
    int m_monteCarloWalks = 10;
    float m_landmarkThreshold = 1.5f;
    int m_walkLength = 10;
    int m_pruneThreshold = 1;
    int m_iterations = 1000;
    bool m_outOfCore = false;
    int m_knnChecks = 1024;
    std::shared_ptr<MCV_DerivedDataHierarchy> m_hierarchy;
    MCV_DerivedDataExploration* m_exploration = nullptr;
    uint64_t m_explorationGeneration = 0;
    std::string m_explorationName;
    std::vector<MCV_HsneAnalysis*> m_levels;
    std::vector<MCV_PointIndex> m_points;
    int m_pointCount = 0;

    /// The overview computeHierarchy created, when no one gave a level.
    std::unique_ptr<MCV_HsneAnalysis> m_ownOverview;
    int m_computing = 0;
    bool m_deletionRequested = false;
    bool m_deletionAnnounced = false;
};
