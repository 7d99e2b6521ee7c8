#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataExploration.h"
#include "data/MCV_DerivedDataPoints.h"
#include "support/RecordingUiInterface.h"
#include "support/RegistryTestData.h"
#include "support/runNode.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QTemporaryDir>

#include <lodepng.h>

#include <cstdio>
#include <fstream>
#include <functional>

namespace {

std::vector<unsigned char> gradientImage(int side)
{
    std::vector<unsigned char> rgb(static_cast<size_t>(side) * side * 3);
    for (size_t i = 0; i < rgb.size(); ++i)
        rgb[i] = static_cast<unsigned char>((i * 7 + i / 3) & 0xff);
    return rgb;
}

/// Checks the tree's invariants: parents and children agree, every node is
/// reachable from the root once, the name map finds every node.
void expectConsistent(const MCV_DerivedDataExploration& tree)
{
    const std::vector<ExplorationNode>& nodes = tree.nodes();
    std::vector<int> seen(nodes.size(), 0);
    std::function<void(int)> visit = [&](int index) {
        ASSERT_GE(index, 0);
        ASSERT_LT(index, static_cast<int>(nodes.size()));
        ++seen[static_cast<size_t>(index)];
        for (int child : nodes[static_cast<size_t>(index)].children)
        {
            ASSERT_EQ(nodes[static_cast<size_t>(child)].parent, index);
            visit(child);
        }
    };
    if (!nodes.empty())
        visit(0);
    for (size_t i = 0; i < nodes.size(); ++i)
    {
        EXPECT_EQ(seen[i], 1) << nodes[i].name;
        EXPECT_EQ(tree.nodeIndex(nodes[i].name), static_cast<int>(i));
    }
}

} // namespace

TEST(ExplorationData, GoldenJsonOfThreeNodesAndTheirEscapedText)
{
    MCV_DerivedDataExploration tree;
    EXPECT_EQ(tree.jsonString(), "");
    EXPECT_EQ(tree.addNode("Orphan", {}, "Root", false), -1); // no node 0 to adopt it
    EXPECT_EQ(tree.addNode("Root", {}, "", false), 0);
    EXPECT_EQ(tree.addNode("A", {}, "Root", false), 1);
    EXPECT_EQ(tree.addNode("B", {}, "Unknown", false), 2); // adopted by the root
    EXPECT_EQ(tree.nodes()[2].parent, 0);
    const std::string json = tree.jsonString();
    const std::string node = "\"image\": [\"\", \"\", \"\"],\n\"size\": 0,\n\"isLeaf\": false,\n\"cId\": \"0\",\n"
                             "\"cName\": \"\",\n\"hue\": -1.000000,\n\"expression\": [],\n\"variation\": []";
    EXPECT_EQ(json, "{\n\"name\": \"Root\",\n" + node + ",\n\"children\": [\n" + "{\n\"name\": \"A\",\n" + node
                        + "\n},\n" + "{\n\"name\": \"B\",\n" + node + "\n}\n" + "]\n}\n");
    std::string escaped;
    for (char c : json)
        if (c == '"')
            escaped += "\\\"";
        else if (c != '\n')
            escaped += c;
    EXPECT_EQ(tree.escapedJsonString(), escaped);
}

TEST(ExplorationData, HostileNamesSurviveJsonParseAndTheScriptLiteral)
{
    QTemporaryDir dir;
    const std::vector<std::string> names = {"quo\"te", "back\\slash", "line\nfeed", "</script><b>x</b>",
                                            "sep\xe2\x80\xa8", "plain"};
    MCV_DerivedDataExploration tree;
    tree.addNode(names[0], {}, "", false);
    for (size_t i = 1; i < names.size(); ++i)
        tree.addNode(names[i], {}, names[i - 1], false);
    EXPECT_EQ(tree.jsonString().find("</"), std::string::npos);
    const std::string jsonPath = dir.path().toStdString() + "/tree.json";
    const std::string scriptPath = dir.path().toStdString() + "/check.js";
    std::ofstream(jsonPath) << tree.jsonString();
    std::ofstream(scriptPath) << "const fs = require('fs');\n"
                                 "const direct = JSON.parse(fs.readFileSync(process.argv[2], 'utf8'));\n"
                                 "const literal = \"" << tree.escapedJsonString() << "\";\n"
                                 "const embedded = JSON.parse(literal);\n"
                                 "let names = [];\n"
                                 "for (let n = embedded; n; n = n.children && n.children[0]) names.push(n.name);\n"
                                 "console.log(JSON.stringify(direct) === JSON.stringify(embedded));\n"
                                 "console.log(Buffer.from(JSON.stringify(names)).toString('hex'));\n";
    std::string expectedNames = "[";
    for (size_t i = 0; i < names.size(); ++i)
    {
        const QByteArray escaped = QByteArray::fromStdString(names[i]);
        expectedNames += (i ? ",\"" : "\"");
        for (char c : escaped)
            expectedNames += c == '"' ? std::string("\\\"") : c == '\\' ? std::string("\\\\")
                             : c == '\n' ? std::string("\\n") : std::string(1, c);
        expectedNames += "\"";
    }
    expectedNames += "]";
    EXPECT_EQ(runNode(scriptPath + " " + jsonPath),
              "true\n" + QByteArray::fromStdString(expectedNames).toHex().toStdString() + "\n");
}

TEST(ExplorationData, ThumbnailsArePngOfTheirPositionsSideInStandardBase64)
{
    const std::vector<unsigned char> medium = gradientImage(384);
    const std::vector<unsigned char> small = gradientImage(192);
    const std::vector<unsigned char> wrong = gradientImage(100);
    MCV_DerivedDataExploration tree;
    tree.addNode("root", {nullptr, &medium, &small}, "", false);
    tree.addNode("odd", {&wrong, &small, &medium}, "root", false); // no buffer fits its place
    const ExplorationNode& root = tree.nodes()[0];
    EXPECT_EQ(root.images[0], "");
    for (int i = 1; i < 3; ++i)
    {
        const QByteArray png = QByteArray::fromBase64(QByteArray::fromStdString(root.images[i]));
        EXPECT_EQ(png.toBase64().toStdString(), root.images[i]);
        std::vector<unsigned char> pixels;
        unsigned width = 0;
        unsigned height = 0;
        ASSERT_EQ(lodepng::decode(pixels, width, height, reinterpret_cast<const unsigned char*>(png.constData()),
                                  static_cast<size_t>(png.size()), LCT_RGB, 8),
                  0u);
        EXPECT_EQ(width, static_cast<unsigned>(768 >> i));
        EXPECT_EQ(height, width);
        EXPECT_EQ(pixels, i == 1 ? medium : small);
    }
    for (const std::string& image : tree.nodes()[1].images)
        EXPECT_EQ(image, "");
}

TEST(ExplorationData, ClusterChildrenReplaceEarlierOnesWithTheirSubtrees)
{
    QTemporaryDir dir;
    MCV_DataRegistry* registry = RegistryTestData::freshRegistry();
    RecordingUiInterface ui;
    registry->setUiInterface(&ui);
    std::vector<float> values;
    for (int e = 0; e < 6; ++e)
        values.insert(values.end(), {static_cast<float>(e), 10.0f * e});
    ASSERT_EQ(registry->loadFcsFile(RegistryTestData::writeFcs(dir.path().toStdString(), "a.fcs", 2, values)), 0);
    MCV_DerivedDataPoints* all = registry->createAllPointsData();
    MCV_DerivedDataClusters* three = registry->createClustersData("Three", false);
    three->setClusters({{{0, 0}, {0, 1}}, {{0, 2}}, {{0, 3}, {0, 4}, {0, 5}}}, all, {});
    MCV_DerivedDataClusters* two = registry->createClustersData("Two", false);
    two->setClusters({{{0, 0}}, {{0, 1}}}, all, {});
    registry->createClustersData("Pair", false)->setClusters({{{0, 4}}, {{0, 5}}}, all, {});

    MCV_DerivedDataExploration* tree = registry->createExplorationData("Tree", false);
    EXPECT_EQ(registry->explorationDataList(), std::vector<MCV_DerivedDataExploration*>{tree});
    EXPECT_EQ(registry->createExplorationData("Tree", true), tree);
    tree->addNode("Root", {}, "", false);
    tree->addNode("Left", {}, "Root", false);
    tree->addNode("Right", {}, "Root", false);
    tree->addClusterChildren("Three", "Left", false);
    tree->addClusterChildren("Two", "Three1", true); // grandchildren under Left
    tree->addClusterChildren("Pair", "Right", true);
    tree->addClusterChildren("Nope", "No such node", true);
    expectConsistent(*tree);
    ASSERT_EQ(tree->nodes().size(), 3u + 3u + 2u + 2u);

    ui.clear();
    tree->addClusterChildren("Two", "Left", false); // Three1..3 and their children go
    EXPECT_EQ(ui.count("dataRefreshedSignal", tree), 1);
    expectConsistent(*tree);
    ASSERT_EQ(tree->nodes().size(), 3u + 2u + 2u);
    const ExplorationNode& left = tree->nodes()[static_cast<size_t>(tree->nodeIndex("Left"))];
    ASSERT_EQ(left.children.size(), 2u);
    EXPECT_EQ(tree->nodeIndex("Three1"), -1);
    const ExplorationNode& child = tree->nodes()[static_cast<size_t>(left.children[1])];
    EXPECT_EQ(child.name, "Two2");
    EXPECT_EQ(child.clusterId, 1);
    EXPECT_EQ(child.clusterSetName, "Two");
    EXPECT_FLOAT_EQ(child.hue, 180.0f);
    EXPECT_EQ(child.size, 1);
    EXPECT_EQ(child.expression, (std::vector<float>{1.0f, 10.0f}));
    EXPECT_NE(tree->jsonString().find("\"cId\": \"1\",\n\"cName\": \"Two\",\n\"hue\": 180.000000,\n"
                                      "\"expression\": [1.000000, 10.000000],\n\"variation\": [0.000000, 0.000000]\n"),
              std::string::npos);
    registry->setUiInterface(nullptr);
    RegistryTestData::dropRegistry();
}
