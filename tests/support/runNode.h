#pragma once

#include <string>

/// Runs node with the arguments (a script and its arguments) and returns
/// what it printed, standard error included.
std::string runNode(const std::string& arguments);
