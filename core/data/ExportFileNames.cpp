#include "data/ExportFileNames.h"

#include <algorithm>
#include <cctype>

namespace {

std::string foldedCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
        return static_cast<char>(c < 0x80 ? std::tolower(c) : c);
    });
    return text;
}

} // namespace

std::string ExportFileNames::sanitize(const std::string& name)
{
    std::string part = name;
    for (char& c : part) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f || c == '/' || c == '\\' || c == ':' || c == '*' || c == '?' || c == '"'
            || c == '<' || c == '>' || c == '|')
            c = '_';
    }
    return part;
}

std::vector<std::string> ExportFileNames::uniqueParts(const std::vector<std::string>& names)
{
    std::vector<std::string> parts;
    std::vector<std::string> taken;  // folded case
    parts.reserve(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string index = std::to_string(i + 1);
        std::string part = names[i].empty() ? index : sanitize(names[i]);
        // "-index" is unique among the indices, but a later name may have
        // taken the same text already; append it until the part is free.
        while (std::find(taken.begin(), taken.end(), foldedCase(part)) != taken.end())
            part += "-" + index;
        taken.push_back(foldedCase(part));
        parts.push_back(part);
    }
    return parts;
}
