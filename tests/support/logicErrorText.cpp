#include "support/logicErrorText.h"

#include <stdexcept>

std::string logicErrorText(const std::function<void()>& action)
{
    try {
        action();
    } catch (const std::logic_error& error) {
        return error.what();
    }
    return "(nothing thrown)";
}
