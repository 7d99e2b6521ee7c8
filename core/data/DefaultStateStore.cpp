#include "data/DefaultStateStore.h"

DefaultStateStore* DefaultStateStore::instance()
{
    static DefaultStateStore* store = new DefaultStateStore();
    return store;
}

void DefaultStateStore::setMarkerStates(std::vector<bool>& states)
{
    markerStates.swap(states);
    states.clear();
}

void DefaultStateStore::setSampleColors(const std::map<std::string, std::vector<float>>& colors)
{
    sampleColors = colors;
}

void DefaultStateStore::setSampleSelection(const std::map<std::string, bool>& selection)
{
    sampleSelection = selection;
}

std::string DefaultStateStore::sampleKey(const std::string& path)
{
    const std::size_t cut = path.rfind('/');
    return cut == std::string::npos ? path : path.substr(cut + 1);
}
