#pragma once

#include <cstdint>
#include <string>

namespace orb {

/// Where the utility library's progress lines go; engine objects hold a
/// pointer to one, and a null pointer means silent.
class AbstractLog
{
public:
    virtual ~AbstractLog() = default;
    virtual void clear() = 0;
    virtual void display(const std::string& text) = 0;

protected:
    int32_t characterCount_ = 0;
};

} // namespace orb
