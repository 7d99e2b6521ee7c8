#include "helpers/CoutLog.h"

#include <iostream>

namespace orb {

void CoutLog::clear()
{
    characterCount_ = 0;
}

void CoutLog::display(const std::string& text)
{
    std::cout << text << std::endl;
    characterCount_ += static_cast<int32_t>(text.size()) + 1;
}

} // namespace orb
