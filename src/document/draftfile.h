// The bytes of a draft file. A header of "key=value" lines, a blank line,
// then the document as RTF:
//
//   INKWELL-DRAFT 1
//   title=<the document's shown title> path=<file last read or saved, or empty>
//   saved=<ISO 8601 time with offset> encoding=ansi|utf8|utf16le|utf16be
//   codepage=<n>  bom=0|1  eol=crlf|lf|cr  encrypted=0|1
//   length=<bytes of RTF>  sha256=<hex of the RTF>
//   <blank line>
//   {\rtf1 ...
//
// (one key per line; values percent-encoded UTF-8). The length and digest
// tell a draft cut short or damaged from a whole one. The draft of an
// encrypted document is scrambled as a whole, so its text never stands plain.
#pragma once

#include "core/error.h"
#include "core/textencoding.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace Inkwell {

struct DraftHeader {
    QString title;
    QString path;
    QDateTime saved;
    TextEncoding encoding;
    bool encrypted = false;
};

QByteArray encodeDraft(const DraftHeader &header, const QByteArray &rtf);

struct DecodedDraft {
    DraftHeader header;
    QByteArray rtf;
};

// Accepts the plain and the scrambled form.
// The draft, or why it cannot be restored (the Error's `why`, for the user).
Result<DecodedDraft> decodeDraft(QByteArray bytes);

} // namespace Inkwell
