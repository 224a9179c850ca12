#include "document/draftdirectory.h"

#include "core/systemerror.h"

#include <QDir>
#include <QFile>
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

namespace {
DraftAppendHook appendHook = nullptr;
} // namespace

void setDraftAppendHook(DraftAppendHook hook)
{
    appendHook = hook;
}

std::optional<Error> appendToDraft(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return Error{QStringLiteral("无法保存草稿“%1”").arg(path),
                     reasonForFailed(file, FileAccess::Write)};
    const qint64 before = file.size();
    if (appendHook)
        appendHook(DraftAppendStage::Opened);
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        const QString why = reasonForFailed(file, FileAccess::Write);
        file.resize(before);
        return Error{QStringLiteral("无法保存草稿“%1”").arg(path), why};
    }
    if (appendHook) {
        appendHook(DraftAppendStage::Written);
        appendHook(DraftAppendStage::Synced);
    }
    return std::nullopt;
}

} // namespace Inkwell
