#pragma once

#include "core/error.h"

#include <QByteArray>
#include <QString>

#include <optional>

class QLockFile;

namespace Inkwell {

// Where drafts of unsaved documents live: the user's state directory
// ($XDG_STATE_HOME/inkwell/drafts, by default ~/.local/state/inkwell/drafts;
// %LOCALAPPDATA%\Inkwell\drafts on Windows). Qt 6.4 has no state location.
QString defaultDraftDirectory();

// QLockFile::tryLock(0) with a lock file that only its owner can read from
// the moment it exists: it names the process and the machine.
bool tryLockPrivately(QLockFile &lock);

// Appends the bytes to the draft at `path` and flushes them to the disk
// before it returns. A failed append cuts the file back to the length it
// had, so that the records after a failure are never out of reach.
std::optional<Error> appendToDraft(const QString &path, const QByteArray &bytes);

// The moments of an append, reported to a test that must stop the program
// exactly there: before anything is written, once the bytes are written, and
// once they are on the disk.
enum class DraftAppendStage { Opened, Written, Synced };
using DraftAppendHook = void (*)(DraftAppendStage stage);
// Null (the default) reports nothing.
void setDraftAppendHook(DraftAppendHook hook);

} // namespace Inkwell
