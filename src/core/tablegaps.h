// The empty line after a table. Qt lays out an empty paragraph right after a
// table as if it were not there (it parks it at the table's bottom right),
// where other readers show it as a line of its own, and a save keeps it. So
// while such a paragraph is empty and something follows it in its place,
// the table stands that much taller instead: its bottom margin grows by the
// paragraph's height (noted in tableGapProperty, so that what the window
// adds is told from the table's own margin). A paragraph with text in it is
// shown by Qt itself, and the table loses the gap again.
// Also what else the window adds to a table's look only: the padding that
// shows a row as high as its file asks (below).
#pragma once

#include <QPointF>
#include <QPointer>
#include <functional>
#include <optional>
#include <vector>

class QAbstractTextDocumentLayout;
class QTextBlock;
class QTextDocument;
class QTextTable;
class QTextTableCell;

namespace Inkwell {

struct TableGap {
    QPointer<QTextTable> table;
    qreal gap = 0; // the height to add below the table, in the document's units
};

// The tables whose paragraph after it lies in [from, to] (or borders it)
// and whose shown gap is not what that paragraph asks for now.
std::vector<TableGap> unsettledTableGaps(const QTextDocument &document, int from, int to);
// Sets each table's gap (a format change: the caller decides its undo step).
void applyTableGaps(const std::vector<TableGap> &gaps);
// Both at once.
void settleTableGaps(QTextDocument &document, int from, int to);
// Whether an edit of [from, to] may show or hide the line after a table: the
// line is empty or holds one character, in or next to the range.
bool editMayMoveTableGap(const QTextDocument &document, int from, int to);

// Where the window shows a line that Qt parks: Qt lays out the empty
// paragraph after a table at the table's bottom right, while the window
// shows it in the table's gap, at the left where the paragraph would begin.
// For such a paragraph (empty, its gap shown), how far the shown line lies
// from where Qt laid it out, in the layout's units; nothing for any other
// paragraph, or before the layout has placed it.
std::optional<QPointF> shownGapLineOffset(const QTextDocument &document, const QTextBlock &block);

// Rows shown as high as their file asks (rowHeightProperty): Qt lays a row
// out as high as its content, so a lower one gets more padding below the
// text of its cells, the file's own kept in statedBottomPaddingProperty.

// The height asked for a row, in twips: the one the writer writes, held by
// the first cell that begins in the row; 0 for none.
int askedRowTwips(const QTextTable &table, int row);
// The height of a cell's paragraphs and tables as laid out, from the first
// one's space above to the last one's space below: without its padding. In
// the layout's units, `scale` of them to one of the document's.
qreal cellContentHeight(QAbstractTextDocumentLayout &layout, const QTextTableCell &cell,
                        qreal scale = 1);
// Shows `bottom` as the padding below the text of the cell at `row`,
// `column`, keeping the file's own when `keepStated` (and none is kept yet).
void showCellBottomPadding(QTextTable &table, int row, int column, qreal bottom, bool keepStated);
// After an edit of [from, to] of a document a view lays out: each row there
// (of the tables there, nested ones and the rows around them too) that asks
// for a height gets the padding that makes it as high as asked now: the
// file's own once its content fills the row, more again when content goes.
// Measured in the document's own layout, which lays out `scale` pixels for
// each of the document's (a view's zoom). `beforeChange` runs once before
// the first change (the caller opens the undo step); true when any cell
// changed. Only the rows the edit reaches are looked at.
bool refitRowHeights(QTextDocument &document, int from, int to, qreal scale,
                     const std::function<void()> &beforeChange);

} // namespace Inkwell
