#pragma once

#include "helpers/AbstractLog.h"

namespace orb {

/// Writes every line to standard output.
class CoutLog : public AbstractLog
{
public:
    void clear() override;
    /// Writes the text and an end of line.
    void display(const std::string& text) override;
};

} // namespace orb
