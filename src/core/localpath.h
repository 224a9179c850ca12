// Paths as the system names them. A POSIX file name is bytes, and Qt 6
// reads every name as UTF-8: bytes that are not UTF-8 (a GBK name from an
// archive made on Chinese Windows) become U+FFFD and no longer name the file.
// Here such a byte is kept in the QString as the lone low surrogate
// U+DC80..U+DCFF, which valid UTF-8 never decodes to, so the path turns back
// into the very bytes it came from. A UTF-8 name is the same QString Qt
// gives, so the rest of the program handles it as before; only the places
// that hand a name to the system go through localBytesOfPath().
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

class QUrl;

namespace Inkwell {

// The path for a name the system gave as bytes: UTF-8 decoded, each byte
// that is not part of valid UTF-8 kept as U+DC00 + byte.
QString pathFromLocalBytes(QByteArrayView bytes);

// The bytes to hand the system for a path: the inverse of
// pathFromLocalBytes(). Any other lone surrogate is written as U+FFFD, as
// Qt writes it.
QByteArray localBytesOfPath(QStringView path);

// Whether the path holds bytes that are not UTF-8.
bool hasForeignBytes(QStringView path);

// The path as the user reads it: each name in it that is not UTF-8 decoded as
// GBK, which is what such names almost always are; the others unchanged.
QString displayPath(const QString &path);

// Whether the path names something (a dangling symlink counts as nothing).
bool pathExists(const QString &path);

// The program's arguments after its own name, from the bytes the system
// passed (QCoreApplication::arguments() replaces bytes that are not UTF-8).
// Windows passes UTF-16, which Qt keeps.
QStringList argumentsFromLocalBytes(int argc, const char *const *argv);

// The local path of a file URL, with percent-encoded bytes that are not UTF-8
// kept (QUrl::toLocalFile() replaces them). Empty when the URL is not a
// local file.
QString pathFromFileUrl(const QUrl &url);

} // namespace Inkwell
