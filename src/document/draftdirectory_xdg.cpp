#include "document/draftdirectory.h"

#include <QDir>
#include <QLockFile>

#include "core/systemerror.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Inkwell {

QString defaultDraftDirectory()
{
    // A relative XDG_STATE_HOME is invalid under the XDG base-directory rules
    // and is ignored.
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/inkwell/drafts");
}

bool tryLockPrivately(QLockFile &lock)
{
    // QLockFile creates its file with 0666 less the umask and has no mode of
    // its own. The umask is the process's: files other threads create in
    // this moment come out private too, which is never less safe.
    const mode_t previous = ::umask(077);
    const bool locked = lock.tryLock(0);
    ::umask(previous);
    return locked;
}

namespace {

DraftAppendHook appendHook = nullptr;

void reached(DraftAppendStage stage)
{
    if (appendHook)
        appendHook(stage);
}

} // namespace

void setDraftAppendHook(DraftAppendHook hook)
{
    appendHook = hook;
}

std::optional<Error> appendToDraft(const QString &path, const QByteArray &bytes)
{
    const auto failed = [&path](int error) {
        return Error{QStringLiteral("无法保存草稿“%1”").arg(path), reasonFor(error)};
    };
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0)
        return failed(errno);
    struct stat before {};
    if (::fstat(fd, &before) != 0) {
        const int error = errno;
        ::close(fd);
        return failed(error);
    }
    reached(DraftAppendStage::Opened);
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    int error = 0;
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;
            break;
        }
        data += n;
        left -= n;
    }
    if (error == 0) {
        reached(DraftAppendStage::Written);
        if (::fdatasync(fd) != 0)
            error = errno;
    }
    if (error != 0) {
        // What did go out is a record cut short: gone, so that the next
        // write is not appended behind it.
        if (::ftruncate(fd, before.st_size) == 0)
            ::fdatasync(fd);
        ::close(fd);
        return failed(error);
    }
    reached(DraftAppendStage::Synced);
    if (::close(fd) != 0 && errno != EINTR)
        return failed(errno);
    return std::nullopt;
}

} // namespace Inkwell
