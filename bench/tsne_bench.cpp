// A-tSNE end to end on a generated Gaussian mixture in 30 markers, with the
// analysis' settings: similarities (perplexity 30, 4 trees, 1024 checks),
// then 1000 gradient-descent iterations (exaggeration until 250 with a
// 70-iteration exponential decay). Prints each stage's time, the time per
// iteration, peak memory, the final KL divergence, and for a sample of events
// how many of their 10 nearest embedding neighbours share their population
// and how many of their 10 nearest neighbours in the markers stay among
// them; writes the embedding as raw float rows (x, y).
// Usage: tsne_bench [events] [embedding output path] [iterations]
// (defaults 100000, no output, 1000)

#include "BenchSupport.h"
#include "approx_tsne/ApproxTsneGradientDescent.h"
#include "approx_tsne/approx_tsne.h"
#include "helpers/ScopedTimer.h"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

constexpr int kMarkers = 30;
constexpr int kPopulations = 15;

/// Events of a mixture of Gaussian populations of unequal sizes and spreads;
/// the population of every event goes into `labels`.
std::vector<double> gaussianMixture(int events, std::vector<int>& labels)
{
    std::mt19937 generator(2024);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    std::vector<double> centres(static_cast<size_t>(kPopulations) * kMarkers);
    std::vector<double> spreads(kPopulations);
    std::vector<double> weights(kPopulations);
    for (int c = 0; c < kPopulations; ++c) {
        for (int m = 0; m < kMarkers; ++m)
            centres[static_cast<size_t>(c) * kMarkers + m] = 8.0 * uniform(generator);
        spreads[c] = 0.3 + 0.5 * uniform(generator);
        weights[c] = 0.2 + uniform(generator);
    }
    std::discrete_distribution<int> population(weights.begin(), weights.end());
    std::normal_distribution<double> normal(0.0, 1.0);
    std::vector<double> data(static_cast<size_t>(events) * kMarkers);
    labels.resize(static_cast<size_t>(events));
    for (int e = 0; e < events; ++e) {
        const int c = population(generator);
        labels[e] = c;
        for (int m = 0; m < kMarkers; ++m)
            data[static_cast<size_t>(e) * kMarkers + m] =
                centres[static_cast<size_t>(c) * kMarkers + m] + spreads[c] * normal(generator);
    }
    return data;
}

/// Indices of the k rows nearest to row i (exhaustive search, squared
/// Euclidean distances over `columns` values per row).
std::vector<int> nearestRows(const double* rows, int n, int columns, int i, int k)
{
    std::vector<std::pair<double, int>> nearest;
    nearest.reserve(static_cast<size_t>(n));
    const double* a = rows + static_cast<int64_t>(i) * columns;
    for (int j = 0; j < n; ++j) {
        if (j == i)
            continue;
        const double* b = rows + static_cast<int64_t>(j) * columns;
        double distance = 0;
        for (int c = 0; c < columns; ++c)
            distance += (a[c] - b[c]) * (a[c] - b[c]);
        nearest.emplace_back(distance, j);
    }
    std::partial_sort(nearest.begin(), nearest.begin() + k, nearest.end());
    std::vector<int> indices(static_cast<size_t>(k));
    for (int m = 0; m < k; ++m)
        indices[m] = nearest[m].second;
    return indices;
}

struct EmbeddingQuality
{
    double labelAgreement = 0;  ///< share of embedding neighbours from the same population
    double preservation = 0;    ///< share of marker-space neighbours that stay embedding neighbours
};

/// Both measured on the 10 nearest neighbours of 1000 sampled events.
EmbeddingQuality measureQuality(const std::vector<double>& data, const std::vector<double>& embedding,
                                const std::vector<int>& labels)
{
    const int n = static_cast<int>(labels.size());
    const int samples = std::min(n, 1000);
    const int k = 10;
    long sameLabel = 0;
    long kept = 0;
#pragma omp parallel for reduction(+ : sameLabel, kept) schedule(dynamic)
    for (int s = 0; s < samples; ++s) {
        const int i = static_cast<int>(static_cast<int64_t>(s) * n / samples);
        const std::vector<int> inEmbedding = nearestRows(embedding.data(), n, 2, i, k);
        std::vector<int> inMarkers = nearestRows(data.data(), n, kMarkers, i, k);
        std::sort(inMarkers.begin(), inMarkers.end());
        for (int j : inEmbedding) {
            sameLabel += labels[j] == labels[i];
            kept += std::binary_search(inMarkers.begin(), inMarkers.end(), j);
        }
    }
    const double pairs = static_cast<double>(samples) * k;
    return {sameLabel / pairs, kept / pairs};
}

} // namespace

int main(int argc, char** argv)
{
    const int events = argc > 1 ? std::atoi(argv[1]) : 100000;
    const char* outputPath = argc > 2 && argv[2][0] != '\0' ? argv[2] : nullptr;
    const int iterations = argc > 3 ? std::atoi(argv[3]) : 1000;
    const int exaggerationIterations = 250;
    const int decayIterations = 70;

    std::vector<int> labels;
    std::vector<double> data = gaussianMixture(events, labels);
    const double startCpu = bench::cpuSeconds();
    std::printf("events %d x %d markers, %d threads (force loops %d), load average %.2f\n", events, kMarkers,
                omp_get_max_threads(), std::max(1, omp_get_max_threads() - 1), bench::loadAverage());

    double similarityMs = 0, initializationMs = 0, descentMs = 0, totalMs = 0;
    double similarityCpu = 0, descentCpu = 0;
    ApproxTsneProbabilities probabilities(events);
    std::vector<double> embedding(static_cast<size_t>(events) * 2);
    std::vector<int32_t> flags(static_cast<size_t>(events), 0);
    ApproxTsneGradientDescent descent;
    {
        orb::ScopedTimer total(totalMs);
        {
            const double cpuBefore = bench::cpuSeconds();
            orb::ScopedTimer timer(similarityMs);
            computeHighDimensionalProbabilities(bench::analysisSimilarityParameters(), data.data(), events, kMarkers,
                                                probabilities);
            probabilities.releaseKnnRows();   // as the analysis does
            similarityCpu = bench::cpuSeconds() - cpuBefore;
        }
        {
            orb::ScopedTimer timer(initializationMs);
            ApproxTsneGradientDescent::Parameters& p = descent.parameters();
            p.seed = 1;
            p.momentumSwitchIteration = exaggerationIterations;
            p.exaggerationDecayFactor = std::exp(std::log(1 / (events / 5000.0 + 10)) / decayIterations);
            p.exponentialDecay = true;
            p.exaggerationRemovalIteration = exaggerationIterations - decayIterations;
            descent.initialize(&probabilities, flags.data(), embedding.data(), 2);
        }
        const double cpuBefore = bench::cpuSeconds();
        orb::ScopedTimer timer(descentMs);
        for (int i = 0; i < iterations; ++i) {
            descent.parameters().computeKlDivergence = i + 1 == iterations;
            descent.iterate();
        }
        descentCpu = bench::cpuSeconds() - cpuBefore;
    }

    std::printf("similarities      %8.2f s, %.1f CPU-s (%lld joint entries)\n", similarityMs / 1000, similarityCpu,
                static_cast<long long>(probabilities.jointKeys.size()));
    std::printf("initialisation    %8.2f s\n", initializationMs / 1000);
    std::printf("gradient descent  %8.2f s, %.1f CPU-s for %d iterations, %.2f ms per iteration\n", descentMs / 1000,
                descentCpu, iterations, descentMs / iterations);
    std::printf("end to end        %8.2f s, %.1f CPU-s\n", totalMs / 1000, bench::cpuSeconds() - startCpu);
    std::printf("peak memory       %8.2f GiB\n", bench::peakMemoryGiB());
    std::printf("final KL          %8.4f\n", descent.klDivergence());
    const EmbeddingQuality quality = measureQuality(data, embedding, labels);
    std::printf("10-NN label agreement (1000 sampled events): %.4f\n", quality.labelAgreement);
    std::printf("10-NN preservation (1000 sampled events):    %.4f\n", quality.preservation);

    if (outputPath) {
        std::FILE* file = std::fopen(outputPath, "wb");
        if (!file) {
            std::fprintf(stderr, "cannot open %s\n", outputPath);
            return 1;
        }
        std::vector<float> rows(embedding.begin(), embedding.end());
        const size_t written = std::fwrite(rows.data(), sizeof(float), rows.size(), file);
        if (std::fclose(file) != 0 || written != rows.size()) {
            std::fprintf(stderr, "cannot write %s\n", outputPath);
            return 1;
        }
        std::printf("embedding written to %s (%d rows of 2 floats)\n", outputPath, events);
    }
    return 0;
}
