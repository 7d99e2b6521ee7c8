// The density, gradient and mean-shift passes read back: kernel sums, order
// independence, a CPU walk over the same gradient, and clusters of blobs.
#include "RendererOnTarget.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>

namespace {

/// Index and value of the largest density cell.
std::pair<size_t, float> peak(const std::vector<float>& density)
{
    size_t best = 0;
    for (size_t c = 0; c < density.size() / 3; ++c)
        if (density[3 * c] > density[3 * best])
            best = c;
    return {best, density[3 * best]};
}

double total(const std::vector<float>& density)
{
    double sum = 0.0;
    for (size_t c = 0; c < density.size(); c += 3)
        sum += density[c];
    return sum;
}

/// Share of cells (labelled in a) whose label in b is the one most a-cells of
/// their label have in b: 1 for equal partitions whatever the numbering.
double partitionAgreement(const std::vector<int>& a, const std::vector<int>& b)
{
    std::map<int, std::map<int, int>> counts;
    int labelled = 0;
    for (size_t c = 0; c < a.size(); ++c)
        if (a[c] >= 0) {
            ++counts[a[c]][b[c]];
            ++labelled;
        }
    int agreeing = 0;
    for (const auto& entry : counts) {
        int most = 0;
        for (const auto& target : entry.second)
            most = std::max(most, target.second);
        agreeing += most;
    }
    return labelled == 0 ? 1.0 : static_cast<double>(agreeing) / labelled;
}

/// The walk of the mean-shift stage on the CPU: bilinear lookups clamped to
/// the edge, quarter-texel steps, stop on zero gradient.
std::vector<float> walkOnCpu(const std::vector<float>& gradient, unsigned res)
{
    auto sample = [&](float x, float y, int channel) {
        const float u = x * static_cast<float>(res) - 0.5f;
        const float v = y * static_cast<float>(res) - 0.5f;
        const int i0 = static_cast<int>(std::floor(u));
        const int j0 = static_cast<int>(std::floor(v));
        const float wu = u - static_cast<float>(i0);
        const float wv = v - static_cast<float>(j0);
        auto at = [&](int i, int j) {
            i = std::clamp(i, 0, static_cast<int>(res) - 1);
            j = std::clamp(j, 0, static_cast<int>(res) - 1);
            return gradient[(static_cast<size_t>(j) * res + static_cast<size_t>(i)) * 3 + channel];
        };
        return (at(i0, j0) * (1 - wu) + at(i0 + 1, j0) * wu) * (1 - wv)
               + (at(i0, j0 + 1) * (1 - wu) + at(i0 + 1, j0 + 1) * wu) * wv;
    };
    const float step = 0.25f / static_cast<float>(res);
    std::vector<float> ends(gradient.size(), 0.0f);
    for (unsigned j = 0; j < res; ++j)
        for (unsigned i = 0; i < res; ++i) {
            const size_t c = static_cast<size_t>(j) * res + i;
            float gx = gradient[3 * c];
            float gy = gradient[3 * c + 1];
            if (gx == 0.0f && gy == 0.0f)
                continue;
            float x = (static_cast<float>(i) + 0.5f) / static_cast<float>(res);
            float y = (static_cast<float>(j) + 0.5f) / static_cast<float>(res);
            for (int s = 0; s < 10000; ++s) {
                const float length = std::hypot(gx, gy);
                x += gx / length * step;
                y += gy / length * step;
                gx = sample(x, y, 0);
                gy = sample(x, y, 1);
                if (gx == 0.0f && gy == 0.0f)
                    break;
            }
            ends[3 * c] = x;
            ends[3 * c + 1] = y;
        }
    return ends;
}

/// Cluster of every point (-1: none) from the renderer's labelling.
std::vector<int> pointClusters(const PointRenderer& renderer)
{
    std::vector<int> clusters(static_cast<size_t>(renderer.pointCount()), -1);
    const auto& members = renderer.labeling().members();
    for (size_t c = 0; c < members.size(); ++c)
        for (unsigned k : members[c])
            clusters[k] = static_cast<int>(c);
    return clusters;
}

/// Clusters holding more than 1 % of the points, and the share of blob
/// points that lie in the big cluster whose majority is their blob.
std::pair<int, double> bigClustersAndPurity(const PointRenderer& renderer, const std::vector<int>& labels)
{
    const auto& members = renderer.labeling().members();
    int big = 0;
    int pure = 0;
    for (const auto& cluster : members) {
        if (cluster.size() * 100 <= labels.size())
            continue;
        ++big;
        std::map<int, int> counts;
        for (unsigned k : cluster)
            if (labels[k] >= 0)
                ++counts[labels[k]];
        int most = 0;
        for (const auto& entry : counts)
            most = std::max(most, entry.second);
        pure += most;
    }
    const auto blobPoints = std::count_if(labels.begin(), labels.end(), [](int l) { return l >= 0; });
    return {big, static_cast<double>(pure) / static_cast<double>(blobPoints)};
}

using DensityPassesTest = GlTest;

} // namespace

TEST_P(DensityPassesTest, KernelsPeakAtTheirPointAndAddUp)
{
    RendererOnTarget view(128, 128);
    PointRenderer& renderer = view.renderer;
    renderer.setMsGridSize(64);
    std::vector<float> one{3.0f, 3.0f};
    renderer.setData(&one, nullptr, 1, 0, nullptr, false); // alone, it sits at (0.5, 0.5)
    renderer.computeDensity();
    const auto single = peak(renderer.densityReadback());
    EXPECT_LE(std::abs(static_cast<int>(single.first % 64) - 32), 1);
    EXPECT_LE(std::abs(static_cast<int>(single.first / 64) - 32), 1);
    EXPECT_FLOAT_EQ(renderer.maxDensity(), single.second);

    std::vector<float> two{3.0f, 3.0f, 3.0f, 3.0f};
    renderer.setData(&two, nullptr, 2, 0, nullptr, false);
    renderer.computeDensity();
    EXPECT_NEAR(peak(renderer.densityReadback()).second, 2.0f * single.second, 1e-5f * single.second);

    // Many points: the grid holds N kernels of their mean value over the
    // quad's area in texels (sigma is half the quad in clip units, so the
    // quad's side is sigma in the unit square).
    const Blobs blobs = makeBlobs({{0.5f, 0.5f}}, 0.1f, 400, 0.0f, 5);
    renderer.setData(&blobs.positions, nullptr, 400, 0, nullptr, false);
    renderer.setSigma(0.1f);
    renderer.computeDensity();
    const std::vector<float> kernel = PointRenderer::gaussianKernel();
    const double kernelMean = std::accumulate(kernel.begin(), kernel.end(), 0.0) / kernel.size();
    const double side = 0.1 * 64;
    EXPECT_NEAR(total(renderer.densityReadback()) / (400 * kernelMean * side * side), 1.0, 0.02);
}

TEST_P(DensityPassesTest, PointOrderChangesNeitherDensityNorPartition)
{
    RendererOnTarget view(128, 128);
    PointRenderer& renderer = view.renderer;
    renderer.setMsGridSize(64);
    Blobs blobs = makeBlobs({{0.3f, 0.3f}, {0.7f, 0.6f}, {0.4f, 0.8f}}, 0.05f, 300, 0.05f, 11);
    const int n = static_cast<int>(blobs.labels.size());
    renderer.setData(&blobs.positions, nullptr, n, 0, nullptr, false);
    renderer.cluster();
    const std::vector<float> density = renderer.densityReadback();
    const std::vector<int> cells = renderer.clusterIdImage();

    std::vector<float> reversed(blobs.positions.size());
    for (int k = 0; k < n; ++k) {
        reversed[2 * k] = blobs.positions[2 * (n - 1 - k)];
        reversed[2 * k + 1] = blobs.positions[2 * (n - 1 - k) + 1];
    }
    renderer.setData(&reversed, nullptr, n, 0, nullptr, false);
    renderer.cluster();
    const float maximum = renderer.maxDensity();
    for (size_t c = 0; c < density.size(); c += 3)
        ASSERT_NEAR(renderer.densityReadback()[c], density[c], 1e-5f * maximum) << c / 3;
    EXPECT_EQ(partitionAgreement(cells, renderer.clusterIdImage()), 1.0);
    EXPECT_EQ(partitionAgreement(renderer.clusterIdImage(), cells), 1.0);
}

TEST_P(DensityPassesTest, GpuWalkMatchesACpuWalkOverTheSameGradient)
{
    RendererOnTarget view(128, 128);
    PointRenderer& renderer = view.renderer;
    const unsigned res = 64;
    renderer.setMsGridSize(res);
    const Blobs blobs = makeBlobs({{0.25f, 0.3f}, {0.75f, 0.35f}, {0.5f, 0.75f}}, 0.06f, 300, 0.05f, 2);
    renderer.setData(&blobs.positions, nullptr, static_cast<int>(blobs.labels.size()), 0, nullptr, false);
    renderer.cluster();

    std::vector<float> gradient(static_cast<size_t>(res) * res * 3);
    glBindTexture(GL_TEXTURE_2D, renderer.glNames().textures[6]);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_FLOAT, gradient.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    DensityClusterLabeling cpu;
    cpu.label(walkOnCpu(gradient, res), res, {});
    EXPECT_GE(partitionAgreement(renderer.labeling().cellModes(), cpu.cellModes()), 0.99);
    EXPECT_GE(partitionAgreement(cpu.cellModes(), renderer.labeling().cellModes()), 0.99);
}

TEST_P(DensityPassesTest, BlobsBecomeTheirClustersAtEveryGridSize)
{
    RendererOnTarget view(128, 128);
    PointRenderer& renderer = view.renderer;
    const Blobs blobs =
        makeBlobs({{0.2f, 0.2f}, {0.8f, 0.25f}, {0.5f, 0.5f}, {0.25f, 0.8f}, {0.8f, 0.8f}}, 0.03f, 800, 0.05f, 7);
    renderer.setData(&blobs.positions, nullptr, static_cast<int>(blobs.labels.size()), 0, nullptr, false);
    for (unsigned res : {64u, 128u, 256u}) {
        SCOPED_TRACE(res);
        renderer.setMsGridSize(res);
        renderer.cluster();
        const auto [big, purity] = bigClustersAndPurity(renderer, blobs.labels);
        EXPECT_EQ(big, 5);
        EXPECT_GE(purity, 0.999);
        const std::vector<int> first = pointClusters(renderer);
        renderer.cluster();
        EXPECT_EQ(pointClusters(renderer), first) << "a second run labels alike";
    }
}

TEST_P(DensityPassesTest, CloseTightBlobsStayTwoWithASmallKernel)
{
    RendererOnTarget view(128, 128);
    PointRenderer& renderer = view.renderer;
    // Two corner points fix the normalisation to 0.1 + 0.8 x, so the blobs
    // lie 0.012 apart in the unit square.
    Blobs blobs = makeBlobs({{0.5f, 0.5f}, {0.515f, 0.5f}}, 0.0005f, 500, 0.0f, 9);
    blobs.positions.insert(blobs.positions.end(), {0.0f, 0.0f, 1.0f, 1.0f});
    blobs.labels.insert(blobs.labels.end(), {-1, -1});
    renderer.setData(&blobs.positions, nullptr, static_cast<int>(blobs.labels.size()), 0, nullptr, false);
    renderer.setSigma(0.012f);
    for (unsigned res : {256u, 512u}) {
        SCOPED_TRACE(res);
        renderer.setMsGridSize(res);
        renderer.cluster();
        const auto [big, purity] = bigClustersAndPurity(renderer, blobs.labels);
        EXPECT_EQ(big, 2);
        EXPECT_GE(purity, 0.999);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, DensityPassesTest, testing::Values(GlFormat::Product, GlFormat::CoreDebug),
                         glFormatName);
