// Reading and writing the files a test sets up and checks.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#ifndef _WIN32
#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace Inkwell::Testing {

// The file's bytes; empty when it cannot be read.
inline QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The file's bytes, or "<unreadable>" when it cannot be read, so that a
// comparison with the bytes expected fails visibly.
inline QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// Writes the file whole, making its folder first; false when any of it fails.
inline bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

#ifndef _WIN32
// The names in a folder as the system lists them, bytes and all (QDir leaves
// out names that are not UTF-8), sorted.
inline QList<QByteArray> entryBytes(const QByteArray &folder)
{
    QList<QByteArray> out;
    DIR *listing = ::opendir(folder.constData());
    if (!listing)
        return {QByteArray("<unlistable>")};
    while (const dirent *entry = ::readdir(listing)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            out << name;
    }
    ::closedir(listing);
    std::sort(out.begin(), out.end());
    return out;
}

// Removes the files in a folder by their bytes (QDir does not see names
// that are not UTF-8).
inline void removeEntries(const QByteArray &folder)
{
    for (const QByteArray &name : entryBytes(folder))
        ::unlink((folder + '/' + name).constData());
}

// Writes a file under a name given as bytes (QFile would turn bytes that are
// not UTF-8 into U+FFFD); false when it fails.
inline bool writeBytesNamed(const QByteArray &path, const QByteArray &bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    return ::close(fd) == 0 && written;
}

// A file's bytes, read by a name given as bytes.
inline QByteArray readBytesNamed(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return QByteArray("<unreadable>");
    QByteArray out;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        out.append(buffer, n);
    ::close(fd);
    return out;
}
#endif

} // namespace Inkwell::Testing
