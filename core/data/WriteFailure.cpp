#include "data/WriteFailure.h"

#include <iostream>

void WriteFailure::print() const
{
    std::cout << "Could not write " << path << ": " << reason << "; nothing was written.\n";
}
