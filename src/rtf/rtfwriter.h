// QTextDocument → RTF 1.x bytes that RichEdit, Word and LibreOffice read.
#pragma once

#include <QByteArray>

class QTextDocument;

namespace Inkwell::Rtf {

// The whole document. Deterministic: the same document gives the same bytes.
// `codePage` is written as \ansicpg and used for the byte fallbacks of text
// in fonts that have no character set of their own.
QByteArray write(const QTextDocument &document, int codePage);

// Only the characters [from, to) of the document (document positions); a
// paragraph end inside the range is written as \par.
QByteArray write(const QTextDocument &document, int from, int to, int codePage);

} // namespace Inkwell::Rtf
