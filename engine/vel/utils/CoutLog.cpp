#include "vel/utils/CoutLog.h"

#include "helpers/clock.h"

#include <ctime>
#include <iostream>

namespace vel {
namespace utils {

void CoutLog::clear()
{
    characterCount_ = 0;
}

int32_t CoutLog::display(const std::string& text, bool withTime)
{
    if (withTime) {
        const std::time_t seconds = static_cast<std::time_t>(orb::currentTicks() / 10000000);
        std::tm local{};
        localtime_r(&seconds, &local);
        char calendar[32];
        // The 24-character calendar text: "Wed Jun 30 21:49:08 1993".
        std::strftime(calendar, sizeof calendar, "%a %b %e %H:%M:%S %Y", &local);
        std::cout << "[" << calendar << "]" << std::endl;
    }
    std::cout << text << std::endl;
    const int32_t increment = static_cast<int32_t>(text.size()) + 1;
    characterCount_ += increment;
    return increment;
}

} // namespace utils
} // namespace vel
