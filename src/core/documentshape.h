// What a document holds that decides how it is shown, answered from the
// document alone: the editing control and the model ask the same questions.
#pragma once

#include <QtGlobal>

class QFont;
class QTextCharFormat;
class QTextDocument;

namespace Inkwell {

// How a document is shown and what it is: plain text (the fast view, whose
// costs stay flat in files of any size) or a rich document (the rich view,
// Qt's full layout: alignment, indents, lists, tables).
enum class DocumentKind { Plain, Rich };

// A paragraph longer than this many characters is a long line: the layout
// wraps it anywhere (longLineFont()), and an RTF holding one is shown as
// plain text.
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
// True when a change of `charsAdded` characters at `from` left a paragraph
// longer than longLineChars (only the paragraphs it touched are looked at).
bool changeMadeLongParagraph(const QTextDocument &document, int from, int charsAdded);

// Qt lays out a paragraph in one piece, all of its lines, whenever it
// changes. With the default wrap mode (at word boundaries, else anywhere) a
// line without break points (hex digits, base64, minified JSON, a log) costs
// time quadratic in its length: every screen line looks ahead to the next
// break point, at the far end of the paragraph. Measured here: 200,000
// characters of "x" took 13 s to show, 20 MB never. Wrapping anywhere makes
// the cost linear, and turning off shaping for text that needs none (Latin,
// digits, CJK) halves it again (200,000 characters: 0.7 s to show, 0.3 s per
// keystroke). The plain-text layout takes its wrap mode and font from the
// document for every paragraph alike, so the switch is for the whole
// document, and only once it holds a paragraph over longLineChars
// characters: ordinary text keeps wrapping at word boundaries and its
// kerning. What this cannot remove: a paragraph is still laid out whole on
// every change, about a microsecond per character. So the fast view holds
// a long line in pieces of softPieceChars (loaded, pasted, set), which
// keeps the quadratic cost small (about 5 ms a piece) and needs no switch;
// the switch remains for the rich view and for a paragraph grown long by
// joining pieces.
//
// The document's default font for the long-line layout (`on`) or for
// ordinary text.
QFont longLineFont(QFont font, bool on);

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
