#include "data/MCV_DerivedDataExploration.h"

#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/TextEscaping.h"

#include <QByteArray>

#include <lodepng.h>

#include <algorithm>
#include <iostream>

MCV_DerivedDataExploration* MCV_DataRegistry::createExplorationData(const std::string& name, bool reuse)
{
    return createData<MCV_DerivedDataExploration>(MCV_DerivedDataTypeExploration, name, reuse);
}

std::vector<MCV_DerivedDataExploration*> MCV_DataRegistry::explorationDataList() const
{
    return dataOfKind<MCV_DerivedDataExploration>(MCV_DerivedDataTypeExploration);
}

MCV_DerivedDataExploration::MCV_DerivedDataExploration()
{
    m_type = MCV_DerivedDataTypeExploration;
}

int MCV_DerivedDataExploration::nodeIndex(const std::string& name) const
{
    const auto found = m_nameToIndex.find(name);
    return found == m_nameToIndex.end() ? -1 : found->second;
}

std::string MCV_DerivedDataExploration::encodeThumbnail(const std::vector<unsigned char>& rgb, int side)
{
    const size_t expected = static_cast<size_t>(side) * static_cast<size_t>(side) * 3;
    if (rgb.size() != expected)
    {
        std::cout << "Thumbnail of " << rgb.size() << " bytes left out: a " << side << " x " << side
                  << " RGB image has " << expected << " bytes.\n";
        return std::string();
    }
    std::vector<unsigned char> png;
    const unsigned error = lodepng::encode(png, rgb, static_cast<unsigned>(side), static_cast<unsigned>(side), LCT_RGB, 8);
    if (error != 0)
    {
        std::cout << "encoder error " << error << ": " << lodepng_error_text(error) << std::endl;
        return std::string();
    }
    const QByteArray bytes(reinterpret_cast<const char*>(png.data()), static_cast<int>(png.size()));
    return bytes.toBase64().toStdString();
}

int MCV_DerivedDataExploration::addNode(const std::string& name,
                                        const std::vector<const std::vector<unsigned char>*>& images,
                                        const std::string& parentName, bool notify)
{
    const int index = static_cast<int>(m_nodes.size());
    int parent = -1;
    if (!parentName.empty())
    {
        parent = nodeIndex(parentName);
        if (parent < 0)
        {
            if (m_nodes.empty())
            {
                std::cout << "Exploration " << m_name << ": node " << name << " not added, its parent "
                          << parentName << " is not in the tree." << std::endl;
                return -1;
            }
            parent = 0; // the root adopts nodes of unknown parents
        }
        m_nodes[static_cast<size_t>(parent)].children.push_back(index);
    }
    m_nameToIndex[name] = index;

    ExplorationNode node;
    node.name = name;
    node.parent = parent;
    for (size_t i = 0; i < images.size() && i < 3; ++i)
        if (images[i] != nullptr && !images[i]->empty())
            node.images[i] = encodeThumbnail(*images[i], thumbnailSide(static_cast<int>(i)));
    m_nodes.push_back(std::move(node));
    m_dirty = true;
    if (notify)
        notifyDataRefreshed(nullptr);
    return index;
}

void MCV_DerivedDataExploration::addClusterChildren(const std::string& clustersSetName,
                                                    const std::string& parentName, bool isLeaf,
                                                    const std::vector<std::string>& kept)
{
    if (parentName.empty() || nodeIndex(parentName) < 0)
        return;
    const std::vector<char> shown = flags(kept);
    std::vector<int> replaced;
    for (int child : m_nodes[static_cast<size_t>(nodeIndex(parentName))].children)
        if (!m_nodes[static_cast<size_t>(child)].clusterSetName.empty() && !subtreeHolds(child, shown))
            replaced.push_back(child);
    removeSubtrees(replaced);

    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    const uint64_t generation = registry->generation();
    MCV_DerivedDataClusters* clusters = registry->createClustersData(clustersSetName, true);
    // Creating the set is announced; its slot may have replaced the registry with this set.
    if (clusters == nullptr || MCV_DataRegistry::currentGeneration() != generation)
        return;
    const int count = clusters->clusterCount();
    for (int i = 0; i < count; ++i)
    {
        const std::string name = clustersSetName + clusters->clusterName(i);
        if (nodeIndex(name) >= 0)
            continue;
        const int index = addNode(name, {}, parentName, false);
        ExplorationNode& node = m_nodes[static_cast<size_t>(index)];
        node.isLeaf = isLeaf;
        node.clusterId = i;
        node.clusterSetName = clustersSetName;
        node.clusterRevision = clusters->clusterRevision(i);
        node.hue = static_cast<float>(i) / static_cast<float>(count) * 360.0f;
        node.size = static_cast<int>(clusters->clusterSize(i));
        node.expression = clusters->clusterMedians(i);
        node.variation = clusters->clusterStdDevs(i);
    }
    m_dirty = true;
    notifyDataRefreshed(nullptr);
}

std::vector<std::pair<std::string, std::string>> MCV_DerivedDataExploration::tellApartEarlierClusters(
    const std::string& parentName, const std::vector<std::string>& kept)
{
    std::vector<std::pair<std::string, std::string>> renamed;
    const int parent = parentName.empty() ? -1 : nodeIndex(parentName);
    if (parent < 0)
        return renamed;
    const std::vector<char> shown = flags(kept);
    const std::vector<MCV_DerivedDataClusters*> sets = MCV_DataRegistry::instance()->clustersDataList();
    const auto holdsCluster = [&sets](const ExplorationNode& node) {
        for (const MCV_DerivedDataClusters* set : sets)
            if (set->name() == node.clusterSetName)
                for (int c = 0; c < set->clusterCount(); ++c)
                    if (set->clusterRevision(c) == node.clusterRevision)
                        return true;
        return false;
    };
    for (int child : m_nodes[static_cast<size_t>(parent)].children)
    {
        ExplorationNode& node = m_nodes[static_cast<size_t>(child)];
        if (node.clusterSetName.empty() || !subtreeHolds(child, shown) || holdsCluster(node))
            continue;
        std::string name = node.name + " (earlier)";
        for (int k = 2; nodeIndex(name) >= 0; ++k)
            name = node.name + " (earlier " + std::to_string(k) + ")";
        renamed.emplace_back(node.name, name);
        m_nameToIndex.erase(node.name);
        m_nameToIndex[name] = child;
        node.name = name;
        node.clusterSetName.clear();
        m_dirty = true;
    }
    return renamed;
}

bool MCV_DerivedDataExploration::showsClustersOf(const std::string& clustersSetName,
                                                 const std::string& parentName) const
{
    const int parent = nodeIndex(parentName);
    if (parent < 0)
        return false;
    const std::vector<int>& children = m_nodes[static_cast<size_t>(parent)].children;
    return std::any_of(children.begin(), children.end(), [&](int child) {
        return m_nodes[static_cast<size_t>(child)].clusterSetName == clustersSetName;
    });
}

void MCV_DerivedDataExploration::clear()
{
    m_nodes.clear();
    m_nameToIndex.clear();
    m_dirty = true;
}

std::vector<char> MCV_DerivedDataExploration::flags(const std::vector<std::string>& names) const
{
    std::vector<char> flagged(m_nodes.size(), 0);
    for (const std::string& name : names)
        if (nodeIndex(name) >= 0)
            flagged[static_cast<size_t>(nodeIndex(name))] = 1;
    return flagged;
}

bool MCV_DerivedDataExploration::subtreeHolds(int index, const std::vector<char>& flagged) const
{
    std::vector<int> pending{index};
    while (!pending.empty())
    {
        const size_t at = static_cast<size_t>(pending.back());
        pending.pop_back();
        if (at < flagged.size() && flagged[at])
            return true;
        pending.insert(pending.end(), m_nodes[at].children.begin(), m_nodes[at].children.end());
    }
    return false;
}

void MCV_DerivedDataExploration::removeSubtrees(const std::vector<int>& roots)
{
    if (roots.empty())
        return;
    std::vector<bool> removed(m_nodes.size(), false);
    std::vector<int> pending(roots.begin(), roots.end());
    while (!pending.empty())
    {
        const int index = pending.back();
        pending.pop_back();
        if (index < 0 || static_cast<size_t>(index) >= m_nodes.size() || removed[static_cast<size_t>(index)])
            continue;
        removed[static_cast<size_t>(index)] = true;
        const std::vector<int>& children = m_nodes[static_cast<size_t>(index)].children;
        pending.insert(pending.end(), children.begin(), children.end());
    }
    std::vector<int> newIndex(m_nodes.size(), -1);
    int kept = 0;
    for (size_t i = 0; i < m_nodes.size(); ++i)
        if (!removed[i])
            newIndex[i] = kept++;
    std::vector<ExplorationNode> nodes;
    nodes.reserve(static_cast<size_t>(kept));
    for (size_t i = 0; i < m_nodes.size(); ++i)
    {
        if (removed[i])
            continue;
        ExplorationNode node = std::move(m_nodes[i]);
        node.parent = node.parent >= 0 ? newIndex[static_cast<size_t>(node.parent)] : -1;
        std::vector<int> children;
        for (int child : node.children)
            if (newIndex[static_cast<size_t>(child)] >= 0)
                children.push_back(newIndex[static_cast<size_t>(child)]);
        node.children = std::move(children);
        nodes.push_back(std::move(node));
    }
    m_nodes = std::move(nodes);
    rebuildNameMap();
    m_dirty = true;
}

void MCV_DerivedDataExploration::rebuildNameMap()
{
    // A later node of the same name wins, as when it was added.
    m_nameToIndex.clear();
    for (size_t i = 0; i < m_nodes.size(); ++i)
        m_nameToIndex[m_nodes[i].name] = static_cast<int>(i);
}

namespace {

std::string numberList(const std::vector<float>& values)
{
    std::string text = "[";
    for (size_t i = 0; i < values.size(); ++i)
    {
        if (i > 0)
            text += ", ";
        text += TextEscaping::jsonNumber(values[i]);
    }
    return text + "]";
}

} // namespace

void MCV_DerivedDataExploration::writeNodeJson(int index, bool isLast)
{
    if (index < 0 || static_cast<size_t>(index) >= m_nodes.size())
        return;
    const ExplorationNode& node = m_nodes[static_cast<size_t>(index)];
    std::string& json = m_jsonString;
    json += "{\n";
    json += "\"name\": " + TextEscaping::jsonString(node.name) + ",\n";
    json += "\"image\": [" + TextEscaping::jsonString(node.images[0]) + ", " + TextEscaping::jsonString(node.images[1])
            + ", " + TextEscaping::jsonString(node.images[2]) + "],\n";
    json += "\"size\": " + std::to_string(node.size) + ",\n";
    json += std::string("\"isLeaf\": ") + (node.isLeaf ? "true" : "false") + ",\n";
    json += "\"cId\": \"" + std::to_string(node.clusterId) + "\",\n";
    json += "\"cName\": " + TextEscaping::jsonString(node.clusterSetName) + ",\n";
    json += "\"hue\": " + TextEscaping::jsonNumber(node.hue) + ",\n";
    json += "\"expression\": " + numberList(node.expression) + ",\n";
    json += "\"variation\": " + numberList(node.variation);
    if (node.children.empty())
    {
        json += "\n";
    }
    else
    {
        json += ",\n\"children\": [\n";
        for (size_t c = 0; c < node.children.size(); ++c)
            writeNodeJson(node.children[c], c + 1 == node.children.size());
        json += "]\n";
    }
    json += isLast ? "}\n" : "},\n";
}

void MCV_DerivedDataExploration::refresh()
{
    if (!m_dirty)
        return;
    m_jsonString.clear();
    if (!m_nodes.empty())
        writeNodeJson(0, true);
    m_escapedJsonString = TextEscaping::scriptLiteral(m_jsonString);
    m_dirty = false;
}
