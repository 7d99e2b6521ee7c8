#include "data/FcsKeywordIndex.h"

#include <algorithm>

void FcsKeywordIndex::assign(std::string text, bool doubledDelimiterEscapes)
{
    m_text = std::move(text);
    m_escapes = doubledDelimiterEscapes;
    m_entries.clear();
    if (m_text.empty())
        return;
    const char delimiter = m_text[0];
    std::size_t place = 1;
    while (place < m_text.size()) {
        const std::size_t keywordEnd = m_text.find(delimiter, place);
        if (keywordEnd == std::string::npos)
            break;
        const std::size_t valueEnd = valueEndFrom(keywordEnd + 1);
        m_entries.push_back({place, keywordEnd, valueEnd});
        place = valueEnd + 1;
    }
    std::sort(m_entries.begin(), m_entries.end(), [this](const Entry& a, const Entry& b) {
        const int order = keywordOf(a).compare(keywordOf(b));
        return order != 0 ? order < 0 : a.keywordBegin < b.keywordBegin;
    });
}

bool FcsKeywordIndex::find(const std::string& keyword, std::string& value) const
{
    value.clear();
    if (keyword.empty())
        return false;
    // Every keyword that begins with the text sorts at or after it, in one run.
    auto it = std::lower_bound(m_entries.begin(), m_entries.end(), keyword,
                               [this](const Entry& entry, const std::string& text) { return keywordOf(entry) < text; });
    const Entry* first = nullptr;
    for (; it != m_entries.end() && keywordOf(*it).compare(0, keyword.size(), keyword) == 0; ++it) {
        if (!first || it->keywordBegin < first->keywordBegin)
            first = &*it;
    }
    if (!first || keywordOf(*first).size() != keyword.size())
        return false;

    const char delimiter = m_text[0];
    for (std::size_t p = first->keywordEnd + 1; p < first->valueEnd; ++p) {
        value += m_text[p];
        if (m_text[p] == delimiter)
            ++p;  // the second of a doubled delimiter
    }
    return true;
}

std::string_view FcsKeywordIndex::keywordOf(const Entry& entry) const
{
    return std::string_view(m_text).substr(entry.keywordBegin, entry.keywordEnd - entry.keywordBegin);
}

std::size_t FcsKeywordIndex::valueEndFrom(std::size_t begin) const
{
    const char delimiter = m_text[0];
    std::size_t p = begin;
    while ((p = m_text.find(delimiter, p)) != std::string::npos) {
        if (!m_escapes || p + 1 >= m_text.size() || m_text[p + 1] != delimiter)
            return p;
        p += 2;
    }
    return m_text.size();
}
