#pragma once

#include "analyses/MCV_Analysis.h"
#include "analyses/spade/BoruvkaMst.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_PointIndex.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

/// Assigns every event of every loaded sample to the best-matching row of a
/// reference table of marker profiles (one row per template; element k is
/// the template's value for parameter k of the merged header), within a
/// per-marker and a total distance limit; events that match no template
/// form one last, unmatched cluster. The clusters, their medians and a
/// spanning tree between them are published as the clusters set named after
/// the analysis, whose parent is the live registry's "All Points".
///
/// The table's columns stand for the merged header's parameters by position:
/// initialize records the short names at those positions, and classify
/// refuses to run when the live header (files reopened since) names other
/// parameters there or is narrower. Active markers without a column in the
/// table take no part. A refused run publishes nothing, keeps the previous
/// results and says why in refusalReason().
class MCV_TemplateAnalysis : public MCV_Analysis
{
public:
    using Table = std::vector<std::vector<float>>;

    /// Failure counts of the unmatched events of the last completed run.
    struct Failures
    {
        int64_t singleMarker = 0;
        int64_t combinedMarkers = 0;
        int64_t mixed = 0;
    };

    /// Type 0, input "All Points".
    MCV_TemplateAnalysis();
    ~MCV_TemplateAnalysis() override;

    /// Registers an empty clusters set under the name (made unique by the
    /// registry) and adopts its name; stores the table and the merged
    /// header's short names at its columns; initialises the base.
    void initialize(MCV_UiInterface* uiInterface, const std::string& name, Table table);

    float maxMarkerDistance() const { return m_maxMarkerDistance; }
    void setMaxMarkerDistance(float distance) { m_maxMarkerDistance = distance; }
    float maxProfileDistance() const { return m_maxProfileDistance; }
    void setMaxProfileDistance(float distance) { m_maxProfileDistance = distance; }

    /// Classifies every event of every loaded sample and publishes the
    /// clusters, as its last step. False when the run was refused (see
    /// refusalReason).
    bool classify();
    /// Why the last classify was refused; empty after a completed run.
    const std::string& refusalReason() const { return m_refusalReason; }

    /// Rebuilds the profiles from the table at the markers of the run; an
    /// empty table leaves them as they are.
    void prepareTemplates();
    /// Per cluster, the median of each marker of the run.
    void computeClusterMedians();
    /// Spanning tree over the medians into the links; nothing is built (and
    /// there are no links) without clusters or markers.
    void buildMst();
    /// Installs clusters and links into the clusters set named after the
    /// analysis (a new, uniquely named set when reuse is off) and adopts its
    /// name. Announces last: the slot may reopen the files or delete the analysis.
    void publishClusters(bool reuse);

    /// The clusters set named after the analysis; both arguments are ignored.
    MCV_DerivedData* createDerivedData(const std::vector<std::vector<unsigned>>& indexLists,
                                       std::string name) override;
    void setPreviewImages(std::vector<unsigned char*> images) override;

    const Table& templates() const { return m_templates; }
    /// Short names of the merged header at the table's columns, when initialised.
    const std::vector<std::string>& columnNames() const { return m_columnNames; }
    /// The markers that took part in the last run (active, with a column).
    const std::vector<int>& runMarkers() const { return m_runMarkers; }
    const Table& profiles() const { return m_profiles; }
    /// One cluster per template, then the unmatched events.
    const std::vector<std::vector<MCV_PointIndex>>& clusters() const { return m_clusters; }
    const std::vector<MCV_DerivedDataClusters::Link>& links() const { return m_links; }
    const std::vector<std::vector<float>>& medians() const { return m_medians; }
    const Failures& failures() const { return m_failures; }

private:
    /// Columns every row of the table has.
    int64_t tableWidth() const;
    /// Empty when the live header still names the recorded parameters at the
    /// table's columns; otherwise why not.
    std::string headerMismatch() const;
    /// Chooses the markers of the run; empty when it can go on, otherwise why not.
    std::string chooseRunMarkers();
    /// Matches every event of one file against the profiles: its cluster
    /// into assigned[event], the unmatched ones counted into failures.
    void matchFile(int file, int32_t* assigned, Failures& failures) const;

    float m_maxMarkerDistance = 2.5f;
    float m_maxProfileDistance = 20.0f;
    Table m_templates;
    Table m_profiles;
    std::vector<std::vector<MCV_PointIndex>> m_clusters;
    std::vector<MCV_DerivedDataClusters::Link> m_links;
    std::vector<std::vector<float>> m_medians;
    std::unique_ptr<BoruvkaMst> m_spanningTree;

    std::vector<std::string> m_columnNames;
    std::vector<int> m_runMarkers;
    Failures m_failures;
    std::string m_refusalReason;
};
