// The empty line after a table. Qt lays out an empty paragraph right after a
// table as if it were not there (it parks it at the table's bottom right),
// where other readers show it as a line of its own, and a save keeps it. So
// while such a paragraph is empty and something follows it in its place,
// the table stands that much taller instead: its bottom margin grows by the
// paragraph's height (noted in tableGapProperty, so that what the window
// adds is told from the table's own margin). A paragraph with text in it is
// shown by Qt itself, and the table loses the gap again.
#pragma once

#include <QPointF>
#include <QPointer>
#include <optional>
#include <vector>

class QTextBlock;
class QTextDocument;
class QTextTable;

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

} // namespace Inkwell
