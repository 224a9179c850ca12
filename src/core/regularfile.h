#pragma once

#include "core/atomicfile.h"
#include "core/error.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace Inkwell {

// The largest file the editor reads: 1 GiB, or half the machine's memory if
// that is less. The editor holds a file several times over (bytes, text,
// layout), so anything bigger would run the machine out of memory.
qint64 defaultReadLimit();

struct FileContent {
    QByteArray bytes;
    bool created = false; // the path named nothing and an empty file was made there
};

// Reads a regular file whole. Anything else (a folder, a FIFO, a device, a
// socket) is refused at once without waiting on it, and so is a file that is,
// or grows while being read, larger than the limit. A path that names nothing
// is created empty when `createMissing` is set, readable by whom `access`
// says (see NewFileAccess). The Error's `what` is the path, its `why` the
// reason, in Chinese.
Result<FileContent> readRegularFile(const QString &path, qint64 limit, bool createMissing,
                                    NewFileAccess access = NewFileAccess::Shared);

} // namespace Inkwell
