// Times the registry's heavy paths on 2,000,000 events x 40 parameters:
// loading an FCS file, "All Points", the per-column statistics, the arcsinh
// transform and downsampling 1,000,000 events to 400,000.

#include "data/FcsError.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataPoints.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kEvents = 2000000;
constexpr int kParameters = 40;

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string headerField(long long value)
{
    char field[9];
    std::snprintf(field, sizeof field, "%8lld", value);
    return field;
}

/// A little-endian float FCS 3.1 file with the values row-major.
bool writeFcs(const std::string& path, const std::vector<float>& values)
{
    std::string text = "/$BYTEORD/1,2,3,4/$DATATYPE/F/$MODE/L/$TOT/" + std::to_string(kEvents) + "/$PAR/"
                       + std::to_string(kParameters) + "/";
    for (int p = 1; p <= kParameters; ++p) {
        const std::string n = "$P" + std::to_string(p);
        text += n + "N/Ch" + std::to_string(p) + "/" + n + "S/Marker " + std::to_string(p) + "/" + n + "B/32/"
                + n + "E/0,0/" + n + "R/1024/";
    }
    // $BEGINDATA and $ENDDATA with room for their digits, padded to a fixed length.
    const long long textStart = 58;
    const long long textLength = static_cast<long long>(text.size()) + 64;
    const long long dataStart = textStart + textLength;
    const long long dataEnd = dataStart + static_cast<long long>(values.size()) * 4 - 1;
    text += "$BEGINDATA/" + std::to_string(dataStart) + "/$ENDDATA/" + std::to_string(dataEnd) + "/";
    text.resize(textLength, ' ');

    std::string header = "FCS3.1    " + headerField(textStart) + headerField(textStart + textLength - 1)
                         + headerField(dataStart) + headerField(dataEnd) + headerField(0) + headerField(0);
    std::ofstream out(path, std::ios::binary);
    out.write(header.data(), static_cast<std::streamsize>(header.size()));
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.write(reinterpret_cast<const char*>(values.data()), static_cast<std::streamsize>(values.size() * 4));
    return static_cast<bool>(out);
}

} // namespace

int main()
{
    const std::string path = "/tmp/vessarine_registry_bench.fcs";
    {
        std::vector<float> values(static_cast<std::size_t>(kEvents) * kParameters);
        std::mt19937 engine(1);
        std::lognormal_distribution<float> intensity(2.0f, 1.5f);
        for (float& v : values)
            v = intensity(engine);
        if (!writeFcs(path, values)) {
            std::cerr << "could not write " << path << "\n";
            return 1;
        }
    }

    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    auto start = std::chrono::steady_clock::now();
    const int code = registry->loadFcsFile(path);
    const double load = secondsSince(start);
    std::remove(path.c_str());
    if (code != FcsErrorNone) {
        std::cerr << "load failed with code " << code << "\n";
        return 1;
    }

    start = std::chrono::steady_clock::now();
    MCV_DerivedDataPoints* all = registry->createAllPointsData();
    const double allPoints = secondsSince(start);

    start = std::chrono::steady_clock::now();
    all->means();
    all->medians();
    all->stdDevs();
    const double statistics = secondsSince(start);

    start = std::chrono::steady_clock::now();
    registry->applyArcsinh(5, std::vector<bool>(kParameters, true));
    const double arcsinh = secondsSince(start);

    MCV_DerivedDataPoints* half = registry->createPointsData("Half", false);
    half->setPoints(std::vector<MCV_PointIndex>(all->points().begin(), all->points().begin() + 1000000), false);
    std::streambuf* console = std::cout.rdbuf(nullptr);
    start = std::chrono::steady_clock::now();
    MCV_DerivedDataPoints* down = registry->createDownsampledData("Down", half, {400000});
    const double downsampling = secondsSince(start);
    std::cout.rdbuf(console);

    std::printf("events %d x parameters %d\n", kEvents, kParameters);
    std::printf("load FCS            %8.3f s\n", load);
    std::printf("All Points          %8.3f s\n", allPoints);
    std::printf("mean/median/SD x40  %8.3f s   (target < 2 s)\n", statistics);
    std::printf("arcsinh             %8.3f s   (target < 1 s)\n", arcsinh);
    std::printf("downsample 1M->400k %8.3f s   (target < 1 s), kept %zu\n", downsampling, down->points().size());
    delete registry;
    return 0;
}
