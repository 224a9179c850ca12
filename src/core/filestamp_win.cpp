#include "core/filestamp.h"

#include <QDateTime>
#include <QFileInfo>

namespace Inkwell {

// Windows has no inode to hand through Qt: the size and the time (to the
// millisecond) stand for the file, and the checksum covers the rest.
std::optional<FileStamp> stampOf(const QString &path, bool *missing)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        if (missing)
            *missing = true;
        return std::nullopt;
    }
    FileStamp stamp;
    stamp.size = info.size();
    stamp.modifiedNs = info.lastModified().toMSecsSinceEpoch() * 1000000;
    return stamp;
}

} // namespace Inkwell
