#pragma once

#include <string>
#include <utility>
#include <vector>

class MCV_DataRegistry;

/// Loaded registries for tests: fresh registries and small FCS files with
/// chosen values, written into a test's temporary folder.
class RegistryTestData
{
public:
    /// Deletes the live registry (if any) and returns a new, empty one.
    static MCV_DataRegistry* freshRegistry();
    /// Deletes the live registry, if any.
    static void dropRegistry();

    /// Writes a 32-bit float FCS 3.1 file of values.size() / parameters
    /// events (row-major values) to folder/name, with the given keywords set
    /// on top of the generator's defaults; returns the path.
    static std::string writeFcs(const std::string& folder, const std::string& name, int parameters,
                                const std::vector<float>& values,
                                const std::vector<std::pair<std::string, std::string>>& keywords = {});
};
