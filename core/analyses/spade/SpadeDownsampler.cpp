#include "analyses/spade/SpadeDownsampler.h"

#include "helpers/rand15.h"

#include <cmath>
#include <iostream>

namespace {

/// Position int(step x percentile) of the sorted densities, held inside the list.
size_t percentilePosition(float step, float percentile, size_t count)
{
    const float position = step * percentile;
    if (!(position > 0.0f))
        return 0;
    if (position >= static_cast<float>(count - 1))
        return count - 1;
    return static_cast<size_t>(position);
}

} // namespace

std::vector<bool> SpadeDownsampler::keepFlags(const std::vector<int32_t>& densities,
                                              const std::vector<int32_t>& sortedDensities,
                                              float outlierPercentile, float targetPercentile,
                                              float keepPercentage)
{
    const int64_t events = static_cast<int64_t>(densities.size());
    std::vector<bool> kept(densities.size(), false);
    if (events == 0 || sortedDensities.size() != densities.size()) {
        std::cout << "\tNo events in this file, nothing to downsample.\n";
        return kept;
    }

    const float step = static_cast<float>(events - 1) / 100.0f;
    const int32_t outlierDensity =
        sortedDensities[percentilePosition(step, outlierPercentile, sortedDensities.size())];
    int32_t targetDensity = sortedDensities[percentilePosition(step, targetPercentile, sortedDensities.size())];
    if (targetDensity < 2)
        targetDensity = 1;

    int64_t keptCount = 0;
    if (keepPercentage > 99.9f) {
        kept.assign(kept.size(), true);
        keptCount = events;
    } else {
        std::cout << "\tDownsampling ..\n";
        // The percentage counts in the hundredths the settings panel offers,
        // and E x keep / 100 in integers: a float of 0.7 % made 6 of 1000
        // events, one of 10 % 299 of 3000.
        const int64_t hundredths =
            keepPercentage > 0.0f ? std::llround(static_cast<double>(keepPercentage) * 100.0) : 0;
        const int64_t targetCount = events * hundredths / 10000;
        if (targetCount == 0)
            std::cout << "\t\tTarget count is 0, no events are kept.\n";
        // One pass decides every event afresh. The draws are taken serially
        // in event order, so the outcome does not depend on the thread count.
        for (int exponent = 1;
             exponent <= 10 && (exponent == 1 ? targetCount > 0 : keptCount > 1.05 * targetCount); ++exponent) {
            std::cout << "\t\toutlier density = " << outlierDensity << ", target density = " << targetDensity
                      << ", max cellcount = " << targetCount << ", curve exponent = " << exponent << " .. ";
            keptCount = 0;
            for (int64_t e = 0; e < events; ++e) {
                const int32_t density = densities[e];
                bool keep;
                if (density <= outlierDensity) {
                    keep = false;
                } else if (density <= targetDensity) {
                    keep = true;
                } else {
                    const float ratio = static_cast<float>(targetDensity) / static_cast<float>(density);
                    float chance = 1.0f;
                    for (int k = 0; k < exponent; ++k)
                        chance *= ratio;
                    keep = chance > orb::rand15() / 32767.0;
                }
                kept[e] = keep;
                keptCount += keep;
            }
            std::cout << keptCount << " samples remain.\n";
        }
    }
    std::cout << "\t\tDone, " << keptCount << " (" << static_cast<float>(keptCount) * 100.0f / static_cast<float>(events)
              << "%) active Samples remain.\n";
    return kept;
}
