#include "data/FcsWriter.h"

#include "data/ByteOrder.h"
#include "data/DefaultStateStore.h"
#include "data/ExportFileNames.h"
#include "data/FcsHeader.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataPoints.h"
#include "data/ReplacingFile.h"
#include "data/TextEscaping.h"

#include <QFileInfo>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <utility>

namespace {

/// Streams rows of float values to a file in chunks, little-endian.
class RowStream
{
public:
    explicit RowStream(ReplacingFile& file) : m_file(file) { m_buffer.reserve(kChunkValues); }

    /// Appends one row: the listed columns of `row`, then `padding` zeros.
    void addRow(const float* row, const std::vector<int>& columns, std::size_t padding)
    {
        for (int column : columns)
            m_buffer.push_back(row[column]);
        m_buffer.insert(m_buffer.end(), padding, 0.0f);
        if (m_buffer.size() >= kChunkValues)
            flush();
    }

    void flush()
    {
        if (!ByteOrder::hostIsLittleEndian())
            ByteOrder::swap32(m_buffer.data(), m_buffer.size());
        m_file.write(reinterpret_cast<const char*>(m_buffer.data()), static_cast<int64_t>(m_buffer.size()) * 4);
        m_buffer.clear();
    }

private:
    static constexpr std::size_t kChunkValues = 1 << 18;
    ReplacingFile& m_file;
    std::vector<float> m_buffer;
};

using Keywords = std::vector<std::pair<std::string, std::string>>;

/// The delimiters that every FCS reader of this program accepts, in the
/// order of preference.
constexpr char kDelimiters[] = {'\\', '|', '/', '!', '\f'};

/// Whether the text begins or ends with the character.
bool atAnEdge(const std::string& text, char c)
{
    return !text.empty() && (text.front() == c || text.back() == c);
}

/// The TEXT delimiter. Readers cannot tell a doubled delimiter at the start
/// or end of a value from the one that separates it, so backslash is kept
/// only while no keyword or value begins or ends with it; otherwise the
/// first other delimiter that occurs nowhere, else the first other one that
/// no keyword or value begins or ends with (doubled inside), else backslash
/// (see freeEdges).
char chooseDelimiter(const Keywords& keywords)
{
    auto atSomeEdge = [&](char delimiter) {
        return std::any_of(keywords.begin(), keywords.end(), [&](const auto& entry) {
            return atAnEdge(entry.first, delimiter) || atAnEdge(entry.second, delimiter);
        });
    };
    auto occurs = [&](char delimiter) {
        return std::any_of(keywords.begin(), keywords.end(), [&](const auto& entry) {
            return entry.first.find(delimiter) != std::string::npos
                   || entry.second.find(delimiter) != std::string::npos;
        });
    };
    if (!atSomeEdge(kDelimiters[0]))
        return kDelimiters[0];
    for (std::size_t d = 1; d < sizeof kDelimiters; ++d) {
        if (!occurs(kDelimiters[d]))
            return kDelimiters[d];
    }
    for (std::size_t d = 1; d < sizeof kDelimiters; ++d) {
        if (!atSomeEdge(kDelimiters[d]))
            return kDelimiters[d];
    }
    return kDelimiters[0];
}

/// When every accepted delimiter stands at an edge of some value, the
/// chosen one is replaced by "_" at the edges of the values (the keywords
/// are the program's own and never begin or end with one), with a line
/// saying so.
void freeEdges(Keywords& keywords, char delimiter)
{
    for (auto& entry : keywords) {
        std::string& value = entry.second;
        if (!atAnEdge(value, delimiter))
            continue;
        const std::string original = value;
        if (value.front() == delimiter)
            value.front() = '_';
        if (value.back() == delimiter)
            value.back() = '_';
        std::cout << "Value \"" << original << "\" of " << entry.first << " written as \"" << value
                  << "\": an FCS 3.1 value cannot begin or end with the delimiter.\n";
    }
}

/// A TEXT value as FCS 3.1 wants it: the delimiter doubled, never empty.
std::string escapedValue(const std::string& value, char delimiter)
{
    if (value.empty())
        return " ";
    std::string escaped;
    escaped.reserve(value.size());
    for (char c : value) {
        escaped += c;
        if (c == delimiter)
            escaped += c;
    }
    return escaped;
}

/// "$PnE" text: six fixed decimals with "," for ".", cut one character
/// after the last "," (0.0 gives "0,0", 2.5 gives "2,5").
std::string exponentText(double exponent)
{
    if (!std::isfinite(exponent))
        return "0,0";
    std::string text = TextEscaping::fixed(exponent);
    for (char& c : text) {
        if (c == '.')
            c = ',';
    }
    const std::size_t comma = text.rfind(',');
    return comma == std::string::npos ? text : text.substr(0, comma + 2);
}

std::string rightAligned(uint64_t value)
{
    std::string digits = std::to_string(value);
    return std::string(digits.size() < 8 ? 8 - digits.size() : 0, ' ') + digits;
}

} // namespace

std::string FcsWriter::dataProblem() const
{
    if (!m_data || !m_header)
        return "there is nothing to write";
    const MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    if (static_cast<int64_t>(m_header->parameterCount()) > registry->parameterCount())
        return "the parameters are not those of the loaded samples";
    const int samples = registry->sampleCount();
    for (const MCV_PointIndex& point : m_data->points()) {
        if (point.sampleIndex < 0 || point.sampleIndex >= samples || point.eventIndex < 0
            || point.eventIndex >= registry->sampleHeader(point.sampleIndex)->eventCount())
            return "the events are not those of the loaded samples";
    }
    return std::string();
}

void FcsWriter::fail(const std::string& path, const std::string& reason)
{
    m_failure = WriteFailure{path, reason};
    m_failure.print();
}

std::string FcsWriter::headerAndText(const std::string& path) const
{
    const uint64_t pointCount = m_data->points().size();
    const uint64_t parameterCount = m_header->parameterCount();
    Keywords keywords = {{"$BEGINANALYSIS", "0"},
                         {"$ENDANALYSIS", "0"},
                         {"$BEGINSTEXT", "0"},
                         {"$ENDSTEXT", "0"},
                         {"$NEXTDATA", "0"},
                         {"$TOT", std::to_string(pointCount)},
                         {"$PAR", std::to_string(parameterCount)},
                         {"FCSversion", "3.1"},
                         {"CREATOR", "Vessarine FCS writer"},
                         {"$COM", "Vessarine FCS writer"},
                         {"FILENAME", TextEscaping::utf8FromLatin1(DefaultStateStore::sampleKey(path))},
                         {"GUID", "1.fcs"},
                         {"ORIGINALGUID", "1.fcs"},
                         {"$BYTEORD", "1,2,3,4"},
                         {"$DATATYPE", "F"},
                         {"$MODE", "L"}};
    const std::vector<FcsParameter>& parameters = m_header->parameters();
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        const std::string prefix = "$P" + std::to_string(i + 1);
        // Names read from older files may be Latin-1; FCS 3.1 TEXT is UTF-8
        // and forbids commas in $PnN.
        std::string shortName = TextEscaping::utf8FromLatin1(parameters[i].shortName);
        if (shortName.find(',') != std::string::npos) {
            const std::string original = shortName;
            std::replace(shortName.begin(), shortName.end(), ',', '_');
            std::cout << "Parameter name \"" << original << "\" written as \"" << shortName
                      << "\": FCS 3.1 allows no comma in " << prefix << "N.\n";
        }
        // Every value written is a 32-bit float, whatever the source stored.
        keywords.push_back({prefix + "B", "32"});
        keywords.push_back({prefix + "N", shortName});
        keywords.push_back({prefix + "S", TextEscaping::utf8FromLatin1(parameters[i].longName)});
        keywords.push_back({prefix + "R", std::to_string(parameters[i].range)});
        keywords.push_back({prefix + "E", exponentText(parameters[i].exponent)});
    }

    const char delimiter = chooseDelimiter(keywords);
    freeEdges(keywords, delimiter);
    std::string text;
    auto add = [&](const std::string& keyword, const std::string& value) {
        text += delimiter;
        text += keyword;
        text += delimiter;
        text += escapedValue(value, delimiter);
    };
    for (const auto& entry : keywords)
        add(entry.first, entry.second);

    // TEXT runs from byte 100 to D - 1: what is built so far (L bytes), the
    // two data keywords, the closing delimiter, then spaces up to L + 64.
    // 64 bytes always hold the data keywords (at most 63 with 20-digit values).
    const uint64_t textLength = text.size() + 64;
    const uint64_t dataStart = 100 + textLength;
    const uint64_t dataBytes = pointCount * parameterCount * 4;
    // An empty DATA segment is written as offsets 0, as FCS 3.1 asks.
    add("$BEGINDATA", std::to_string(dataBytes ? dataStart : 0));
    add("$ENDDATA", std::to_string(dataBytes ? dataStart + dataBytes - 1 : 0));
    text += delimiter;
    text.resize(textLength, ' ');

    std::string header = "FCS3.1    ";
    header += rightAligned(100);
    header += rightAligned(dataStart - 1);
    for (int field = 0; field < 4; ++field)
        header += rightAligned(0);
    header.resize(100, ' ');
    return header + text;
}

int FcsWriter::writeFcs(const std::string& path)
{
    std::cout << "\n\nWriting to " << path << ".\n\n";
    m_failure = WriteFailure();
    const std::string problem = dataProblem();
    if (!problem.empty()) {
        fail(path, problem);
        return 1;
    }
    const std::string headerText = headerAndText(path);
    // HEADER fields hold 8 digits: a longer TEXT cannot be described.
    if (headerText.size() - 1 > 99999999) {
        fail(path, "the names and keywords are too long for an FCS header");
        return 1;
    }

    ReplacingFile file(path);
    if (!file.open()) {
        fail(path, file.reason());
        return 1;
    }
    file.write(headerText.data(), static_cast<int64_t>(headerText.size()));

    const MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    const int64_t width = registry->parameterCount();
    std::vector<int> columns(m_header->parameterCount());
    for (std::size_t m = 0; m < columns.size(); ++m)
        columns[m] = static_cast<int>(m);
    RowStream rows(file);
    for (const MCV_PointIndex& point : m_data->points())
        rows.addRow(registry->sampleData(point.sampleIndex) + static_cast<int64_t>(point.eventIndex) * width, columns, 0);
    rows.flush();
    if (!file.commit()) {
        fail(path, file.reason());
        return 1;
    }
    return 0;
}

std::vector<std::string> FcsWriter::perSamplePaths(const std::string& path)
{
    // "<folder>/<base>-<sample name>.<suffix>", the sample names made safe and distinct.
    const QFileInfo chosenFile(QString::fromStdString(path));
    const std::string folder = chosenFile.path().toStdString();
    const std::string base = chosenFile.completeBaseName().toStdString();
    const std::string suffix = chosenFile.suffix().isEmpty() ? "" : "." + chosenFile.suffix().toStdString();
    const MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    std::vector<std::string> sampleNames;
    for (int s = 0; s < registry->sampleCount(); ++s)
        sampleNames.push_back(QFileInfo(QString::fromStdString(registry->samplePath(s))).completeBaseName().toStdString());
    std::vector<std::string> paths;
    for (const std::string& part : ExportFileNames::uniqueParts(sampleNames))
        paths.push_back(folder + "/" + base + "-" + part + suffix);
    return paths;
}

int FcsWriter::writeBinary(const std::string& path, const std::vector<int>& parameters, int mode)
{
    std::cout << "\n\nWriting to " << path << ".\n\n";
    m_failure = WriteFailure();
    if ((mode != 0 && mode != 1) || (mode == 1 && parameters.empty())) {
        fail(path, mode == 1 ? "no parameter was chosen" : "the mode is neither 0 nor 1");
        return 0;
    }
    const std::string problem = dataProblem();
    if (!problem.empty()) {
        fail(path, problem);
        return 0;
    }
    const int parameterCount = static_cast<int>(m_header->parameterCount());
    std::vector<bool> chosen(static_cast<std::size_t>(parameterCount), false);
    for (int index : parameters) {
        if (index < 0 || index >= parameterCount) {
            fail(path, "parameter " + std::to_string(index) + " does not exist");
            return 0;
        }
        chosen[static_cast<std::size_t>(index)] = true;
    }
    std::vector<int> columns;
    for (int m = 0; m < parameterCount; ++m) {
        if (chosen[static_cast<std::size_t>(m)])
            columns.push_back(m);
    }
    // Each row has one slot per listed index; a repeated index leaves the
    // last slots 0.
    const std::size_t rowWidth = parameters.size();
    const std::size_t padding = rowWidth - columns.size();

    const MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    const int64_t width = registry->parameterCount();
    const std::vector<MCV_PointIndex>& points = m_data->points();
    auto rowOf = [&](const MCV_PointIndex& point) {
        return registry->sampleData(point.sampleIndex) + static_cast<int64_t>(point.eventIndex) * width;
    };

    if (mode == 0) {
        ReplacingFile file(path);
        if (file.open()) {
            RowStream rows(file);
            for (const MCV_PointIndex& point : points)
                rows.addRow(rowOf(point), columns, padding);
            rows.flush();
        }
        if (!file.commit()) {
            fail(path, file.reason());
            return 0;
        }
        std::cout << "File written succesfully (total of " << points.size() << " " << rowWidth << "D points).\n";
        return 1;
    }

    const std::vector<std::string> fileNames = perSamplePaths(path);
    const int samples = registry->sampleCount();
    std::vector<std::vector<int64_t>> positions(static_cast<std::size_t>(samples));
    for (std::size_t p = 0; p < points.size(); ++p)
        positions[static_cast<std::size_t>(points[p].sampleIndex)].push_back(static_cast<int64_t>(p));

    for (int s = 0; s < samples; ++s) {
        const std::string& fileName = fileNames[static_cast<std::size_t>(s)];
        ReplacingFile file(fileName);
        if (file.open()) {
            RowStream rows(file);
            for (int64_t p : positions[static_cast<std::size_t>(s)])
                rows.addRow(rowOf(points[static_cast<std::size_t>(p)]), columns, padding);
            rows.flush();
        }
        if (!file.commit()) {
            fail(fileName, file.reason());
            return 0;
        }
        std::cout << "File " << fileName << " written succesfully (total of " << positions[static_cast<std::size_t>(s)].size()
                  << " " << rowWidth << "D points).\n";
    }
    return 1;
}
