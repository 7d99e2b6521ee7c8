#include "helpers/rand15.h"

#include <cstdlib>

namespace orb {

int rand15()
{
    return std::rand() & 0x7fff;
}

} // namespace orb
