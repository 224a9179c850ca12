#pragma once

#include <QString>

class QLockFile;

namespace Inkwell {

// Where drafts of unsaved documents live: the user's state directory
// ($XDG_STATE_HOME/inkwell/drafts, by default ~/.local/state/inkwell/drafts;
// %LOCALAPPDATA%\Inkwell\drafts on Windows). Qt 6.4 has no state location.
QString defaultDraftDirectory();

// QLockFile::tryLock(0) with a lock file that only its owner can read from
// the moment it exists: it names the process and the machine.
bool tryLockPrivately(QLockFile &lock);

} // namespace Inkwell
