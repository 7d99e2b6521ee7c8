// Labelling the mean-shift read-back on the CPU, on hand-made read-backs,
// against the plain scan over the mode list.
#include "render/DensityClusterLabeling.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace {

/// The reference: every labelled cell joins the first mode in the list within
/// the threshold in both coordinates, else opens a new one.
std::vector<int> scanModes(const std::vector<float>& meanShift, unsigned res)
{
    const float t = DensityClusterLabeling::modeThreshold(res);
    std::vector<float> modes;
    std::vector<int> labels(static_cast<size_t>(res) * res, -1);
    for (size_t c = 0; c < labels.size(); ++c) {
        const float x = meanShift[3 * c];
        const float y = meanShift[3 * c + 1];
        if (!std::isfinite(x) || !std::isfinite(y) || (x < 0.00001f && y < 0.00001f))
            continue;
        int found = -1;
        for (size_t m = 0; m < modes.size() / 2 && found < 0; ++m)
            if (std::fabs(modes[2 * m] - x) < t && std::fabs(modes[2 * m + 1] - y) < t)
                found = static_cast<int>(m);
        if (found < 0) {
            found = static_cast<int>(modes.size() / 2);
            modes.push_back(x);
            modes.push_back(y);
        }
        labels[c] = found;
    }
    return labels;
}

void setCell(std::vector<float>& grid, unsigned res, unsigned cx, unsigned cy, float x, float y)
{
    float* cell = &grid[(static_cast<size_t>(cy) * res + cx) * 3];
    cell[0] = x;
    cell[1] = y;
    cell[2] = 1.0f;
}

} // namespace

TEST(DensityClusterLabelingTest, CellsJoinTheFirstModeWithinTwoCells)
{
    const unsigned res = 8; // threshold 0.25
    std::vector<float> grid(res * res * 3, 0.0f);
    setCell(grid, res, 0, 0, 0.5f, 0.5f);
    setCell(grid, res, 1, 0, 0.74f, 0.26f);  // within 0.25 of the first: same mode
    setCell(grid, res, 2, 0, 0.75f, 0.5f);   // exactly 0.25 away: a new mode
    setCell(grid, res, 3, 0, 0.6f, 0.6f);    // close to both: the first one found
    setCell(grid, res, 4, 0, std::numeric_limits<float>::quiet_NaN(), 0.5f);
    setCell(grid, res, 5, 0, 0.000001f, 0.000002f); // a walk that never started
    setCell(grid, res, 6, 0, 0.9f, 0.9f);    // a mode no point reaches
    setCell(grid, res, 7, 7, 0.75f, 0.55f);  // joins the second mode

    // Points: one in cell (2, 0) first, then (0, 0), one in the NaN cell, one off the grid.
    const float step = 1.0f / static_cast<float>(res - 1);
    const std::vector<float> positions{2 * step, 0.0f, 0.0f,  0.0f, 4 * step, 0.0f,
                                       1.2f,     0.5f, 7 * step, 7 * step};
    DensityClusterLabeling labeling;
    labeling.label(grid, res, positions);
    const std::vector<int>& modes = labeling.cellModes();
    EXPECT_EQ(modes, scanModes(grid, res));
    EXPECT_EQ(modes[0], 0);
    EXPECT_EQ(modes[1], 0);
    EXPECT_EQ(modes[2], 1);
    EXPECT_EQ(modes[3], 0);
    EXPECT_EQ(modes[4], -1);
    EXPECT_EQ(modes[5], -1);
    EXPECT_EQ(modes[6], 2);
    EXPECT_EQ(modes[63], 1);

    // Numbered by first point: cell (2, 0)'s mode first.
    const std::vector<int>& clusters = labeling.cellClusters();
    EXPECT_EQ(clusters[2], 0);
    EXPECT_EQ(clusters[63], 0);
    EXPECT_EQ(clusters[0], 1);
    EXPECT_EQ(clusters[6], -1); // unreached mode
    EXPECT_EQ(labeling.centres(), (std::vector<float>{0.75f, 0.5f, 0.5f, 0.5f}));
    ASSERT_EQ(labeling.members().size(), 2u);
    EXPECT_EQ(labeling.members()[0], (std::vector<unsigned>{0, 4}));
    EXPECT_EQ(labeling.members()[1], (std::vector<unsigned>{1}));
}

TEST(DensityClusterLabelingTest, CellsOfPointsRoundHalfUpAndStayOnTheGrid)
{
    EXPECT_EQ(DensityClusterLabeling::cellOf(0.5f, 0.0f, 256), 128); // 127.5 rounds up
    EXPECT_EQ(DensityClusterLabeling::cellOf(0.0f, 1.0f, 256), 255LL * 256);
    EXPECT_EQ(DensityClusterLabeling::cellOf(1.01f, 0.5f, 256), -1);
    EXPECT_EQ(DensityClusterLabeling::cellOf(-0.01f, 0.5f, 256), -1);
    EXPECT_EQ(DensityClusterLabeling::cellOf(std::numeric_limits<float>::infinity(), 0.5f, 256), -1);
    EXPECT_FLOAT_EQ(DensityClusterLabeling::modeThreshold(64), 1.0f / 32.0f);
}

TEST(DensityClusterLabelingTest, BucketedSearchEqualsTheScan)
{
    std::mt19937 random(3);
    std::normal_distribution<float> spread(0.0f, 0.01f);
    std::uniform_real_distribution<float> anywhere(-3.0f, 4.0f);
    std::uniform_int_distribution<int> kind(0, 19);
    for (unsigned res : {16u, 64u, 256u}) {
        std::vector<float> grid(static_cast<size_t>(res) * res * 3, 0.0f);
        const float peaks[][2] = {{0.2f, 0.3f}, {0.21f, 0.31f}, {0.7f, 0.7f}, {0.5f, 0.9f}, {1.49f, -0.49f}};
        for (size_t c = 0; c < grid.size() / 3; ++c) {
            const int k = kind(random);
            if (k < 2)
                continue; // no walk
            if (k < 4) { // far ends, beyond the bucketed area too
                grid[3 * c] = anywhere(random);
                grid[3 * c + 1] = anywhere(random);
                continue;
            }
            const float* peak = peaks[k % 5];
            grid[3 * c] = peak[0] + spread(random);
            grid[3 * c + 1] = peak[1] + spread(random);
        }
        DensityClusterLabeling labeling;
        labeling.label(grid, res, {});
        EXPECT_EQ(labeling.cellModes(), scanModes(grid, res)) << res;
    }
}
