// Another program's changes to a file, made at once: times are set to the
// nanosecond instead of waited for.
#pragma once

#include "support/files.h"

#include <QFile>
#include <QMetaType>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

namespace Inkwell::Testing {

// A time the files start with, far from now, so that any write moves it.
inline constexpr timespec startTime{1600000000, 123456789};

inline bool setModified(const QString &path, timespec when)
{
    const timespec times[2] = {{0, UTIME_OMIT}, when};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

inline timespec modifiedOf(const QString &path)
{
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_mtim;
}

enum class DiskChange {
    None,
    Append,          // echo more >> file
    Rewrite,         // the same size, written again: only the time moves
    Touch,           // the bytes as they were, a new time
    RenameOver,      // another file of the same size and time renamed over it
    SameStatRewrite, // other bytes in place, the time put back (cp -p, touch -r)
    Delete,
};

// Makes the change to `path`, a file of "hello\n" at startTime; true when it worked.
inline bool changeOnDisk(const QString &path, DiskChange change)
{
    switch (change) {
    case DiskChange::None:
        return true;
    case DiskChange::Append: {
        QFile f(path);
        return f.open(QIODevice::Append) && f.write("more\n") == 5;
    }
    case DiskChange::Rewrite:
        return writeBytes(path, "HELLO\n");
    case DiskChange::Touch:
        return setModified(path, {startTime.tv_sec + 1, startTime.tv_nsec});
    case DiskChange::RenameOver: {
        const QString other = path + QStringLiteral(".new");
        return writeBytes(other, "HELLO\n") && setModified(other, modifiedOf(path)) &&
               ::rename(QFile::encodeName(other).constData(),
                        QFile::encodeName(path).constData()) == 0;
    }
    case DiskChange::SameStatRewrite: {
        const timespec was = modifiedOf(path);
        QFile f(path);
        if (!f.open(QIODevice::ReadWrite) || f.write("HELLO\n") != 6)
            return false;
        f.close();
        return setModified(path, was);
    }
    case DiskChange::Delete:
        return QFile::remove(path);
    }
    return false;
}

// A file of "hello\n" at startTime.
inline bool writeStartFile(const QString &path)
{
    return writeBytes(path, "hello\n") && setModified(path, startTime);
}

} // namespace Inkwell::Testing

Q_DECLARE_METATYPE(Inkwell::Testing::DiskChange)
