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

std::vector<int> DefaultStateStore::renumbering(const std::vector<std::string>& formerKeys,
                                                const std::vector<std::string>& keys)
{
    std::vector<int> moved(formerKeys.size(), -1);
    std::vector<bool> taken(keys.size(), false);
    for (std::size_t former = 0; former < formerKeys.size(); ++former)
        for (std::size_t now = 0; now < keys.size(); ++now)
            if (!taken[now] && keys[now] == formerKeys[former]) {
                moved[former] = static_cast<int>(now);
                taken[now] = true;
                break;
            }
    return moved;
}
