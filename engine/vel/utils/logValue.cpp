#include "vel/utils/logValue.h"

#include <sstream>

namespace vel {
namespace utils {

namespace {

template <typename Value>
void displayValue(AbstractLog* log, const std::string& name, Value value, bool enabled, int tabs)
{
    if (!enabled || log == nullptr)
        return;
    std::stringstream line;
    line << name << ":" << std::string(static_cast<size_t>(tabs > 0 ? tabs : 0), '\t') << value;
    log->display(line.str(), false);
}

} // namespace

void logValue(AbstractLog* log, const std::string& name, uint64_t value, bool enabled, int tabs)
{
    displayValue(log, name, value, enabled, tabs);
}

void logValue(AbstractLog* log, const std::string& name, uint32_t value, bool enabled, int tabs)
{
    displayValue(log, name, value, enabled, tabs);
}

void logValue(AbstractLog* log, const std::string& name, float value, bool enabled, int tabs)
{
    displayValue(log, name, value, enabled, tabs);
}

} // namespace utils
} // namespace vel
