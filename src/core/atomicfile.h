#pragma once

#include "core/error.h"

#include <QByteArray>
#include <optional>

namespace Inkwell {

// Who may read a file the save creates: everyone the umask allows (a
// document), or only its owner from the first byte on (a draft).
enum class NewFileAccess { Shared, OwnerOnly };

// Replaces the file's content with the bytes and keeps what makes it that
// file: a symlink is followed and its target saved; a file with one link is
// written to a temporary file beside it (owner, group, mode, extended
// attributes and ACLs copied onto it first), flushed and renamed over it, so
// a crash or a full disk leaves the old file whole. A hard-linked file, or an
// existing writable file in a folder that takes no new file, is rewritten in
// place after the free space has been checked. The reason of an Error is
// Chinese, from the system's error number.
std::optional<Error> writeFileAtomically(const QString &path, const QByteArray &bytes,
                                         NewFileAccess access = NewFileAccess::Shared);

// The moments of a save through a temporary file, reported to a test that
// must stop the program exactly there (a kill in the middle of the write).
enum class SaveStage { Written, Synced, Linked };
using SaveStageHook = void (*)(SaveStage stage, qint64 bytesWritten);
// Null (the default) reports nothing.
void setSaveStageHook(SaveStageHook hook);

} // namespace Inkwell
