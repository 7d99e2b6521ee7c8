#include "vel/utils/Timer.h"

#include "helpers/clock.h"

#include <stdexcept>

namespace vel {
namespace utils {

void Timer::reset()
{
    startTicks_ = 0;
    stopTicks_ = 0;
    running_ = false;
    stopped_ = false;
}

void Timer::start()
{
    if (running_)
        throw std::logic_error("Timer is already started...");
    startTicks_ = orb::currentTicks();
    running_ = true;
}

void Timer::stop()
{
    if (!running_)
        throw std::logic_error("Timer is not running...");
    stopTicks_ = orb::currentTicks();
    running_ = false;
    stopped_ = true;
}

double Timer::elapsedSeconds() const
{
    return static_cast<double>(stopTicks_ - startTicks_) / 10000000.0;
}

} // namespace utils
} // namespace vel
