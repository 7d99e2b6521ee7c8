#pragma once

#include "data/ExplorationNode.h"
#include "data/MCV_DerivedData.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

/// The user's drill-down through a hierarchy as a tree of uniquely named
/// nodes (node 0 is the root), rendered as nested JSON for the hierarchy
/// page. Registered in the data registry as kind 4.
///
/// Names enter the JSON escaped; the escaped text is the JSON as a
/// double-quoted script literal. A set without nodes has empty texts.
class MCV_DerivedDataExploration : public MCV_DerivedData
{
public:
    /// Side of thumbnail i: 768, 384 and 192 pixels.
    static int thumbnailSide(int position) { return 768 >> position; }

    MCV_DerivedDataExploration();

    /// Adds a node under the named parent (none for an empty name) and
    /// returns its index. Thumbnail i, when given and not empty, must be an
    /// RGB buffer of thumbnailSide(i)^2 x 3 bytes (rows top to bottom);
    /// other sizes give an empty text and a line. A parent name that names
    /// no node makes node 0 the parent, and is refused (-1, a line) when
    /// there is no node yet. Announces dataRefreshedSignal when notify is set.
    int addNode(const std::string& name, const std::vector<const std::vector<unsigned char>*>& images,
                const std::string& parentName, bool notify);
    /// Replaces the cluster children of the named node (with their subtrees)
    /// by one node per cluster of the registry's clusters set of that name,
    /// named set name + cluster name, and announces dataRefreshedSignal
    /// once. Other children stay, and so does a cluster child whose subtree
    /// holds a node named in `kept` (the nodes of levels still shown), in
    /// its place; a cluster whose name is already a node keeps that node.
    /// An empty or unknown parent name does nothing.
    void addClusterChildren(const std::string& clustersSetName, const std::string& parentName, bool isLeaf,
                            const std::vector<std::string>& kept = {});
    /// A cluster child of the named node whose subtree holds a node named in
    /// `kept` and whose cluster its set no longer holds (clustered anew or
    /// merged since) is renamed "<name> (earlier)" ("(earlier 2)", ... when
    /// taken) and no longer counts as a cluster node, so that the set's
    /// current clusters get the set's names. Returns the old and new names;
    /// nothing is announced.
    std::vector<std::pair<std::string, std::string>> tellApartEarlierClusters(const std::string& parentName,
                                                                              const std::vector<std::string>& kept);
    /// True when the named node has a cluster child made from the set.
    bool showsClustersOf(const std::string& clustersSetName, const std::string& parentName) const;
    /// Removes every node (texts become empty); nothing is announced.
    void clear();

    /// Appends one node's text, children included, to the JSON text.
    void writeNodeJson(int index, bool isLast);
    void refresh() override;
    void setDirty() override { m_dirty = true; }

    const std::vector<ExplorationNode>& nodes() const { return m_nodes; }
    /// Index of the named node, -1 when there is none.
    int nodeIndex(const std::string& name) const;

    /// Standard base64 (RFC 4648, "=" fill, no line breaks) of a PNG of an
    /// RGB image side x side; empty, with a line, when the buffer has
    /// another size or the encoder fails.
    static std::string encodeThumbnail(const std::vector<unsigned char>& rgb, int side);

private:
    /// One flag per node: set for the nodes named in `names`.
    std::vector<char> flags(const std::vector<std::string>& names) const;
    /// True when the node or one below it is flagged.
    bool subtreeHolds(int index, const std::vector<char>& flagged) const;
    /// Removes the node and its subtree from the list; renumbers parents,
    /// children and the name map.
    void removeSubtrees(const std::vector<int>& roots);
    void rebuildNameMap();

    std::map<std::string, int> m_nameToIndex;
    std::vector<ExplorationNode> m_nodes;
    bool m_dirty = true;
};
