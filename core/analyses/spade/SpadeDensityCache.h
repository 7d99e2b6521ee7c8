#pragma once

#include <cstdint>
#include <string>
#include <vector>

/// The two density cache files beside a sample file: "<base>_parameters.txt"
/// (one line: the state of every marker, the sample size, alpha, the three
/// percentages, the target cluster count, then a hash of the file's data,
/// each followed by a blank) and "<base>_densities.raw" (one int32 per event).
/// The base is the sample's path without everything from its last ".".
class SpadeDensityCache
{
public:
    /// The settings a cache was written with.
    struct Parameters
    {
        std::vector<bool> activeMarkers;
        int sampleSize = 0;
        float alpha = 0.0f;
        float targetDensityPercentile = 0.0f;
        float outlierDensityPercentile = 0.0f;
        float keepPercentage = 0.0f;
        int targetClusterCount = 0;
        uint64_t dataHash = 0;
    };

    /// The path cut at its last "." (anywhere in the path); the whole path when it has none.
    static std::string basePath(const std::string& samplePath);
    static std::string parametersPath(const std::string& samplePath);
    static std::string densitiesPath(const std::string& samplePath);

    /// A hash of the values of the listed markers of every event, in event order.
    static uint64_t dataHash(const float* matrix, int64_t eventCount, int64_t rowStride,
                             const std::vector<int>& markers);

    /// The parameter file's line, without a line end.
    static std::string parameterLine(const Parameters& parameters);

    /// Reads the densities of a sample when its cache matches the markers,
    /// the sample size, alpha and the data hash, and holds one density per
    /// event. A mismatch prints why; files that cannot be opened fail silently.
    static bool load(const std::string& samplePath, const Parameters& current, int64_t eventCount,
                     std::vector<int32_t>& densities);

    /// Writes both files, each through a temporary file renamed into place,
    /// densities first; never a file that is the sample itself. A failure is
    /// printed and leaves the files that were there.
    static bool write(const std::string& samplePath, const Parameters& parameters,
                      const std::vector<int32_t>& densities);
};
