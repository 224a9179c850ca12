#include "core/filestamp.h"

#include "core/localpath.h"

#include <cerrno>
#include <sys/stat.h>

namespace Inkwell {

std::optional<FileStamp> stampOf(const QString &path, bool *missing)
{
    struct stat st {};
    if (::stat(localBytesOfPath(path).constData(), &st) != 0) {
        if (missing)
            *missing = errno == ENOENT || errno == ENOTDIR;
        return std::nullopt;
    }
    FileStamp stamp;
    stamp.device = quint64(st.st_dev);
    stamp.inode = quint64(st.st_ino);
    stamp.size = qint64(st.st_size);
    stamp.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + qint64(st.st_mtim.tv_nsec);
    return stamp;
}

} // namespace Inkwell
