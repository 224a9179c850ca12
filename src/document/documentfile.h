// The document's files, apart from any widget: which format a name or the
// bytes choose, reading a file's bytes as the document sees them, parsing
// RTF into a document and serialising a document into the bytes a save
// writes. Errors come back as values, in Chinese.
#pragma once

#include "core/atomicfile.h"
#include "core/documentimages.h"
#include "core/error.h"
#include "core/filestamp.h"
#include "core/textencoding.h"

#include <QByteArray>
#include <QString>
#include <optional>

class QTextDocument;

namespace Inkwell {

enum class FileFormat { PlainText, Scrambled, Rtf };

// The format a save writes, chosen by the file title's last three
// characters, lower-cased: "txt" plain text, "stx" scrambled plain text,
// anything else (a.doc, readme) RTF.
FileFormat saveFormatFor(const QString &fileTitle);

// How a file is opened: as text (RTF when its bytes begin with "{\rtf"), or
// as a scrambled text file, unscrambled in memory.
enum class ReadMode { Text, Scrambled };

struct DocumentBytes {
    QByteArray bytes;  // unscrambled when read as a scrambled file
    bool rich = false; // RTF: parse them; otherwise decode them as text
    // The file as it was read: a later save asks before it overwrites a
    // change made since.
    std::optional<FileStamp> stamp;
    // contentHash() of the bytes on disk (before any unscrambling): a draft
    // journal of the document names its source by it.
    quint64 hash = 0;
};

// Reads a file whole as the document will see it. A path that names nothing
// is created empty (its owner's alone when read as a scrambled file);
// anything but a regular file, and a file over `limit` bytes, is refused.
// The error's `what` is "无法打开文件“<path>”".
Result<DocumentBytes> readDocumentFile(const QString &path, ReadMode mode, qint64 limit);

struct ParsedRtf {
    DocumentImages::BudgetUse pictures; // what the pictures spent of the budget
    qint64 keptDropped = 0; // bytes of hidden groups past the cap: a save loses them
};

// Replaces the document's content with the RTF's, read once; an Error
// when the bytes are no RTF.
Result<ParsedRtf> parseRtf(const QByteArray &bytes, QTextDocument &document);

struct Serialized {
    QByteArray bytes;
    // False when a character has no form in the encoding (written as "?").
    bool lossless = true;
    // Who may read a file these bytes create: a scrambled note only its
    // owner, so that nobody else on the machine can unscramble it.
    NewFileAccess access = NewFileAccess::Shared;
};

// The bytes a save writes: the plain text in the file's own encoding and
// line ending (scrambled in memory for the scrambled format, so its plain
// text never reaches the disk), or RTF whose byte fallbacks use the
// encoding's code page.
Serialized serialize(const QTextDocument &document, const TextEncoding &encoding,
                     FileFormat format);

// Writes a save's bytes over the path (see writeFileAtomically): a new file
// gets the access the bytes call for from its first byte on; an existing
// file keeps its mode.
std::optional<Error> writeDocument(const QString &path, const Serialized &file);

// The code page of an RTF save under `encoding`: its own when it has one,
// else the system's.
int rtfCodePageFor(const TextEncoding &encoding);

// The error of a failed save, in the message frame the user reads.
Error saveError(const QString &path, const Error &cause);

} // namespace Inkwell
