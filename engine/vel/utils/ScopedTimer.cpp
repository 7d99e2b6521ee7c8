#include "vel/utils/ScopedTimer.h"

namespace vel {
namespace utils {

ScopedTimer::ScopedTimer(float& elapsedSeconds)
    : result_(&elapsedSeconds)
{
    timer_.reset();
    timer_.start();
}

ScopedTimer::~ScopedTimer()
{
    timer_.stop();
    *result_ = static_cast<float>(timer_.elapsedSeconds());
}

} // namespace utils
} // namespace vel
