#pragma once

#include "data/MCV_DerivedData.h"
#include "data/MCV_PointIndex.h"

#include <cstdint>
#include <string>
#include <vector>

class MCV_DerivedDataPoints;

/// A partition of events into clusters (SPADE nodes, template classes,
/// density clusters) with names, tree links, a selection, a highlighted
/// cluster, per-cluster statistics and the texts the pages and exports read:
/// the clusters JSON, the medians CSV and the per-cluster sample statistics.
/// Every name is escaped where it enters a text.
///
/// Announcements. A slot may reopen the files, which deletes this set with
/// its registry: every operation announces last, except setSelectedClusters,
/// which re-checks the registry generation before it fills "Selection".
class MCV_DerivedDataClusters : public MCV_DerivedData
{
public:
    /// One tree edge between two clusters (indices into the cluster list).
    struct Link
    {
        float value = 0.0f;
        int32_t target = 0;
        int32_t source = 0;
    };

    MCV_DerivedDataClusters();

    /// Installs the clusters: members, parent set, ids 0..n-1, names "1".."n",
    /// a new revision each; the links become the given ones that name
    /// clusters of the new set (a line for each other one), given member
    /// positions replace the positions, a highlight outside the new set
    /// becomes -1; clears the selection and announces dataRefreshedSignal.
    void setClusters(const std::vector<std::vector<MCV_PointIndex>>& clusters,
                     MCV_DerivedDataPoints* parent, const std::vector<Link>& links,
                     const std::vector<std::vector<int64_t>>& memberPositions = {});

    int clusterCount() const { return static_cast<int>(m_members.size()); }
    /// Number of points of a cluster; 0 for an index out of range.
    int64_t clusterSize(int index) const;
    /// Name of a cluster; empty (and a line printed) for an index out of range.
    std::string clusterName(int index) const;
    /// A number that stands for the cluster's members: new for every cluster
    /// setClusters installs and for the cluster a merge grows, never shared
    /// by two clusters of the process; 0 for an index out of range.
    uint64_t clusterRevision(int index) const;
    /// Per-parameter medians / deviations of a cluster (computed first when
    /// stale); empty for an index out of range.
    std::vector<float> clusterMedians(int index);
    std::vector<float> clusterStdDevs(int index);
    /// Entry j: current index of the cluster that was j when the clusters were set.
    const std::vector<int>& clusterIds() const { return m_clusterIds; }

    const std::vector<std::vector<MCV_PointIndex>>& members() const { return m_members; }
    /// Positions of each cluster's events in the parent set (empty when none given).
    const std::vector<std::vector<int64_t>>& memberPositions() const { return m_memberPositions; }
    const std::vector<Link>& links() const { return m_links; }
    MCV_DerivedDataPoints* parentData() const { return m_parent; }

    /// Renames a valid cluster, marks the texts stale, announces dataRefreshedSignal.
    void setClusterName(int index, const std::string& name);
    /// Merges distinct valid clusters into the lowest of them (see the cpp);
    /// links follow: a merged-away end becomes the kept cluster, later
    /// indices move down, links within the merged clusters and repeats go.
    void mergeClusters(const std::vector<int>& indices);
    /// Merges the selected clusters when at least two are selected.
    void mergeSelectedClusters();

    const std::vector<bool>& selectedClusters() const { return m_selected; }
    int selectedClusterCount() const;
    /// Clears every selection bit; no notification.
    void clearSelection();
    /// Selects exactly the given clusters (out-of-range ones print a line),
    /// announces selectionRefreshedSignal and fills the "Selection" set;
    /// returns the number of points put there.
    int64_t setSelectedClusters(const std::vector<int>& indices);
    /// Toggles one cluster (clearing the others unless additive) and fills
    /// positions with the member positions of all selected clusters.
    void toggleCluster(int index, bool additive, std::vector<int64_t>& positions);
    /// Puts the points of every selected cluster into the registry's
    /// "Selection" set; returns their number.
    int64_t updateSelectionData();

    int highlightedCluster() const { return m_highlighted; }
    /// Stores a different index and announces highlightRefreshedSignal.
    void setHighlightedCluster(int index);

    /// Medians CSV: "Subset," header line, one line per cluster.
    const std::string& statisticsCsv();
    /// Per-sample statistics text of a valid cluster; empty otherwise.
    const std::string& selectionStatistics(int index);

    const std::string& nodePositions() const { return m_nodePositions; }
    /// Stores the page's layout text and announces spadeTreeRefreshedSignal.
    void setNodePositions(const std::string& positions);

    void computeMedians();
    void computeMeans();
    void computeStdDevs();
    void updateStatisticsCsv();
    void updateSelectionStatistics();

    void refresh() override;
    void setDirty() override;

private:
    /// Renumbers the links for a merge of the sorted, valid indices.
    void remapLinks(const std::vector<int>& merged);
    /// Computes every stale statistic of every cluster in one parallel pass.
    void computeStale();

    std::vector<std::vector<MCV_PointIndex>> m_members;
    std::vector<std::vector<int64_t>> m_memberPositions;
    std::vector<int> m_clusterIds;
    std::vector<Link> m_links;
    std::vector<std::string> m_names;
    std::vector<uint64_t> m_revisions;
    std::vector<bool> m_selected;
    int m_highlighted = -1;
    std::vector<std::vector<float>> m_medians;
    std::vector<std::vector<float>> m_means;
    std::vector<std::vector<float>> m_stdDevs;
    std::vector<std::string> m_selectionStatistics;
    bool m_mediansDirty = true;
    bool m_meansDirty = true;
    bool m_stdDevsDirty = true;
    bool m_jsonDirty = true;
    bool m_csvDirty = true;
    bool m_selectionStatisticsDirty = true;
    MCV_DerivedDataPoints* m_parent = nullptr;
    std::string m_nodePositions;
};
