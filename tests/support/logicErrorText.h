#pragma once

#include <functional>
#include <string>

/// The text of the std::logic_error `action` throws; "(nothing thrown)" when
/// it throws none.
std::string logicErrorText(const std::function<void()>& action);
