#pragma once

#include "helpers/AbstractLog.h"

#include <string>

namespace orb {

/// Displays "name: value" (six significant digits) when verbose and a log is set.
void logValue(AbstractLog* log, const std::string& name, double value, bool verbose = true);

} // namespace orb
