#include "rtf/shownrowheights.h"

#include "core/formatproperties.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <vector>

namespace Inkwell::Rtf {

namespace {

constexpr qreal twipsPerPixel = 15;
// A4 less margins of 20 mm, in pixels: the width Inkwell prints at.
constexpr qreal printedTextWidth = (11906 - 2 * 1134) / twipsPerPixel;

// The height asked for a row: the one the writer writes, held by the first
// cell that begins in the row.
int askedTwips(const QTextTable &table, int row)
{
    for (int column = 0; column < table.columns(); ++column) {
        const QTextTableCell cell = table.cellAt(row, column);
        if (cell.row() == row && cell.column() == column)
            return cell.format().intProperty(rowHeightProperty);
    }
    return 0;
}

bool asksForHeights(const QTextTable &table)
{
    for (int row = 0; row < table.rows(); ++row)
        if (askedTwips(table, row) != 0)
            return true;
    return false;
}

// The tables in [from, to] that ask for a row's height, by how deep they are
// nested: a table's rows are measured once the tables in its cells are shown.
void findTables(const QTextFrame &frame, int from, int to, size_t depth,
                std::vector<std::vector<QTextTable *>> &byDepth)
{
    const QList<QTextFrame *> children = frame.childFrames();
    for (QTextFrame *child : children) {
        if (child->lastPosition() < from || child->firstPosition() > to)
            continue;
        auto *table = qobject_cast<QTextTable *>(child);
        if (table && asksForHeights(*table)) {
            if (byDepth.size() <= depth)
                byDepth.resize(depth + 1);
            byDepth[depth].push_back(table);
        }
        findTables(*child, from, to, table ? depth + 1 : depth, byDepth);
    }
}

// The height of a cell's paragraphs and tables as laid out, from the first
// one's space above to the last one's space below: without its padding.
qreal contentHeight(QAbstractTextDocumentLayout &layout, const QTextTableCell &cell)
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
                rect.adjust(0, -format.topMargin(), 0, format.bottomMargin());
        }
        if (rect.isNull())
            continue; // hidden
        top = std::min(top, rect.top());
        bottom = std::max(bottom, rect.bottom());
    }
    return bottom > top ? bottom - top : 0;
}

struct Padding {
    QTextTableCell cell;
    qreal bottom;
};

// The padding below each cell of the tables' rows that are lower than asked
// which makes them as high: each cell that begins and ends in the row is made
// at least that high, so the highest one keeps the row as it was.
std::vector<Padding> paddingsFor(QAbstractTextDocumentLayout &layout,
                                 const std::vector<QTextTable *> &tables)
{
    std::vector<Padding> out;
    for (QTextTable *table : tables) {
        const qreal tablePadding = table->format().cellPadding();
        for (int row = 0; row < table->rows(); ++row) {
            const int asked = askedTwips(*table, row);
            if (asked == 0)
                continue;
            const qreal wanted = std::abs(asked) / twipsPerPixel;
            for (int column = 0; column < table->columns(); ++column) {
                const QTextTableCell cell = table->cellAt(row, column);
                if (cell.row() != row || cell.column() != column || cell.rowSpan() != 1)
                    continue;
                const QTextTableCellFormat format = cell.format().toTableCellFormat();
                const auto padding = [&](int property) {
                    return format.hasProperty(property) ? format.doubleProperty(property)
                                                        : tablePadding;
                };
                const qreal top = padding(QTextFormat::TableCellTopPadding);
                const qreal bottom = padding(QTextFormat::TableCellBottomPadding);
                const qreal height = contentHeight(layout, cell) + top + bottom;
                if (height < wanted)
                    out.push_back({cell, bottom + wanted - height});
            }
        }
    }
    return out;
}

} // namespace

void showRowHeights(QTextCursor &cursor, int from, int to)
{
    QTextDocument *document = cursor.document();
    if (!document)
        return;
    std::vector<std::vector<QTextTable *>> byDepth;
    findTables(*document->rootFrame(), from, to, 0, byDepth);
    if (byDepth.empty())
        return; // no layout where no row asks for a height
    const QSizeF page = document->pageSize();
    const bool widthless = page.width() <= 0;
    if (widthless)
        document->setTextWidth(printedTextWidth);
    QAbstractTextDocumentLayout &layout = *document->documentLayout();
    // The deepest tables first; all rows of one depth are measured before
    // any changes, so that Qt lays the document out once per depth.
    for (auto level = byDepth.rbegin(); level != byDepth.rend(); ++level) {
        const std::vector<Padding> paddings = paddingsFor(layout, *level);
        if (paddings.empty())
            continue;
        cursor.joinPreviousEditBlock();
        for (Padding padding : paddings) {
            QTextTableCellFormat format = padding.cell.format().toTableCellFormat();
            if (!format.hasProperty(statedBottomPaddingProperty))
                format.setProperty(statedBottomPaddingProperty,
                                   format.hasProperty(QTextFormat::TableCellBottomPadding)
                                       ? format.bottomPadding()
                                       : -1.0);
            format.setBottomPadding(padding.bottom);
            padding.cell.setFormat(format);
        }
        cursor.endEditBlock();
        // Qt lays a table out again when its text changes, not when only
        // its cells' formats do.
        const int first = level->front()->firstPosition();
        document->markContentsDirty(first, level->back()->lastPosition() - first);
    }
    if (widthless)
        document->setPageSize(page);
}

} // namespace Inkwell::Rtf
