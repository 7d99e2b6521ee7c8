// Times the A-tSNE similarity stage on generated cytometry-like data (a
// mixture of Gaussian clusters in 30 markers, arcsinh-transformed) with the
// analysis' settings. Usage: similarity_bench [events ...]
// (default 10000 100000 1000000).

#include "approx_tsne/approx_tsne.h"
#include "helpers/CoutLog.h"
#include "helpers/ScopedTimer.h"

#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

std::vector<double> cytometryLikeData(int events, int markers, unsigned seed)
{
    std::mt19937 generator(seed);
    const int clusters = 12;
    std::uniform_real_distribution<double> centre(0.0, 400.0);
    std::vector<double> centres(static_cast<size_t>(clusters) * markers);
    for (double& value : centres)
        value = centre(generator);
    std::normal_distribution<double> spread(0.0, 1.0);
    std::uniform_int_distribution<int> pick(0, clusters - 1);
    std::vector<double> data(static_cast<size_t>(events) * markers);
    for (int e = 0; e < events; ++e) {
        const int c = pick(generator);
        for (int m = 0; m < markers; ++m) {
            const double raw = centres[static_cast<size_t>(c) * markers + m] * (1.0 + 0.15 * spread(generator));
            data[static_cast<size_t>(e) * markers + m] = std::asinh(raw / 5.0);
        }
    }
    return data;
}

double peakMemoryGiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0 / 1024.0;
}

/// User plus system time of the whole process so far, in seconds: on a busy
/// machine it tells the work apart from the waiting.
double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty())
        sizes = {10000, 100000, 1000000};

    const int markers = 30;
    orb::CoutLog log;
    for (int events : sizes) {
        std::vector<double> data = cytometryLikeData(events, markers, 1234);
        ApproxTsneParameters parameters;
        parameters.log = &log;
        parameters.perplexity = 30;
        parameters.checks = 1024;
        parameters.trees = 4;
        parameters.cores = 8;
        ApproxTsneProbabilities probabilities(events);
        double elapsed = 0;
        const double cpuBefore = cpuSeconds();
        {
            orb::ScopedTimer timer(elapsed);
            computeHighDimensionalProbabilities(parameters, data.data(), events, markers, probabilities);
        }
        std::printf("events %d x %d markers: similarity stage %.2f s (%.1f s CPU), joint entries %lld, "
                    "peak memory %.2f GiB\n",
                    events, markers, elapsed / 1000.0, cpuSeconds() - cpuBefore,
                    static_cast<long long>(probabilities.jointKeys.size()), peakMemoryGiB());
    }
    return 0;
}
