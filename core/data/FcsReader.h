#pragma once

#include "data/FcsError.h"
#include "data/FcsHeader.h"

#include <string>

/// Reads one FCS 2.0, 3.0 or 3.1 file holding 32-bit float list-mode data:
/// the TEXT keywords into an FcsHeader and the DATA segment into an event
/// block (events by parameters, row-major, host byte order).
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
    /// is not there. The first occurrence of the text counts, and it must be
    /// followed by the delimiter. In FCS 3.x files a doubled delimiter is an
    /// escaped delimiter inside the value; in FCS 2.0 it ends the value.
    std::string keywordValue(const std::string& keyword) const;

private:
    /// Looks the keyword up as keywordValue() does; false when it is absent.
    bool findKeyword(const std::string& keyword, std::string& value) const;

    std::string m_path;
    std::string m_text;
    char m_delimiter = 0;
    bool m_doubledDelimiterEscapes = false;
};
