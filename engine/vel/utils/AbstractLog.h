#pragma once

#include <cstdint>
#include <string>

namespace vel {
namespace utils {

/// Where the analysis library's progress lines go; a null pointer means silent.
class AbstractLog
{
public:
    virtual ~AbstractLog() = default;
    virtual void clear() = 0;
    /// Writes one line, optionally preceded by a time-stamp line; returns the
    /// number of characters counted for the text.
    virtual int32_t display(const std::string& text, bool withTime) = 0;

protected:
    int32_t characterCount_ = 0;
};

} // namespace utils
} // namespace vel
