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
        // The 24-character calendar text, "Wed Jun 30 21:49:08 1993", in
        // English whatever locale the application set.
        char calendar[64];
        asctime_r(&local, calendar);
        std::cout << "[" << std::string(calendar, 24) << "]" << std::endl;
    }
    std::cout << text << std::endl;
    const int32_t increment = static_cast<int32_t>(text.size()) + 1;
    characterCount_ += increment;
    return increment;
}

} // namespace utils
} // namespace vel
