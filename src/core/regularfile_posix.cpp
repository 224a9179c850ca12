#include "core/regularfile.h"

#include "core/localpath.h"
#include "core/systemerror.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Inkwell {

namespace {

constexpr qint64 oneGiB = qint64(1) << 30;
constexpr qint64 chunk = qint64(1) << 20;

QString notRegular()
{
    return QStringLiteral("不是普通文件");
}

QString notCreatedForeign()
{
    return QStringLiteral("文件不存在；它的名字不是 UTF-8 编码，Inkwell 不会以这个名字新建文件");
}

QString tooBig(qint64 size, qint64 limit)
{
    return QStringLiteral("文件太大（%1），Inkwell 最多能打开 %2 的文件")
        .arg(sizeText(size), sizeText(limit));
}

Error failure(const QString &path, const QString &why)
{
    return Error{path, why};
}

// Why a path that exists is refused before it is opened: stat() does not
// open, so a FIFO does not block and a device is not touched.
QString refusalFor(const struct stat &st, qint64 limit)
{
    if (S_ISDIR(st.st_mode))
        return reasonFor(EISDIR, FileAccess::Read);
    if (!S_ISREG(st.st_mode))
        return notRegular();
    if (st.st_size > limit)
        return tooBig(st.st_size, limit);
    return QString();
}

} // namespace

qint64 defaultReadLimit()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0)
        return oneGiB;
    return std::min(oneGiB, qint64(pages) * pageSize / 2);
}

Result<FileContent> readRegularFile(const QString &path, qint64 limit, bool createMissing,
                                    NewFileAccess access)
{
    const QByteArray name = localBytesOfPath(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0) {
        const int error = errno;
        if (error != ENOENT || !createMissing)
            return failure(path, reasonFor(error, FileAccess::Read));
        // A name that is not UTF-8 was most likely mangled on its way here
        // (an archive, a script): a file made under it would be lost to the
        // user, who meant some other file.
        if (hasForeignBytes(path))
            return failure(path, notCreatedForeign());
        // A dangling symlink is not followed: O_EXCL refuses it (EEXIST).
        const mode_t mode = access == NewFileAccess::Shared ? 0666 : 0600;
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0)
            return failure(path, reasonFor(errno, FileAccess::Write));
        ::close(fd);
        FileContent out;
        out.created = true;
        return out;
    }
    if (const QString why = refusalFor(st, limit); !why.isEmpty())
        return failure(path, why);

    // The name may have been replaced since stat(): O_NONBLOCK keeps a FIFO
    // from blocking the open, fstat() checks what was really opened.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return failure(path, errno == ENXIO ? notRegular() : reasonFor(errno, FileAccess::Read));
    FileContent out;
    auto fail = [&](const QString &why) -> Result<FileContent> {
        ::close(fd);
        return failure(path, why);
    };
    if (::fstat(fd, &st) != 0)
        return fail(reasonFor(errno, FileAccess::Read));
    if (const QString why = refusalFor(st, limit); !why.isEmpty())
        return fail(why);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        return fail(reasonFor(errno, FileAccess::Read));

    // Read until the end, whatever size stat() said: the file may be
    // growing. One byte past the limit is enough to know it is too big.
    QByteArray bytes;
    bytes.reserve(qsizetype(st.st_size));
    qint64 total = 0;
    for (;;) {
        const qint64 want = std::min(chunk, limit + 1 - total);
        if (want <= 0)
            return fail(tooBig(std::max<qint64>(total, st.st_size), limit));
        bytes.resize(qsizetype(total + want));
        const ssize_t n = ::read(fd, bytes.data() + total, size_t(want));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(reasonFor(errno, FileAccess::Read));
        if (n == 0)
            break;
        total += n;
    }
    ::close(fd);
    bytes.truncate(qsizetype(total));
    out.bytes = std::move(bytes);
    return out;
}

} // namespace Inkwell
