#pragma once

#include "vel/utils/AbstractLog.h"

namespace vel {
namespace utils {

/// Writes every line to standard output; a time stamp is the local time in
/// square brackets on a line of its own.
class CoutLog : public AbstractLog
{
public:
    void clear() override;
    int32_t display(const std::string& text, bool withTime) override;
};

} // namespace utils
} // namespace vel
