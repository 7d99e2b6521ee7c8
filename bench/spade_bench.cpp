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

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <omp.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <streambuf>
#include <string>
#include <vector>

namespace {

constexpr int kMarkers = 30;

double secondsSince(int64_t ticks)
{
    return static_cast<double>(orb::currentTicks() - ticks) * 1e-7;
}

/// Events like arcsinh-transformed mass cytometry: populations of different
/// sizes, each negative (near 0) or positive (2 to 6) on every marker, with
/// measurement noise and, for some populations, a continuous transition.
std::vector<float> generateEvents(int64_t events, unsigned seed)
{
    std::mt19937 rng(seed);
    const int populations = 24;
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::vector<float> centres(populations * kMarkers), trend(populations * kMarkers);
    std::vector<float> weights(populations);
    for (int p = 0; p < populations; ++p) {
        weights[p] = std::exp(3.0f * unit(rng));
        for (int k = 0; k < kMarkers; ++k) {
            centres[p * kMarkers + k] = unit(rng) < 0.3f ? 2.0f + 4.0f * unit(rng) : 0.3f * unit(rng);
            trend[p * kMarkers + k] = (p % 3 == 0 && unit(rng) < 0.2f) ? 3.0f * unit(rng) : 0.0f;
        }
    }
    std::discrete_distribution<int> pick(weights.begin(), weights.end());
    std::normal_distribution<float> noise(0.0f, 0.4f);
    std::vector<float> m(static_cast<size_t>(events) * kMarkers);
    for (int64_t e = 0; e < events; ++e) {
        const int p = pick(rng);
        const float t = unit(rng);
        for (int k = 0; k < kMarkers; ++k) {
            const float v = centres[p * kMarkers + k] + t * trend[p * kMarkers + k] + noise(rng);
            m[static_cast<size_t>(e) * kMarkers + k] = v < 0.0f ? 0.1f * v : v;
        }
    }
    return m;
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

/// A minimal little-endian float FCS 3.1 file.
bool writeFcs(const std::string& path, const std::vector<float>& values, int64_t events)
{
    std::string keywords;
    for (int p = 1; p <= kMarkers; ++p) {
        const std::string n = std::to_string(p);
        keywords += "|$P" + n + "B|32|$P" + n + "E|0,0|$P" + n + "N|M" + n + "|$P" + n + "R|1024|$P" + n + "S|Marker " + n;
    }
    keywords += "|$BYTEORD|1,2,3,4|$DATATYPE|F|$MODE|L|$NEXTDATA|0|$PAR|" + std::to_string(kMarkers) + "|$TOT|" +
                std::to_string(events) + "|";
    const int64_t textStart = 58;
    const int64_t dataBytes = events * kMarkers * 4;
    std::string text;
    int64_t dataStart = 0;
    // The offsets are part of the text whose length decides them: settle them.
    for (int round = 0; round < 4; ++round) {
        text = "|$BEGINANALYSIS|0|$ENDANALYSIS|0|$BEGINSTEXT|0|$ENDSTEXT|0|$BEGINDATA|" + std::to_string(dataStart) +
               "|$ENDDATA|" + std::to_string(dataStart + dataBytes - 1) + keywords;
        dataStart = textStart + static_cast<int64_t>(text.size());
    }
    auto field = [](int64_t v) {
        std::string f = std::to_string(v);
        return std::string(8 - f.size(), ' ') + f;
    };
    std::string header = "FCS3.1    " + field(textStart) + field(textStart + static_cast<int64_t>(text.size()) - 1) +
                         field(dataStart) + field(dataStart + dataBytes - 1) + field(0) + field(0);
    std::ofstream out(path, std::ios::binary);
    out << header << text;
    out.write(reinterpret_cast<const char*>(values.data()), dataBytes);
    return static_cast<bool>(out);
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
        if (!writeFcs(path, generateEvents(events, 10 + f), events)) {
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
