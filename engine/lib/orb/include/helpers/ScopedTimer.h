#pragma once

#include <cstdint>

namespace orb {

/// Measures its own lifetime: on destruction writes the elapsed wall-clock
/// time in milliseconds into the caller's double.
class ScopedTimer
{
public:
    explicit ScopedTimer(double& elapsedMilliseconds);
    ~ScopedTimer();
    ScopedTimer(const ScopedTimer&) = delete;
    ScopedTimer& operator=(const ScopedTimer&) = delete;

private:
    int64_t startTicks_ = 0;
    int64_t stopTicks_ = 0;
    bool started_ = false;
    bool stopped_ = false;
    double* result_;
};

} // namespace orb
