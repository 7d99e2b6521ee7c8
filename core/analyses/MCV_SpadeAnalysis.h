#pragma once

#include "analyses/MCV_Analysis.h"
#include "analyses/spade/BoruvkaMst.h"
#include "analyses/spade/DendrogramNode.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_PointIndex.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class SpadeDensityCounter;

/// A SPADE cluster tree over every loaded sample: per file a local density
/// for each event (cached beside the file) and a density-dependent subset of
/// its events; then a farthest-first dendrogram of the kept events of all
/// files, cut into the target number of clusters, a minimum spanning tree
/// over the cluster medians, every dropped event assigned to its nearest
/// cluster, and the clusters with their links published as the clusters set
/// named after the analysis. Runs synchronously; progress goes to standard
/// output. A run recomputes only the stages whose settings changed.
///
/// Events with a value that is not a finite number in an active marker take
/// no part in densities, downsampling and clustering (a line per file says
/// how many); upsampling assigns them by their finite markers, so every
/// event still lands in exactly one cluster.
///
/// Announcements (the creation of "All Points" or of the clusters set, the
/// published tree, a subtree) come last in every operation; their slots may
/// reopen the files or delete the analysis.
class MCV_SpadeAnalysis : public MCV_Analysis
{
public:
    /// Type 0, input "All Points", every stage dirty.
    MCV_SpadeAnalysis();
    ~MCV_SpadeAnalysis() override;

    /// Registers an empty clusters set under the name (made unique by the
    /// registry), adopts its name and initialises the base with it.
    void initialize(MCV_UiInterface* uiInterface, const std::string& name);

    /// Settings; a changed value marks its stage dirty (floats: also when either is NaN).
    void setSampleSize(int sampleSize);
    int sampleSize() const { return m_sampleSize; }
    void setAlpha(float alpha);
    float alpha() const { return m_alpha; }
    void setTargetDensityPercentile(float percentile);
    float targetDensityPercentile() const { return m_targetDensityPercentile; }
    void setOutlierDensityPercentile(float percentile);
    float outlierDensityPercentile() const { return m_outlierDensityPercentile; }
    void setKeepPercentage(float percentage);
    float keepPercentage() const { return m_keepPercentage; }
    void setTargetClusterCount(int count);
    int targetClusterCount() const { return m_targetClusterCount; }

    bool densitiesDirty() const { return m_densitiesDirty; }
    bool downsamplingDirty() const { return m_downsamplingDirty; }
    bool clusteringDirty() const { return m_clusteringDirty; }

    /// Runs every stage that its settings require, then publishes the tree.
    void computeSpadeTree();

    /// Per-file stages; each returns whether it ran.
    bool loadCachedDensities(int file);
    bool computeMedianDistance(int file);
    bool computeLocalDensities(int file);
    void writeDensityCache(int file);
    bool downsample(int file);

    /// Whole-run stages; each returns whether it ran.
    bool buildDendrogram();
    bool clusterDendrogram();
    void computeClusterMedians();
    bool buildMst();
    bool upsample(int file);

    /// Installs clusters and links into the clusters set named after the
    /// analysis (a new, uniquely named set when reuse is off) and adopts its name.
    void publishClusters(bool reuse);
    /// Publishes the events of the listed clusters (in list order) as the
    /// points set of the bubble `name`, tagged with the target cluster count;
    /// returns the name the set carries, empty when the announcement reopened
    /// the files. Only a set this analysis published for that bubble in the
    /// live registry is filled again: a name taken by any other set, or the
    /// reserved "All Points" and "Selection", gives a new set named name-1,
    /// name-2, ..., so a bubble never overwrites data it did not create.
    std::string createSubtreeData(const std::string& name, const std::vector<int>& clusters);

    /// The clusters set named after the analysis; both arguments are ignored.
    MCV_DerivedData* createDerivedData(const std::vector<std::vector<unsigned>>& indexLists,
                                       std::string name) override;
    void setPreviewImages(std::vector<unsigned char*> images) override;

    /// L1 distance of two events of a file over the active markers, in single precision.
    float manhattanDistance(int file, int64_t a, int64_t b) const;

    const std::vector<float>& medianDistances() const { return m_medianDistances; }
    const std::vector<float>& densityRadii() const { return m_densityRadii; }
    const std::vector<std::vector<int32_t>>& densities() const { return m_densities; }
    /// The densities of the file's finite events, ascending.
    const std::vector<std::vector<int32_t>>& sortedDensities() const { return m_sortedDensities; }
    const std::vector<std::vector<int>>& keptEvents() const { return m_keptEvents; }
    const std::vector<std::vector<bool>>& keptFlags() const { return m_keptFlags; }
    /// Node id i at index i - 1.
    const std::vector<DendrogramNode>& dendrogram() const { return m_dendrogram; }
    const std::vector<std::vector<MCV_PointIndex>>& clusters() const { return m_clusters; }
    const std::vector<MCV_DerivedDataClusters::Link>& links() const { return m_links; }
    const std::vector<std::vector<float>>& medians() const { return m_medians; }

private:
    /// The neighbour counter of a file, built once for its median and density stages.
    const SpadeDensityCounter& counter(int file);
    /// Lists, per file, the events whose active markers all hold finite
    /// numbers, and says how many others there are.
    void findFiniteEvents();
    /// The densities of the file's finite events, in event order.
    std::vector<int32_t> finiteDensities(int file) const;

    int m_sampleSize = 2000;
    float m_alpha = 3.0f;
    float m_targetDensityPercentile = 3.0f;
    float m_outlierDensityPercentile = 1.0f;
    float m_keepPercentage = 10.0f;
    int m_targetClusterCount = 50;
    int64_t m_creationTime = 0;
    bool m_densitiesDirty = true;
    bool m_downsamplingDirty = true;
    bool m_clusteringDirty = true;

    std::vector<float> m_medianDistances;
    std::vector<float> m_densityRadii;
    std::vector<std::vector<int64_t>> m_finiteEvents;
    std::vector<std::vector<int32_t>> m_densities;
    std::vector<std::vector<int32_t>> m_sortedDensities;
    std::vector<std::vector<int>> m_keptEvents;
    std::vector<std::vector<bool>> m_keptFlags;

    std::vector<DendrogramNode> m_dendrogram;
    std::vector<std::vector<MCV_PointIndex>> m_clusters;
    std::vector<MCV_DerivedDataClusters::Link> m_links;
    std::vector<std::vector<float>> m_medians;
    std::unique_ptr<BoruvkaMst> m_spanningTree;

    /// The sets published for bubbles: bubble name and the set's name, for
    /// the registry of that generation.
    std::vector<std::pair<std::string, std::string>> m_bubbleSets;
    uint64_t m_bubbleGeneration = 0;

    /// Registry generation and per-file data hashes the densities in memory belong to.
    uint64_t m_densityGeneration = 0;
    std::vector<uint64_t> m_dataHashes;
    std::unique_ptr<SpadeDensityCounter> m_counter;
    int m_counterFile = -1;
};
