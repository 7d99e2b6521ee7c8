#pragma once

#include <cstdint>

namespace orb {

/// Wall-clock time in 100-nanosecond ticks since 1970: the one clock of the
/// engine's timers, the logs' time stamps and the core's creation times.
int64_t currentTicks();

} // namespace orb
