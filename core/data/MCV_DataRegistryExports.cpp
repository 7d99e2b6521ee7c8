// The registry's exports: points sets and clusters written through FcsWriter.
#include "data/MCV_DataRegistry.h"

#include "data/ExportFileNames.h"
#include "data/FcsWriter.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataPoints.h"
#include "data/WriteFailure.h"

#include <iostream>

namespace {

/// The text after the last "." of the path; empty when it has none.
std::string extension(const std::string& path)
{
    const std::size_t dot = path.rfind('.');
    return dot == std::string::npos ? std::string() : path.substr(dot + 1);
}

/// Hands the reason of an export that writes nothing to the caller, when it
/// asked for one; false.
bool refuse(WriteFailure* failure, const WriteFailure& why)
{
    if (failure)
        *failure = why;
    return false;
}

/// Hands the writer's failure to the caller, when it asked for one and this
/// is the export's first.
void keepFirst(WriteFailure* failure, bool firstFailure, const FcsWriter& writer)
{
    if (failure && firstFailure)
        *failure = writer.failure();
}

} // namespace

bool MCV_DataRegistry::exportClustersToFcs(const std::string& name, const std::string& path, WriteFailure* failure)
{
    if (name.empty())
        return refuse(failure, {path, "no clusters set was named"});
    if (extension(path) != "fcs")
        return refuse(failure, {path, "the name does not end in .fcs (FCS files only)"});
    const std::string prefix = path.substr(0, path.rfind('.'));
    std::cout << prefix << "\n";

    MCV_DerivedDataClusters* clusters = nullptr;
    for (const DerivedDataEntry& entry : m_derivedData) {
        if (entry.kind == MCV_DerivedDataTypeClusters && entry.name == name)
            clusters = static_cast<MCV_DerivedDataClusters*>(entry.data);
    }
    if (!clusters)
        return refuse(failure, {path, "no clusters set is named " + name});

    // Cluster names are typed by users: they become file-name parts only
    // after sanitising, so every file stays beside the chosen path.
    std::vector<std::string> names;
    for (int i = 0; i < clusters->clusterCount(); ++i)
        names.push_back(clusters->clusterName(i));
    const std::vector<std::string> parts = ExportFileNames::uniqueParts(names);

    bool allWritten = true;
    for (int i = 0; i < clusters->clusterCount(); ++i) {
        MCV_DerivedDataPoints cluster;
        cluster.setPoints(clusters->members()[static_cast<std::size_t>(i)], false);
        FcsWriter writer;
        writer.setData(&cluster);
        writer.setHeader(m_mergedHeader.get());
        if (writer.writeFcs(prefix + "-" + parts[static_cast<std::size_t>(i)] + ".fcs") != 0) {
            keepFirst(failure, allWritten, writer);
            allWritten = false;
        }
    }
    if (allWritten)
        std::cout << "Clusters exported succesfully.\n";
    return allWritten;
}

int MCV_DataRegistry::exportData(const std::string& name, const std::string& path, int perSample,
                                 const std::vector<int>& parameters, WriteFailure* failure)
{
    const bool rawFloats = extension(path) == "bin";
    MCV_DerivedDataPoints* points = nullptr;
    for (const DerivedDataEntry& entry : m_derivedData) {
        if (entry.kind == MCV_DerivedDataTypePoints && entry.name == name)
            points = static_cast<MCV_DerivedDataPoints*>(entry.data);
    }
    // Nothing to write: the failure value of the chosen writer (FCS 1, raw 0).
    if (name.empty() || !points) {
        refuse(failure, {path, "no points set is named " + name});
        return rawFloats ? 0 : 1;
    }

    FcsWriter writer;
    writer.setHeader(m_mergedHeader.get());
    if (rawFloats || perSample != 1) {
        writer.setData(points);
        const int result = rawFloats ? writer.writeBinary(path, parameters, perSample) : writer.writeFcs(path);
        keepFirst(failure, true, writer);
        return result;
    }

    // One FCS file per sample holding events of the set, named as the
    // per-sample raw float files are.
    const std::vector<std::string> paths = FcsWriter::perSamplePaths(path);
    std::vector<std::vector<MCV_PointIndex>> perSampleEvents(m_samples.size());
    for (const MCV_PointIndex& point : points->points())
        if (point.sampleIndex >= 0 && point.sampleIndex < sampleCount())
            perSampleEvents[static_cast<std::size_t>(point.sampleIndex)].push_back(point);
    int result = 0;
    for (int s = 0; s < sampleCount(); ++s) {
        if (perSampleEvents[static_cast<std::size_t>(s)].empty()) {
            std::cout << "No events of " << m_samples[static_cast<std::size_t>(s)].path << " in " << name
                      << ": no file for it.\n";
            continue;
        }
        MCV_DerivedDataPoints sampleEvents;
        sampleEvents.setPoints(std::move(perSampleEvents[static_cast<std::size_t>(s)]), false);
        writer.setData(&sampleEvents);
        if (writer.writeFcs(paths[static_cast<std::size_t>(s)]) != 0) {
            keepFirst(failure, result == 0, writer);
            result = 1;
        }
    }
    return result;
}
