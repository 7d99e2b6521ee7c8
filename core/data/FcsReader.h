#pragma once

#include "data/FcsError.h"
#include "data/FcsHeader.h"
#include "data/FcsKeywordIndex.h"

#include <string>

/// Reads one FCS 2.0, 3.0 or 3.1 file of list-mode data: the TEXT keywords
/// into an FcsHeader and the DATA segment into an event block of 32-bit
/// floats (events by parameters, row-major, host byte order). Float data is
/// read as stored; double and unsigned integer data (any whole-byte width
/// per parameter, masked to its $PnR) are converted to the nearest float.
class FcsReader
{
public:
    FcsReader() = default;

    /// Reads the file named by header.fileName() and fills the header.
    /// Returns an FcsError code. Only on FcsErrorNone is a block handed over:
    /// *eventBlock then receives a new[]-allocated array of
    /// eventCount() * parameterCount() floats that the caller owns and
    /// releases with delete[]. On any other code *eventBlock is left as it
    /// was and the header must be discarded.
    int read(float** eventBlock, FcsHeader& header);

    /// The value of `keyword` in the TEXT segment read last, or "-1" when it
    /// is not there. Only places where a keyword can stand count, the first
    /// whose keyword begins with the text, and that keyword must be the text
    /// itself. In FCS 3.x files a doubled delimiter is an escaped delimiter
    /// inside the value; in FCS 2.0 it ends the value.
    std::string keywordValue(const std::string& keyword) const;

private:
    std::string m_path;
    /// The TEXT segment and its delimiter, indexed.
    FcsKeywordIndex m_keywords;
};
