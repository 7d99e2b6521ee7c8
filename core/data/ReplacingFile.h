#pragma once

#include <cstdint>
#include <memory>
#include <string>

class QFileDevice;
struct WriteFailure;

/// A file written in one pass, every step checked, that takes the place of
/// whatever stood at its path only once it is complete: the bytes go to a
/// temporary file in the same folder, which commit() renames over the
/// target. A failed or abandoned write leaves an existing file as it was and
/// no temporary file behind. Devices and pipes, which cannot be replaced,
/// are written directly. A loaded sample's file is never written over:
/// every export and side file the program writes goes through here.
///
///     ReplacingFile::writeAll(path, bytes.data(), bytes.size());  // whole or nothing
class ReplacingFile
{
public:
    explicit ReplacingFile(const std::string& path);
    /// Discards what was written unless commit() succeeded.
    ~ReplacingFile();

    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    /// False for an empty path, a path holding NUL, a loaded sample's file,
    /// a folder, or a file that cannot be created.
    bool open();
    /// Writes all bytes; a failure is kept and reported by commit().
    void write(const char* data, int64_t size);
    /// Flushes, syncs and puts the file in place; true when every step of
    /// writing succeeded.
    bool commit();
    /// Why the first failed step failed: the system's text, or the refusal.
    std::string reason() const;

    /// open(), write() and commit() in one; on failure a line says that
    /// nothing was written and why, and `failure` (when given) gets the path
    /// and the reason.
    static bool writeAll(const std::string& path, const char* data, int64_t size,
                         WriteFailure* failure = nullptr);

private:
    /// Keeps the device's reason for the first failed step.
    void keepError();

    std::string m_path;
    std::unique_ptr<QFileDevice> m_file;
    bool m_ok = false;
    std::string m_error;
};
