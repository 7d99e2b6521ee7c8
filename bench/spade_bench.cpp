// SPADE timings on generated cytometry-like data.
//
//   spade_bench                 end to end: 3 files x 200,000 events x 30 markers,
//                               cold cache, then warm cache
//   spade_bench densities [N]   densities only of one N-event, 30-marker file (default 1,000,000)
//   spade_bench end [E] [F]     end to end with F files of E events

#include "analyses/spade/SpadeDensityCounter.h"

#include "helpers/clock.h"

#include <omp.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <random>
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

int densitiesOnly(int64_t events)
{
    std::cout << "Generating " << events << " events x " << kMarkers << " markers\n";
    const std::vector<float> m = generateEvents(events, 1);
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

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "end";
    if (mode == "densities")
        return densitiesOnly(argc > 2 ? std::atoll(argv[2]) : 1000000);
    std::cerr << "unknown mode " << mode << "\n";
    return 1;
}
