#include "core/atomicfile.h"

#include "core/atomicfiletemps.h"
#include "core/localpath.h"
#include "core/systemerror.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <future>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace Inkwell {

namespace {

SaveStageHook stageHook = nullptr;

void reached(SaveStage stage, qint64 written)
{
    if (stageHook)
        stageHook(stage, written);
}

// Big saves go out in pieces of this size, so a kill can land between them.
constexpr qsizetype writePiece = 1 << 20;

int syncData(int fd);

// Symlink hops followed before giving up, as the kernel does (ELOOP).
constexpr int maxLinkHops = 40;

struct Outcome {
    int error = 0;        // the errno of the failing step, 0 when it worked
    QString why;          // a reason of our own, where no errno says it
    bool stopped = false; // the bytes' maker stopped the write
};

// A temporary file's write that its bytes' maker stopped: nothing replaced.
constexpr int stoppedByMaker = -1;

// A whole file's bytes handed out in pieces of writePiece bytes, so that a
// kill can land between them.
class WholeBytes : public FilePieces {
public:
    explicit WholeBytes(const QByteArray &bytes) : m_bytes(bytes) {}
    Step next(QByteArray &piece) override
    {
        if (m_done >= m_bytes.size())
            return Step::End;
        const qsizetype length = std::min(writePiece, m_bytes.size() - m_done);
        piece = QByteArray::fromRawData(m_bytes.constData() + m_done, length);
        m_done += length;
        return Step::Piece;
    }

private:
    const QByteArray &m_bytes;
    qsizetype m_done = 0;
};

// All the pieces at once, for a rewrite in place, which checks the free
// space for the whole length before it writes a byte.
int collect(FilePieces &pieces, QByteArray *bytes)
{
    QByteArray piece;
    for (;;) {
        switch (pieces.next(piece)) {
        case FilePieces::Step::Piece:
            bytes->append(piece);
            break;
        case FilePieces::Step::End:
            return 0;
        case FilePieces::Step::Stop:
            return stoppedByMaker;
        }
    }
}

// fdatasync, with the maker of the bytes called now and then while it runs:
// a big file can take a second to reach the disk.
int syncWaiting(int fd, FilePieces &pieces)
{
    auto done = std::async(std::launch::async, syncData, fd);
    while (done.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
        pieces.waiting();
    return done.get();
}

Outcome failed(int error)
{
    if (error == stoppedByMaker)
        return Outcome{0, {}, true};
    return Outcome{error, {}};
}

class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    Fd &operator=(Fd &&other) noexcept
    {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    // Closes and reports the result: NFS and some FUSE file systems only
    // report a failed write here.
    int close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd >= 0 && ::close(fd) != 0 ? errno : 0;
    }

private:
    int m_fd;
};

QByteArray directoryOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
}

QByteArray nameOf(const QByteArray &path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

// The file a save must change: the path itself, or where its symlinks lead.
// `exists` tells whether that file is already there (`st` then describes it).
int resolveTarget(QByteArray path, QByteArray *target, bool *exists, struct stat *st)
{
    for (int hop = 0; hop <= maxLinkHops; ++hop) {
        if (::lstat(path.constData(), st) != 0) {
            if (errno != ENOENT)
                return errno;
            *target = path;
            *exists = false;
            return 0;
        }
        if (!S_ISLNK(st->st_mode)) {
            *target = path;
            *exists = true;
            return 0;
        }
        QByteArray link(4096, Qt::Uninitialized);
        const ssize_t n = ::readlink(path.constData(), link.data(), link.size());
        if (n < 0)
            return errno;
        link.truncate(n);
        path = link.startsWith('/') ? link : directoryOf(path) + '/' + link;
    }
    return ELOOP;
}

int writeAll(int fd, const QByteArray &bytes, off_t offset = -1)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            offset < 0 ? ::write(fd, bytes.constData() + done, bytes.size() - done)
                       : ::pwrite(fd, bytes.constData() + done, bytes.size() - done, offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return EIO;
        done += n;
    }
    return 0;
}

// A file system that cannot sync this kind of file says EINVAL; anything else
// means the bytes may not be on the disk.
int syncData(int fd)
{
    return ::fdatasync(fd) == 0 || errno == EINVAL ? 0 : errno;
}

// Copies every extended attribute the file system lets us set. ACLs live in
// system.posix_acl_access, so they come along; attributes only root may set
// (trusted.*, security.*) are left behind for other users rather than
// failing the save.
void copyExtendedAttributes(int from, int to)
{
    ssize_t size = ::flistxattr(from, nullptr, 0);
    if (size <= 0)
        return;
    std::vector<char> names(size_t(size) + 1);
    size = ::flistxattr(from, names.data(), names.size());
    if (size <= 0)
        return;
    std::vector<char> value;
    for (const char *name = names.data(); name < names.data() + size;
         name += std::char_traits<char>::length(name) + 1) {
        const ssize_t length = ::fgetxattr(from, name, nullptr, 0);
        if (length < 0)
            continue;
        value.resize(size_t(length) + 1);
        const ssize_t got = ::fgetxattr(from, name, value.data(), value.size());
        if (got >= 0)
            ::fsetxattr(to, name, value.data(), size_t(got), 0);
    }
}

// Gives the new file what made the old one that file. The owner first: a
// change of owner clears the set-id bits, which the mode then restores.
// False when the new file could not be made the old one's owner's, group's
// or mode: another user's file, or a group the user is not in. Replacing
// the file would then take it from its owner, so only the old file itself
// can take the new bytes.
bool copyIdentity(int from, int to, const struct stat &st)
{
    const bool owned = ::fchown(to, st.st_uid, st.st_gid) == 0;
    copyExtendedAttributes(from, to);
    const bool moded = ::fchmod(to, st.st_mode & 07777) == 0;
    if (owned && moded)
        return true;
    // A failed call that changed nothing that mattered (a file system
    // without owners, say) is no reason to give up the safe way.
    struct stat now {};
    return ::fstat(to, &now) == 0 && now.st_uid == st.st_uid && now.st_gid == st.st_gid &&
           (now.st_mode & 07777) == (st.st_mode & 07777);
}

// A new file in the folder that nobody else can reach until it is renamed
// over the target: unnamed (O_TMPFILE) where the file system has it, linked
// under a hidden name just before the rename.
struct TempFile {
    Fd fd;
    QByteArray path; // the name it is (or will be) linked under
    bool unnamed = false;
};

QByteArray hiddenName(const QByteArray &target)
{
    return SaveTemps::hiddenName(directoryOf(target), nameOf(target));
}

int createTemp(const QByteArray &target, mode_t mode, TempFile *temp)
{
    const QByteArray dir = directoryOf(target);
    // Held until the file is renamed or removed: see SaveTemps::removeAbandoned().
    const auto lock = [](int fd) { ::flock(fd, LOCK_EX | LOCK_NB); };
    if (::access("/proc/self/fd", X_OK) == 0) {
        const int fd = ::open(dir.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
        if (fd >= 0) {
            temp->fd = Fd(fd);
            temp->unnamed = true;
            lock(fd);
            return 0;
        }
        // Only "the file system has no unnamed files" is worth the named try.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return errno;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name = hiddenName(target);
        const int fd = ::open(name.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, mode);
        if (fd >= 0) {
            temp->fd = Fd(fd);
            temp->path = name;
            lock(fd);
            return 0;
        }
        if (errno != EEXIST)
            return errno;
    }
    return EEXIST;
}

int linkTemp(const QByteArray &target, TempFile *temp)
{
    if (!temp->unnamed)
        return 0;
    const QByteArray proc = "/proc/self/fd/" + QByteArray::number(temp->fd.get());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name = hiddenName(target);
        if (::linkat(AT_FDCWD, proc.constData(), AT_FDCWD, name.constData(), AT_SYMLINK_FOLLOW) ==
            0) {
            temp->path = name;
            temp->unnamed = false;
            return 0;
        }
        if (errno != EEXIST)
            return errno;
    }
    return EEXIST;
}

void syncDirectory(const QByteArray &dir)
{
    const Fd fd(::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0)
        ::fsync(fd.get());
}

// What keeps a save from going through a temporary file, so that the old
// file is rewritten in place instead (when it may be written).
enum class NoTemp {
    None,
    FolderRefuses,   // the folder takes no new file
    IdentityNotKept, // the new file could not get the old one's owner or group
};

// Temporary file, flush, rename. `existing` is open on the old file (-1 for a
// new one) and lends its identity to the new one.
int replaceThroughTemp(const QByteArray &target, FilePieces &pieces, int existing,
                       const struct stat *st, NewFileAccess access, NoTemp *noTemp)
{
    // A new document gets what the umask allows; anything that replaces an
    // old file (and any new private file) starts private and gets the old
    // mode before the first byte.
    const mode_t createMode =
        existing < 0 && access == NewFileAccess::Shared ? mode_t(0666) : mode_t(0600);
    TempFile temp;
    if (const int error = createTemp(target, createMode, &temp)) {
        if (error == EACCES || error == EPERM)
            *noTemp = NoTemp::FolderRefuses;
        return error;
    }
    int error = 0;
    if (existing >= 0 && access != NewFileAccess::OwnerOnly &&
        !copyIdentity(existing, temp.fd.get(), *st)) {
        if (!temp.path.isEmpty())
            ::unlink(temp.path.constData());
        *noTemp = NoTemp::IdentityNotKept;
        return EPERM;
    }
    // Nothing was asked of `pieces` before this point, so a caller that
    // falls back to a rewrite in place (noTemp) still gets every piece.
    qint64 written = 0;
    QByteArray piece;
    for (FilePieces::Step step; !error && (step = pieces.next(piece)) != FilePieces::Step::End;) {
        if (step == FilePieces::Step::Stop) {
            error = stoppedByMaker;
            break;
        }
        error = writeAll(temp.fd.get(), piece);
        written += piece.size();
        reached(SaveStage::Written, written);
    }
    if (!error)
        error = syncWaiting(temp.fd.get(), pieces);
    if (!error) {
        reached(SaveStage::Synced, written);
        error = linkTemp(target, &temp);
    }
    if (!error)
        error = temp.fd.close();
    if (!error)
        reached(SaveStage::Linked, written);
    if (!error && ::rename(temp.path.constData(), target.constData()) != 0)
        error = errno;
    if (error) {
        if (!temp.path.isEmpty())
            ::unlink(temp.path.constData());
        return error;
    }
    reached(SaveStage::Renamed, written);
    syncDirectory(directoryOf(target));
    return 0;
}

// The old file's own inode gets the new bytes: what other names of a hard
// link and a folder without room for a new entry need. The space is checked
// first, so a disk that cannot hold the new length leaves the file alone.
int rewriteInPlace(int fd, const QByteArray &bytes, const struct stat &st)
{
    struct statvfs fs {};
    if (::fstatvfs(fd, &fs) == 0) {
        const unsigned long long free =
            (::geteuid() == 0 ? fs.f_bfree : fs.f_bavail) * (unsigned long long)fs.f_frsize;
        const long long growth = (long long)bytes.size() - (long long)st.st_size;
        if (growth > 0 && (unsigned long long)growth > free)
            return ENOSPC;
    }
    if (const int error = writeAll(fd, bytes, 0))
        return error;
    if (const int error = syncData(fd))
        return error;
    if (::ftruncate(fd, bytes.size()) != 0)
        return errno;
    return ::fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
}

// The old file rewritten in place with all the pieces.
int rewriteInPlace(int fd, FilePieces &pieces, const struct stat &st)
{
    QByteArray bytes;
    if (const int error = collect(pieces, &bytes))
        return error;
    return rewriteInPlace(fd, bytes, st);
}

Outcome save(const QByteArray &path, FilePieces &bytes, NewFileAccess access)
{
    QByteArray target;
    bool exists = false;
    struct stat st {};
    if (const int error = resolveTarget(path, &target, &exists, &st))
        return failed(error);
    SaveTemps::removeAbandoned(directoryOf(target));
    if (!exists) {
        NoTemp noTemp = NoTemp::None;
        return failed(replaceThroughTemp(target, bytes, -1, nullptr, access, &noTemp));
    }
    if (S_ISDIR(st.st_mode))
        return failed(EISDIR);
    if (!S_ISREG(st.st_mode))
        return Outcome{0, QStringLiteral("不是普通文件")};
    // A file its owner made read-only, or another user's file, is not the
    // user's to replace, even where the folder would let a new file take
    // its name. (Root may, as everywhere.)
    if (::faccessat(AT_FDCWD, target.constData(), W_OK, AT_EACCESS) != 0 &&
        (errno == EACCES || errno == EPERM || errno == EROFS))
        return failed(errno);

    // The old file is opened for reading only to lend its attributes; a file
    // we may not read but may replace still gets its mode and owner.
    Fd existing(::open(target.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW));
    if (existing.get() >= 0)
        ::fstat(existing.get(), &st);
    else
        existing = Fd(::open(target.constData(), O_PATH | O_CLOEXEC | O_NOFOLLOW));

    if (st.st_nlink <= 1) {
        NoTemp noTemp = NoTemp::None;
        const int error = existing.get() >= 0 ? replaceThroughTemp(target, bytes, existing.get(),
                                                                   &st, access, &noTemp)
                                              : EACCES;
        if (noTemp == NoTemp::None)
            return failed(error);
        // The folder takes no new file, or a new file would not be the
        // owner's: the old file, which we may write, is saved in place.
        Fd writable(::open(target.constData(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW));
        if (writable.get() < 0)
            return failed(error);
        if (const int inPlace = rewriteInPlace(writable.get(), bytes, st))
            return failed(inPlace);
        return failed(writable.close());
    }
    Fd writable(::open(target.constData(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW));
    if (writable.get() < 0)
        return failed(errno);
    if (const int error = rewriteInPlace(writable.get(), bytes, st))
        return failed(error);
    return failed(writable.close());
}

} // namespace

void setSaveStageHook(SaveStageHook hook)
{
    stageHook = hook;
}

Result<bool> writeFileAtomically(const QString &path, FilePieces &pieces, NewFileAccess access)
{
    const Outcome outcome = save(localBytesOfPath(path), pieces, access);
    if (!outcome.why.isEmpty())
        return Error{path, outcome.why};
    if (outcome.error)
        return Error{path, reasonFor(outcome.error, FileAccess::Write)};
    return !outcome.stopped;
}

std::optional<Error> writeFileAtomically(const QString &path, const QByteArray &bytes,
                                         NewFileAccess access)
{
    WholeBytes pieces(bytes);
    return writeFileAtomically(path, pieces, access).failure();
}

} // namespace Inkwell
