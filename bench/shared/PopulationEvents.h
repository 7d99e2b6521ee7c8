#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

/// Events like arcsinh-transformed mass cytometry for the SPADE and
/// template benchmarks: populations of different sizes, each negative (near
/// 0) or positive (2 to 6) on every marker, with measurement noise and, for
/// some populations, a continuous transition. The populations are drawn
/// first from the seed; events continue the same random stream.
class PopulationEvents
{
public:
    static constexpr int kMarkers = 30;
    static constexpr int kPopulations = 24;

    explicit PopulationEvents(unsigned seed);

    /// Population p's centre on marker k at centres[p * kMarkers + k].
    const std::vector<float>& centres() const { return m_centres; }
    /// The next `count` events, row-major, kMarkers values each.
    std::vector<float> events(int64_t count);

    /// One population centre's value on a marker, drawn as the populations are.
    static float centreValue(std::mt19937& rng);

    /// Writes a minimal little-endian float FCS 3.1 file of kMarkers
    /// parameters named "M1".."M30" ("Marker 1".. as long names).
    static bool writeFcs(const std::string& path, const std::vector<float>& values, int64_t events);

private:
    std::mt19937 m_rng;
    std::vector<float> m_centres;
    std::vector<float> m_trend;
    std::vector<float> m_weights;
};
