#pragma once

#include "vel/utils/AbstractLog.h"

#include <algorithm>
#include <string>
#include <vector>

/// Keeps every line an engine object of the analysis library writes.
struct VelRecordingLog : vel::utils::AbstractLog
{
    std::vector<std::string> lines;
    void clear() override { lines.clear(); }
    int32_t display(const std::string& text, bool) override
    {
        lines.push_back(text);
        return static_cast<int32_t>(text.size()) + 1;
    }
    long count(const std::string& text) const { return std::count(lines.begin(), lines.end(), text); }
    /// Lines that begin with `prefix`.
    std::vector<std::string> startingWith(const std::string& prefix) const
    {
        std::vector<std::string> found;
        for (const std::string& line : lines)
            if (line.rfind(prefix, 0) == 0)
                found.push_back(line);
        return found;
    }
};
