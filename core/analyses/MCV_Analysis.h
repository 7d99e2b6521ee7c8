#pragma once

#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_PointIndex.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class MCV_UiInterface;
class MCV_DerivedData;
class MCV_DerivedDataPoints;

/// Type code of an analysis; the user interface branches on 1 and 2 only.
enum MCV_AnalysisType
{
    MCV_AnalysisTypeUnset = -1,
    MCV_AnalysisTypeSpade = 0, ///< SPADE and template matching
    MCV_AnalysisTypeTsne = 1,
    MCV_AnalysisTypeHsne = 2
};

/// Base of every analysis: created and owned by the shell, computing
/// synchronously on the GUI thread from the registry's event matrices and
/// reporting only through its MCV_UiInterface (null allowed: headless).
///
/// Input set and registry replacement: the input set belongs to the data
/// registry, and opening files deletes that registry and makes a new one.
/// setInputData records the registry generation current at that moment;
/// inputData() returns nullptr as soon as the live registry's generation
/// differs, so a pointer into a deleted registry is never followed. Owners
/// then re-fetch their input by name (SPADE asks for "All Points" again, the
/// t-SNE settings panel re-selects its input by name) and call setInputData.
///
/// Announcements. A slot may reopen the files (deleting the registry and
/// every data set) or have the owner delete the analysis. After announcing,
/// an analysis touches its registry data only when the registry generation
/// is unchanged and itself only when lifetime() has not expired.
class MCV_Analysis
{
public:
    MCV_Analysis() = default;
    /// Destroys the subclass first, so deleting through this base is complete.
    virtual ~MCV_Analysis();

    MCV_Analysis(const MCV_Analysis&) = delete;
    MCV_Analysis& operator=(const MCV_Analysis&) = delete;

    /// Stores interface and name; every parameter of the merged header becomes
    /// an active marker (indices 0..n-1) and the markers count as changed.
    void initialize(MCV_UiInterface* uiInterface, std::string name);

    std::string name() const { return m_name; }
    MCV_UiInterface* uiInterface() const { return m_uiInterface; }
    int analysisType() const { return m_analysisType; }

    /// The input set, or nullptr when none was set or the registry it belongs
    /// to has been replaced since setInputData.
    MCV_DerivedDataPoints* inputData() const;
    /// Stores the set (owned by the live registry) and that registry's generation.
    void setInputData(MCV_DerivedDataPoints* data);

    /// One bit per merged-header parameter: true = the marker takes part.
    const std::vector<bool>& activeMarkers() const { return m_activeMarkers; }
    /// Indices of the active markers, ascending.
    const std::vector<int>& activeMarkerIndices() const { return m_activeMarkerIndices; }
    /// Sets or clears one marker's bit; only a real change rebuilds the index
    /// list and marks the markers changed. Markers outside the bits are ignored.
    void setMarkerActive(int marker, bool on);
    /// Follows the merged header's parameter count: added bits are cleared;
    /// indices at or beyond the count leave the index list and mark the
    /// markers changed (otherwise list and flag stay as they are). Called by
    /// the owner when channels were added and by each analysis before it computes.
    void resizeMarkerFlags();

    /// Set whenever the marker selection was initialised or changed; SPADE
    /// clears it once its densities follow the selection.
    bool markersChanged() const { return m_markersChanged; }
    void setMarkersChanged(bool changed) { m_markersChanged = changed; }

    /// A clusters set (owned by the registry) built from index lists into the
    /// analysis' own point list, published under a name derived from name.
    virtual MCV_DerivedData* createDerivedData(const std::vector<std::vector<unsigned>>& indexLists,
                                               std::string name) = 0;
    /// Takes the renderer's preview images (768, 384 and 192 pixels square, RGB).
    virtual void setPreviewImages(std::vector<unsigned char*> images) = 0;

    /// Asks the analysis to go: it ends its own work on the call stack and then
    /// announces readyForDeletionSignal once, as its last action; the owner
    /// deletes it in that slot. The base announces at once, since nothing of
    /// it runs re-entrantly; without an interface nothing is announced.
    virtual void requestDeletion();

protected:
    /// Expires when the analysis is destroyed: taken before an announcement
    /// whose slot may delete the analysis, checked after it.
    std::weak_ptr<const bool> lifetime() const { return m_lifetime; }

    /// The input set, made the live registry's "All Points" when files were
    /// reopened (or none was set). Creating that set is announced: null when
    /// the slot deleted the analysis or reopened the files.
    MCV_DerivedDataPoints* currentInput();
    /// The input events fit for a computation over the active markers of the
    /// live registry: false, with a line, when one of them is not loaded;
    /// otherwise `usable` holds, in order, those whose active values are all
    /// finite numbers, and a line counts the others (left out of `result`).
    bool usableInputEvents(const std::vector<MCV_PointIndex>& input, const std::string& prefix,
                           const std::string& result, std::vector<MCV_PointIndex>& usable) const;
    /// Installs the clusters and links into the clusters set named after the
    /// analysis (a new, uniquely named set when reuse is off), whose parent is
    /// currentInput(), and adopts the set's name. Announces as its last step;
    /// the slot may delete the analysis.
    void publishClustersSet(const std::vector<std::vector<MCV_PointIndex>>& clusters,
                            const std::vector<MCV_DerivedDataClusters::Link>& links, bool reuse);

    MCV_UiInterface* m_uiInterface = nullptr;
    int m_analysisType = MCV_AnalysisTypeUnset;
    std::string m_name;
    MCV_DerivedDataPoints* m_inputData = nullptr;
    uint64_t m_inputGeneration = 0;
    std::vector<bool> m_activeMarkers;
    std::vector<int> m_activeMarkerIndices;
    bool m_markersChanged = true;

private:
    /// Parameter count of the live registry's merged header, 0 without one.
    static int64_t currentParameterCount();

    std::shared_ptr<const bool> m_lifetime = std::make_shared<const bool>(true);
};
