#include "helpers/logValue.h"

#include <sstream>

namespace orb {

void logValue(AbstractLog* log, const std::string& name, double value, bool verbose)
{
    if (!verbose || log == nullptr)
        return;
    std::stringstream line;
    line << name << ": " << value;
    log->display(line.str());
}

} // namespace orb
