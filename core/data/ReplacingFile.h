#pragma once

#include <cstdint>
#include <memory>
#include <string>

class QFileDevice;

/// A file written in one pass, every step checked, that takes the place of
/// whatever stood at its path only once it is complete: the bytes go to a
/// temporary file in the same folder, which commit() renames over the
/// target. A failed or abandoned write leaves an existing file as it was and
/// no temporary file behind. Devices and pipes, which cannot be replaced,
/// are written directly.
class ReplacingFile
{
public:
    explicit ReplacingFile(const std::string& path);
    /// Discards what was written unless commit() succeeded.
    ~ReplacingFile();

    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    /// False for an empty path, a path holding NUL, a folder, or a file that
    /// cannot be created.
    bool open();
    /// Writes all bytes; a failure is kept and reported by commit().
    void write(const char* data, int64_t size);
    /// Flushes, syncs and puts the file in place; true when every step of
    /// writing succeeded.
    bool commit();

private:
    std::string m_path;
    std::unique_ptr<QFileDevice> m_file;
    bool m_ok = false;
};
