// What a file was on disk when the editor last read or wrote it, so that a
// change another program made since can be told before it is overwritten.
// Taken with stat(), which opens nothing; only the checksum reads, and only
// files small enough to read again at once.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace Inkwell {

struct FileStamp {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0; // since the epoch
    // Of the bytes on disk, for a file of at most checksumLimit bytes; empty
    // otherwise. It catches a rewrite that kept size and time (cp -p,
    // touch -r, a clock with coarse ticks).
    QByteArray checksum;

    // The same file with the same size and time (the checksum aside).
    bool sameStat(const FileStamp &other) const
    {
        return device == other.device && inode == other.inode && size == other.size &&
               modifiedNs == other.modifiedNs;
    }
};

// Files up to this size get a checksum: reading them again costs a few
// milliseconds.
constexpr qint64 checksumLimit = qint64(4) << 20;

// The checksum of a file's bytes, empty when there are more than checksumLimit.
QByteArray fileChecksum(const QByteArray &bytes);

// The stamp of what the path names now (a symlink's target), without a
// checksum; none when it names nothing (`missing` is then set) or cannot
// be examined.
std::optional<FileStamp> stampOf(const QString &path, bool *missing = nullptr);

// The stamp of the file at `path` whose bytes are `bytes` (just read or
// written), with their checksum.
std::optional<FileStamp> stampOf(const QString &path, const QByteArray &bytes);

enum class DiskState {
    Unchanged, // as the stamp says, or it cannot be examined
    Changed,   // another file, another size or time, or other bytes
    Missing,   // the path names nothing now
};

// Whether the file at `path` is still what `known` describes. A file whose
// stat matches is read again only when `known` has a checksum.
DiskState diskStateOf(const QString &path, const FileStamp &known);

} // namespace Inkwell
