#pragma once

#include "data/WriteFailure.h"

#include <string>
#include <vector>

class FcsHeader;
class MCV_DerivedDataPoints;

/// Writes the events of one points set, with the values of the registry's
/// sample matrices, as an FCS 3.1 file holding every parameter of a header,
/// or as raw little-endian 32-bit floats of chosen parameters. Every write is
/// checked and replaces an existing file only once it is complete; a loaded
/// sample's own file is never written over.
class FcsWriter
{
public:
    FcsWriter() = default;

    /// The points to write (not owned).
    void setData(MCV_DerivedDataPoints* data) { m_data = data; }
    /// The header whose parameters are written, normally the merged one (not owned).
    void setHeader(FcsHeader* header) { m_header = header; }

    /// Writes an FCS 3.1 file (an existing file is replaced). Returns 0 when
    /// the whole file was written, 1 otherwise (nothing to write, a point or
    /// a parameter outside the loaded samples, a path holding NUL or naming
    /// a loaded sample's file, or any failed open, write, flush or rename).
    /// Names that are not UTF-8 are taken as Latin-1, commas in $PnN become
    /// "_" (with a line saying so), and the delimiter is one that no keyword
    /// or value begins or ends with; when each accepted delimiter stands at
    /// an edge of some value, backslash is taken and becomes "_" at those
    /// edges (with a line saying so). FILENAME is the path's part after its
    /// last slash.
    int writeFcs(const std::string& path);

    /// Writes rows of the chosen parameters' values (ascending index) as raw
    /// floats. Mode 0: one file at `path`. Mode 1: one file per loaded sample
    /// beside `path`, named "<base name of path>-<sample file base name>"
    /// plus the suffix of `path`. Returns 1 when every file was written,
    /// 0 otherwise (also for an index not below the parameter count, an
    /// empty index list in mode 1, or another mode).
    int writeBinary(const std::string& path, const std::vector<int>& parameters, int mode);

    /// The per-sample file beside `path` of every loaded sample, in sample
    /// order: "<base name of path>-<sample file base name>" plus the suffix
    /// of `path`, the sample names made safe and distinct (ExportFileNames).
    static std::vector<std::string> perSamplePaths(const std::string& path);

    /// The file and the reason of the last write's failure, which a line
    /// also names; empty after a write that succeeded.
    const WriteFailure& failure() const { return m_failure; }

private:
    /// Empty when data and header are set and every point and the header's
    /// parameters lie inside the loaded samples; otherwise why nothing can
    /// be written.
    std::string dataProblem() const;
    /// Keeps and prints the failure of writing `path`.
    void fail(const std::string& path, const std::string& reason);
    /// The FCS 3.1 HEADER and TEXT segments for the current data and header.
    std::string headerAndText(const std::string& path) const;

    MCV_DerivedDataPoints* m_data = nullptr;
    FcsHeader* m_header = nullptr;
    WriteFailure m_failure;
};
