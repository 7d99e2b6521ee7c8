#include "helpers/clock.h"

#include <chrono>

namespace orb {

int64_t currentTicks()
{
    using Ticks = std::chrono::duration<int64_t, std::ratio<1, 10000000>>;
    return std::chrono::duration_cast<Ticks>(std::chrono::system_clock::now().time_since_epoch()).count();
}

} // namespace orb
