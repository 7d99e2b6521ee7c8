#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

/// Builds FCS 2.0 / 3.0 / 3.1 files for tests: any delimiter, either byte
/// order, any keywords in any order, and the bytes at hand for corrupting.
///
///     FcsTestFile file(100, 3);             // 100 events x 3 float parameters
///     file.delimiter = '|';
///     file.bigEndian = true;                // also sets $BYTEORD "4,3,2,1"
///     file.setKeyword("$CYT", "Bench");
///     file.write(path);                     // or: std::string b = file.bytes();
///
/// The data keywords ($BEGINDATA, $ENDDATA) and the HEADER offsets are
/// computed by bytes(); everything else in the TEXT is `keywords`, in order.
/// setIntegers() and setDoubles() turn the file into integer or double data.
class FcsTestFile
{
public:
    /// Offsets of the segments in the file that bytes() built.
    struct Layout
    {
        int64_t textStart = 0;
        int64_t textEnd = 0;   ///< offset of the TEXT's last byte
        int64_t dataStart = 0;
        int64_t dataEnd = 0;   ///< offset of the DATA's last byte
    };

    /// A valid list-mode float file: $BYTEORD, $DATATYPE "F", $MODE "L",
    /// $TOT, $PAR, then per parameter n: $PnN "Pn", $PnS "Marker n",
    /// $PnB "32", $PnE "0,0", $PnR "1024". values() holds a fixed pattern
    /// of varied finite floats (negative, fractional, large and tiny).
    FcsTestFile(int events, int parameters, const std::string& version = "FCS3.1");

    std::string version;
    char delimiter = '\\';
    /// Writes the DATA as big-endian ("4,3,2,1"); setting it through
    /// setBigEndian also updates $BYTEORD.
    bool bigEndian = false;
    std::vector<std::pair<std::string, std::string>> keywords;
    /// events x parameters floats, row-major (float files).
    std::vector<float> values;
    /// Integer files: events x parameters unsigned values, row-major, each
    /// written in the low bytes of its parameter's width (integerBits / 8,
    /// rounded up).
    std::vector<uint64_t> integers;
    std::vector<int> integerBits;
    /// Double files: events x parameters values, row-major.
    std::vector<double> doubles;

    int64_t textStart = 58;
    /// Puts the DATA offsets in the HEADER; otherwise the fields hold 0 and
    /// only $BEGINDATA tells where the data are.
    bool dataOffsetsInHeader = true;
    /// Writes $BEGINDATA and $ENDDATA into the TEXT.
    bool dataKeywords = true;
    /// Added to the written DATA end ($ENDDATA and the HEADER field); +1 gives
    /// the common one-past-the-end files.
    int64_t dataEndAdjust = 0;
    /// Doubles a delimiter inside keywords and values (FCS 3.x escaping).
    bool escapeDelimiters = true;
    /// Writes the HEADER offsets zero-padded ("00000058") instead of
    /// space-padded, so adjacent fields touch.
    bool zeroPaddedHeader = false;
    /// Bytes written after the DATA segment (a CRC field, junk, ...).
    std::string trailer;

    /// Sets $BYTEORD and bigEndian together.
    void setBigEndian(bool big);
    /// Replaces the value of the first keyword of that name, or appends it.
    void setKeyword(const std::string& keyword, const std::string& value);
    /// Removes every keyword of that name.
    void removeKeyword(const std::string& keyword);
    /// Makes this an integer file: $DATATYPE "I", $PnB from `bits` (one per
    /// parameter), the values row-major.
    void setIntegers(const std::vector<int>& bits, const std::vector<uint64_t>& rowMajor);
    /// Makes this a double file: $DATATYPE "D", every $PnB "64".
    void setDoubles(const std::vector<double>& rowMajor);

    /// The complete file.
    std::string bytes(Layout* layout = nullptr) const;
    /// Writes bytes() to the path; false when it cannot be written.
    bool write(const std::string& path) const;
    /// Writes any bytes to a path; false when it cannot be written.
    static bool writeBytes(const std::string& path, const std::string& bytes);
    /// Reads a whole file; empty when it cannot be read.
    static std::string readBytes(const std::string& path);

private:
    /// The DATA segment: the floats, doubles or integers in the byte order.
    std::string dataBytes() const;
};
