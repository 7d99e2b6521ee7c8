#include "shared/PopulationEvents.h"

#include <cmath>
#include <fstream>

PopulationEvents::PopulationEvents(unsigned seed)
    : m_rng(seed)
{
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    m_centres.resize(kPopulations * kMarkers);
    m_trend.resize(kPopulations * kMarkers);
    m_weights.resize(kPopulations);
    for (int p = 0; p < kPopulations; ++p) {
        m_weights[p] = std::exp(3.0f * unit(m_rng));
        for (int k = 0; k < kMarkers; ++k) {
            m_centres[p * kMarkers + k] = centreValue(m_rng);
            m_trend[p * kMarkers + k] = (p % 3 == 0 && unit(m_rng) < 0.2f) ? 3.0f * unit(m_rng) : 0.0f;
        }
    }
}

float PopulationEvents::centreValue(std::mt19937& rng)
{
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    if (unit(rng) < 0.3f)
        return 2.0f + 4.0f * unit(rng);
    return 0.3f * unit(rng);
}

std::vector<float> PopulationEvents::events(int64_t count)
{
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::discrete_distribution<int> pick(m_weights.begin(), m_weights.end());
    std::normal_distribution<float> noise(0.0f, 0.4f);
    std::vector<float> m(static_cast<size_t>(count) * kMarkers);
    for (int64_t e = 0; e < count; ++e) {
        const int p = pick(m_rng);
        const float t = unit(m_rng);
        for (int k = 0; k < kMarkers; ++k) {
            const float v = m_centres[p * kMarkers + k] + t * m_trend[p * kMarkers + k] + noise(m_rng);
            m[static_cast<size_t>(e) * kMarkers + k] = v < 0.0f ? 0.1f * v : v;
        }
    }
    return m;
}

bool PopulationEvents::writeFcs(const std::string& path, const std::vector<float>& values, int64_t events)
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
    // An offset of more than eight digits is written as 0: readers take $BEGINDATA and $ENDDATA.
    auto field = [](int64_t v) {
        std::string f = std::to_string(v > 99999999 ? 0 : v);
        return std::string(8 - f.size(), ' ') + f;
    };
    std::string header = "FCS3.1    " + field(textStart) + field(textStart + static_cast<int64_t>(text.size()) - 1) +
                         field(dataStart) + field(dataStart + dataBytes - 1) + field(0) + field(0);
    std::ofstream out(path, std::ios::binary);
    out << header << text;
    out.write(reinterpret_cast<const char*>(values.data()), dataBytes);
    return static_cast<bool>(out);
}
