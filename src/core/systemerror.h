#pragma once

#include <QString>

class QFileDevice;

namespace Inkwell {

// Which way a file was being used when the system refused: a refusal to read
// and a refusal to write call for different advice.
enum class FileAccess { Read, Write };

// The system's error number as a Chinese reason the user can act on. Every
// number gets a Chinese text; one without its own says which number it was.
QString reasonFor(int errnoValue, FileAccess access = FileAccess::Write);

// The reason a QFile (or QSaveFile) operation just failed, in Chinese: Qt's
// own errorString() is English. Call it right after the failing call, while
// the system's error number still belongs to it.
QString reasonForFailed(const QFileDevice &file, FileAccess access);

// A path for a message, as the user reads it (see displayPath): one longer
// than the limit keeps its beginning and its end (the file name whole where
// it fits) with "…" between them.
QString shortenedPath(const QString &path, qsizetype limit = 120);

// A size for a message: "512 字节", "3.2 MB", "1.0 GB".
QString sizeText(qint64 bytes);

} // namespace Inkwell
