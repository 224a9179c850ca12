#include "rtf/shownrowheights.h"

#include "core/formatproperties.h"
#include "core/tablegaps.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
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

bool asksForHeights(const QTextTable &table)
{
    for (int row = 0; row < table.rows(); ++row)
        if (askedRowTwips(table, row) != 0)
            return true;
    return false;
}

bool asksInside(const QTextFrame &frame)
{
    const auto *table = qobject_cast<const QTextTable *>(&frame);
    if (table && asksForHeights(*table))
        return true;
    const QList<QTextFrame *> children = frame.childFrames();
    return std::any_of(children.begin(), children.end(),
                       [](const QTextFrame *child) { return asksInside(*child); });
}

// The tables in and under `frame`, each before the ones in its cells, with
// how deep each is nested.
void collectTables(const QTextFrame &frame, int depth,
                   std::vector<std::pair<QTextTable *, int>> &out)
{
    const QList<QTextFrame *> children = frame.childFrames();
    for (QTextFrame *child : children) {
        auto *table = qobject_cast<QTextTable *>(child);
        if (table)
            out.emplace_back(table, depth);
        collectTables(*child, table ? depth + 1 : depth, out);
    }
}

struct Padding {
    size_t table;
    int row;
    int column;
    qreal bottom;
};

// The padding below each cell of the tables' rows that are lower than asked
// which makes them as high: each cell that begins and ends in the row is made
// at least that high, so the highest one keeps the row as it was.
std::vector<Padding> paddingsFor(QAbstractTextDocumentLayout &layout,
                                 const std::vector<std::pair<QTextTable *, int>> &tables, int depth)
{
    std::vector<Padding> out;
    for (size_t index = 0; index < tables.size(); ++index) {
        if (tables[index].second != depth)
            continue;
        const QTextTable *table = tables[index].first;
        const qreal tablePadding = table->format().cellPadding();
        for (int row = 0; row < table->rows(); ++row) {
            const int asked = askedRowTwips(*table, row);
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
                const qreal height = cellContentHeight(layout, cell) + top + bottom;
                if (height < wanted)
                    out.push_back({index, row, column, bottom + wanted - height});
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
    std::vector<QTextTable *> outer;
    const QList<QTextFrame *> children = document->rootFrame()->childFrames();
    for (QTextFrame *child : children)
        if (child->lastPosition() >= from && child->firstPosition() <= to &&
            qobject_cast<QTextTable *>(child) && asksInside(*child))
            outer.push_back(qobject_cast<QTextTable *>(child));
    if (outer.empty())
        return; // nothing laid out where no row asks for a height

    // The document's own layout may lay nothing out while a file is read
    // (the editor holds one that does nothing meanwhile): the tables are
    // measured in a copy of their own, at the document's width and font.
    QTextDocument copy; // pictures keep the size the reader gave them
    copy.setDefaultFont(document->defaultFont());
    copy.setDefaultTextOption(document->defaultTextOption());
    copy.setDocumentMargin(document->documentMargin());
    copy.setTextWidth(document->textWidth() > 0 ? document->textWidth() : printedTextWidth);
    QTextCursor into(&copy);
    std::vector<std::pair<QTextTable *, int>> tables;
    into.beginEditBlock(); // laid out once, not after each table
    for (QTextTable *table : outer) {
        tables.emplace_back(table, 0);
        collectTables(*table, 1, tables);
        QTextCursor range(document);
        range.setPosition(table->firstPosition() - 1);
        range.setPosition(table->lastPosition() + 1, QTextCursor::KeepAnchor);
        into.insertFragment(range.selection());
        into.insertBlock();
    }
    into.endEditBlock();
    std::vector<std::pair<QTextTable *, int>> copied;
    collectTables(*copy.rootFrame(), 0, copied);
    if (copied.size() != tables.size())
        return;
    int deepest = 0;
    for (size_t i = 0; i < tables.size(); ++i) {
        const QTextTable &own = *tables[i].first, &other = *copied[i].first;
        if (own.rows() != other.rows() || own.columns() != other.columns() ||
            tables[i].second != copied[i].second)
            return; // not copied as it is: left as it is
        deepest = std::max(deepest, tables[i].second);
    }

    // The deepest tables first: a row is measured once the tables in its
    // cells are shown. All rows of one depth are measured before any
    // changes, so that the copy is laid out once per depth.
    QAbstractTextDocumentLayout &layout = *copy.documentLayout();
    std::vector<Padding> all;
    for (int depth = deepest; depth >= 0; --depth) {
        const std::vector<Padding> paddings = paddingsFor(layout, copied, depth);
        if (paddings.empty())
            continue;
        all.insert(all.end(), paddings.begin(), paddings.end());
        if (depth == 0)
            break; // nothing more to measure in the copy
        // In one step, which Qt lays out once.
        into.beginEditBlock();
        for (const Padding &padding : paddings)
            showCellBottomPadding(*copied[padding.table].first, padding.row, padding.column,
                                  padding.bottom, false);
        into.endEditBlock();
    }
    if (all.empty())
        return;
    cursor.joinPreviousEditBlock();
    for (const Padding &padding : all)
        showCellBottomPadding(*tables[padding.table].first, padding.row, padding.column,
                              padding.bottom, true);
    cursor.endEditBlock();
    // Qt lays a table it has laid out again when its text changes, not when
    // only its cells' formats do.
    const int first = outer.front()->firstPosition();
    document->markContentsDirty(first, outer.back()->lastPosition() - first);
}

} // namespace Inkwell::Rtf
