#include "document/draftdirectory.h"

#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

namespace Inkwell {

QString defaultDraftDirectory()
{
    QString local = qEnvironmentVariable("LOCALAPPDATA");
    if (local.isEmpty())
        local = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return QDir::fromNativeSeparators(local) + QStringLiteral("/Inkwell/drafts");
}

bool tryLockPrivately(QLockFile &lock)
{
    // The folder under %LOCALAPPDATA% is the user's own already.
    return lock.tryLock(0);
}

} // namespace Inkwell
