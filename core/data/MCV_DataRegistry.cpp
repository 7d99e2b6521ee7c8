#include "data/MCV_DataRegistry.h"

#include "analyses/MCV_UiInterface.h"
#include "data/DefaultStateStore.h"
#include "data/FcsError.h"
#include "data/FcsReader.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataPoints.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <system_error>

namespace {

MCV_DataRegistry* s_instance = nullptr;
uint64_t s_lastGeneration = 0;

const char* const kAllPointsName = "All Points";
const char* const kSelectionName = "Selection";

/// Keeps a merged keyword while every file agrees, "multiple" once one differs.
void mergeKeyword(std::string (FcsHeader::*get)() const,
                  void (FcsHeader::*set)(const std::string&), FcsHeader& merged,
                  const FcsHeader& file)
{
    if ((merged.*get)() != (file.*get)())
        (merged.*set)("multiple");
}

} // namespace

MCV_DataRegistry* MCV_DataRegistry::instance()
{
    if (!s_instance)
        s_instance = new MCV_DataRegistry();
    return s_instance;
}

uint64_t MCV_DataRegistry::currentGeneration()
{
    return s_instance ? s_instance->m_generation : 0;
}

std::string MCV_DataRegistry::loadedSampleAt(const std::string& path)
{
    if (!s_instance)
        return std::string();
    for (const Sample& sample : s_instance->m_samples) {
        std::error_code error;
        if (std::filesystem::equivalent(sample.path, path, error))
            return sample.path;
    }
    return std::string();
}

MCV_DataRegistry::MCV_DataRegistry()
    : m_generation(++s_lastGeneration)
{
    if (!s_instance)
        s_instance = this;
}

MCV_DataRegistry::~MCV_DataRegistry()
{
    for (DerivedDataEntry& entry : m_derivedData)
        delete entry.data;
    for (MCV_DerivedData* data : m_retired)
        delete data;
    delete m_selection;
    if (s_instance == this)
        s_instance = nullptr;
}

void MCV_DataRegistry::setUiInterface(MCV_UiInterface* uiInterface)
{
    m_uiInterface = uiInterface;
    m_loadLog.clear();
}

std::vector<std::string> MCV_DataRegistry::sampleKeys() const
{
    std::vector<std::string> keys;
    keys.reserve(m_samples.size());
    for (const Sample& sample : m_samples)
        keys.push_back(DefaultStateStore::sampleKey(sample.path));
    return keys;
}

int64_t MCV_DataRegistry::parameterCount() const
{
    return m_mergedHeader ? static_cast<int64_t>(m_mergedHeader->parameterCount()) : 0;
}

int MCV_DataRegistry::loadFcsFile(const std::string& path)
{
    auto header = std::make_unique<FcsHeader>();
    header->setFileName(path);
    float* block = nullptr;
    FcsReader reader;
    const int code = reader.read(&block, *header);
    std::unique_ptr<float[]> matrix(block);
    if (code != FcsErrorNone)
        return code;

    if (!m_mergedHeader) {
        m_mergedHeader = std::make_unique<FcsHeader>(*header);
    } else {
        const std::vector<FcsParameter>& merged = m_mergedHeader->parameters();
        const std::vector<FcsParameter>& file = header->parameters();
        if (merged.size() != file.size())
            return FcsErrorFilesDiffer;
        for (std::size_t i = 0; i < merged.size(); ++i)
            if (merged[i].differs(file[i]))
                return FcsErrorFilesDiffer;

        FcsHeader& m = *m_mergedHeader;
        if (m.fileName() != header->fileName())
            m.setFileName("multiple files");
        if (m.eventCount() != header->eventCount())
            m.setEventCount(-1);
        mergeKeyword(&FcsHeader::btim, &FcsHeader::setBtim, m, *header);
        mergeKeyword(&FcsHeader::etim, &FcsHeader::setEtim, m, *header);
        mergeKeyword(&FcsHeader::cyt, &FcsHeader::setCyt, m, *header);
        mergeKeyword(&FcsHeader::date, &FcsHeader::setDate, m, *header);
        mergeKeyword(&FcsHeader::byteOrder, &FcsHeader::setByteOrder, m, *header);
        mergeKeyword(&FcsHeader::dataType, &FcsHeader::setDataType, m, *header);
        mergeKeyword(&FcsHeader::sys, &FcsHeader::setSys, m, *header);
        mergeKeyword(&FcsHeader::proj, &FcsHeader::setProj, m, *header);
        mergeKeyword(&FcsHeader::exp, &FcsHeader::setExp, m, *header);
        mergeKeyword(&FcsHeader::cells, &FcsHeader::setCells, m, *header);
        mergeKeyword(&FcsHeader::creator, &FcsHeader::setCreator, m, *header);
        mergeKeyword(&FcsHeader::version, &FcsHeader::setVersion, m, *header);
    }

    const int index = sampleCount();
    m_samples.push_back({std::move(matrix), std::move(header), path});
    m_loadLog += path + ": " + std::to_string(index) + "\n";
    return FcsErrorNone;
}

void MCV_DataRegistry::appendChannels(const std::vector<std::string>& names, float value)
{
    if (names.empty() || !m_mergedHeader)
        return;
    const int64_t added = static_cast<int64_t>(names.size());
    const int64_t oldWidth = parameterCount();
    const int64_t newWidth = oldWidth + added;
    for (int s = 0; s < sampleCount(); ++s) {
        Sample& sample = m_samples[s];
        const int64_t events = std::max<int32_t>(0, sample.header->eventCount());
        // NaN fails the comparison too and gives the sample index.
        const float fill = value > -0.5f ? value : static_cast<float>(s);
        std::unique_ptr<float[]> grown(new float[events * newWidth]);
        const float* old = sample.matrix.get();
        float* rows = grown.get();
#pragma omp parallel for schedule(static)
        for (int64_t e = 0; e < events; ++e) {
            const float* from = old + e * oldWidth;
            float* to = rows + e * newWidth;
            std::copy(from, from + oldWidth, to);
            std::fill(to + oldWidth, to + newWidth, fill);
        }
        sample.matrix = std::move(grown);
    }
    for (const std::string& name : names) {
        m_mergedHeader->addChannel(name);
        for (Sample& sample : m_samples)
            sample.header->addChannel(name);
    }
    markAllDirty();
    if (m_uiInterface)
        m_uiInterface->dimensionsAddedSignal();
}

void MCV_DataRegistry::applyArcsinh(int cofactor, const std::vector<bool>& parameters)
{
    if (cofactor <= 0) {
        std::cout << "[ERROR] Arcsinh cofactor " << cofactor
                  << " is not positive; no values were transformed.\n";
        return;
    }
    const float c = static_cast<float>(cofactor);
    const int64_t width = parameterCount();
    for (Sample& sample : m_samples) {
        const int64_t columns = std::min<int64_t>(width, sample.header->parameterCount());
        std::vector<int64_t> flagged;
        for (int64_t m = 0; m < columns && m < static_cast<int64_t>(parameters.size()); ++m)
            if (parameters[m])
                flagged.push_back(m);
        if (flagged.empty())
            continue;
        const int64_t events = std::max<int32_t>(0, sample.header->eventCount());
        float* rows = sample.matrix.get();
#pragma omp parallel for schedule(static)
        for (int64_t e = 0; e < events; ++e) {
            float* row = rows + e * width;
            for (int64_t m : flagged)
                row[m] = std::asinh(row[m] / c);
        }
    }
    markAllDirty();
}

void MCV_DataRegistry::markAllDirty()
{
    for (DerivedDataEntry& entry : m_derivedData)
        entry.data->setDirty();
    for (MCV_DerivedData* data : m_retired)
        data->setDirty();
    if (m_selection)
        m_selection->setDirty();
}

void MCV_DataRegistry::addDerivedData(int kind, const std::string& name, MCV_DerivedData* data)
{
    addEntry(kind, name, name, data);
}

void MCV_DataRegistry::addEntry(int kind, const std::string& name, const std::string& requestedName,
                                MCV_DerivedData* data)
{
    if (!data)
        return;
    data->setUiInterface(m_uiInterface);
    for (DerivedDataEntry& entry : m_derivedData) {
        if (entry.name != name)
            continue;
        // The replaced set may still be shown or used as an input: it stays
        // alive until the registry goes.
        if (entry.data != data)
            m_retired.push_back(entry.data);
        entry = {data, name, kind, requestedName};
        std::cout << "[ERROR] Tried to add new derived data " << name << ", but already exists.\n";
        return;
    }
    m_derivedData.push_back({data, name, kind, requestedName});
    if (m_uiInterface)
        m_uiInterface->newDerivedDataAddedSignal(); // last: the slot may delete this registry
}

std::string MCV_DataRegistry::uniqueName(const std::string& name) const
{
    auto taken = [this](const std::string& candidate) {
        // The shared selection is in no list, but its name is reserved.
        if (candidate == kSelectionName)
            return true;
        for (const DerivedDataEntry& entry : m_derivedData)
            if (entry.name == candidate)
                return true;
        return false;
    };
    if (!taken(name))
        return name;
    for (int64_t k = 1;; ++k) {
        const std::string candidate = name + "-" + std::to_string(k);
        if (!taken(candidate))
            return candidate;
    }
}

MCV_DerivedData* MCV_DataRegistry::findEntry(int kind, const std::string& name) const
{
    for (const DerivedDataEntry& entry : m_derivedData)
        if (entry.kind == kind && entry.name == name)
            return entry.data;
    // Names are unique over every kind: a request may have been given name-k.
    for (const DerivedDataEntry& entry : m_derivedData)
        if (entry.kind == kind && entry.requestedName == name)
            return entry.data;
    return nullptr;
}

MCV_DerivedDataPoints* MCV_DataRegistry::createPointsData(const std::string& name, bool reuse)
{
    if (name == kSelectionName)
        return selectionData();
    return createData<MCV_DerivedDataPoints>(MCV_DerivedDataTypePoints, name, reuse);
}

MCV_DerivedDataClusters* MCV_DataRegistry::createClustersData(const std::string& name, bool reuse)
{
    return createData<MCV_DerivedDataClusters>(MCV_DerivedDataTypeClusters, name, reuse);
}

MCV_DerivedDataPoints* MCV_DataRegistry::createAllPointsData()
{
    std::vector<MCV_PointIndex> points;
    int64_t total = 0;
    for (const Sample& sample : m_samples)
        total += std::max<int32_t>(0, sample.header->eventCount());
    points.reserve(total);
    for (int s = 0; s < sampleCount(); ++s) {
        const int32_t events = m_samples[s].header->eventCount();
        for (int32_t e = 0; e < events; ++e)
            points.push_back({s, e});
    }
    // Each announcement's slot may reopen the files and so delete this registry:
    // after one, only the generation (a static) is read before going on.
    const uint64_t generation = m_generation;
    MCV_UiInterface* uiInterface = m_uiInterface;
    MCV_DerivedDataPoints* allPoints = createPointsData(kAllPointsName, true);
    if (allPoints == nullptr)
        return nullptr;
    allPoints->setTag(1);
    allPoints->setPoints(std::move(points), true);
    if (currentGeneration() != generation)
        return nullptr;
    if (uiInterface)
        uiInterface->dataRefreshedSignal(allPoints);
    return currentGeneration() == generation ? allPoints : nullptr;
}

MCV_DerivedDataPoints* MCV_DataRegistry::createDownsampledData(const std::string& name,
                                                               MCV_DerivedDataPoints* source,
                                                               const std::vector<int64_t>& targets)
{
    // Not registered yet, the set has no observer: downsampling announces nothing.
    auto* data = new MCV_DerivedDataPoints();
    data->downsample(source, targets);
    data->setName(uniqueName(name));
    return registerData(MCV_DerivedDataTypePoints, name, data);
}

std::vector<MCV_DerivedDataPoints*> MCV_DataRegistry::pointsDataList() const
{
    return dataOfKind<MCV_DerivedDataPoints>(MCV_DerivedDataTypePoints);
}

std::vector<MCV_DerivedDataClusters*> MCV_DataRegistry::clustersDataList() const
{
    return dataOfKind<MCV_DerivedDataClusters>(MCV_DerivedDataTypeClusters);
}

MCV_DerivedDataPoints* MCV_DataRegistry::selectionData()
{
    if (!m_selection) {
        m_selection = new MCV_DerivedDataPoints();
        m_selection->setName(kSelectionName);
        m_selection->setUiInterface(m_uiInterface);
    }
    return m_selection;
}
