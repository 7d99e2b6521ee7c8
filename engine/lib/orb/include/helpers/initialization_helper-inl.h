#pragma once

// Inline part of initialization_helper.h: the checks report this header as
// their location, as the engine's messages have always done.

namespace orb {

inline void initialize(bool& flag)
{
    checkAndThrow(!flag, "A precondition has been violated!", __FILE__, __LINE__);
    flag = true;
    checkAndThrow(flag, "A postcondition has been violated!", __FILE__, __LINE__);
}

inline void uninitialize(bool& flag)
{
    checkAndThrow(flag, "A precondition has been violated!", __FILE__, __LINE__);
    flag = false;
    checkAndThrow(!flag, "A postcondition has been violated!", __FILE__, __LINE__);
}

} // namespace orb
