#pragma once

#include "vel/utils/AbstractLog.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace vel {
namespace utils {

/// Percentage lines for a loop over many items, callable from OpenMP
/// threads: everyone counts, only thread 0 writes. With total items t and
/// granularity g there are t / g lines (none below g items).
class LogProgress
{
public:
    /// log: the owner's log when verbose, else null (silent, nothing counted).
    LogProgress(AbstractLog* log, int32_t totalItems, uint32_t granularity, std::string name);

    void start();
    /// One item finished.
    void step();
    void finish();

private:
    AbstractLog* log_;
    int32_t total_;
    std::atomic<int32_t> done_{0};
    uint32_t steps_;
    int32_t printed_ = 0;
    std::string name_;
};

} // namespace utils
} // namespace vel
