// A-tSNE end to end on a quiet machine and beside a competing load, in one
// run: 30-D cytometry-like events, the analysis' settings (perplexity 30,
// 4 trees, 1024 checks; exaggeration until 250 with a 70-iteration decay),
// first alone, then while 4 busy processes of the bench's own compete for
// the cores. Prints wall and CPU seconds of both runs, the load average
// before each, and the ratio of the wall times. Both descents start from
// the first run's probabilities (the neighbour search's trees are shuffled
// differently in every run), so their embeddings must agree bit for bit.
// With 0 busy processes only the quiet run is made.
// Usage: tsne_load_bench [events] [iterations] [busy processes]
// (defaults 100000, 1000, 4)

#include "BenchSupport.h"
#include "approx_tsne/ApproxTsneGradientDescent.h"
#include "approx_tsne/approx_tsne.h"
#include "helpers/ScopedTimer.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kMarkers = 30;

struct Run
{
    double similarityMs = 0;
    double descentMs = 0;
    double cpuSeconds = 0;
    double loadBefore = 0;
    std::vector<double> embedding;
    double kl = 0;
};

/// Similarities of fresh data (timed; kept in `probabilities` when asked),
/// then the descent from `start`, the probabilities it runs on.
Run runOnce(int events, int iterations, ApproxTsneProbabilities* keep, const ApproxTsneProbabilities* start)
{
    Run run;
    run.loadBefore = bench::loadAverage();
    const double cpuBefore = bench::cpuSeconds();
    std::vector<double> data = bench::cytometryLikeData(events, kMarkers, 2024);
    ApproxTsneProbabilities probabilities(events);
    {
        orb::ScopedTimer timer(run.similarityMs);
        computeHighDimensionalProbabilities(bench::analysisSimilarityParameters(), data.data(), events, kMarkers,
                                            probabilities);
        probabilities.releaseKnnRows();   // as the analysis does
    }
    if (keep)
        *keep = probabilities;
    ApproxTsneProbabilities descentProbabilities = start ? *start : probabilities;
    run.embedding.assign(static_cast<size_t>(events) * 2, 0.0);
    std::vector<int32_t> flags(static_cast<size_t>(events), 0);
    {
        orb::ScopedTimer timer(run.descentMs);
        ApproxTsneGradientDescent descent;
        ApproxTsneGradientDescent::Parameters& p = descent.parameters();
        p.seed = 1;
        p.momentumSwitchIteration = 250;
        p.exaggerationDecayFactor = std::exp(std::log(1 / (events / 5000.0 + 10)) / 70);
        p.exponentialDecay = true;
        p.exaggerationRemovalIteration = 250 - 70;
        descent.initialize(&descentProbabilities, flags.data(), run.embedding.data(), 2);
        for (int i = 0; i < iterations; ++i) {
            p.computeKlDivergence = i + 1 == iterations;
            descent.iterate();
        }
        run.kl = descent.klDivergence();
    }
    run.cpuSeconds = bench::cpuSeconds() - cpuBefore;
    return run;
}

/// Processes that keep one core each busy until they are killed.
std::vector<pid_t> startBusyProcesses(int count)
{
    std::vector<pid_t> children;
    for (int c = 0; c < count; ++c) {
        const pid_t child = fork();
        if (child == 0) {
            volatile double x = 1;
            for (;;)
                x = x * 1.0000001 + 1e-9;
        }
        if (child > 0)
            children.push_back(child);
    }
    return children;
}

void stopBusyProcesses(const std::vector<pid_t>& children)
{
    for (pid_t child : children)
        kill(child, SIGKILL);
    for (pid_t child : children)
        waitpid(child, nullptr, 0);
}

void print(const char* name, const Run& run)
{
    std::printf("%-7s load average before %5.1f: similarities %7.2f s, descent %7.2f s, end to end %7.2f s, "
                "%8.1f CPU-seconds, final KL %.4f\n",
                name, run.loadBefore, run.similarityMs / 1000, run.descentMs / 1000,
                (run.similarityMs + run.descentMs) / 1000, run.cpuSeconds, run.kl);
}

} // namespace

int main(int argc, char** argv)
{
    const int events = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int iterations = argc > 2 ? std::atoi(argv[2]) : 1000;
    const int busy = argc > 3 ? std::atoi(argv[3]) : 4;
    std::printf("events %d x %d markers, %d iterations, %d busy processes in the loaded run\n", events, kMarkers,
                iterations, busy);

    ApproxTsneProbabilities probabilities;
    const Run quiet = runOnce(events, iterations, busy > 0 ? &probabilities : nullptr, nullptr);
    print("quiet", quiet);
    std::printf("peak memory %.2f GiB\n", bench::peakMemoryGiB());
    std::fflush(stdout);
    if (busy <= 0)
        return 0;

    const std::vector<pid_t> children = startBusyProcesses(busy);
    const Run loaded = runOnce(events, iterations, nullptr, &probabilities);
    stopBusyProcesses(children);
    print("loaded", loaded);

    const bool identical = quiet.embedding.size() == loaded.embedding.size()
        && std::memcmp(quiet.embedding.data(), loaded.embedding.data(), quiet.embedding.size() * sizeof(double)) == 0
        && quiet.kl == loaded.kl;
    std::printf("loaded / quiet end to end: %.2f (descent alone %.2f); embeddings and KL identical: %s\n",
                (loaded.similarityMs + loaded.descentMs) / (quiet.similarityMs + quiet.descentMs),
                loaded.descentMs / quiet.descentMs, identical ? "yes" : "NO");
    return identical ? 0 : 1;
}
