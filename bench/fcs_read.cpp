// Reads the FCS files named on the command line and prints one line per file:
// path, result code, events, parameters, the sum of each parameter's values
// and the read speed. Also the quickest way to check a file.
#include "data/FcsReader.h"
#include "helpers/clock.h"

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE.fcs...\n", argv[0]);
        return 2;
    }
    int failures = 0;
    for (int a = 1; a < argc; ++a) {
        FcsHeader header;
        header.setFileName(argv[a]);
        float* block = nullptr;
        FcsReader reader;
        const int64_t start = orb::currentTicks();
        const int code = reader.read(&block, header);
        const int64_t ticks = orb::currentTicks() - start;

        std::error_code error;
        const uintmax_t size = std::filesystem::file_size(argv[a], error);
        const double seconds = static_cast<double>(ticks) * 1e-7;
        const double megabytesPerSecond = error || seconds <= 0.0 ? 0.0 : static_cast<double>(size) / 1e6 / seconds;

        std::printf("%s\t%d", argv[a], code);
        if (code == FcsErrorNone) {
            const std::size_t events = static_cast<std::size_t>(header.eventCount());
            const std::size_t parameters = header.parameterCount();
            std::vector<double> sums(parameters, 0.0);
            for (std::size_t e = 0; e < events; ++e) {
                for (std::size_t m = 0; m < parameters; ++m)
                    sums[m] += static_cast<double>(block[e * parameters + m]);
            }
            delete[] block;
            std::printf("\t%zu\t%zu\t", events, parameters);
            for (std::size_t m = 0; m < parameters; ++m)
                std::printf(m ? " %.17g" : "%.17g", sums[m]);
        } else {
            ++failures;
            std::printf("\t-\t-\t-");
        }
        std::printf("\t%.0f MB/s\n", megabytesPerSecond);
    }
    return failures ? 1 : 0;
}
