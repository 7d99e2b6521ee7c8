// Template matching on generated cytometry-like data.
//
//   template_bench [E]   E events (default 1,000,000) x 30 markers in two FCS files, and a
//                        table of a header and 50 templates (the 24 population centres, then
//                        26 random profiles) read through the template table reader
//
// Prints the table read, then per pair of limits and thread count the
// stages of classify (matching, medians, tree, publishing) and the whole
// run; the plain walk over the templates on one thread; the matched share
// and failure counts; peak memory.

#include "BenchSupport.h"
#include "analyses/MCV_TemplateAnalysis.h"
#include "csvToFloatTable.h"
#include "data/MCV_DataRegistry.h"
#include "helpers/clock.h"
#include "shared/PopulationEvents.h"

#include <QTemporaryDir>

#include <omp.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

namespace {

constexpr int kMarkers = PopulationEvents::kMarkers;
constexpr int kRandomProfiles = 26;

double secondsSince(int64_t ticks)
{
    return static_cast<double>(orb::currentTicks() - ticks) * 1e-7;
}

/// Swallows standard output and notes when the lines that open each stage of a run appear.
class StageClock : public std::streambuf
{
public:
    /// The texts that end matching, medians, tree and publishing, in order.
    static constexpr const char* kEnds[4] = {"Cluster ", "Building minimum spanning tree", "Updating Clusters",
                                             " done."};
    int64_t seen[4] = {0, 0, 0, 0};

protected:
    int overflow(int c) override { return c; }
    std::streamsize xsputn(const char* s, std::streamsize n) override
    {
        const std::string chunk(s, static_cast<size_t>(n));
        for (int i = 0; i < 4; ++i)
            if (seen[i] == 0 && chunk.find(kEnds[i]) != std::string::npos)
                seen[i] = orb::currentTicks();
        return n;
    }
};

/// The walk over the templates as plainly as it can be written: single
/// precision, stopping at the first marker beyond the limit. Returns the
/// number of matched events.
int64_t plainWalk(const MCV_DataRegistry& registry, const std::vector<std::vector<float>>& profiles,
                  float single, float total)
{
    int64_t matched = 0;
    for (int f = 0; f < registry.sampleCount(); ++f)
        for (int64_t e = 0; e < registry.sampleHeader(f)->eventCount(); ++e) {
            const float* x = registry.sampleData(f) + e * kMarkers;
            float best = total;
            int h = -1;
            for (size_t u = 0; u < profiles.size(); ++u) {
                float sum = 0.0f;
                bool failed = false;
                for (int k = 0; k < kMarkers && !failed; ++k) {
                    const float d = std::fabs(x[k] - profiles[u][k]);
                    sum += d;
                    failed = d > single;
                }
                if (!failed && sum < best) {
                    best = sum;
                    h = static_cast<int>(u);
                }
            }
            matched += h >= 0;
        }
    return matched;
}

std::string writeTable(const std::string& path, const PopulationEvents& data)
{
    std::ofstream out(path);
    for (int k = 1; k <= kMarkers; ++k)
        out << (k > 1 ? "," : "") << "M" << k;
    out << "\r\n";
    std::mt19937 rng(2);
    char number[32];
    for (int row = 0; row < PopulationEvents::kPopulations + kRandomProfiles; ++row) {
        for (int k = 0; k < kMarkers; ++k) {
            const float value = row < PopulationEvents::kPopulations ? data.centres()[row * kMarkers + k]
                                                                       : PopulationEvents::centreValue(rng);
            std::snprintf(number, sizeof number, "%.9g", value);
            out << (k > 0 ? "," : "") << number;
        }
        out << "\r\n";
    }
    return path;
}

} // namespace

int main(int argc, char** argv)
{
    const int64_t events = argc > 1 ? std::atoll(argv[1]) : 1000000;
    QTemporaryDir dir;
    PopulationEvents data(1);
    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    for (int f = 0; f < 2; ++f) {
        const int64_t count = f == 0 ? events / 2 : events - events / 2;
        const std::string path = dir.path().toStdString() + "/sample" + std::to_string(f + 1) + ".fcs";
        if (!PopulationEvents::writeFcs(path, data.events(count), count) || registry->loadFcsFile(path) != 0) {
            std::cerr << "cannot write or read " << path << "\n";
            return 1;
        }
    }
    registry->createAllPointsData();

    const std::string tablePath = writeTable(dir.path().toStdString() + "/templates.csv", data);
    int64_t start = orb::currentTicks();
    CsvTableRefusal refusal;
    const std::vector<std::vector<float>> table = csvToFloatTable(QString::fromStdString(tablePath), &refusal);
    std::printf("%lld events x %d markers in 2 files; table of %zu rows read in %.4f s %s\n",
                static_cast<long long>(events), kMarkers, table.size(), secondsSince(start),
                refusal.message.toStdString().c_str());
    if (table.empty())
        return 1;

    MCV_TemplateAnalysis analysis;
    std::streambuf* console = std::cout.rdbuf();
    StageClock quiet;
    std::cout.rdbuf(&quiet);
    analysis.initialize(nullptr, "Templates", table);
    std::cout.rdbuf(console);

    // The first pass over freshly loaded data pays for its pages: not part of any figure below.
    start = orb::currentTicks();
    const int64_t warm = plainWalk(*registry, table, 2.5f, 20.0f);
    std::printf("first pass over the data (plain walk, %lld matched): %.3f s\n", static_cast<long long>(warm),
                secondsSince(start));

    const int defaultThreads = omp_get_max_threads();
    for (const auto& limits : {std::pair<float, float>{2.5f, 20.0f}, {5.0f, 40.0f}}) {
        analysis.setMaxMarkerDistance(limits.first);
        analysis.setMaxProfileDistance(limits.second);
        std::printf("\nlimits %g / %g\n  threads  matching  medians     tree  publish  classify\n", limits.first,
                    limits.second);
        for (int threads : {1, 8}) {
            omp_set_num_threads(threads);
            StageClock clock;
            std::cout.rdbuf(&clock);
            start = orb::currentTicks();
            analysis.classify();
            const int64_t end = orb::currentTicks();
            std::cout.rdbuf(console);
            int64_t from = start;
            std::printf("  %7d", threads);
            for (int64_t mark : clock.seen) {
                std::printf(" %8.3f", static_cast<double>(mark - from) * 1e-7);
                from = mark;
            }
            std::printf(" %9.3f s\n", static_cast<double>(end - start) * 1e-7);
        }
        omp_set_num_threads(defaultThreads);

        start = orb::currentTicks();
        const int64_t walked = plainWalk(*registry, table, limits.first, limits.second);
        const double walk = secondsSince(start);
        const auto& clusters = analysis.clusters();
        const int64_t unmatched = static_cast<int64_t>(clusters.back().size());
        std::printf("  plain walk, 1 thread: %.3f s (%s)\n", walk,
                    walked == events - unmatched ? "same matched count" : "MATCHED COUNT DIFFERS");
        const MCV_TemplateAnalysis::Failures& failures = analysis.failures();
        std::printf("  matched %.1f %%; failures: single marker %lld, combined %lld, mixed %lld\n",
                    100.0 * static_cast<double>(events - unmatched) / static_cast<double>(events),
                    static_cast<long long>(failures.singleMarker), static_cast<long long>(failures.combinedMarkers),
                    static_cast<long long>(failures.mixed));
    }
    std::printf("\npeak memory %.2f GiB\n", bench::peakMemoryGiB());
    return 0;
}
