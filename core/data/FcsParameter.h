#pragma once

#include <cstdint>
#include <string>

/// One parameter (channel) of an FCS file, as its $Pn keywords describe it.
struct FcsParameter
{
    std::string shortName;  ///< $PnN
    std::string longName;   ///< $PnS
    int32_t range = 0;      ///< $PnR
    int32_t bits = 0;       ///< $PnB
    double exponent = 0.0;  ///< $PnE

    /// True when the records differ in short name, bits or exponent (a NaN
    /// exponent on either side counts as different). Long name and range are
    /// not compared: files that differ only there still load together.
    bool differs(const FcsParameter& other) const;
};
