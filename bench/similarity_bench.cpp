// Times the A-tSNE similarity stage on generated cytometry-like data (a
// mixture of Gaussian clusters in 30 markers, arcsinh-transformed) with the
// analysis' settings. Usage: similarity_bench [events ...]
// (default 10000 100000 1000000).

#include "BenchSupport.h"
#include "approx_tsne/approx_tsne.h"
#include "helpers/CoutLog.h"
#include "helpers/ScopedTimer.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

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
        std::vector<double> data = bench::cytometryLikeData(events, markers, 1234);
        ApproxTsneParameters parameters = bench::analysisSimilarityParameters();
        parameters.log = &log;
        parameters.verbose = true;
        ApproxTsneProbabilities probabilities(events);
        double elapsed = 0;
        const double loadBefore = bench::loadAverage();
        const double cpuBefore = bench::cpuSeconds();
        {
            orb::ScopedTimer timer(elapsed);
            computeHighDimensionalProbabilities(parameters, data.data(), events, markers, probabilities);
        }
        std::printf("events %d x %d markers (load average before %.1f): similarity stage %.2f s (%.1f s CPU), "
                    "joint entries %lld, peak memory %.2f GiB\n",
                    events, markers, loadBefore, elapsed / 1000.0, bench::cpuSeconds() - cpuBefore,
                    static_cast<long long>(probabilities.jointKeys.size()), bench::peakMemoryGiB());
    }
    return 0;
}
