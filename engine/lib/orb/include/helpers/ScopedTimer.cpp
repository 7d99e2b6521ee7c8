#include "helpers/ScopedTimer.h"

#include "helpers/clock.h"
#include "helpers/initialization_helper.h"

namespace orb {

ScopedTimer::ScopedTimer(double& elapsedMilliseconds)
    : result_(&elapsedMilliseconds)
{
    checkUninitialized(started_);
    initialize(started_);
    if (stopped_)
        uninitialize(stopped_);
    startTicks_ = currentTicks();
}

ScopedTimer::~ScopedTimer()
{
    checkInitialized(started_);
    uninitialize(started_);
    initialize(stopped_);
    stopTicks_ = currentTicks();
    checkInitialized(stopped_);
    *result_ = static_cast<double>(stopTicks_ - startTicks_) / 10000.0;
}

} // namespace orb
