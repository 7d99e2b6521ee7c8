#include "support/HostileMarkerFiles.h"

#include "support/RegistryTestData.h"

const std::vector<std::string>& HostileMarkerFiles::markerNames()
{
    static const std::vector<std::string> names = {"CD4 \"a\"", "x\\y", "</script><img src=x onerror=window.injected=1>",
                                                   "\xc3\xa9 \xc2\xb5 \xe2\x80\x93", "CD\xc2\xa0" "8"};
    return names;
}

std::string HostileMarkerFiles::write(const std::string& folder, const std::string& name, int events, int blobs,
                                      int seed)
{
    const int markers = static_cast<int>(markerNames().size());
    std::vector<float> values;
    for (int e = 0; e < events; ++e)
        for (int m = 0; m < markers; ++m)
            values.push_back(10.0f * static_cast<float>((e % blobs + m) % blobs)
                             + 0.1f * static_cast<float>((e * 7 + m * 3 + seed) % 13));
    std::vector<std::pair<std::string, std::string>> keywords;
    for (int m = 0; m < markers; ++m)
        keywords.emplace_back("$P" + std::to_string(m + 1) + "N", markerNames()[static_cast<std::size_t>(m)]);
    return RegistryTestData::writeFcs(folder, name, markers, values, keywords);
}
