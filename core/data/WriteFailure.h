#pragma once

#include <string>

/// Why a file that the program was asked to write was not written: the path
/// that failed and a reason a user can read, the system's own text where the
/// system refused ("No such file or directory", "File too large").
struct WriteFailure
{
    std::string path;
    std::string reason;

    /// The line "Could not write <path>: <reason>; nothing was written." on
    /// standard output.
    void print() const;
};
