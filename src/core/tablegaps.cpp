#include "core/tablegaps.h"

#include "core/formatproperties.h"

#include <QAbstractTextDocumentLayout>
#include <QGuiApplication>
#include <QHash>
#include <QPaintDevice>
#include <QScreen>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QTextTable>
#include <QTextTableCell>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace Inkwell {

namespace {

// The table a paragraph directly follows, if any (the outermost one that ends
// right before it: a nested table may end its last cell).
QTextTable *tableBefore(const QTextDocument &document, const QTextBlock &block)
{
    if (block.position() == 0)
        return nullptr;
    for (QTextFrame *frame = document.frameAt(block.position() - 1); frame;
         frame = frame->parentFrame()) {
        if (frame->lastPosition() != block.position() - 1)
            break;
        if (auto *table = qobject_cast<QTextTable *>(frame))
            return table;
    }
    return nullptr;
}

// Whether anything follows the paragraph where it stands: in its table cell,
// or in its frame. The paragraph Qt keeps after a table that ends the
// document or a cell is its own, not the file's or the user's line.
bool lastInItsPlace(const QTextBlock &block)
{
    const QTextCursor at(block);
    if (const QTextTable *table = at.currentTable())
        return block.position() >= table->cellAt(block.position()).lastPosition();
    return block.position() >= at.currentFrame()->lastPosition();
}

// How far Qt would move what follows for this empty paragraph, were it shown:
// one line of its font with its line spacing (Qt lays out no space before a
// paragraph that follows a table; its space after it lays out either way).
qreal shownHeight(const QTextDocument &document, const QTextBlock &block)
{
    QTextDocument scratch;
    scratch.setDocumentMargin(0);
    scratch.setDefaultFont(document.defaultFont());
    QTextBlockFormat format = block.blockFormat();
    format.setTopMargin(0);
    format.setBottomMargin(0);
    format.clearProperty(QTextFormat::PageBreakPolicy);
    QTextCursor cursor(&scratch);
    cursor.setBlockFormat(format);
    cursor.setBlockCharFormat(block.charFormat());
    return scratch.documentLayout()->documentSize().height();
}

// Heights by the paragraph's format and font: most empty lines after tables
// share them, and each measure lays out a document. (Their character formats
// are seldom the same: Qt's paragraph after a table keeps the table's object
// in its own.)
using Heights = QHash<std::pair<int, QString>, qreal>;

qreal wantedGap(const QTextDocument &document, const QTextBlock &after, Heights &heights)
{
    if (after.length() != 1 || lastInItsPlace(after))
        return 0;
    const QTextCharFormat chars = after.charFormat();
    const std::pair key{after.blockFormatIndex(),
                        chars.font().key() + QString::number(chars.verticalAlignment())};
    const auto found = heights.constFind(key);
    if (found != heights.constEnd())
        return *found;
    const qreal height = shownHeight(document, after);
    heights.insert(key, height);
    return height;
}

// Calls `visit(table, line)` for each table whose line after it begins in
// [from, to], until it returns false.
template <class Visit>
bool forTablesEndingIn(const QTextDocument &document, QTextFrame *frame, int from, int to,
                       Visit &visit)
{
    const QList<QTextFrame *> children = frame->childFrames();
    for (QTextFrame *child : children) {
        // The paragraph after a frame begins one past its last position.
        if (child->lastPosition() + 1 < from || child->firstPosition() > to)
            continue;
        if (!forTablesEndingIn(document, child, from, to, visit))
            return false;
        auto *table = qobject_cast<QTextTable *>(child);
        if (!table)
            continue;
        const QTextBlock after = document.findBlock(table->lastPosition() + 1);
        if (!after.isValid() || after.position() != table->lastPosition() + 1 ||
            tableBefore(document, after) != table)
            continue;
        if (!visit(table, after))
            return false;
    }
    return true;
}

// The same, for the tables whose line after it lies in [from, to] or is the
// paragraph before or after it: a line typed after an empty one, or the text
// after it removed, decides too.
template <class Visit>
void forTablesEndingNear(const QTextDocument &document, int from, int to, Visit visit)
{
    if (document.rootFrame()->childFrames().isEmpty())
        return;
    const QTextBlock first = document.findBlock(from);
    const QTextBlock last = document.findBlock(to);
    const int low = first.previous().isValid() ? first.previous().position() : 0;
    const int high = last.next().isValid() ? last.next().position() : document.characterCount();
    forTablesEndingIn(document, document.rootFrame(), low, high, visit);
}

} // namespace

std::vector<TableGap> unsettledTableGaps(const QTextDocument &document, int from, int to)
{
    std::vector<TableGap> gaps;
    Heights heights;
    forTablesEndingNear(document, from, to, [&](QTextTable *table, const QTextBlock &after) {
        const qreal gap = wantedGap(document, after, heights);
        const qreal shown = table->format().doubleProperty(tableGapProperty);
        if (std::abs(gap - shown) > 0.01)
            gaps.push_back({table, gap});
        return true;
    });
    return gaps;
}

bool editMayMoveTableGap(const QTextDocument &document, int from, int to)
{
    bool may = false;
    forTablesEndingNear(document, from, to, [&](QTextTable *, const QTextBlock &after) {
        may = after.length() <= 2;
        return !may;
    });
    return may;
}

std::optional<QPointF> shownGapLineOffset(const QTextDocument &document, const QTextBlock &block)
{
    if (!block.isValid() || block.length() != 1)
        return std::nullopt;
    const QTextTable *table = tableBefore(document, block);
    const qreal gap = table ? table->format().doubleProperty(tableGapProperty) : 0;
    if (gap <= 0)
        return std::nullopt;
    // Qt moved the paragraph's layout from the left of its frame's flow to
    // the table's right, its lines' box ending at the table's bottom; the
    // paragraph before the table stands at that left (in the same frame, so
    // in the same units). The shown line begins where the gap does, and its
    // lines keep their indents and spacing relative to the layout.
    const QTextBlock before = document.findBlock(table->firstPosition() - 1);
    const QTextLayout *parked = block.layout();
    if (!before.isValid() || !parked || !before.layout() || parked->lineCount() == 0)
        return std::nullopt;
    // Qt scales the table's margins, the gap among them, as it scales the
    // text for a paint device of another resolution than the screen's (a
    // view's zoom).
    qreal scale = 1;
    const QPaintDevice *device = document.documentLayout()->paintDevice();
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (device && screen && device->logicalDpiY() > 0)
        scale = device->logicalDpiY() / qreal(qRound(screen->logicalDotsPerInchY()));
    return QPointF(before.layout()->position().x() - parked->position().x(),
                   parked->boundingRect().height() - gap * scale);
}

void applyTableGaps(const std::vector<TableGap> &gaps)
{
    for (const TableGap &gap : gaps) {
        if (!gap.table)
            continue;
        QTextTableFormat format = gap.table->format();
        const qreal shown = format.doubleProperty(tableGapProperty);
        format.setBottomMargin(std::max<qreal>(0, format.bottomMargin() - shown) + gap.gap);
        if (gap.gap > 0)
            format.setProperty(tableGapProperty, gap.gap);
        else
            format.clearProperty(tableGapProperty);
        gap.table->setFormat(format);
    }
}

void settleTableGaps(QTextDocument &document, int from, int to)
{
    applyTableGaps(unsettledTableGaps(document, from, to));
}

// Rows shown as high as asked.

namespace {

constexpr qreal twipsPerPixel = 15;

// The padding below a cell's text that the file gave it (the table's where
// it gave none), whether or not more is shown.
qreal statedBottom(const QTextTableCellFormat &format, qreal tablePadding)
{
    if (format.hasProperty(statedBottomPaddingProperty)) {
        const qreal stated = format.doubleProperty(statedBottomPaddingProperty);
        return stated >= 0 ? stated : tablePadding;
    }
    return format.hasProperty(QTextFormat::TableCellBottomPadding) ? format.bottomPadding()
                                                                   : tablePadding;
}

struct Touched {
    QTextTable *table;
    int depth;
    int firstRow;
    int lastRow;
};

// The tables in and under `frame` that [from, to] reaches into, with the
// rows it reaches, where any of those rows asks for a height (only those
// rows are looked at: a key typed in a cell costs one row's look).
void collectTouched(const QTextFrame &frame, int depth, int from, int to, std::vector<Touched> &out)
{
    const QList<QTextFrame *> children = frame.childFrames();
    for (QTextFrame *child : children) {
        if (child->lastPosition() < from || child->firstPosition() > to)
            continue;
        auto *table = qobject_cast<QTextTable *>(child);
        if (table) {
            int first = 0;
            int last = table->rows() - 1;
            if (from >= table->firstPosition()) {
                const QTextTableCell cell = table->cellAt(from);
                if (cell.isValid())
                    first = cell.row();
            }
            if (to <= table->lastPosition()) {
                const QTextTableCell cell = table->cellAt(to);
                if (cell.isValid())
                    last = std::min(cell.row() + cell.rowSpan() - 1, last);
            }
            for (int row = first; row <= last; ++row) {
                if (askedRowTwips(*table, row) != 0) {
                    out.push_back({table, depth, first, last});
                    break;
                }
            }
        }
        collectTouched(*child, table ? depth + 1 : depth, from, to, out);
    }
}

} // namespace

int askedRowTwips(const QTextTable &table, int row)
{
    for (int column = 0; column < table.columns(); ++column) {
        const QTextTableCell cell = table.cellAt(row, column);
        if (cell.row() == row && cell.column() == column)
            return cell.format().intProperty(rowHeightProperty);
    }
    return 0;
}

qreal cellContentHeight(QAbstractTextDocumentLayout &layout, const QTextTableCell &cell,
                        qreal scale)
{
    qreal top = std::numeric_limits<qreal>::max();
    qreal bottom = std::numeric_limits<qreal>::lowest();
    for (auto it = cell.begin(); !it.atEnd(); ++it) {
        QRectF rect;
        if (QTextFrame *frame = it.currentFrame()) {
            rect = layout.frameBoundingRect(frame);
        } else {
            const QTextBlock block = it.currentBlock();
            const QTextBlockFormat format = block.blockFormat();
            rect = layout.blockBoundingRect(block);
            if (!rect.isNull())
                rect.adjust(0, -format.topMargin() * scale, 0, format.bottomMargin() * scale);
        }
        if (rect.isNull())
            continue; // hidden
        top = std::min(top, rect.top());
        bottom = std::max(bottom, rect.bottom());
    }
    return bottom > top ? bottom - top : 0;
}

void showCellBottomPadding(QTextTable &table, int row, int column, qreal bottom, bool keepStated)
{
    QTextTableCell cell = table.cellAt(row, column);
    QTextTableCellFormat format = cell.format().toTableCellFormat();
    if (keepStated && !format.hasProperty(statedBottomPaddingProperty))
        format.setProperty(statedBottomPaddingProperty,
                           format.hasProperty(QTextFormat::TableCellBottomPadding)
                               ? format.bottomPadding()
                               : -1.0);
    format.setBottomPadding(bottom);
    cell.setFormat(format);
}

bool refitRowHeights(QTextDocument &document, int from, int to, qreal scale,
                     const std::function<void()> &beforeChange)
{
    if (document.rootFrame()->childFrames().isEmpty())
        return false;
    std::vector<Touched> touched;
    collectTouched(*document.rootFrame(), 0, from, to, touched);
    if (touched.empty())
        return false;
    const int deepest =
        std::max_element(touched.begin(), touched.end(), [](const Touched &a, const Touched &b) {
            return a.depth < b.depth;
        })->depth;
    QAbstractTextDocumentLayout &layout = *document.documentLayout();
    bool changed = false;
    // The deepest rows first: a row around a table is measured once the
    // table's rows are as they will be shown.
    for (int depth = deepest; depth >= 0; --depth) {
        int dirtyFrom = std::numeric_limits<int>::max();
        int dirtyTo = -1;
        for (const Touched &each : touched) {
            if (each.depth != depth)
                continue;
            QTextTable &table = *each.table;
            const qreal tablePadding = table.format().cellPadding();
            for (int row = each.firstRow; row <= each.lastRow; ++row) {
                const int asked = askedRowTwips(table, row);
                if (asked == 0)
                    continue;
                const qreal wanted = std::abs(asked) / twipsPerPixel;
                for (int column = 0; column < table.columns(); ++column) {
                    QTextTableCell cell = table.cellAt(row, column);
                    if (cell.row() != row || cell.column() != column || cell.rowSpan() != 1)
                        continue;
                    QTextTableCellFormat format = cell.format().toTableCellFormat();
                    const qreal top = format.hasProperty(QTextFormat::TableCellTopPadding)
                                          ? format.topPadding()
                                          : tablePadding;
                    const qreal stated = statedBottom(format, tablePadding);
                    const qreal current = format.hasProperty(QTextFormat::TableCellBottomPadding)
                                              ? format.bottomPadding()
                                              : tablePadding;
                    const qreal height =
                        cellContentHeight(layout, cell, scale) / scale + top + stated;
                    const qreal bottom = height < wanted ? stated + wanted - height : stated;
                    if (std::abs(bottom - current) < 0.01)
                        continue;
                    if (!changed)
                        beforeChange();
                    changed = true;
                    if (bottom > stated) {
                        showCellBottomPadding(table, row, column, bottom, true);
                    } else {
                        // Back to the file's own: nothing more to keep.
                        const qreal own = format.doubleProperty(statedBottomPaddingProperty);
                        if (format.hasProperty(statedBottomPaddingProperty) && own < 0)
                            format.clearProperty(QTextFormat::TableCellBottomPadding);
                        else
                            format.setBottomPadding(stated);
                        format.clearProperty(statedBottomPaddingProperty);
                        cell.setFormat(format);
                    }
                    dirtyFrom = std::min(dirtyFrom, cell.firstPosition());
                    dirtyTo = std::max(dirtyTo, cell.lastPosition());
                }
            }
        }
        // Qt lays a table out again when its text changes, not when only
        // its cells' formats do (only the changed cells' text is laid out
        // again; the rest of the table moves).
        if (dirtyTo >= 0)
            document.markContentsDirty(dirtyFrom, dirtyTo - dirtyFrom + 1);
    }
    return changed;
}

} // namespace Inkwell
