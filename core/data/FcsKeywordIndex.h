#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

/// The keyword/value pairs of one TEXT segment, indexed once so that each
/// lookup costs a binary search instead of a scan of the whole segment.
///
/// Keywords stand only at the start of the segment (right after its leading
/// delimiter) and right after the delimiter that ends a value; text inside a
/// value never matches. A keyword ends at the next delimiter. A value ends
/// at the next delimiter or at the end of the segment; with doubled
/// delimiters escaped (FCS 3.x), a doubled delimiter inside a value stands
/// for one delimiter, otherwise (FCS 2.0) it ends the value, and the next
/// keyword starts right after the first of the two.
class FcsKeywordIndex
{
public:
    FcsKeywordIndex() = default;

    /// Indexes a TEXT segment whose first byte is the delimiter.
    void assign(std::string text, bool doubledDelimiterEscapes);

    const std::string& text() const { return m_text; }
    /// The delimiter (the segment's first byte), 0 for an empty segment.
    char delimiter() const { return m_text.empty() ? '\0' : m_text[0]; }
    /// Number of keyword places found.
    std::size_t keywordCount() const { return m_entries.size(); }

    /// The value of the first keyword place whose keyword begins with
    /// `keyword`; false when there is none, or when that place holds a
    /// longer keyword (so "$EXP" is not found behind "$EXPERIMENT").
    bool find(const std::string& keyword, std::string& value) const;

private:
    struct Entry
    {
        std::size_t keywordBegin;
        std::size_t keywordEnd;  ///< the delimiter that ends the keyword
        std::size_t valueEnd;    ///< the delimiter that ends the value, or the segment's size
    };

    std::string_view keywordOf(const Entry& entry) const;
    /// The end of the value that starts at `begin` (see the class comment).
    std::size_t valueEndFrom(std::size_t begin) const;

    std::string m_text;
    bool m_escapes = false;
    /// Sorted by keyword, then by place.
    std::vector<Entry> m_entries;
};
