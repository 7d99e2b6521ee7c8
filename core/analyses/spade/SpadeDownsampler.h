#pragma once

#include <cstdint>
#include <vector>

/// Density-dependent downsampling of one file's events.
class SpadeDownsampler
{
public:
    /// Decides which events stay, printing the stage's progress lines.
    /// Events at or below the outlier density (the sorted densities at the
    /// outlier percentile) go; events at or below the target density (at the
    /// target percentile, 1 when that is below 2) stay; denser events stay
    /// with probability (target / density)^k. Passes k = 1 .. 10 repeat while
    /// more than 1.05 x the target count stayed; the draws are 15-bit rand
    /// values taken in event order. The target count is E x the keep
    /// percentage / 100, the percentage taken in hundredths, rounded down.
    /// A keep percentage above 99.9 keeps all.
    static std::vector<bool> keepFlags(const std::vector<int32_t>& densities,
                                       const std::vector<int32_t>& sortedDensities,
                                       float outlierPercentile, float targetPercentile,
                                       float keepPercentage);
};
