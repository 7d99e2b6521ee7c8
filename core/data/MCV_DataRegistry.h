#pragma once

#include "data/FcsHeader.h"
#include "data/MCV_DerivedData.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class MCV_UiInterface;
class MCV_DerivedData;
class MCV_DerivedDataPoints;
class MCV_DerivedDataClusters;
class MCV_DerivedDataExploration;
struct WriteFailure;

/// The process-wide store of loaded data: the samples (one per FCS file, in
/// load order), the merged header describing all of them, the derived data
/// sets registered under unique names, the shared "Selection" set, the
/// notification interface and a load log.
///
/// Opening files deletes the registry and makes a new one. Every registry
/// gets the next number of a process-wide generation counter; whoever keeps a
/// pointer into a registry records generation() with it and re-fetches by
/// name (or drops the pointer) once currentGeneration() differs.
///
/// Announcements. Every slot runs inside the announcing call and may reopen
/// the files, which deletes this registry with every sample and data set.
/// So each operation announces last, or re-checks currentGeneration()
/// afterwards and touches nothing of the registry when it changed: the
/// create operations then return null (the new set went with the registry).
class MCV_DataRegistry
{
public:
    /// One loaded file: its event matrix (events by merged parameters,
    /// row-major, values as stored in the file), its own header and its path.
    struct Sample
    {
        std::unique_ptr<float[]> matrix;
        std::unique_ptr<FcsHeader> header;
        std::string path;
    };

    /// One registered derived data set; the registry owns the data.
    struct DerivedDataEntry
    {
        MCV_DerivedData* data = nullptr;
        std::string name;
        int kind = 0;
        /// The name a create operation was asked for; name may carry a suffix.
        std::string requestedName;
    };

    /// The registry; creates an empty one on first use and after the current
    /// one was deleted.
    static MCV_DataRegistry* instance();
    /// Generation of the live registry, 0 when there is none; creates nothing.
    static uint64_t currentGeneration();
    /// The path of the live registry's loaded sample whose file `path` names,
    /// however it is spelled (links, "." and ".." resolved); empty when it
    /// names none or there is no registry. Creates nothing.
    static std::string loadedSampleAt(const std::string& path);

    MCV_DataRegistry();
    /// Deletes every sample, header and data set (retired ones included) and
    /// clears the instance.
    ~MCV_DataRegistry();

    MCV_DataRegistry(const MCV_DataRegistry&) = delete;
    MCV_DataRegistry& operator=(const MCV_DataRegistry&) = delete;

    uint64_t generation() const { return m_generation; }

    /// Stores the interface (null allowed: nothing is announced), given to
    /// every data set registered later; clears the load log.
    void setUiInterface(MCV_UiInterface* uiInterface);
    MCV_UiInterface* uiInterface() const { return m_uiInterface; }

    /// Loads one FCS file and adds it as the next sample; returns an FcsError
    /// code, 0 when the file was added. Nothing is added on any other code.
    int loadFcsFile(const std::string& path);

    int sampleCount() const { return static_cast<int>(m_samples.size()); }
    /// Matrix, header and path of a valid sample index.
    float* sampleData(int sample) const { return m_samples[sample].matrix.get(); }
    FcsHeader* sampleHeader(int sample) const { return m_samples[sample].header.get(); }
    std::string samplePath(int sample) const { return m_samples[sample].path; }
    /// The default-state key of every sample, in sample order.
    std::vector<std::string> sampleKeys() const;
    /// The merged header; null before the first load.
    FcsHeader* mergedHeader() const { return m_mergedHeader.get(); }
    /// Number of values per event row (the merged header's parameter count, 0 before a load).
    int64_t parameterCount() const;
    std::string loadLog() const { return m_loadLog; }

    /// Appends one column per name to every sample: value when it is greater
    /// than -0.5, otherwise the sample index. Marks every set's statistics
    /// stale and announces dimensionsAddedSignal.
    void appendChannels(const std::vector<std::string>& names, float value);
    /// x = asinh(x / cofactor) in single precision for every parameter whose
    /// bit is set (bits beyond the vector count as 0). A cofactor <= 0 changes
    /// nothing. Marks every set's statistics stale.
    void applyArcsinh(int cofactor, const std::vector<bool>& parameters);

    /// Registers a data set (the registry takes ownership and gives it its
    /// interface) and announces newDerivedDataAddedSignal as its last action.
    /// A set registered under a taken name replaces that entry (no
    /// announcement); the replaced set stays alive until the registry goes.
    void addDerivedData(int kind, const std::string& name, MCV_DerivedData* data);

    /// With reuse set: the set of that kind named so, else the one an earlier
    /// request of that kind under this name produced (whatever suffix it got).
    /// Otherwise a new empty set registered under the name, or under name-k
    /// with the smallest k that no set of any kind carries; null when a slot
    /// of its announcement replaced the registry.
    /// createPointsData("Selection", ...) returns selectionData().
    MCV_DerivedDataPoints* createPointsData(const std::string& name, bool reuse);
    MCV_DerivedDataClusters* createClustersData(const std::string& name, bool reuse);
    /// Defined beside the exploration data set.
    MCV_DerivedDataExploration* createExplorationData(const std::string& name, bool reuse);

    /// Fills (or creates) "All Points" with every event of every sample, tags
    /// it 1 and announces it twice; null when a slot replaced the registry.
    MCV_DerivedDataPoints* createAllPointsData();
    /// A new points set downsampled from source (targets per sample),
    /// registered as points under the name it then carries; null when a slot
    /// of the announcement replaced the registry.
    MCV_DerivedDataPoints* createDownsampledData(const std::string& name,
                                                 MCV_DerivedDataPoints* source,
                                                 const std::vector<int64_t>& targets);

    std::vector<MCV_DerivedDataPoints*> pointsDataList() const;
    std::vector<MCV_DerivedDataClusters*> clustersDataList() const;
    /// Defined beside the exploration data set.
    std::vector<MCV_DerivedDataExploration*> explorationDataList() const;
    const std::vector<DerivedDataEntry>& derivedDataEntries() const { return m_derivedData; }

    /// The shared "Selection" set, created on first request; never in the list.
    MCV_DerivedDataPoints* selectionData();

    /// One FCS file per cluster of the named clusters set; true when all were
    /// written. Otherwise `failure` (when given) gets the first file that was
    /// not written and why.
    bool exportClustersToFcs(const std::string& name, const std::string& path, WriteFailure* failure = nullptr);
    /// FCS or raw float export of the named points set; the writer's result
    /// (FCS: 0 written, 1 not; raw: 1 written, 0 not). perSample 1 writes one
    /// file per sample beside the path (FcsWriter::perSamplePaths); as FCS
    /// only for samples that hold events of the set. On failure `failure`
    /// (when given) gets the first file that was not written and why.
    int exportData(const std::string& name, const std::string& path, int perSample,
                   const std::vector<int>& parameters, WriteFailure* failure = nullptr);

    /// Marks the cached statistics and texts of every set (retired ones and
    /// the selection included) stale: after values changed in place.
    void markAllDirty();

    /// The create operations of every kind go through it (see createPointsData).
    template <class Data>
    Data* createData(int kind, const std::string& name, bool reuse);
    /// The registered sets of one kind, in registration order.
    template <class Data>
    std::vector<Data*> dataOfKind(int kind) const;

private:
    /// A name not carried by any registered set nor the shared selection:
    /// name, else name-1, name-2, ...
    std::string uniqueName(const std::string& name) const;
    /// The first entry of the kind with exactly that name, else the first of
    /// the kind that was requested under it, or null.
    MCV_DerivedData* findEntry(int kind, const std::string& name) const;
    /// addDerivedData, remembering the name the set was requested under;
    /// returns the set, or null when a slot of the announcement replaced the registry.
    template <class Data>
    Data* registerData(int kind, const std::string& requestedName, Data* data);
    void addEntry(int kind, const std::string& name, const std::string& requestedName, MCV_DerivedData* data);
    uint64_t m_generation = 0;
    std::unique_ptr<FcsHeader> m_mergedHeader;
    std::vector<Sample> m_samples;
    std::vector<DerivedDataEntry> m_derivedData;
    std::vector<MCV_DerivedData*> m_retired;
    MCV_DerivedDataPoints* m_selection = nullptr;
    MCV_UiInterface* m_uiInterface = nullptr;
    std::string m_loadLog;
};

template <class Data>
inline Data* MCV_DataRegistry::createData(int kind, const std::string& name, bool reuse)
{
    if (reuse)
        if (MCV_DerivedData* existing = findEntry(kind, name))
            if (existing->type() == kind)
                return static_cast<Data*>(existing);
    auto* data = new Data();
    data->setName(uniqueName(name));
    return registerData(kind, name, data);
}

template <class Data>
inline Data* MCV_DataRegistry::registerData(int kind, const std::string& requestedName, Data* data)
{
    const uint64_t generation = m_generation;
    addEntry(kind, data->name(), requestedName, data);
    // The slot may have reopened the files: this registry and the set are gone.
    return currentGeneration() == generation ? data : nullptr;
}

template <class Data>
inline std::vector<Data*> MCV_DataRegistry::dataOfKind(int kind) const
{
    std::vector<Data*> list;
    for (const DerivedDataEntry& entry : m_derivedData)
        if (entry.kind == kind && entry.data->type() == kind)
            list.push_back(static_cast<Data*>(entry.data));
    return list;
}
