// Questions about a document's text answered without a view: where a
// search finds its match, and which line and column a position is in.
// Positions in and out are the text's (Text(), Find): a soft break is no
// character of it, so the document's positions are mapped (documenttext.h).
#pragma once

#include <QString>
#include <optional>

class QTextCursor;
class QTextDocument;

namespace Inkwell {

// Case-insensitive search, matches may lie inside words, no wrap. With no
// start and no end: in the cursor's selection if it has one, else the whole
// text; with an end only: from the cursor's position to the end. Returns
// the text position of the first match, or -1.
int findInDocument(const QTextDocument &document, const QString &text, const QTextCursor &cursor,
                   std::optional<int> start = std::nullopt, std::optional<int> end = std::nullopt);

// Line and column (from 1) of a document position. Lines are the text's
// lines as separated by line breaks (a line held in pieces is one), not the
// wrapped lines on screen; the column counts from the start of that line.
struct LineColumn {
    int line;
    int column;
};
LineColumn lineColumnAt(const QTextDocument &document, int documentPosition);

// The cursor's selection in text positions: where it starts and how many
// characters of the text it holds.
int textSelectionStart(const QTextCursor &cursor);
int textSelectionLength(const QTextCursor &cursor);
// Puts the cursor at a text position (clamped to the text), selection emptied.
void setTextPosition(QTextCursor &cursor, int position);
// Selects `length` characters of the text from the selection's start
// (clamped to the text's end).
void setTextSelectionLength(QTextCursor &cursor, int length);
// The selected text, lines separated by "\n", without the soft breaks.
QString selectedText(const QTextCursor &cursor);

} // namespace Inkwell
