// Rectangle selection, cluster clicks and hovering, merges and the clusters
// set's life across grid changes.
#include "support/ClusteringTestAnalysis.h"
#include "RendererOnTarget.h"

#include "support/RecordingUiInterface.h"
#include "support/RegistryTestData.h"

#include <algorithm>

namespace {

/// A 5 x 5 grid of points over the unit square (normalised to 0.1 .. 0.9 in
/// steps of 0.2), in a 100 x 100 view: point (i, j) sits at pixel
/// (10 + 20 i, 10 + 20 j), index 5 j + i.
struct GridOfPoints
{
    GridOfPoints()
    {
        for (int j = 0; j < 5; ++j)
            for (int i = 0; i < 5; ++i) {
                positions.push_back(static_cast<float>(i));
                positions.push_back(static_cast<float>(j));
            }
    }
    std::vector<float> positions;
};

/// Pixel of a unit-square position in a 100 x 100 view.
int pixelOf(float unit)
{
    return static_cast<int>(unit * 100.0f);
}

/// Three blobs of 200 points and the analysis that publishes their clusters.
struct ClusteredView
{
    ClusteredView() : view(100, 100)
    {
        registry = RegistryTestData::freshRegistry();
        registry->setUiInterface(&recording);
        view.renderer.setAnalysis(&analysis, 0);
        blobs = makeBlobs({{0.2f, 0.2f}, {0.8f, 0.3f}, {0.5f, 0.8f}}, 0.02f, 200, 0.0f, 4);
        blobs.positions.insert(blobs.positions.end(), {0.0f, 0.0f, 1.0f, 1.0f}); // fixes the normalisation
        view.renderer.setData(&blobs.positions, nullptr, static_cast<int>(blobs.labels.size()) + 2, 0, nullptr,
                              false);
        view.renderer.cluster();
    }
    ~ClusteredView() { RegistryTestData::dropRegistry(); }

    /// Pixel of a raw blob centre.
    static int at(float raw) { return pixelOf(0.1f + 0.8f * raw); }

    RecordingUiInterface recording;
    MCV_DataRegistry* registry = nullptr;
    ClusteringTestAnalysis analysis;
    RendererOnTarget view;
    Blobs blobs;
};

using RendererSelectionTest = GlTest;

} // namespace

TEST_P(RendererSelectionTest, RectanglesReplaceAddAndRemoveFromThePressSelection)
{
    RendererOnTarget view(100, 100);
    GridOfPoints grid;
    PointRenderer& renderer = view.renderer;
    renderer.setData(&grid.positions, nullptr, 25, 0, nullptr, false);

    // Replace: the left two columns of the bottom two rows.
    EXPECT_EQ(renderer.rectSelect(5, 5, 35, 35, 0), (std::vector<int>{0, 1, 5, 6}));
    // A drag that adds: it sweeps the whole bottom row, then ends on one point;
    // only its final rectangle is added, once.
    renderer.beginRectSelect();
    renderer.rectSelect(5, 5, 95, 15, 1);
    EXPECT_EQ(renderer.rectSelect(5, 5, 15, 15, 1).size(), 4u) << "point 0 is not added again";
    renderer.rectSelect(45, 45, 55, 55, 1);
    EXPECT_EQ(renderer.selectedIndices(), (std::vector<int>{0, 1, 5, 6, 12}));
    renderer.endRectSelect();
    // Remove: a drag over the left column, ending over point 1 only.
    renderer.beginRectSelect();
    renderer.rectSelect(5, 5, 15, 95, 2);
    EXPECT_EQ(renderer.rectSelect(25, 5, 35, 15, 2), (std::vector<int>{0, 5, 6, 12}));
    renderer.endRectSelect();
    // Removing points that are not selected changes nothing.
    EXPECT_EQ(renderer.rectSelect(80, 80, 99, 99, 2), (std::vector<int>{0, 5, 6, 12}));
    // Rectangles outside the unit square change nothing; inclusive bounds.
    EXPECT_EQ(renderer.rectSelect(101, 0, 150, 50, 0), (std::vector<int>{0, 5, 6, 12}));
    EXPECT_EQ(renderer.rectSelect(-20, -20, -1, 120, 0), (std::vector<int>{0, 5, 6, 12}));
    EXPECT_EQ(renderer.rectSelect(10, 10, 10, 10, 0), (std::vector<int>{0}));

    // A wide view centres its square: x is shifted by 50.
    renderer.setViewport(200, 100, view.target.name());
    EXPECT_EQ(renderer.rectSelect(55, 5, 65, 15, 0), (std::vector<int>{0}));
    renderer.setViewport(0, 0, view.target.name());
    EXPECT_EQ(renderer.rectSelect(0, 0, 100, 100, 0), (std::vector<int>{0})) << "a zero view selects nothing";
}

TEST_P(RendererSelectionTest, ClicksAndHoveringFollowTheClusterUnderThePixel)
{
    ClusteredView setup;
    PointRenderer& renderer = setup.view.renderer;
    MCV_DerivedDataClusters* clusters = renderer.densityClusters();
    ASSERT_NE(clusters, nullptr);
    ASSERT_EQ(clusters->clusterCount(), 5) << "three blobs and the two anchors";
    const int first = renderer.clusterAt(ClusteredView::at(0.2f), ClusteredView::at(0.2f));
    const int second = renderer.clusterAt(ClusteredView::at(0.8f), ClusteredView::at(0.3f));
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    EXPECT_NE(first, second);
    EXPECT_EQ(renderer.clusterAt(120, 50), -1) << "outside the view square";

    setup.recording.clear();
    renderer.hoverCluster(ClusteredView::at(0.2f), ClusteredView::at(0.2f));
    renderer.hoverCluster(ClusteredView::at(0.2f) + 1, ClusteredView::at(0.2f));
    EXPECT_EQ(renderer.activeCluster(), first);
    EXPECT_EQ(setup.recording.count("highlightRefreshedSignal", clusters), 1) << "announced once per change";
    renderer.hoverCluster(ClusteredView::at(0.8f), ClusteredView::at(0.3f));
    EXPECT_EQ(setup.recording.count("highlightRefreshedSignal", clusters), 2);

    // A click selects the cluster's points; Shift adds the next one.
    std::vector<int> selected = renderer.selectClusterAt(ClusteredView::at(0.2f), ClusteredView::at(0.2f), false);
    EXPECT_EQ(selected.size(), clusters->members()[first].size());
    for (int k : selected)
        EXPECT_EQ(setup.blobs.labels[static_cast<size_t>(k)], 0);
    selected = renderer.selectClusterAt(ClusteredView::at(0.8f), ClusteredView::at(0.3f), true);
    EXPECT_EQ(selected.size(), clusters->members()[first].size() + clusters->members()[second].size());
    EXPECT_EQ(renderer.countSelectedClusters(), 2);
    EXPECT_TRUE(renderer.selectClusterAt(99, 50, false).empty()) << "no cluster there";

    // Merged clusters share one id in every cell. (A click on a selected
    // cluster toggles it off, so start from none.)
    renderer.clearClusterSelection();
    renderer.selectClusterAt(ClusteredView::at(0.2f), ClusteredView::at(0.2f), false);
    renderer.selectClusterAt(ClusteredView::at(0.8f), ClusteredView::at(0.3f), true);
    renderer.mergeClusters();
    renderer.updateClusters(clusters);
    EXPECT_EQ(clusters->clusterCount(), 4);
    EXPECT_EQ(renderer.clusterAt(ClusteredView::at(0.2f), ClusteredView::at(0.2f)),
              renderer.clusterAt(ClusteredView::at(0.8f), ClusteredView::at(0.3f)));
    EXPECT_EQ(renderer.saveClusters(), clusters->name());
}

TEST_P(RendererSelectionTest, GridChangesRenamesAndReopenedFilesKeepClustersSound)
{
    ClusteredView setup;
    PointRenderer& renderer = setup.view.renderer;
    renderer.setMsGridSize(512);
    EXPECT_EQ(renderer.clusterAt(50, 50), -1) << "dirty after the grid changed";
    EXPECT_EQ(renderer.saveClusters(), "");
    renderer.cluster();
    MCV_DerivedDataClusters* clusters = renderer.densityClusters();
    ASSERT_NE(clusters, nullptr);
    clusters->setClusterName(0, "renamed \"one\"");
    renderer.updateClusters(clusters);
    renderer.cluster();
    EXPECT_EQ(renderer.densityClusters(), clusters) << "the analysis reuses its set";
    EXPECT_EQ(clusters->clusterCount(), 5);
    EXPECT_GE(renderer.clusterAt(ClusteredView::at(0.5f), ClusteredView::at(0.8f)), 0);

    // After the files were reopened the set belongs to a registry that is gone.
    RegistryTestData::freshRegistry();
    EXPECT_EQ(renderer.densityClusters(), nullptr);
    EXPECT_EQ(renderer.clusterAt(ClusteredView::at(0.5f), ClusteredView::at(0.8f)), -1);
    EXPECT_EQ(renderer.countSelectedClusters(), 0);
    renderer.hoverCluster(50, 50);
    renderer.mergeClusters();
    renderer.render(setup.view.target.name());
}

INSTANTIATE_TEST_SUITE_P(Formats, RendererSelectionTest, testing::Values(GlFormat::Product, GlFormat::CoreDebug),
                         glFormatName);
