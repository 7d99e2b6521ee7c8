// Times the sparse t-SNE on rows shaped like a landmark scale's: the
// similarity stage's kNN rows (30 or 150 entries) on the cytometry-like
// generator, each normalised to sum 1, embedded with the hierarchical SNE
// analysis' settings (theta (n - 1000) x 5e-5 within 0 .. 0.5, exaggeration
// min(40, n / 5000 + 10) until 250 with a 70-iteration decay) on all cores
// and on one. Prints milliseconds per iteration by stage, iterations per
// second and peak memory.
// Usage: sparse_tsne_bench [iterations] [points ...]
// (defaults 1000; 1000 2000 5000 20000 100000)

#include "BenchSupport.h"
#include "approx_tsne/approx_tsne.h"
#include "sparse_tsne/SparseTsne.h"

#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kMarkers = 30;

std::vector<vel::MapMemEff> landmarkLikeRows(int n, int entries)
{
    std::vector<double> data = bench::cytometryLikeData(n, kMarkers, 1234);
    ApproxTsneParameters parameters;
    parameters.perplexity = entries / 3;
    parameters.perplexityMultiplier = 3;
    parameters.checks = 1024;
    parameters.verbose = false;
    ApproxTsneProbabilities probabilities(n);
    computeHighDimensionalProbabilities(parameters, data.data(), n, kMarkers, probabilities);
    std::vector<vel::MapMemEff> rows(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        double sum = 0;
        for (int64_t e = probabilities.knnRowBegin(i); e < probabilities.knnRowEnd(i); ++e)
            sum += probabilities.knnValues[e];
        for (int64_t e = probabilities.knnRowBegin(i); e < probabilities.knnRowEnd(i); ++e)
            rows[i].appendLargest(static_cast<uint32_t>(probabilities.knnKeys[e]),
                                  static_cast<float>(probabilities.knnValues[e] / sum));
    }
    return rows;
}

void run(const std::vector<vel::MapMemEff>& rows, int entries, int threads, int iterations)
{
    const int n = static_cast<int>(rows.size());
    omp_set_num_threads(threads);
    vel::SparseTsne::Parameters parameters;
    parameters.seed = 1;
    parameters.exaggerationRemovalIteration = 250;
    parameters.momentumSwitchIteration = 250;
    parameters.exaggerationDecayLength = 70;
    parameters.exaggerationFactor = std::min(40.0, n / 5000.0 + 10);
    vel::SparseTsne tsne;
    vel::Embedding embedding;
    tsne.initialize(rows, embedding, parameters);
    tsne.setTheta(static_cast<float>(std::clamp((n - 1000) * 5e-5, 0.0, 0.5)));
    const auto start = std::chrono::steady_clock::now();
    for (int t = 0; t < iterations; ++t)
        tsne.iterate(1.0);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const vel::SparseTsne::StageTimes& stages = tsne.stageTimes();
    const double perIteration = 1000.0 / iterations;
    std::printf("n %7d  entries %3d  theta %.2f  threads %d: %7.2f ms/iteration (tree %.2f, attraction %.2f, "
                "repulsion %.2f, update %.2f), %7.1f iterations/s, peak %.2f GiB\n",
                n, entries, tsne.theta(), threads, seconds * perIteration, stages.tree * perIteration,
                stages.attraction * perIteration, stages.repulsion * perIteration, stages.update * perIteration,
                iterations / seconds, bench::peakMemoryGiB());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    const int iterations = argc > 1 ? std::atoi(argv[1]) : 1000;
    std::vector<int> sizes;
    for (int i = 2; i < argc; ++i)
        sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty())
        sizes = {1000, 2000, 5000, 20000, 100000};
    const int cores = omp_get_max_threads();
    for (int entries : {30, 150})
        for (int n : sizes) {
            const std::vector<vel::MapMemEff> rows = landmarkLikeRows(n, entries);
            run(rows, entries, cores, iterations);
            run(rows, entries, 1, iterations);
        }
    return 0;
}
