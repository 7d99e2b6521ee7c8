#pragma once

#include "vel/utils/AbstractLog.h"

#include <cstdint>
#include <string>

namespace vel {
namespace utils {

/// Displays "name:", the given number of tabs and the value (no time stamp)
/// when enabled and a log is set; the tabs line up the values of a block.
void logValue(AbstractLog* log, const std::string& name, uint64_t value, bool enabled, int tabs);
void logValue(AbstractLog* log, const std::string& name, uint32_t value, bool enabled, int tabs);
void logValue(AbstractLog* log, const std::string& name, float value, bool enabled, int tabs);

} // namespace utils
} // namespace vel
