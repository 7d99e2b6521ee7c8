#include "helpers/rand15.h"

#include <cmath>
#include <cstdlib>

namespace orb {

int rand15()
{
    return std::rand() & 0x7fff;
}

double polarNormal15()
{
    double u, v, s;
    do {
        u = 2.0 * rand15() / 32768 - 1;
        v = 2.0 * rand15() / 32768 - 1;
        s = u * u + v * v;
    } while (s >= 1 || s == 0);
    return u * std::sqrt(-2 * std::log(s) / s);
}

} // namespace orb
