#include "data/ReplacingFile.h"

#include "data/MCV_DataRegistry.h"
#include "data/WriteFailure.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>

ReplacingFile::ReplacingFile(const std::string& path) : m_path(path) {}

// Destroying an uncommitted QSaveFile removes its temporary file.
ReplacingFile::~ReplacingFile() = default;

bool ReplacingFile::open()
{
    if (m_path.empty()) {
        m_error = "no file name was given";
        return false;
    }
    // A NUL would silently cut the path short.
    if (m_path.find('\0') != std::string::npos) {
        m_error = "the name holds a NUL character";
        return false;
    }
    const std::string sample = MCV_DataRegistry::loadedSampleAt(m_path);
    if (!sample.empty()) {
        m_error = "it is the file of the loaded sample " + sample;
        return false;
    }
    const QString path = QString::fromStdString(m_path);
    const QFileInfo target(path);
    if (target.exists() && !target.isFile() && !target.isDir())
        m_file = std::make_unique<QFile>(path);
    else
        m_file = std::make_unique<QSaveFile>(path);
    m_ok = m_file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
    keepError();
    return m_ok;
}

void ReplacingFile::write(const char* data, int64_t size)
{
    while (m_ok && size > 0) {
        const qint64 written = m_file->write(data, size);
        m_ok = written > 0;
        data += written;
        size -= written;
    }
    keepError();
}

bool ReplacingFile::commit()
{
    if (!m_file)
        return false;
    if (auto* replacing = dynamic_cast<QSaveFile*>(m_file.get())) {
        if (m_ok) {
            m_ok = replacing->commit();
            keepError();
        } else {
            m_file.reset();
        }
        return m_ok;
    }
    m_ok = m_ok && m_file->flush();
    keepError();
    m_file->close();
    m_ok = m_ok && m_file->error() == QFileDevice::NoError;
    keepError();
    return m_ok;
}

std::string ReplacingFile::reason() const
{
    return m_error.empty() ? "the file could not be written" : m_error;
}

bool ReplacingFile::writeAll(const std::string& path, const char* data, int64_t size, WriteFailure* failure)
{
    ReplacingFile file(path);
    if (file.open()) {
        file.write(data, size);
        if (file.commit())
            return true;
    }
    const WriteFailure failed{path, file.reason()};
    failed.print();
    if (failure)
        *failure = failed;
    return false;
}

void ReplacingFile::keepError()
{
    if (!m_ok && m_error.empty() && m_file)
        m_error = m_file->errorString().toStdString();
}
