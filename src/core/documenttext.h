// The plain text of a document as the rest of the program sees it.
#pragma once

#include "core/formatproperties.h"

#include <QHash>
#include <QString>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextTableFormat>
#include <QTextFormat>

#include <vector>

class QTextCursor;
class QTextList;

namespace Inkwell {

// Soft breaks. Qt lays out a changed paragraph whole, so a line of millions
// of characters (minified JSON, base64, a log) would cost seconds per
// keystroke. Such a line is held as several paragraphs of at most
// softPieceChars characters; every paragraph after the first continues the
// line, and the break before it is no character of the text: the text,
// positions, saves and drafts leave it out.
//
// A continuing paragraph's block format carries a number unique to its
// break (softBreakProperty). Qt gives the paragraph that a typed or pasted
// line break splits off the format of the one it came from, so a paragraph
// with its predecessor's number was made by a real break; a deleted break
// keeps the first paragraph's format, and undo restores formats. So the
// marks stay right through editing with no bookkeeping of their own.
constexpr int softPieceChars = 4096;

// True when the paragraph continues the line of the one before it.
bool continuesLine(const QTextBlock &block);
// False only when the document never held a soft break since it was last
// emptied (so every position maps to itself at no cost).
bool mayHaveSoftBreaks(const QTextDocument &document);
void forgetSoftBreaks(QTextDocument &document); // for an emptied document

// Where the soft breaks of a document are, to map document positions (which
// count each break as a character) to text positions (which do not).
class SoftBreaks {
public:
    explicit SoftBreaks(const QTextDocument &document);
    bool isEmpty() const { return m_starts.empty(); }
    int toText(int documentPosition) const;
    // The document position of a text position; at a break, the start of
    // the continuing paragraph.
    int toDocument(int textPosition) const;
    // `text` read from the document at `documentStart`, one character per
    // position, without the breaks' characters.
    QString removeFrom(QString text, int documentStart) const;
    // Document positions of the continuing paragraphs, ascending.
    const std::vector<int> &starts() const { return m_starts; }

private:
    std::vector<int> m_starts;
};

// Starts a continuing paragraph at the cursor with `format` for its mark.
void insertSoftBreak(QTextCursor &cursor, const QTextCharFormat &format);
// Inserts `text` ("\n" ends a line) at the cursor with `format`, breaking
// any paragraph that would grow past softPieceChars softly. Returns true
// when it made a soft break.
bool insertBreakingLongLines(QTextCursor &cursor, QStringView text, const QTextCharFormat &format);
// Breaks softly every paragraph of a document longer than `pieceChars`
// (softPieceChars; the fuzz test asks for short pieces) that is in no list
// or table. Returns true when it made a break.
bool breakLongParagraphs(QTextDocument &document, int pieceChars = softPieceChars);

// Gives a table the look of a bordered word-processor table: one thin line
// between cells and round the table. Qt's collapsed borders look the same
// but cost several times as much on each keystroke in a cell, so the table
// has separate borders with its cells overlapping by the border's width.
void drawSingleBorders(QTextTableFormat &format);
bool drawsSingleBorders(const QTextTableFormat &format);

// Whether the cursor's selection holds a part of a table drawn so.
bool selectionHasSingleBorders(const QTextCursor &cursor);

// Gives the document's tables drawn so Qt's collapsed borders instead: HTML
// and ODF readers know collapsed borders, but take a negative cell spacing
// for none and would draw every cell's border beside its neighbour's.
void collapseSingleBorders(QTextDocument &document);

// The direction of the document's paragraphs that do not state their own:
// Qt::LayoutDirectionAuto takes it from each paragraph's first letter that
// has one (a plain text's lines); a document read from RTF runs left to
// right, as RTF's paragraphs do unless marked, and its layout then need not
// look for that letter each time it places a paragraph.
void setParagraphDirection(QTextDocument &document, Qt::LayoutDirection direction);

// The whole document as one string: lines separated by "\n", pictures as
// U+FFFC. Raw text keeps no-break spaces, which toPlainText() would turn
// into blanks. One character per text position: Find and the caret depend
// on it.
QString plainTextOf(const QTextDocument &document);

// The text plainTextOf() gives, read a piece at a time, so that a big
// document is walked without a copy of its whole text: each paragraph's
// text, then the mark that ends it ("\n" for a paragraph break, nothing
// before a paragraph that continues the line, a frame's own mark as the
// raw text has it), nothing after the last. It reads through the blocks
// only: a cursor would lay out the paragraphs it is put in.
class PlainTextPieces {
public:
    explicit PlainTextPieces(const QTextDocument &document);
    bool atEnd() const { return !m_block.isValid(); }
    // Appends whole paragraphs to `out` until it holds at least `atLeast`
    // characters or the text ends.
    void appendUpTo(QString &out, qsizetype atLeast);
    // The document position reached: where the next paragraph starts.
    int position() const { return m_position; }

private:
    int softNumber(const QTextBlock &block);

    const QTextDocument &m_document;
    QTextBlock m_block;
    int m_position = 0;
    bool m_frames = false;
    bool m_softBreaks = false;
    int m_number = 0;           // the soft-break number of m_block
    QHash<int, int> m_numberOf; // block format index -> its soft-break number
};

// Long lists (see listChainProperty): a reader starts a new part of a
// chain once its current part holds this many items.
inline constexpr int listPartItems = 200;
// A chain number no other chain in the process has.
int newListChain();

// Where the parts of a document's long lists stand in their chains: a part's
// first item comes after the items of the parts of its chain whose first
// items come before it. Made in one pass over the document; it holds for
// the document as it was then.
class ListChains {
public:
    explicit ListChains(const QTextDocument &document);
    // The items of `list`'s chain before its own first one (0 for a list in
    // no chain).
    int itemsBefore(const QTextList &list) const { return m_before.value(&list, 0); }

private:
    QHash<const QTextList *, int> m_before;
};
// The number of `block`'s item in its list counted from 0, on across the
// parts of a chain; -1 outside lists.
int listItemIndex(const QTextBlock &block, const ListChains *chains = nullptr);

// The label a list shows in front of its item number `index` (0 for the
// first item): "1.", "a)", "iv." with the format's prefix and suffix, or
// the bullet for the bullet styles ("●", "○", "■": characters GBK has).
QString listLabel(const QTextList &list, int index);

// Qt 6.4 draws a numbered list's labels from 1 and a bullet list's own
// bullet ("–", "✓") as its style's dot, and numbers each part of a long
// list (listChainProperty) from the start. An item of a list that counts
// from another number, has a bullet of its own or is such a part has Qt's
// label turned off (the paragraph's ListStyle set to none; the list keeps
// its style) and the view draws this label instead.
bool qtDrawsWrongLabel(const QTextList &list);
bool labelDrawnByView(const QTextBlock &block);
// The label shown in front of a list item: the one the view draws, or Qt's
// (empty for Qt's bullets, which are drawn, not written). `chains` saves a
// pass over the document for an item of a long list.
QString shownListLabel(const QTextBlock &block, const ListChains *chains = nullptr);
// Turns Qt's label off for the items in [from, to] whose list Qt labels
// wrongly (qtDrawsWrongLabel); the view draws theirs.
void handListLabelsToView(QTextDocument &document, int from, int to);

// The document as a text file holds it: list items begin with their label
// and a blank (indented by four blanks per level, as LibreOffice's text
// export writes them), a table row is one line with its cells separated by
// tabs (a nested table's cells flattened into its cell, a cell's paragraphs
// joined by blanks), line breaks inside a paragraph are line ends, and the
// table frame marks never appear. Pictures stay U+FFFC. Lines end in "\n".
QString exportPlainText(const QTextDocument &document);
// True when that export is the raw text with its paragraph marks as line
// ends: no table or other frame, no list whose labels it would write.
bool plainTextIsRawText(const QTextDocument &document);

// CRLF and CR become "\n", in place and in one pass.
void normaliseBreaks(QString &text);

} // namespace Inkwell
