#pragma once

#include <cstdint>

namespace vel {
namespace utils {

/// A wall-clock stopwatch in 100-nanosecond ticks.
class Timer
{
public:
    void reset();
    /// Throws std::logic_error "Timer is already started..." when running.
    void start();
    /// Throws std::logic_error "Timer is not running..." when not running.
    void stop();
    /// Elapsed seconds between the last start and stop.
    double elapsedSeconds() const;

private:
    int64_t startTicks_ = 0;
    int64_t stopTicks_ = 0;
    bool running_ = false;
    bool stopped_ = false;
};

} // namespace utils
} // namespace vel
