#pragma once

#include <string>
#include <vector>

/// Turns names typed by users or read from files (cluster names, sample file
/// names) into file-name parts that cannot leave the chosen folder.
class ExportFileNames
{
public:
    /// The name with path separators, NUL and control characters and
    /// : * ? " < > | replaced by "_".
    static std::string sanitize(const std::string& name);

    /// One file-name part per name, in order: sanitised; an empty one becomes
    /// its 1-based index; one already given to an earlier name (compared
    /// without regard to ASCII case, as some file systems do) gets "-" and
    /// its 1-based index appended.
    static std::vector<std::string> uniqueParts(const std::vector<std::string>& names);
};
