#pragma once

#include "vel/utils/Timer.h"

namespace vel {
namespace utils {

/// Measures its own lifetime: on destruction writes the elapsed seconds into
/// the caller's float.
class ScopedTimer
{
public:
    explicit ScopedTimer(float& elapsedSeconds);
    ~ScopedTimer();
    ScopedTimer(const ScopedTimer&) = delete;
    ScopedTimer& operator=(const ScopedTimer&) = delete;

private:
    Timer timer_;
    float* result_;
};

} // namespace utils
} // namespace vel
