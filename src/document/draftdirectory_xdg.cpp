#include "document/draftdirectory.h"

#include <QDir>
#include <QLockFile>

#include <sys/stat.h>

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

} // namespace Inkwell
