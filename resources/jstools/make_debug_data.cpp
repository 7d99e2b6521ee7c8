// Writes "debug_data.js", the sample data sets that the analysis pages offer
// when they run without the program: clusters JSON texts made by the core's
// own writer from a small generated sample, as double-quoted script literals.
//
//     make_debug_data <output.js>
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataExploration.h"
#include "data/MCV_DerivedDataPoints.h"
#include "data/TextEscaping.h"
#include "support/FcsTestFile.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

const std::vector<std::string> kMarkers = {"CD3", "CD4", "CD8", "CD19", "CD45 RA", "CD56", "HLA-DR", "CD11c"};
const int kGroups = 20;
const int kEventsPerGroup = 30;

using Members = std::vector<std::vector<MCV_PointIndex>>;
using Links = std::vector<MCV_DerivedDataClusters::Link>;

/// Events of group g lie around a centre of their own in every marker.
std::vector<float> sampleValues()
{
    std::vector<float> values;
    uint32_t state = 12345;
    for (int g = 0; g < kGroups; ++g)
        for (int e = 0; e < kEventsPerGroup; ++e)
            for (std::size_t m = 0; m < kMarkers.size(); ++m) {
                state = state * 1664525u + 1013904223u;
                const float noise = static_cast<float>(state >> 8) / static_cast<float>(1u << 24) - 0.5f;
                values.push_back(0.5f * static_cast<float>((g * 7 + static_cast<int>(m) * 3) % 11) + 0.4f * noise);
            }
    return values;
}

/// Clusters made of whole groups: cluster k holds the groups of groupsOf[k].
Members clustersOfGroups(const std::vector<std::vector<int>>& groupsOf)
{
    Members members;
    for (const std::vector<int>& groups : groupsOf) {
        members.emplace_back();
        for (int g : groups)
            for (int e = 0; e < kEventsPerGroup; ++e)
                members.back().push_back({0, g * kEventsPerGroup + e});
    }
    return members;
}

/// Links of a tree where node i hangs below node (i - 1) / 2.
Links binaryTree(int count)
{
    Links links;
    for (int i = 1; i < count; ++i)
        links.push_back({1.0f + 0.1f * static_cast<float>(i), i, (i - 1) / 2});
    return links;
}

MCV_DerivedDataClusters* makeClusters(const std::string& name, const std::vector<std::vector<int>>& groupsOf,
                                      const Links& links, MCV_DerivedDataPoints* all)
{
    MCV_DerivedDataClusters* clusters = MCV_DataRegistry::instance()->createClustersData(name, false);
    clusters->setClusters(clustersOfGroups(groupsOf), all, links);
    return clusters;
}

std::vector<std::vector<int>> singleGroups(int count)
{
    std::vector<std::vector<int>> groupsOf;
    for (int g = 0; g < count; ++g)
        groupsOf.push_back({g});
    return groupsOf;
}

/// Layout places of a binary tree, one {"px", "py"} object per node in node order.
std::string treePositions(int count)
{
    std::string text = "[";
    for (int i = 0; i < count; ++i) {
        const int depth = static_cast<int>(std::log2(i + 1));
        const int first = (1 << depth) - 1;
        const double x = (i - first + 0.5) / (1 << depth) * 100.0;
        text += std::string(i ? "," : "") + "{\"px\":" + TextEscaping::jsonNumber(x)
                + ",\"py\":" + TextEscaping::jsonNumber(depth * 25.0) + "}";
    }
    return text + "]";
}

/// An RGB thumbnail side x side: concentric rings around the centre in
/// shades of one colour, so that the PNG stays small.
std::vector<unsigned char> ringImage(int side, int red, int green, int blue)
{
    std::vector<unsigned char> rgb(static_cast<std::size_t>(side) * side * 3);
    for (int row = 0; row < side; ++row)
        for (int column = 0; column < side; ++column) {
            const double dx = column - side / 2.0;
            const double dy = row - side / 2.0;
            const int band = static_cast<int>(std::sqrt(dx * dx + dy * dy) * 8 / side) % 2;
            unsigned char* pixel = &rgb[(static_cast<std::size_t>(row) * side + column) * 3];
            pixel[0] = static_cast<unsigned char>(band ? red : 255);
            pixel[1] = static_cast<unsigned char>(band ? green : 255);
            pixel[2] = static_cast<unsigned char>(band ? blue : 255);
        }
    return rgb;
}

/// An exploration tree as the hierarchical SNE builds it: a level with
/// thumbnails, its clusters, a drilled-in level with thumbnails under one of
/// them, and leaves with hostile names under that.
MCV_DerivedDataExploration* makeExploration()
{
    MCV_DerivedDataExploration* tree = MCV_DataRegistry::instance()->createExplorationData("Sample Exploration", false);
    const std::vector<unsigned char> overview[3] = {ringImage(768, 60, 150, 250), ringImage(384, 60, 150, 250),
                                                    ringImage(192, 60, 150, 250)};
    const std::vector<unsigned char> zoomed[3] = {ringImage(768, 250, 120, 60), ringImage(384, 250, 120, 60),
                                                  ringImage(192, 250, 120, 60)};
    tree->addNode("Overview Level", {&overview[0], &overview[1], &overview[2]}, "", false);
    tree->addClusterChildren("Small Tree", "Overview Level", false);
    tree->addNode("Zoom Level", {&zoomed[0], &zoomed[1], &zoomed[2]}, "Small Tree1", false);
    tree->addClusterChildren("Hostile Names", "Zoom Level", true);
    return tree;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: make_debug_data <output.js>\n";
        return 2;
    }
    const std::string output = argv[1];
    const std::string samplePath = output + ".sample.fcs";

    FcsTestFile file(kGroups * kEventsPerGroup, static_cast<int>(kMarkers.size()));
    file.values = sampleValues();
    for (std::size_t m = 0; m < kMarkers.size(); ++m)
        file.setKeyword("$P" + std::to_string(m + 1) + "N", kMarkers[m]);
    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    if (!file.write(samplePath) || registry->loadFcsFile(samplePath) != 0) {
        std::cerr << "make_debug_data: could not write and read the sample " << samplePath << "\n";
        std::remove(samplePath.c_str());
        return 1;
    }
    std::remove(samplePath.c_str());
    MCV_DerivedDataPoints* all = registry->createAllPointsData();

    std::vector<MCV_DerivedDataClusters*> sets;
    sets.push_back(makeClusters("Spade Tree", singleGroups(kGroups), binaryTree(kGroups), all));
    sets.push_back(makeClusters("Small Tree", {{0, 1, 2}, {3, 4}, {5, 6, 7, 8}, {9}, {10, 11, 12}, {13, 14}},
                                binaryTree(6), all));

    // A merged tree: its links follow the merge (the one between the merged
    // clusters is gone), as pages meet it after a merge in the heat map.
    MCV_DerivedDataClusters* merged = makeClusters("Merged Clusters", singleGroups(8), binaryTree(8), all);
    merged->mergeClusters({2, 5});
    sets.push_back(merged);

    const std::vector<std::string> hostile = {
        "quote\"d 'single'", "back\\slash\\", "</script><script>Qt.js_debug('injected')</script>",
        "<img src=x onerror=\"Qt.js_saveJSON()\">", "line\xe2\x80\xa8separator", std::string("ctl\t\x01\x1f", 6),
        u8"ünïcødé 細胞", "CD45 RA", "1"};
    MCV_DerivedDataClusters* named = makeClusters("Hostile Names", singleGroups(static_cast<int>(hostile.size())),
                                                  binaryTree(static_cast<int>(hostile.size())), all);
    for (std::size_t i = 0; i < hostile.size(); ++i)
        named->setClusterName(static_cast<int>(i), hostile[i]);
    sets.push_back(named);

    MCV_DerivedDataExploration* exploration = makeExploration();
    std::string markerNames = "{\"names\": [";
    for (std::size_t m = 0; m < kMarkers.size(); ++m)
        markerNames += (m ? ", " : "") + TextEscaping::jsonString(kMarkers[m]);
    markerNames += "]}";

    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out << "// Generated at build time by make_debug_data: sample data for pages opened\n"
           "// without the program. _debug_data_ holds clusters JSON texts (a SPADE tree,\n"
           "// a small tree, a merged tree, a set with hostile names) and, fifth, an\n"
           "// exploration tree of the hierarchical SNE; _debug_data_positions holds\n"
           "// layout places for the first one and _debug_data_marker_names the\n"
           "// marker names of the sample.\n"
           "var _debug_data_ = [\n";
    for (MCV_DerivedDataClusters* set : sets)
        out << "\"" << set->escapedJsonString() << "\",\n";
    out << "\"" << exploration->escapedJsonString() << "\"\n";
    out << "];\nvar _debug_data_positions = \"" << TextEscaping::scriptLiteral(treePositions(kGroups)) << "\";\n";
    out << "var _debug_data_marker_names = \"" << TextEscaping::scriptLiteral(markerNames) << "\";\n";
    out.close();
    if (!out) {
        std::cerr << "make_debug_data: could not write " << output << "\n";
        return 1;
    }
    return 0;
}
