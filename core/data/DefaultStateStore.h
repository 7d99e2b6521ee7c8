#pragma once

#include <map>
#include <string>
#include <vector>

/// Process-wide defaults that new panels and views start from: active
/// markers (one bit per merged-header parameter), shown samples and sample
/// colours (red, green, blue in 0..1). Samples are keyed by the file-name
/// part of their path, so equal file names from different folders share an
/// entry. Survives the replacement of the data registry.
class DefaultStateStore
{
public:
    /// The store, created empty on first use and kept until the process ends.
    static DefaultStateStore* instance();

    /// Takes the bits over; the given vector is left empty.
    void setMarkerStates(std::vector<bool>& states);
    void setSampleColors(const std::map<std::string, std::vector<float>>& colors);
    void setSampleSelection(const std::map<std::string, bool>& selection);

    /// The key of a sample: its file name, the part of its path after the
    /// last slash (the whole path without one). A backslash separates
    /// nothing: it is an ordinary character of a file name here.
    static std::string sampleKey(const std::string& path);
    /// Where each sample of an earlier load stands among the samples now
    /// loaded: for every former key the index of the same key in keys, each
    /// index taken once in order, -1 for a sample no longer loaded.
    static std::vector<int> renumbering(const std::vector<std::string>& formerKeys,
                                        const std::vector<std::string>& keys);

    std::vector<bool> markerStates;
    std::map<std::string, bool> sampleSelection;
    std::map<std::string, std::vector<float>> sampleColors;

private:
    DefaultStateStore() = default;
};
