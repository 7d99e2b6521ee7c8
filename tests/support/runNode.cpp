#include "support/runNode.h"

#include <cstdio>

std::string runNode(const std::string& arguments)
{
    std::string output;
    FILE* pipe = popen(("node " + arguments + " 2>&1").c_str(), "r");
    if (!pipe)
        return output;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    pclose(pipe);
    return output;
}
