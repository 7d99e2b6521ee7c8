#include "helpers/initialization_helper.h"

#include <stdexcept>

namespace orb {

void checkAndThrow(bool condition, const std::string& message, const char* file, int line)
{
    if (condition)
        return;
    throw std::logic_error(message + "\nFile: " + file + "\nLine: " + std::to_string(line) + "\n");
}

void checkInitialized(bool flag)
{
    if (!flag)
        throw std::logic_error("Initialization check failed!!");
}

void checkUninitialized(bool flag)
{
    if (flag)
        throw std::logic_error("Uninitialization check failed!!");
}

} // namespace orb
