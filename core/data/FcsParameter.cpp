#include "data/FcsParameter.h"

bool FcsParameter::differs(const FcsParameter& other) const
{
    // `!=` is true whenever either exponent is NaN, which is what we want.
    return shortName != other.shortName || bits != other.bits || exponent != other.exponent;
}
