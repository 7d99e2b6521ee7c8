// The A-tSNE analysis end to end on generated events: FCS file -> registry ->
// probabilities -> gradient descent -> embedding channels. Prints the time of
// each stage and the analysis' own work per iteration (float copy of the
// embedding, the notification, the view's extent of the positions) against
// the engine's iteration time.
//
//     tsne_analysis_bench [events=100000] [markers=30] [iterations=1000]
#include "analyses/MCV_TsneAnalysis.h"
#include "data/FcsError.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataPoints.h"
#include "helpers/clock.h"
#include "support/FcsTestFile.h"
#include "support/SilentUiInterface.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

double secondsSince(int64_t ticks)
{
    return static_cast<double>(orb::currentTicks() - ticks) * 1e-7;
}

/// Records when each iteration is announced; computes the extent of the
/// positions as a view does on every update.
class BenchInterface : public SilentUiInterface
{
public:
    MCV_TsneAnalysis* analysis = nullptr;
    std::vector<int64_t> updateTicks;
    int64_t initializedTicks = 0;
    float extent[4] = {0, 0, 0, 0};

    void analysisUpdatedSignal(void*) override
    {
        updateTicks.push_back(orb::currentTicks());
        viewExtent();
    }
    void analysisInitializedSignal(void*) override { initializedTicks = orb::currentTicks(); }

    void viewExtent()
    {
        const std::vector<float>& p = analysis->embeddingPositions();
        float box[4] = {FLT_MAX, -FLT_MAX, FLT_MAX, -FLT_MAX};
        for (size_t i = 0; i + 1 < p.size(); i += 2)
        {
            box[0] = std::min(box[0], p[i]);
            box[1] = std::max(box[1], p[i]);
            box[2] = std::min(box[2], p[i + 1]);
            box[3] = std::max(box[3], p[i + 1]);
        }
        std::copy(box, box + 4, extent);
    }

};

/// Mean seconds of one call of f over `repeats` calls.
template <typename F>
double timeEach(int repeats, F f)
{
    const int64_t start = orb::currentTicks();
    for (int r = 0; r < repeats; ++r)
        f();
    return secondsSince(start) / repeats;
}

} // namespace

int main(int argc, char** argv)
{
    const int events = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int markers = argc > 2 ? std::atoi(argv[2]) : 30;
    const int iterations = argc > 3 ? std::atoi(argv[3]) : 1000;

    // Ten Gaussian clusters in marker space.
    FcsTestFile file(events, markers);
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::uniform_real_distribution<float> centre(0.0f, 10.0f);
    std::vector<float> centres(10 * static_cast<size_t>(markers));
    for (float& c : centres)
        c = centre(random);
    for (int e = 0; e < events; ++e)
        for (int m = 0; m < markers; ++m)
            file.values[static_cast<size_t>(e) * markers + m] = centres[(e % 10) * markers + m] + noise(random);
    const std::string path =
        (std::filesystem::temp_directory_path() / ("tsne_analysis_bench_" + std::to_string(events) + ".fcs")).string();
    if (!file.write(path))
    {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }

    BenchInterface ui;
    int64_t start = orb::currentTicks();
    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    if (registry->loadFcsFile(path) != FcsErrorNone)
    {
        std::fprintf(stderr, "cannot load %s\n", path.c_str());
        return 1;
    }
    registry->appendChannels({"VSRNE_TsneX", "VSRNE_TsneY"}, 0.0f);
    MCV_DerivedDataPoints* all = registry->createAllPointsData();
    const double loadSeconds = secondsSince(start);

    MCV_TsneAnalysis analysis;
    ui.analysis = &analysis;
    analysis.initialize(&ui, "Bench");
    // The two embedding channels take no part, as in the program.
    analysis.setMarkerActive(markers, false);
    analysis.setMarkerActive(markers + 1, false);
    analysis.setInputData(all);
    analysis.setIterations(iterations);

    start = orb::currentTicks();
    analysis.compute();
    const double totalSeconds = secondsSince(start);
    std::filesystem::remove(path);
    if (ui.updateTicks.size() < 2)
    {
        std::fprintf(stderr, "no iterations ran\n");
        return 1;
    }

    // Intervals between announcements: one engine iteration plus the
    // analysis' own work; the 100th ones also hold the KL divergence.
    std::vector<double> plain;
    double klIntervals = 0.0;
    int klCount = 0;
    for (size_t i = 1; i < ui.updateTicks.size(); ++i)
    {
        const double seconds = static_cast<double>(ui.updateTicks[i] - ui.updateTicks[i - 1]) * 1e-7;
        if ((i + 1) % 100 == 0)
        {
            klIntervals += seconds;
            ++klCount;
        }
        else
            plain.push_back(seconds);
    }
    double interval = 0.0;
    for (double s : plain)
        interval += s;
    interval /= static_cast<double>(plain.size());

    // The analysis' own work per iteration, on the real buffers.
    const std::vector<double> embedding(analysis.gradientDescent().embedding(),
                                        analysis.gradientDescent().embedding() + 2 * static_cast<size_t>(events));
    std::vector<float> positions(embedding.size());
    const int repeats = 200;
    const double copySeconds = timeEach(repeats, [&] {
        std::copy(embedding.begin(), embedding.end(), positions.begin());
    });
    const double extentSeconds = timeEach(repeats, [&] { ui.viewExtent(); });
    BenchInterface silent;
    silent.analysis = &analysis;
    MCV_UiInterface* volatile target = &silent;
    const double notifySeconds = timeEach(repeats * 100, [&] { target->analysisMilestoneSignal(&analysis); });
    const double overhead = copySeconds + notifySeconds + extentSeconds;
    const double engine = interval - overhead;
    const double klExtra = klCount > 0 ? klIntervals / klCount - interval : 0.0;

    std::printf("\nevents %d, markers %d, iterations %d\n", events, markers, iterations);
    std::printf("load and \"All Points\":        %9.3f s\n", loadSeconds);
    std::printf("probabilities:                %9.3f s\n",
                static_cast<double>(ui.initializedTicks - start) * 1e-7);
    std::printf("compute (all stages):         %9.3f s\n", totalSeconds);
    std::printf("engine iteration:             %9.3f ms\n", engine * 1e3);
    std::printf("  float copy:                 %9.4f ms\n", copySeconds * 1e3);
    std::printf("  notification:               %9.6f ms\n", notifySeconds * 1e3);
    std::printf("  view extent:                %9.4f ms\n", extentSeconds * 1e3);
    std::printf("analysis overhead/iteration:  %9.4f ms = %.3f %% of the engine's iteration (target < 5 %%)\n",
                overhead * 1e3, 100.0 * overhead / engine);
    std::printf("KL divergence (every 100th):  %9.3f ms = %.3f %% per iteration on average\n", klExtra * 1e3,
                100.0 * klExtra / 100.0 / engine);
    std::printf("extent of the final embedding: x %.2f..%.2f, y %.2f..%.2f\n", ui.extent[0], ui.extent[1],
                ui.extent[2], ui.extent[3]);
    delete registry;
    return 0;
}
