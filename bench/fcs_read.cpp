// Reads the FCS files named on the command line and prints one line per file:
// path, result code, events, parameters, the sum of each parameter's values
// and the read speed. Also the quickest way to check a file.
//
// With --generated [EVENTS [PARAMETERS]] it writes its own files instead
// (32-bit floats in both byte orders, 16-bit integers in both byte orders,
// 32-bit integers, doubles, default 1,000,000 x 40, and a file of 20,000
// parameters), reads each five times with a warm cache and prints the
// fastest read of each (the per-parameter sums left out).
#include "data/FcsReader.h"
#include "helpers/clock.h"
#include "support/FcsTestFile.h"

#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace {

/// Reads a file `repeats` times and prints one line for the fastest read;
/// false when the file was refused.
bool readAndReport(const std::string& path, int repeats, bool sums)
{
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(path, error);
    double bestSeconds = 0.0;
    int code = FcsErrorNone;
    FcsHeader header;
    std::vector<double> parameterSums;
    for (int r = 0; r < repeats; ++r) {
        header = FcsHeader();
        header.setFileName(path);
        float* block = nullptr;
        FcsReader reader;
        const int64_t start = orb::currentTicks();
        code = reader.read(&block, header);
        const double seconds = static_cast<double>(orb::currentTicks() - start) * 1e-7;
        if (r == 0 || seconds < bestSeconds)
            bestSeconds = seconds;
        if (code != FcsErrorNone)
            break;
        if (r == 0 && sums) {
            const std::size_t events = static_cast<std::size_t>(header.eventCount());
            const std::size_t parameters = header.parameterCount();
            parameterSums.assign(parameters, 0.0);
            for (std::size_t e = 0; e < events; ++e) {
                for (std::size_t m = 0; m < parameters; ++m)
                    parameterSums[m] += static_cast<double>(block[e * parameters + m]);
            }
        }
        delete[] block;
    }
    const double megabytesPerSecond =
        error || bestSeconds <= 0.0 ? 0.0 : static_cast<double>(size) / 1e6 / bestSeconds;

    std::printf("%s\t%d", path.c_str(), code);
    if (code == FcsErrorNone) {
        std::printf("\t%d\t%zu\t", header.eventCount(), header.parameterCount());
        for (std::size_t m = 0; m < parameterSums.size(); ++m)
            std::printf(m ? " %.17g" : "%.17g", parameterSums[m]);
    } else {
        std::printf("\t-\t-\t-");
    }
    std::printf("\t%.0f MB/s\t%.3f s\n", megabytesPerSecond, bestSeconds);
    return code == FcsErrorNone;
}

/// Writes the benchmark's own files into `folder`; returns their paths.
std::vector<std::string> writeGeneratedFiles(const std::string& folder, int events, int parameters)
{
    std::vector<std::string> paths;
    auto write = [&](const FcsTestFile& file, const std::string& name) {
        const std::string path = folder + "/" + name;
        if (file.write(path))
            paths.push_back(path);
        else
            std::fprintf(stderr, "could not write %s\n", path.c_str());
    };
    const std::size_t count = static_cast<std::size_t>(events) * static_cast<std::size_t>(parameters);
    {
        FcsTestFile floats(events, parameters);
        write(floats, "float32-little.fcs");
        floats.setBigEndian(true);
        write(floats, "float32-big.fcs");
    }
    std::vector<uint64_t> words(count);
    for (std::size_t i = 0; i < count; ++i)
        words[i] = (i * 2654435761u) & 0xffffffffu;
    for (int bits : {16, 32}) {
        FcsTestFile integers(events, parameters);
        integers.setIntegers(std::vector<int>(static_cast<std::size_t>(parameters), bits), words);
        write(integers, "int" + std::to_string(bits) + "-little.fcs");
        if (bits == 16) {
            integers.setBigEndian(true);
            write(integers, "int16-big.fcs");
        }
    }
    {
        FcsTestFile doubles(events, parameters);
        doubles.setDoubles(std::vector<double>(count, 1.25));
        write(doubles, "double-little.fcs");
    }
    // Many parameters: the TEXT's keywords are looked up 100,000 times.
    write(FcsTestFile(50, 20000), "wide-20000-parameters.fcs");
    return paths;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE.fcs...\n       %s --generated [EVENTS [PARAMETERS]]\n", argv[0], argv[0]);
        return 2;
    }
    if (std::strcmp(argv[1], "--generated") == 0) {
        const int events = argc > 2 ? std::atoi(argv[2]) : 1000000;
        const int parameters = argc > 3 ? std::atoi(argv[3]) : 40;
        QTemporaryDir folder;
        if (!folder.isValid() || events < 1 || parameters < 1)
            return 2;
        int failures = 0;
        for (const std::string& path : writeGeneratedFiles(folder.path().toStdString(), events, parameters)) {
            if (!readAndReport(path, 5, false))
                ++failures;
        }
        return failures ? 1 : 0;
    }
    int failures = 0;
    for (int a = 1; a < argc; ++a) {
        if (!readAndReport(argv[a], 1, true))
            ++failures;
    }
    return failures ? 1 : 0;
}
