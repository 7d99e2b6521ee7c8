#include "data/FcsError.h"

const std::vector<std::string> fcsErrorMessages = {
    "No Error",
    "Error code 1: FCS version 1.0 is not supported.",
    "Error code 2: Could not find FCS version in header.",
    "Error code 3: Unknown separator in file header.",
    "Error code 4: Files differ to much.",
    "Error code 5: Could not find startbyte for data in short or textheader.",
    "Unknown Error.",
    "Error code 7: Could not open the file.",
    "Error code 8: Only list mode data of integer or floating point type is supported.",
    "Error code 9: Unknown byte order in text header.",
    "Error code 10: Missing or invalid number of events or parameters.",
    "Error code 11: Text header lies outside the file.",
    "Error code 12: Data segment does not fit in the file.",
    "Error code 13: Data segment overlaps the header or text segment.",
};
