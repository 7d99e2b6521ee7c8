#include "analyses/spade/SpadeDensityCache.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <locale>
#include <sstream>

namespace {

bool sameFile(const std::string& a, const std::string& b)
{
    const QFileInfo fa(QString::fromStdString(a)), fb(QString::fromStdString(b));
    if (!fa.exists() || !fb.exists())
        return false;
    return fa.canonicalFilePath() == fb.canonicalFilePath();
}

/// Writes bytes to path through a temporary file that replaces it only when complete.
bool writeAtomically(const std::string& path, const char* bytes, int64_t size)
{
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (size > 0 && file.write(bytes, size) != size) {
        file.cancelWriting();
        file.commit();
        return false;
    }
    return file.commit();
}

std::string hexHash(uint64_t hash)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

} // namespace

std::string SpadeDensityCache::basePath(const std::string& samplePath)
{
    const size_t dot = samplePath.rfind('.');
    return dot == std::string::npos ? samplePath : samplePath.substr(0, dot);
}

std::string SpadeDensityCache::parametersPath(const std::string& samplePath)
{
    return basePath(samplePath) + "_parameters.txt";
}

std::string SpadeDensityCache::densitiesPath(const std::string& samplePath)
{
    return basePath(samplePath) + "_densities.raw";
}

uint64_t SpadeDensityCache::dataHash(const float* matrix, int64_t eventCount, int64_t rowStride,
                                     const std::vector<int>& markers)
{
    // FNV-1a over the 32-bit patterns of the values, after the two sizes.
    uint64_t hash = 14695981039346656037ull;
    auto mix = [&hash](uint64_t word) {
        hash ^= word;
        hash *= 1099511628211ull;
    };
    mix(static_cast<uint64_t>(eventCount));
    mix(markers.size());
    for (int64_t e = 0; e < eventCount; ++e) {
        const float* row = matrix + e * rowStride;
        for (int m : markers) {
            uint32_t bits;
            std::memcpy(&bits, row + m, sizeof bits);
            mix(bits);
        }
    }
    return hash;
}

std::string SpadeDensityCache::parameterLine(const Parameters& parameters)
{
    std::ostringstream line;
    line.imbue(std::locale::classic());
    for (bool active : parameters.activeMarkers)
        line << (active ? "1 " : "0 ");
    line << parameters.sampleSize << " " << parameters.alpha << " " << parameters.targetDensityPercentile << " "
         << parameters.outlierDensityPercentile << " " << parameters.keepPercentage << " "
         << parameters.targetClusterCount << " " << hexHash(parameters.dataHash) << " ";
    return line.str();
}

bool SpadeDensityCache::load(const std::string& samplePath, const Parameters& current, int64_t eventCount,
                             std::vector<int32_t>& densities)
{
    const std::string densityFile = densitiesPath(samplePath);
    {
        std::ifstream probe(densityFile, std::ios::binary);
        if (!probe)
            return false;
    }
    std::ifstream parameters(parametersPath(samplePath));
    if (!parameters)
        return false;
    parameters.imbue(std::locale::classic());

    for (size_t m = 0; m < current.activeMarkers.size(); ++m) {
        bool active = false;
        if (!(parameters >> active) || active != current.activeMarkers[m]) {
            std::cout << "\n\t\tMarker state " << m
                      << " in cache differs from current setting, cache file is invalid. Recomputing.\n";
            return false;
        }
    }
    int sampleSize = 0;
    if (!(parameters >> sampleSize) || sampleSize != current.sampleSize) {
        std::cout << "\n\t\tRandom sample size in cache differs from current setting, cache file is invalid. "
                     "Recomputing.\n";
        return false;
    }
    float alpha = 0.0f;
    if (!(parameters >> alpha) || alpha != current.alpha) {
        std::cout << "\n\t\tAlpha in cache differs from current setting, cache file is invalid. Recomputing.\n";
        return false;
    }
    float percentage = 0.0f;
    int clusters = 0;
    std::string hash;
    if (!(parameters >> percentage >> percentage >> percentage >> clusters >> hash) ||
        hash != hexHash(current.dataHash)) {
        std::cout << "\n\t\tData in cache differs from the loaded data, cache file is invalid. Recomputing.\n";
        return false;
    }

    std::ifstream file(densityFile, std::ios::binary | std::ios::ate);
    const int64_t expected = eventCount * static_cast<int64_t>(sizeof(int32_t));
    if (!file || static_cast<int64_t>(file.tellg()) != expected) {
        std::cout << "\n\t\tSize of cache does not match data. Reading cache failed.\n";
        return false;
    }
    file.seekg(0);
    std::vector<int32_t> read(static_cast<size_t>(eventCount));
    if (eventCount > 0 && !file.read(reinterpret_cast<char*>(read.data()), expected)) {
        std::cout << "\n\t\tReading cache failed.\n";
        return false;
    }
    densities.swap(read);
    return true;
}

bool SpadeDensityCache::write(const std::string& samplePath, const Parameters& parameters,
                              const std::vector<int32_t>& densities)
{
    const std::string densityFile = densitiesPath(samplePath);
    const std::string parameterFile = parametersPath(samplePath);
    if (sameFile(densityFile, samplePath) || sameFile(parameterFile, samplePath)) {
        std::cout << "\t\tDensity cache would replace the sample file " << samplePath << ", not written.\n";
        return false;
    }
    // The old parameters go first and come back only once the densities they
    // describe are in place, so that no parameter line vouches for other densities.
    const QString oldParameters = QString::fromStdString(parameterFile);
    if (QFile::exists(oldParameters) && !QFile::remove(oldParameters)) {
        std::cout << "\t\tCould not write the density cache " << parameterFile << ".\n";
        return false;
    }
    if (!writeAtomically(densityFile, reinterpret_cast<const char*>(densities.data()),
                         static_cast<int64_t>(densities.size() * sizeof(int32_t)))) {
        std::cout << "\t\tCould not write the density cache " << densityFile << ".\n";
        return false;
    }
    const std::string line = parameterLine(parameters);
    if (!writeAtomically(parameterFile, line.data(), static_cast<int64_t>(line.size()))) {
        std::cout << "\t\tCould not write the density cache " << parameterFile << ".\n";
        return false;
    }
    return true;
}
