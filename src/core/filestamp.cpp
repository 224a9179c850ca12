#include "core/filestamp.h"

#include <QCryptographicHash>
#include <QFile>

namespace Inkwell {

QByteArray fileChecksum(const QByteArray &bytes)
{
    if (bytes.size() > checksumLimit)
        return QByteArray();
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
}

std::optional<FileStamp> stampOf(const QString &path, const QByteArray &bytes)
{
    std::optional<FileStamp> stamp = stampOf(path);
    if (stamp)
        stamp->checksum = fileChecksum(bytes);
    return stamp;
}

DiskState diskStateOf(const QString &path, const FileStamp &known)
{
    bool missing = false;
    const std::optional<FileStamp> now = stampOf(path, &missing);
    if (!now)
        return missing ? DiskState::Missing : DiskState::Unchanged;
    if (!now->sameStat(known))
        return DiskState::Changed;
    if (known.checksum.isEmpty() || now->size > checksumLimit)
        return DiskState::Unchanged;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return DiskState::Unchanged;
    // One byte more than the stamp's size tells a file that grew meanwhile.
    const QByteArray bytes = file.read(now->size + 1);
    return fileChecksum(bytes) == known.checksum ? DiskState::Unchanged : DiskState::Changed;
}

} // namespace Inkwell
