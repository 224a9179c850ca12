#pragma once

#include "core/error.h"

#include <QByteArray>
#include <optional>

namespace Inkwell {

// Who may read the file a save writes. Shared: a new file gets what the
// umask allows, an existing one keeps its mode (a document). Private: a new
// file is its owner's alone from the first byte on, an existing one keeps its
// mode (a scrambled note). OwnerOnly: the owner's alone, new or not (a draft).
enum class NewFileAccess { Shared, Private, OwnerOnly };

// Replaces the file's content with the bytes and keeps what makes it that
// file: a symlink is followed and its target saved; a file with one link is
// written to a temporary file beside it (owner, group, mode, extended
// attributes and ACLs copied onto it first), flushed and renamed over it, so
// a crash or a full disk leaves the old file whole. A file the user may not
// write is refused and left alone, even where the folder would let it be
// replaced. A hard-linked file, an existing writable file in a folder that
// takes no new file, and a file whose owner or group a new file could not
// be given (another user's file the user may write) are rewritten in place
// after the free space has been checked. Temporary files that an earlier,
// interrupted save left in the folder are removed first. The reason of an
// Error is Chinese, from the system's error number.
std::optional<Error> writeFileAtomically(const QString &path, const QByteArray &bytes,
                                         NewFileAccess access = NewFileAccess::Shared);

// The bytes of a file made piece by piece while they are written, so that
// a big file is never whole in memory.
class FilePieces {
public:
    enum class Step {
        Piece, // `piece` holds the next bytes
        End,   // there are no more
        Stop,  // the write must not go on: the file stays as it was
    };
    virtual ~FilePieces() = default;
    // Replaces `piece` with the next bytes of the file.
    virtual Step next(QByteArray &piece) = 0;
    // Called every few milliseconds while the written bytes are flushed to
    // the disk, which can take a while for a big file.
    virtual void waiting() {}
};

// writeFileAtomically() with bytes made as they are written, with every
// guarantee it gives. True once the file holds them; false when `pieces`
// stopped the write: the file, and the folder, are then as they were.
Result<bool> writeFileAtomically(const QString &path, FilePieces &pieces,
                                 NewFileAccess access = NewFileAccess::Shared);

// The moments of a save through a temporary file, reported to a test that
// must stop the program exactly there (a kill in the middle of the write):
// bytes written, flushed, the temporary file named, renamed over the target.
enum class SaveStage { Written, Synced, Linked, Renamed };
using SaveStageHook = void (*)(SaveStage stage, qint64 bytesWritten);
// Null (the default) reports nothing.
void setSaveStageHook(SaveStageHook hook);

} // namespace Inkwell
