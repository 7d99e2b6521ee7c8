// SPADE timings on generated cytometry-like data.
//
//   spade_bench                 end to end: 3 files x 200,000 events x 30 markers,
//                               cold cache, then warm cache
//   spade_bench densities [N] [uniform]
//                               densities only of one N-event, 30-marker file (default
//                               1,000,000); "uniform": unstructured noise instead of populations
//   spade_bench end [E] [F]     end to end with F files of E events

#include "analyses/MCV_SpadeAnalysis.h"
#include "analyses/spade/SpadeDensityCache.h"
#include "analyses/spade/SpadeDensityCounter.h"
#include "data/MCV_DataRegistry.h"

#include "helpers/clock.h"
#include "shared/PopulationEvents.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <omp.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <map>
#include <random>
#include <streambuf>
#include <string>
#include <vector>

namespace {

constexpr int kMarkers = PopulationEvents::kMarkers;

double secondsSince(int64_t ticks)
{
    return static_cast<double>(orb::currentTicks() - ticks) * 1e-7;
}

std::vector<float> generateEvents(int64_t events, unsigned seed)
{
    return PopulationEvents(seed).events(events);
}

int densitiesOnly(int64_t events, bool uniform)
{
    std::cout << "Generating " << events << " events x " << kMarkers << (uniform ? " uniform" : "") << " markers\n";
    std::vector<float> m = generateEvents(events, 1);
    if (uniform) {
        std::mt19937 rng(1);
        std::uniform_real_distribution<float> unit(0.0f, 5.0f);
        for (float& v : m)
            v = unit(rng);
    }
    std::vector<int> markers(kMarkers);
    for (int k = 0; k < kMarkers; ++k)
        markers[k] = k;

    int64_t t0 = orb::currentTicks();
    SpadeDensityCounter counter(m.data(), events, kMarkers, markers);
    std::cout << "column copy: " << secondsSince(t0) << " s\n";

    std::mt19937 rng(2);
    std::uniform_int_distribution<int64_t> draw(0, events - 1);
    std::vector<int64_t> samples(2000);
    for (int64_t& s : samples)
        s = draw(rng);
    t0 = orb::currentTicks();
    std::vector<float> nearest = counter.nearestDistances(samples, omp_get_max_threads());
    std::sort(nearest.begin(), nearest.end());
    const float median = nearest[nearest.size() / 2];
    std::cout << "median nearest distance " << median << ": " << secondsSince(t0) << " s\n";

    const int threads = std::max(omp_get_max_threads() - 1, 1);
    t0 = orb::currentTicks();
    const std::vector<int32_t> counts = counter.countWithin(median * 3.0f, threads);
    const double seconds = secondsSince(t0);
    int64_t sum = 0;
    for (int32_t c : counts)
        sum += c;
    std::cout << "densities (radius " << median * 3.0f << ", " << threads << " threads): " << seconds
              << " s, mean density " << static_cast<double>(sum) / static_cast<double>(events) << "\n";
    return 0;
}

/// Passes standard output through and notes when each stage's first line appears.
class StageClock : public std::streambuf
{
public:
    explicit StageClock(std::streambuf* target) : m_target(target) {}

    std::vector<std::pair<std::string, int64_t>> marks;

protected:
    int overflow(int c) override { return m_target->sputc(static_cast<char>(c)); }
    std::streamsize xsputn(const char* s, std::streamsize n) override
    {
        static const char* const stages[] = {"Trying to load cached densities", "Computing median minimum distance",
                                             "Computing local densities", "Downsampling ..", "\t\tDone, ",
                                             "Files Combined", "Targeting", "Building minimum spanning tree",
                                             "Upsampling data", "No parameters changed"};
        const std::string chunk(s, static_cast<size_t>(n));
        for (const char* stage : stages)
            if (chunk.find(stage) != std::string::npos)
                marks.emplace_back(stage, orb::currentTicks());
        return m_target->sputn(s, n);
    }

private:
    std::streambuf* m_target;
};

void runOnce(const std::vector<std::string>& paths, const char* title)
{
    const int64_t start = orb::currentTicks();
    delete MCV_DataRegistry::instance();
    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    for (const std::string& path : paths)
        registry->loadFcsFile(path);
    registry->createAllPointsData();
    const double loading = secondsSince(start);

    MCV_SpadeAnalysis analysis;
    analysis.initialize(nullptr, "SPADE");
    std::srand(1);
    StageClock clock(std::cout.rdbuf());
    std::streambuf* saved = std::cout.rdbuf(&clock);
    const int64_t runStart = orb::currentTicks();
    clock.marks.emplace_back("data hashes", runStart);
    analysis.computeSpadeTree();
    const int64_t runEnd = orb::currentTicks();
    std::cout.rdbuf(saved);

    std::map<std::string, double> seconds;
    std::vector<std::string> order;
    for (size_t i = 0; i < clock.marks.size(); ++i) {
        // The "Done" line closes a file's downsampling; time up to it belongs to "Downsampling".
        const std::string& name = clock.marks[i].first;
        if (name == "\t\tDone, ")
            continue;
        const int64_t end = i + 1 < clock.marks.size() ? clock.marks[i + 1].second : runEnd;
        if (!seconds.count(name))
            order.push_back(name);
        seconds[name] += static_cast<double>(end - clock.marks[i].second) * 1e-7;
    }
    std::cout << "\n==== " << title << ": " << analysis.clusters().size() << " clusters\n";
    std::cout << "  loading files: " << loading << " s\n";
    for (const std::string& name : order)
        std::cout << "  " << name << ": " << seconds[name] << " s\n";
    std::cout << "  total run: " << static_cast<double>(runEnd - runStart) * 1e-7 << " s\n";
}

int endToEnd(int64_t events, int files)
{
    QTemporaryDir dir;
    std::vector<std::string> paths;
    for (int f = 0; f < files; ++f) {
        const std::string path = dir.path().toStdString() + "/sample" + std::to_string(f + 1) + ".fcs";
        if (!PopulationEvents::writeFcs(path, generateEvents(events, 10 + f), events)) {
            std::cerr << "cannot write " << path << "\n";
            return 1;
        }
        paths.push_back(path);
    }
    std::cout << files << " files x " << events << " events x " << kMarkers << " markers, " << omp_get_max_threads()
              << " threads\n";
    runOnce(paths, "cold cache");
    runOnce(paths, "warm cache");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "end";
    if (mode == "densities")
        return densitiesOnly(argc > 2 ? std::atoll(argv[2]) : 1000000, argc > 3 && std::string(argv[3]) == "uniform");
    if (mode == "end")
        return endToEnd(argc > 2 ? std::atoll(argv[2]) : 200000, argc > 3 ? std::atoi(argv[3]) : 3);
    std::cerr << "unknown mode " << mode << "\n";
    return 1;
}
