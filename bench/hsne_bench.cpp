// Builds hierarchical SNE scales 0 to 3 over cytometry-like data (30
// markers, floats) with the hierarchy analysis' settings (3 trees, 256
// checks, other parameters at their defaults, seed 1), in core and out of
// core on all cores, and scale 1 also on one core. The engine prints each
// statistics block; the benchmark adds per scale its landmark count, the
// scale's memory, the wall time and the process's peak memory, and the kNN
// recall of scale 0 against an exhaustive search from 1000 sampled events.
// Usage: hsne_bench [events ...] (default 100000 1000000)

#include "BenchSupport.h"
#include "hsne/HierarchicalSne.h"
#include "vel/utils/CoutLog.h"

#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kMarkers = 30;
constexpr int kScales = 3;

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void report(const char* what, const vel::HierarchicalSne& hsne, double seconds)
{
    const vel::HierarchicalSne::Scale& scale = hsne.scales().back();
    std::printf("== %s: scale %zu, %u landmarks, %.1f MB, %.2f s, peak %.2f GiB\n", what, hsne.scales().size() - 1,
                scale.size(), scale.memorySize(), seconds, bench::peakMemoryGiB());
    std::fflush(stdout);
}

/// Share of the exhaustive 30 nearest neighbours of 1000 sampled events that
/// scale 0's rows hold.
double neighbourRecall(const std::vector<float>& data, int events, const vel::HierarchicalSne& hsne)
{
    const int samples = std::min(events, 1000);
    const int k = hsne.parameters().neighbours;
    long found = 0;
#pragma omp parallel for reduction(+ : found) schedule(dynamic)
    for (int s = 0; s < samples; ++s) {
        const int i = static_cast<int>(static_cast<int64_t>(s) * events / samples);
        const float* a = &data[static_cast<size_t>(i) * kMarkers];
        std::vector<std::pair<float, uint32_t>> distances;
        distances.reserve(static_cast<size_t>(events));
        for (int j = 0; j < events; ++j)
            if (j != i)
                distances.emplace_back(vel::squaredEuclideanDistance(a, a + kMarkers, &data[static_cast<size_t>(j) * kMarkers]), j);
        std::partial_sort(distances.begin(), distances.begin() + k, distances.end());
        const vel::MapMemEff& row = hsne.scales()[0].transitionMatrix[i];
        for (int m = 0; m < k; ++m)
            found += row.valueOf(distances[m].second) > 0 || std::any_of(row.begin(), row.end(), [&](const auto& e) {
                         return e.key == distances[m].second;
                     });
    }
    return static_cast<double>(found) / (static_cast<double>(samples) * k);
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty())
        sizes = {100000, 1000000};
    const int cores = omp_get_max_threads();
    vel::utils::CoutLog log;
    for (int events : sizes) {
        const std::vector<float> data = bench::cytometryLikeData<float>(events, kMarkers, 1234);
        vel::HierarchicalSne::Parameters parameters;
        parameters.seed = 1;
        parameters.trees = 3;
        parameters.checks = 256;
        std::printf("=== %d events x %d markers, %d threads\n", events, kMarkers, cores);
        vel::HierarchicalSne first;
        first.setLog(&log);
        first.setDimensionality(kMarkers);
        auto start = std::chrono::steady_clock::now();
        first.initialize(data.data(), static_cast<uint32_t>(events), parameters);
        const double firstSeconds = secondsSince(start);
        first.logStatistics(&log);
        report("first scale", first, firstSeconds);
        std::printf("== kNN recall against an exhaustive search (1000 sampled events): %.4f\n",
                    neighbourRecall(data, events, first));

        for (const bool outOfCore : {false, true}) {
            const char* procedure = outOfCore ? "out of core" : "in core";
            vel::HierarchicalSne hsne = first;
            hsne.parameters().outOfCore = outOfCore;
            double total = firstSeconds;
            for (int s = 1; s <= kScales; ++s) {
                start = std::chrono::steady_clock::now();
                if (!hsne.addScale())
                    break;
                const double seconds = secondsSince(start);
                total += seconds;
                report(procedure, hsne, seconds);
            }
            std::printf("== %s: scales 0 to %zu in %.2f s\n", procedure, hsne.scales().size() - 1, total);

            vel::HierarchicalSne single = first;
            single.parameters().outOfCore = outOfCore;
            single.setLog(nullptr);
            omp_set_num_threads(1);
            start = std::chrono::steady_clock::now();
            single.addScale();
            report(outOfCore ? "out of core, 1 thread" : "in core, 1 thread", single, secondsSince(start));
            omp_set_num_threads(cores);
        }
    }
    return 0;
}
