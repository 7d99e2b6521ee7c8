#pragma once

#include <map>
#include <string>
#include <vector>

/// A strict FCS 3.1 checker for list-mode float files, written apart from
/// the program's reader so that a shared misreading cannot hide a fault:
/// HEADER layout and offsets, TEXT syntax (escaped delimiters, none at the
/// edge of a keyword or value, no empty values, unique keywords, UTF-8
/// values, no comma in $PnN), the required keywords and their
/// values, and the DATA segment's size and position.
///
///     std::vector<std::string> problems = FcsStrictChecker::checkFile(path);
///     EXPECT_TRUE(problems.empty()) << FcsStrictChecker::join(problems);
class FcsStrictChecker
{
public:
    /// Keywords and values of a checked TEXT segment (keywords upper-cased).
    using Keywords = std::map<std::string, std::string>;

    /// Every problem found in the file's bytes; empty when the file is valid.
    /// The TEXT's keywords go to `keywords` when given.
    static std::vector<std::string> check(const std::string& bytes, Keywords* keywords = nullptr);
    static std::vector<std::string> checkFile(const std::string& path, Keywords* keywords = nullptr);
    /// The problems one per line, for test messages.
    static std::string join(const std::vector<std::string>& problems);
};
