#include "support/RegistryTestData.h"

#include "data/MCV_DataRegistry.h"
#include "support/FcsTestFile.h"

MCV_DataRegistry* RegistryTestData::freshRegistry()
{
    dropRegistry();
    return MCV_DataRegistry::instance();
}

void RegistryTestData::dropRegistry()
{
    if (MCV_DataRegistry::currentGeneration() != 0)
        delete MCV_DataRegistry::instance();
}

std::string RegistryTestData::writeFcs(const std::string& folder, const std::string& name, int parameters,
                                       const std::vector<float>& values,
                                       const std::vector<std::pair<std::string, std::string>>& keywords)
{
    const int events = parameters > 0 ? static_cast<int>(values.size()) / parameters : 0;
    FcsTestFile file(events, parameters);
    file.values = values;
    for (const auto& keyword : keywords)
        file.setKeyword(keyword.first, keyword.second);
    const std::string path = folder + "/" + name;
    return file.write(path) ? path : std::string();
}
