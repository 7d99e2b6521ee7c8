#pragma once

// Helpers shared by the benchmarks: the cytometry-like generator, the
// analysis' similarity settings and the process's memory and CPU figures.

#include "approx_tsne/approx_tsne.h"

#include <sys/resource.h>

#include <cstdlib>

#include <cmath>
#include <random>
#include <vector>

namespace bench {

/// Events of a mixture of 12 Gaussian clusters in `markers` markers,
/// arcsinh-transformed (cofactor 5) like cytometry intensities.
template <typename T = double>
std::vector<T> cytometryLikeData(int events, int markers, unsigned seed)
{
    std::mt19937 generator(seed);
    const int clusters = 12;
    std::uniform_real_distribution<double> centre(0.0, 400.0);
    std::vector<double> centres(static_cast<size_t>(clusters) * markers);
    for (double& value : centres)
        value = centre(generator);
    std::normal_distribution<double> spread(0.0, 1.0);
    std::uniform_int_distribution<int> pick(0, clusters - 1);
    std::vector<T> data(static_cast<size_t>(events) * markers);
    for (int e = 0; e < events; ++e) {
        const int c = pick(generator);
        for (int m = 0; m < markers; ++m) {
            const double raw = centres[static_cast<size_t>(c) * markers + m] * (1.0 + 0.15 * spread(generator));
            data[static_cast<size_t>(e) * markers + m] = static_cast<T>(std::asinh(raw / 5.0));
        }
    }
    return data;
}

/// The t-SNE analysis' similarity settings (perplexity 30, 4 trees, 1024
/// checks, 8 search threads), silent.
inline ApproxTsneParameters analysisSimilarityParameters()
{
    ApproxTsneParameters parameters;
    parameters.perplexity = 30;
    parameters.checks = 1024;
    parameters.trees = 4;
    parameters.cores = 8;
    parameters.verbose = false;
    return parameters;
}

inline double peakMemoryGiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0 / 1024.0;
}

/// User plus system time of the whole process so far, in seconds: on a busy
/// machine it tells the work apart from the waiting.
inline double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

/// The one-minute load average, -1 when unknown: beside wall times on a
/// shared machine it says how many other runnable threads there were.
inline double loadAverage()
{
    double load[1] = {0};
    return getloadavg(load, 1) == 1 ? load[0] : -1;
}

} // namespace bench
