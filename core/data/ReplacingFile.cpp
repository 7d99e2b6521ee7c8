#include "data/ReplacingFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>

ReplacingFile::ReplacingFile(const std::string& path) : m_path(path) {}

// Destroying an uncommitted QSaveFile removes its temporary file.
ReplacingFile::~ReplacingFile() = default;

bool ReplacingFile::open()
{
    // A NUL would silently cut the path short.
    if (m_path.empty() || m_path.find('\0') != std::string::npos)
        return false;
    const QString path = QString::fromStdString(m_path);
    const QFileInfo target(path);
    if (target.exists() && !target.isFile() && !target.isDir())
        m_file = std::make_unique<QFile>(path);
    else
        m_file = std::make_unique<QSaveFile>(path);
    m_ok = m_file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
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
}

bool ReplacingFile::commit()
{
    if (!m_file)
        return false;
    if (auto* replacing = dynamic_cast<QSaveFile*>(m_file.get())) {
        if (m_ok)
            m_ok = replacing->commit();
        else
            m_file.reset();
        return m_ok;
    }
    m_ok = m_ok && m_file->flush();
    m_file->close();
    m_ok = m_ok && m_file->error() == QFileDevice::NoError;
    return m_ok;
}
