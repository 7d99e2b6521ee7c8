#pragma once

#include <string>

namespace orb {

/// Throws std::logic_error when the condition is false. The text is the
/// message, then "File: " and "Line: " lines naming the check's source.
void checkAndThrow(bool condition, const std::string& message, const char* file, int line);

/// Sets a clear flag; throws when it was already set.
inline void initialize(bool& flag);
/// Clears a set flag; throws when it was already clear.
inline void uninitialize(bool& flag);
/// Throws "Initialization check failed!!" unless the flag is set.
void checkInitialized(bool flag);
/// Throws "Uninitialization check failed!!" if the flag is set.
void checkUninitialized(bool flag);

} // namespace orb

#include "helpers/initialization_helper-inl.h"
