// What a document holds that decides how it is shown, answered from the
// document alone: the editing control and the model ask the same questions.
#pragma once

#include <QtGlobal>

class QTextCharFormat;
class QTextDocument;

namespace Inkwell {

// How a document is shown and what it is: plain text (the fast view, whose
// costs stay flat in files of any size) or a rich document (the rich view,
// Qt's full layout: alignment, indents, lists, tables).
enum class DocumentKind { Plain, Rich };

// A paragraph longer than this many characters is a long line: the layout
// wraps it anywhere, and an RTF holding one is shown as plain text.
constexpr qsizetype longLineChars = 10000;
// An RTF longer than this many characters that holds nothing only the rich
// view shows is shown as plain text: the rich view's costs grow with the
// document, the fast view's do not.
constexpr int richViewChars = 1000000;

// True when the document holds what only the rich view can show: tables,
// lists, or paragraphs with an alignment, indents, spacing or tab stops.
bool needsRichView(const QTextDocument &document);
// True when a paragraph holds more than longLineChars characters.
bool hasLongParagraph(const QTextDocument &document);
// The kind a document just read from RTF is shown as. A long RTF, or one
// with a long paragraph, holding nothing but character formats and
// pictures looks the same as plain text, so it is one.
DocumentKind kindOfReadRtf(const QTextDocument &document);
// True when a character has a format other than `plainFormat`'s look (a
// font, size, style, colour) or is a picture, or, in a rich document, the
// document holds tables, lists or paragraph formats: what a plain-text
// save drops.
bool hasFormatting(const QTextDocument &document, DocumentKind kind,
                   const QTextCharFormat &plainFormat);

} // namespace Inkwell
