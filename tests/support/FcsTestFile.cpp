#include "support/FcsTestFile.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

std::string headerField(int64_t value, bool zeroPadded)
{
    std::string digits = std::to_string(value > 99999999 ? 0 : value);
    return std::string(8 - digits.size(), zeroPadded ? '0' : ' ') + digits;
}

} // namespace

FcsTestFile::FcsTestFile(int events, int parameters, const std::string& fileVersion)
    : version(fileVersion)
{
    keywords = {{"$BYTEORD", "1,2,3,4"},
                {"$DATATYPE", "F"},
                {"$MODE", "L"},
                {"$TOT", std::to_string(events)},
                {"$PAR", std::to_string(parameters)}};
    for (int n = 1; n <= parameters; ++n) {
        const std::string p = "$P" + std::to_string(n);
        keywords.push_back({p + "N", "P" + std::to_string(n)});
        keywords.push_back({p + "S", "Marker " + std::to_string(n)});
        keywords.push_back({p + "B", "32"});
        keywords.push_back({p + "E", "0,0"});
        keywords.push_back({p + "R", "1024"});
    }
    const std::size_t count = static_cast<std::size_t>(events) * static_cast<std::size_t>(parameters);
    values.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const float base = static_cast<float>(i % 977) * 1.37f - 300.0f;
        switch (i % 5) {
        case 0: values[i] = base; break;
        case 1: values[i] = base * 1.0e6f; break;
        case 2: values[i] = base * 1.0e-30f; break;
        case 3: values[i] = -base / 7.0f; break;
        default: values[i] = static_cast<float>(i); break;
        }
    }
}

void FcsTestFile::setBigEndian(bool big)
{
    bigEndian = big;
    setKeyword("$BYTEORD", big ? "4,3,2,1" : "1,2,3,4");
}

void FcsTestFile::setKeyword(const std::string& keyword, const std::string& value)
{
    for (auto& entry : keywords) {
        if (entry.first == keyword) {
            entry.second = value;
            return;
        }
    }
    keywords.push_back({keyword, value});
}

void FcsTestFile::removeKeyword(const std::string& keyword)
{
    std::vector<std::pair<std::string, std::string>> kept;
    for (const auto& entry : keywords) {
        if (entry.first != keyword)
            kept.push_back(entry);
    }
    keywords = kept;
}

void FcsTestFile::setIntegers(const std::vector<int>& bits, const std::vector<uint64_t>& rowMajor)
{
    setKeyword("$DATATYPE", "I");
    for (std::size_t n = 0; n < bits.size(); ++n)
        setKeyword("$P" + std::to_string(n + 1) + "B", std::to_string(bits[n]));
    integerBits = bits;
    integers = rowMajor;
    values.clear();
}

void FcsTestFile::setDoubles(const std::vector<double>& rowMajor)
{
    setKeyword("$DATATYPE", "D");
    for (auto& entry : keywords) {
        const std::string& keyword = entry.first;
        if (keyword.size() > 3 && keyword.compare(0, 2, "$P") == 0 && keyword.back() == 'B'
            && keyword.find_first_not_of("0123456789", 2) == keyword.size() - 1)
            entry.second = "64";
    }
    doubles = rowMajor;
    values.clear();
}

std::string FcsTestFile::dataBytes() const
{
    std::string data;
    data.reserve(values.size() * 4 + doubles.size() * 8 + integers.size() * 8);
    // Widths beyond 8 bytes (malformed files) are padded with zero bytes.
    auto append = [&](uint64_t word, std::size_t width) {
        for (std::size_t b = 0; b < width; ++b) {
            const std::size_t shift = 8 * (bigEndian ? width - 1 - b : b);
            data += static_cast<char>(shift < 64 ? word >> shift : 0);
        }
    };
    for (float value : values) {
        uint32_t word;
        std::memcpy(&word, &value, 4);
        append(word, 4);
    }
    for (double value : doubles) {
        uint64_t word;
        std::memcpy(&word, &value, 8);
        append(word, 8);
    }
    for (std::size_t i = 0; i < integers.size(); ++i)
        append(integers[i], static_cast<std::size_t>(std::max(0, integerBits[i % integerBits.size()] + 7) / 8));
    return data;
}

std::string FcsTestFile::bytes(Layout* layout) const
{
    auto escaped = [this](const std::string& text) {
        if (!escapeDelimiters)
            return text;
        std::string out;
        for (char c : text) {
            out += c;
            if (c == delimiter)
                out += c;
        }
        return out;
    };
    std::string text(1, delimiter);
    for (const auto& entry : keywords)
        text += escaped(entry.first) + delimiter + escaped(entry.second) + delimiter;

    const std::string data = dataBytes();
    const int64_t dataSize = static_cast<int64_t>(data.size());
    // The data keywords' digits move the data start; iterate until stable.
    std::string fullText;
    int64_t dataStart = textStart + static_cast<int64_t>(text.size());
    for (int round = 0; round < 4; ++round) {
        fullText = text;
        if (dataKeywords) {
            fullText += "$BEGINDATA" + std::string(1, delimiter) + std::to_string(dataStart) + delimiter;
            fullText += "$ENDDATA" + std::string(1, delimiter)
                        + std::to_string(dataStart + dataSize - 1 + dataEndAdjust) + delimiter;
        }
        dataStart = textStart + static_cast<int64_t>(fullText.size());
    }

    Layout offsets;
    offsets.textStart = textStart;
    offsets.textEnd = textStart + static_cast<int64_t>(fullText.size()) - 1;
    offsets.dataStart = dataStart;
    offsets.dataEnd = dataStart + dataSize - 1 + dataEndAdjust;
    if (layout)
        *layout = offsets;

    std::string file = version;
    file.resize(10, ' ');
    file += headerField(offsets.textStart, zeroPaddedHeader);
    file += headerField(offsets.textEnd, zeroPaddedHeader);
    file += headerField(dataOffsetsInHeader ? offsets.dataStart : 0, zeroPaddedHeader);
    file += headerField(dataOffsetsInHeader ? offsets.dataEnd : 0, zeroPaddedHeader);
    file += headerField(0, zeroPaddedHeader);
    file += headerField(0, zeroPaddedHeader);
    file.resize(static_cast<std::size_t>(textStart), ' ');
    file += fullText;

    file += data;
    file += trailer;
    return file;
}

bool FcsTestFile::write(const std::string& path) const
{
    return writeBytes(path, bytes());
}

bool FcsTestFile::writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

std::string FcsTestFile::readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
