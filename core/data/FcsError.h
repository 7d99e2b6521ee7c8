#pragma once

#include <string>
#include <vector>

/// Result codes of loading an FCS file; each indexes fcsErrorMessages.
enum FcsError : int
{
    FcsErrorNone = 0,              ///< the file was read
    FcsErrorVersion1 = 1,          ///< the file is FCS 1.0
    FcsErrorNoVersion = 2,         ///< no known version at the start of the file
    FcsErrorSeparator = 3,         ///< the delimiter is not an accepted character
    FcsErrorFilesDiffer = 4,       ///< the file does not fit the files already loaded
    FcsErrorNoDataStart = 5,       ///< no usable start of the DATA segment
    FcsErrorUnknown = 6,           ///< text only; never returned
    FcsErrorCannotOpen = 7,        ///< missing, a folder, or no permission
    FcsErrorUnsupportedData = 8,   ///< not list mode, or not float, double or whole-byte integer data
    FcsErrorByteOrder = 9,         ///< $BYTEORD not one the data type may have
    FcsErrorEventCounts = 10,      ///< $TOT or $PAR missing, negative or not a number
    FcsErrorTextSegment = 11,      ///< TEXT end before its start or past the end of the file
    FcsErrorDataSegment = 12,      ///< the DATA segment does not fit in the file
    FcsErrorDataOverlap = 13,      ///< the DATA segment overlaps the HEADER or the TEXT
};

/// The load messages, indexed by FcsError; filled before main runs.
extern const std::vector<std::string> fcsErrorMessages;
