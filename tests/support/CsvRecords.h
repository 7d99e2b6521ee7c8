#pragma once

#include <string>
#include <vector>

/// Records as standard CSV readers take them (RFC 4180): fields split at
/// commas outside quotes; a quote opens a quoted field only as the field's
/// first character, and "" inside one is a quote. A final line feed ends the
/// last record; it starts no empty one.
std::vector<std::vector<std::string>> parseCsv(const std::string& text);
