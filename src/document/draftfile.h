// The bytes of a draft file. A header of "key=value" lines, a blank line,
// then records:
//
//   INKWELL-DRAFT 2
//   title=<the document's shown title> path=<file last read or saved, or empty>
//   saved=<ISO 8601 time with offset> encoding=ansi|utf8|utf16le|utf16be
//   codepage=<n>  bom=0|1  eol=crlf|lf|cr  encrypted=0|1
//   <blank line>
//   <record> <record> ...
//
// (one key per line; values percent-encoded UTF-8). Each record is framed
// as one byte of type, four bytes of payload length (little-endian), the
// payload, and eight bytes of the contentHash() of type, length and payload.
// The first record is the base the document is rebuilt from (draftjournal.h:
// its source file, empty, or a snapshot); the records after it are edits and
// pictures, appended as the document changes. A file cut short by a crash
// holds its records up to the last whole one, and that is what it restores.
// The draft of an encrypted document is scrambled as a whole, byte by byte,
// so appending to it scrambles only what is appended and its text never
// stands plain.
//
// Format 1 (INKWELL-DRAFT 1) held the whole document as RTF after the header
// with its length and SHA-256; such drafts are still read.
#pragma once

#include "core/error.h"
#include "core/textencoding.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <vector>

namespace Inkwell {

struct DraftHeader {
    QString title;
    QString path;
    QDateTime saved;
    TextEncoding encoding;
    bool encrypted = false;
};

// Record types.
enum class DraftRecordType : quint8 { Base = 'B', Picture = 'P', Edit = 'E' };

struct DraftRecord {
    DraftRecordType type;
    QByteArray payload;
};

// The header of a format 2 draft, up to and with its blank line (not
// scrambled: the writer scrambles the whole file of an encrypted document).
QByteArray encodeDraftHeader(const DraftHeader &header);
// One framed record, appended as it is to the file.
QByteArray frameDraftRecord(DraftRecordType type, const QByteArray &payload);

// A format 1 draft: the header and the document as RTF. Older versions wrote
// these; nothing writes them now but tests of their recovery.
QByteArray encodeRtfDraft(const DraftHeader &header, const QByteArray &rtf);

struct DecodedDraft {
    DraftHeader header;
    int version = 2;
    QByteArray rtf;                   // format 1: the whole document
    std::vector<DraftRecord> records; // format 2: the base first
    // Format 2: the bytes of the file up to the end of its last whole record;
    // what follows is a record cut short (or damaged) and is not restored.
    qint64 wholeBytes = 0;
};

// Accepts the plain and the scrambled form. The draft, or why it cannot be
// restored (the Error's `why`, for the user): a draft without a whole base
// record cannot.
Result<DecodedDraft> decodeDraft(QByteArray bytes);

} // namespace Inkwell
