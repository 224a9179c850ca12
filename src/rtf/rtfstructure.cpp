#include "rtf/rtfstructure.h"

#include "core/documenttext.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextList>
#include <QTextTable>
#include <QTextTableCell>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace Inkwell::Rtf {

namespace {

// Lengths in the document are pixels at 96 dpi.
double px(int twips)
{
    return twips / 15.0;
}

constexpr int maxCellsWhenWidening = 10000;

// Merging cells makes Qt lay out the table's grid again; a hostile table
// with a merge in every cell would take quadratic time.
constexpr int maxMergesPerTable = 4096;
// Cells times merges: what the merges of one table may cost at most.
constexpr qint64 mergeWork = 50'000'000;

// The key of the lists made from older paragraph numbering ({\*\pn}), which
// other readers number as one list: apart from every \listid.
constexpr qint64 oldNumberingKey = qint64(std::numeric_limits<int>::min()) - 1;

QTextListFormat listFormatOf(const ListLevel &level, int indent)
{
    QTextListFormat format;
    format.setStyle(level.style);
    format.setIndent(indent + 1);
    const bool bullet = level.style == QTextListFormat::ListDisc ||
                        level.style == QTextListFormat::ListCircle ||
                        level.style == QTextListFormat::ListSquare;
    // Qt's default suffix is "."; the level text says what it is.
    format.setNumberPrefix(bullet ? QString() : level.prefix);
    format.setNumberSuffix(bullet ? QString() : level.suffix);
    if (level.start != 1)
        format.setProperty(listStartProperty, level.start);
    if (bullet && !level.bullet.isEmpty())
        format.setProperty(listBulletProperty, level.bullet);
    if (bullet && !level.font.isEmpty() && level.bulletRead != 0)
        format.setProperty(listBulletAsReadProperty, level.font + QChar(level.bulletRead));
    if (level.follow != 0)
        format.setProperty(listFollowProperty, level.follow);
    return format;
}

} // namespace

int ListDefinitions::overrideStart(int override, int level) const
{
    const auto starts = overrideStarts.find(override);
    return starts == overrideStarts.end() ? -1 : starts->second[size_t(std::clamp(level, 0, 8))];
}

int ListDefinitions::listOf(int override) const
{
    const auto listId = overrides.find(override);
    return listId == overrides.end() ? 0 : listId->second;
}

const ListLevel *ListDefinitions::level(int override, int level) const
{
    const auto listId = overrides.find(override);
    if (listId == overrides.end())
        return nullptr;
    const auto list = lists.find(listId->second);
    if (list == lists.end())
        return nullptr;
    const ListLevel &found = list->second[size_t(std::clamp(level, 0, 8))];
    // A level without a number shows only its text, which a list cannot:
    // such a list is made only when the text is empty.
    const bool textOnly = found.style == QTextListFormat::ListStyleUndefined &&
                          !(found.prefix.isEmpty() && found.suffix.isEmpty());
    return textOnly ? nullptr : &found;
}

struct StructureBuilder::Table {
    // A cell of a row on the table's grid.
    struct GridCell {
        int start = 0; // its first column
        int span = 1;
        CellDef def;
    };
    QTextTable *table = nullptr;
    int row = 0; // the current cell
    int col = 0;
    int rowsUsed = 0;
    bool haveFirst = false;
    int gap = 0;  // the first row's \trgaph
    int left = 0; // the first row's \trleft
    // The right edge of each column in twips, rising: the cell boundaries of
    // all rows, so that a cell of any row covers the columns between its
    // edges. Columns past these were made for cells no definition gave.
    std::vector<int> grid;
    // Each row's cells on the grid, and the borders its row definition drew.
    std::vector<std::vector<GridCell>> rows;
    std::vector<std::uint8_t> rowSides;
    std::vector<std::array<BorderLine, 6>> rowLines;
    std::vector<int> rowEnds; // the columns each row's cells reach
    // The current row: its definition, the row it was placed for, and each
    // cell's first column and span by its place in the definition. Empty:
    // cell n is column n.
    RowDef def;
    int placedRow = 0;
    int entered = -1;        // the cell of the current row entered last
    bool mergeBreak = false; // a paragraph end waits to part merged cells' text
    std::vector<std::pair<int, int>> spans;
    std::vector<bool> continues; // the cell continues the one before (\clmrg)

    int column(int cell) const
    {
        if (spans.empty())
            return cell;
        if (size_t(cell) < spans.size())
            return spans[size_t(cell)].first;
        return spans.back().first + spans.back().second + cell - int(spans.size());
    }
    bool continuing(int cell) const
    {
        return size_t(cell) < continues.size() && continues[size_t(cell)];
    }
};

namespace {

// Cell boundaries are any ints in a file; held to this, sums stay in range.
constexpr int maxEdge = 1 << 24;

// The boundaries of a row's cells as drawn: each lies right of the one
// before, and a cell merged into the one before it (\clmrg) with no width
// of its own makes none. `cellOf` takes each defined cell's index among
// them.
std::vector<int> drawnEdges(const RowDef &row, std::vector<int> &cellOf)
{
    std::vector<int> edges;
    cellOf.assign(row.cells.size(), 0);
    int previous = std::clamp(row.left, -maxEdge, maxEdge);
    for (size_t c = 0; c < row.cells.size(); ++c) {
        const int right = std::clamp(row.cells[c].right, -maxEdge, maxEdge);
        if (!(row.cells[c].hmerge == 2 && !edges.empty() && right <= edges.back()))
            edges.push_back(std::max(right, previous + 1));
        previous = edges.back();
        cellOf[c] = int(edges.size()) - 1;
    }
    return edges;
}

} // namespace

StructureBuilder::StructureBuilder(QTextCursor &cursor, TextRuns &runs, const Tables &tables,
                                   const ListDefinitions &lists,
                                   const std::array<RowDef, maxTableDepth + 1> &rows)
    : m_cursor(cursor), m_runs(runs), m_tables(tables), m_lists(lists), m_rowDefs(rows)
{
    readShadow();
}

StructureBuilder::~StructureBuilder() = default;

int StructureBuilder::effectiveDepth(int depth) const
{
    return std::min({depth, maxTableDepth, m_flatFrom - 1});
}

// Opens or closes tables until the paragraph's table depth is reached.
void StructureBuilder::enterFor(const ParaProps &para)
{
    const int wanted = para.depth();
    if (wanted < m_flatFrom)
        m_flatFrom = maxTableDepth + 1;
    const int depth = effectiveDepth(wanted);
    if (depth != int(m_open.size()) || !m_positioned) {
        settleItem(); // before tables close or cells move
        enter(depth);
    }
}

void StructureBuilder::content(const ParaProps &para)
{
    enterFor(para);
    m_runs.beginContent();
}

void StructureBuilder::paragraphEnd(const ParaProps &para)
{
    enterFor(para);
    applyParagraph(para);
    m_runs.paragraphBreak();
}

void StructureBuilder::cellEnd(const ParaProps &para, bool nested)
{
    settleItem();
    const int depth = nested ? std::max(2, para.depth()) : 1;
    if (depth > effectiveDepth(depth)) {
        // Past the caps the cells stay text, separated by tabs.
        m_runs.cellEnd();
        return;
    }
    enter(depth);
    // A \par right before \cell ends a paragraph: the cell's last one, empty,
    // follows it (as Word and LibreOffice read it).
    const bool merged = m_open.back().continuing(m_open.back().col);
    if (merged && m_open.back().mergeBreak)
        m_runs.dropBreaks(1); // the one that would part its text from the cell's
    if (!merged || m_runs.paragraphHasContent() || m_runs.pendingBreaks() > 0) {
        // An empty cell merged into the one before leaves that one's
        // paragraphs as they are.
        m_runs.writePending();
        applyParagraph(para);
    }
    m_runs.flush();
    m_runs.dropPending();
    // A list goes on in the next cell: Word and LibreOffice number the items
    // of one list through a table's cells in reading order.
    Table &table = m_open.back();
    if (table.col + 1 >= maxCellsPerRow) {
        m_runs.cellEnd(); // the rest of the row goes into the last cell
        return;
    }
    ++table.col;
    m_positioned = false;
}

void StructureBuilder::rowEnd(const ParaProps &para, bool nested, const RowDef &def)
{
    settleItem();
    const int depth = nested ? std::max(2, para.depth()) : 1;
    if (depth > effectiveDepth(depth) || int(m_open.size()) < depth) {
        m_runs.rowEnd();
        return;
    }
    while (int(m_open.size()) > depth)
        closeTable();
    m_runs.flush();
    m_runs.dropPending();
    Table &table = m_open.back();
    QTextTable *qtable = table.table;
    if (table.row < table.rowsUsed) {
        // The row's cells on the grid. A row placed without a definition
        // has cell n in column n; the definition read by its end says which
        // of them are merged.
        const bool placed = !table.spans.empty();
        const RowDef &rowDef = placed ? table.def : def;
        std::vector<Table::GridCell> cells;
        for (int c = 0; c < int(rowDef.cells.size()); ++c) {
            const CellDef &cell = rowDef.cells[size_t(c)];
            if (placed && table.continuing(c)) {
                // The right edge of merged cells is the last one's.
                Table::GridCell &merged = cells.back();
                merged.def.sides =
                    std::uint8_t((merged.def.sides & ~RightSide) | (cell.sides & RightSide));
                merged.def.lines[3] = cell.lines[3];
                continue;
            }
            if (!placed && cell.hmerge == 2 && !cells.empty() && cells.back().def.hmerge != 0) {
                ++cells.back().span;
                continue;
            }
            Table::GridCell gridCell;
            gridCell.start = table.column(c);
            gridCell.span = placed ? table.spans[size_t(c)].second : 1;
            gridCell.def = cell;
            cells.push_back(gridCell);
        }
        while (!cells.empty() && cells.back().start + cells.back().span > qtable->columns())
            cells.pop_back();
        // The table's cell padding is the row's gap (\trgaph), which is
        // space to the left and right of the text only: a cell that states
        // none above and below has none there.
        const bool gapped = (table.haveFirst ? table.gap : rowDef.gap) > 0;
        for (const Table::GridCell &gridCell : cells) {
            const CellDef &cell = gridCell.def;
            QColor background;
            if (cell.pattern > 0 && size_t(cell.pattern) < m_tables.colors.size())
                background = m_tables.colors[size_t(cell.pattern)];
            if (!background.isValid() && cell.shading > 0) {
                const int level = 255 - 255 * std::min(cell.shading, 10000) / 10000;
                background = QColor(level, level, level);
            }
            const bool padded = cell.padding != CellDef().padding;
            if (!background.isValid() && !padded && cell.valign == 0 && !gapped &&
                rowDef.height == 0)
                continue;
            QTextTableCell qcell = qtable->cellAt(table.row, gridCell.start);
            QTextTableCellFormat format = qcell.format().toTableCellFormat();
            if (background.isValid())
                format.setBackground(background);
            if (cell.valign != 0)
                format.setVerticalAlignment(cell.valign == 1 ? QTextCharFormat::AlignMiddle
                                                             : QTextCharFormat::AlignBottom);
            const auto pad = [&](int side, void (QTextTableCellFormat::*set)(qreal)) {
                if (cell.padding[size_t(side)] >= 0)
                    (format.*set)(px(std::min(cell.padding[size_t(side)], 1440)));
            };
            pad(0, &QTextTableCellFormat::setTopPadding);
            pad(1, &QTextTableCellFormat::setLeftPadding);
            pad(2, &QTextTableCellFormat::setBottomPadding);
            pad(3, &QTextTableCellFormat::setRightPadding);
            // None above or below is what a cell has where it says nothing,
            // but the table's padding would give it some.
            for (const auto &[side, property] :
                 {std::pair{0, QTextFormat::TableCellTopPadding},
                  std::pair{2, QTextFormat::TableCellBottomPadding}}) {
                if (cell.padding[size_t(side)] > 0)
                    continue;
                if (gapped)
                    format.setProperty(property, 0.0);
                else
                    format.clearProperty(property);
            }
            // Qt has no rows of its own: each cell that begins in the row
            // holds its height.
            if (rowDef.height != 0)
                format.setProperty(rowHeightProperty, rowDef.height);
            qcell.setFormat(format);
        }
        if (!table.haveFirst && !rowDef.cells.empty()) {
            table.haveFirst = true;
            table.gap = rowDef.gap;
            table.left = rowDef.left;
            if (table.grid.empty()) {
                // A first row placed without a definition: one column per cell.
                std::vector<int> cellOf;
                RowDef unmerged = rowDef;
                for (CellDef &cell : unmerged.cells)
                    cell.hmerge = 0;
                table.grid = drawnEdges(unmerged, cellOf);
                table.grid.resize(std::min(table.grid.size(), size_t(qtable->columns())));
            }
        }
        int reached = cells.empty() ? 0 : cells.back().start + cells.back().span;
        if (table.col > 0)
            reached = std::max(reached, table.column(table.col - 1) + 1);
        table.rowEnds.push_back(reached);
        table.rows.push_back(std::move(cells));
        table.rowSides.push_back(rowDef.sides);
        table.rowLines.push_back(rowDef.lines);
    }
    ++table.row;
    table.col = 0;
    table.entered = -1;
    m_positioned = false;
    if (qint64(table.row) * std::max(qtable->columns(), 1) >= maxCellsPerTable) {
        closeTable();
        m_flatFrom = depth; // further rows of this table are text
    }
}

void StructureBuilder::breakBetweenRows()
{
    if (m_open.size() == 1 && !m_positioned && m_open.back().col == 0)
        closeTable();
}

void StructureBuilder::finish(const ParaProps &para)
{
    if (m_runs.paragraphHasContent())
        applyParagraph(para);
    settleItem();
    while (!m_open.empty())
        closeTable();
    m_runs.finish();
}

bool StructureBuilder::listUnderstood(const ParaProps &para) const
{
    // The same choice the list is made by: the list table's level, else the
    // paragraph's older numbering.
    if (para.listOverride > 0 && m_lists.level(para.listOverride, para.listLevel))
        return true;
    return para.numbering.valid;
}

void StructureBuilder::enter(int depth)
{
    while (int(m_open.size()) > depth)
        closeTable();
    while (int(m_open.size()) < depth)
        openTable();
    if (depth > 0 && !m_positioned)
        positionInCell();
}

void StructureBuilder::openTable()
{
    // The table's frame ends the paragraph before it: the last pending
    // paragraph end is not written.
    const bool ended = m_runs.pendingBreaks() > 0;
    if (ended)
        m_runs.dropBreaks(1);
    m_runs.writePending();
    m_runs.flush();
    m_runs.dropPending();
    if (!m_open.empty() && !m_positioned)
        positionInCell();
    const bool own = ended && ownParagraphBefore();
    const int before = m_cursor.block().position();
    QTextTableFormat format;
    format.setCellSpacing(0);
    format.setCellPadding(0);
    format.setBorder(0);
    // The first row's definition gives the table its first columns.
    const RowDef &def = rowDefinition(int(m_open.size()) + 1);
    std::vector<int> cellOf;
    const int columns = std::clamp(int(drawnEdges(def, cellOf).size()), 1, maxCellsPerRow);
    Table table;
    table.table = m_cursor.insertTable(1, columns, format);
    table.rowsUsed = 1;
    if (own) {
        // Marked once the table is made: its cells' paragraphs would take
        // the format along.
        QTextBlockFormat mark;
        mark.setProperty(ownParagraphProperty, true);
        QTextCursor(m_cursor.document()->findBlock(before)).mergeBlockFormat(mark);
    }
    m_open.push_back(std::move(table));
    placeRow(m_open.back(), def);
    m_positioned = true;
    readShadow();
}

// A table that begins the document or a cell has an empty paragraph before
// it in Qt, which a save leaves out: whether the one the cursor is in is
// the file's own (ended by \par), to be marked so and written.
bool StructureBuilder::ownParagraphBefore() const
{
    const QTextBlock block = m_cursor.block();
    if (block.length() != 1)
        return false;
    if (m_open.empty())
        return block.position() == 0;
    const QTextTableCell cell = m_open.back().table->cellAt(block.position());
    return cell.isValid() && cell.firstPosition() == block.position();
}

const RowDef &StructureBuilder::rowDefinition(int depth) const
{
    const int at = std::clamp(depth, 1, maxTableDepth);
    return m_rowSource ? m_rowSource(at) : m_rowDefs[size_t(at)];
}

// Inserts a column before `index`. A split one (a boundary inside a column)
// widens the cells that covered the column left of it.
void StructureBuilder::insertGridColumn(Table &table, int index, bool split)
{
    QTextTable *qtable = table.table;
    if (m_beforeMove)
        m_beforeMove(qtable->firstPosition());
    if (index >= qtable->columns())
        qtable->appendColumns(index + 1 - qtable->columns());
    else
        qtable->insertColumns(index, 1);
    if (m_afterMove)
        m_afterMove();
    for (std::vector<Table::GridCell> &row : table.rows) {
        for (Table::GridCell &cell : row) {
            if (cell.start >= index)
                ++cell.start;
            else if (split && cell.start + cell.span >= index)
                ++cell.span;
        }
    }
    for (int &reached : table.rowEnds)
        if (reached > index || (split && reached >= index))
            ++reached;
}

// Takes the row's definition for the row beginning: each cell's columns on
// the table's grid, which gains the row's new boundaries. False when the
// grid cannot take them.
bool StructureBuilder::placeRow(Table &table, const RowDef &def)
{
    table.spans.clear();
    table.continues.clear();
    table.def = def;
    table.def.next = CellDef();
    table.placedRow = table.row;
    table.entered = -1;
    if (def.cells.empty())
        return true;
    std::vector<int> cellOf;
    const std::vector<int> edges = drawnEdges(def, cellOf);
    QTextTable *qtable = table.table;
    if (table.grid.empty() && table.rows.empty()) {
        table.grid = edges;
        if (int(edges.size()) > qtable->columns())
            qtable->appendColumns(int(edges.size()) - qtable->columns());
    } else {
        int added = 0;
        for (int edge : edges)
            added += !std::binary_search(table.grid.begin(), table.grid.end(), edge);
        if (added > 0) {
            if (int(table.grid.size()) + added > maxGridColumns ||
                qint64(qtable->rows()) * (qtable->columns() + added) > maxCellsWhenWidening)
                return false;
            for (int edge : edges) {
                const auto at = std::lower_bound(table.grid.begin(), table.grid.end(), edge);
                if (at != table.grid.end() && *at == edge)
                    continue;
                const int index = int(at - table.grid.begin());
                const bool split = at != table.grid.end();
                table.grid.insert(at, edge);
                insertGridColumn(table, split ? index + 1 : index, split);
            }
        }
    }
    // Each boundary's last column; cells merged across (\clmgf, \clmrg)
    // are one cell from the first one's columns to the last one's.
    std::vector<int> ends;
    for (int edge : edges)
        ends.push_back(
            int(std::lower_bound(table.grid.begin(), table.grid.end(), edge) - table.grid.begin()));
    table.spans.reserve(def.cells.size());
    size_t first = 0; // the first cell of the merged ones going on
    for (size_t c = 0; c < def.cells.size(); ++c) {
        const bool continues = c > 0 && def.cells[c].hmerge == 2;
        if (!continues)
            first = c;
        const size_t firstEdge = size_t(cellOf[first]);
        const int start = firstEdge == 0 ? 0 : ends[firstEdge - 1] + 1;
        const int end = ends[size_t(cellOf[c])];
        table.spans.emplace_back(start, end - start + 1);
        table.continues.push_back(continues);
        // The cells before in the merge cover the same columns.
        for (size_t k = first; k < c; ++k)
            table.spans[k].second = end - table.spans[k].first + 1;
    }
    return true;
}

void StructureBuilder::positionInCell()
{
    m_runs.flush();
    if (Table &table = m_open.back(); table.placedRow != table.row) {
        // A row whose cells do not fit the table's grid begins a table of
        // its own.
        if (!placeRow(table, rowDefinition(int(m_open.size())))) {
            closeTable();
            openTable();
            return;
        }
    }
    Table &table = m_open.back();
    QTextTable *qtable = table.table;
    if (table.row >= qtable->rows()) {
        // Rows come one by one; adding them in growing steps keeps Qt from
        // rebuilding the grid for every row. The unused ones go at the end.
        const int room = maxCellsPerTable / std::max(qtable->columns(), 1) - qtable->rows();
        const int grow = std::clamp(qtable->rows(), 1, std::max(room, 1));
        qtable->appendRows(std::max(grow, table.row + 1 - qtable->rows()));
    }
    int column = table.column(table.col);
    if (column >= qtable->columns()) {
        // A wider row widens every row above it, and Qt finds each row's
        // cell again after each insert: quadratic in the rows, so only a
        // table of modest size widens. Past that the cell's text goes into
        // the row's last cell after a tab.
        if (qint64(qtable->rows()) * (column + 1) <= maxCellsWhenWidening) {
            if (m_beforeMove)
                m_beforeMove(qtable->firstPosition());
            qtable->appendColumns(column + 1 - qtable->columns());
            if (m_afterMove)
                m_afterMove();
        } else {
            column = qtable->columns() - 1;
            m_runs.cellEnd();
        }
    }
    table.rowsUsed = std::max(table.rowsUsed, table.row + 1);
    const QTextTableCell cell = qtable->cellAt(table.row, column);
    m_cursor.setPosition(cell.lastCursorPosition().position());
    // Text of a cell merged into the one before goes on in a paragraph of
    // its own there.
    if (table.entered != table.col) {
        table.mergeBreak =
            table.continuing(table.col) && cell.firstCursorPosition() != cell.lastCursorPosition();
        if (table.mergeBreak)
            m_runs.paragraphBreak();
    }
    table.entered = table.col;
    m_positioned = true;
    readShadow();
}

void StructureBuilder::closeTable()
{
    m_runs.flush();
    m_runs.dropPending();
    Table table = std::move(m_open.back());
    m_open.pop_back();
    QTextTable *qtable = table.table;
    if (table.rowsUsed < qtable->rows()) {
        // Qt gives the last paragraph before the rows it removes the format
        // of the first one removed: the last used cell keeps its own.
        const QTextTableCell last = qtable->cellAt(table.rowsUsed - 1, qtable->columns() - 1);
        const QTextBlockFormat kept = QTextCursor(last.lastCursorPosition()).blockFormat();
        qtable->removeRows(table.rowsUsed, qtable->rows() - table.rowsUsed);
        QTextCursor after(
            qtable->cellAt(table.rowsUsed - 1, qtable->columns() - 1).lastCursorPosition());
        QTextBlockFormat restored = kept;
        restored.setObjectIndex(after.blockFormat().objectIndex());
        if (after.blockFormat() != restored)
            after.setBlockFormat(restored);
    }

    QTextTableFormat format = qtable->format();
    if (table.haveFirst || !table.grid.empty()) {
        // Each column is as wide as its boundaries are apart; columns past
        // the grid share what is left.
        QList<QTextLength> widths;
        int left = std::clamp(table.left, -maxEdge, maxEdge);
        for (int edge : table.grid) {
            if (widths.size() >= qtable->columns())
                break;
            const int width = std::min(edge - left, 31680);
            widths.append(width > 0 ? QTextLength(QTextLength::FixedLength, px(width))
                                    : QTextLength());
            left = edge;
        }
        while (widths.size() < qtable->columns())
            widths.append(QTextLength());
        format.setColumnWidthConstraints(widths);
        format.setCellPadding(px(std::clamp(table.gap, 0, 1440)));
        // Where the table's left edge stands (\trleft): Word's tables stand
        // out by their cell gap, so that the text in them lines up with the
        // text around; a nested one is often indented in its cell.
        format.setLeftMargin(px(std::clamp(table.left, -31680, 31680)));
    }

    // Merged cells: a cell spanning columns, and a cell the cells below
    // continue (\clvmrg) where they cover the same columns.
    int merges = 0;
    const int rows = std::min(int(table.rows.size()), qtable->rows());
    const int columns = qtable->columns();
    const int maxMerges = int(std::min<qint64>(
        maxMergesPerTable, mergeWork / std::max<qint64>(qint64(rows) * columns, 1)));
    // Merging moves the text of the cells after the merged ones.
    bool watching = false;
    const auto merge = [&](int row, int column, int rowSpan, int columnSpan) {
        if (!watching && m_beforeMove) {
            m_beforeMove(qtable->firstPosition());
            watching = true;
        }
        // The merged cell keeps the first cell's paragraph format, also
        // when that cell is empty (Qt then takes the last covered one's).
        QTextCursor first(qtable->cellAt(row, column).firstCursorPosition());
        const QTextBlockFormat format = first.blockFormat();
        // An empty cell Qt drops takes the place of the last paragraph of
        // the cell before it, with its own format: that one's is kept too.
        std::vector<std::pair<std::pair<int, int>, QTextBlockFormat>> before;
        for (int r = row + 1; r < row + rowSpan; ++r) {
            // The cell before the covered one: left of it, or the last of
            // the row above when it begins its row.
            const int placeRow = column > 0 ? r : r - 1;
            const int placeColumn = column > 0 ? column - 1 : qtable->columns() - 1;
            if (column == 0 && placeColumn < columnSpan)
                continue; // in the merged cell itself
            const QTextTableCell cell = qtable->cellAt(placeRow, placeColumn);
            if (cell.row() == placeRow && cell.column() == placeColumn)
                before.push_back({{placeRow, placeColumn},
                                  QTextCursor(cell.lastCursorPosition()).blockFormat()});
        }
        // Qt drops an empty covered cell by joining its paragraph to the one
        // before it, which then has the dropped paragraph's formats: its list
        // among them. Given the formats of the paragraph before first, the
        // paragraph before keeps its own (and a list item of a covered cell,
        // which no one sees, is not moved into another cell).
        for (int r = row; r < row + rowSpan; ++r) {
            for (int c = r == row ? column + 1 : column; c < column + columnSpan; ++c) {
                const QTextTableCell covered = qtable->cellAt(r, c);
                if (covered.row() != r || covered.column() != c ||
                    covered.firstPosition() != covered.lastPosition())
                    continue;
                const QTextBlock previous =
                    qtable->document()->findBlock(covered.firstPosition() - 1);
                QTextCursor empty(covered.firstCursorPosition());
                if (empty.blockFormat() != previous.blockFormat())
                    empty.setBlockFormat(previous.blockFormat());
                if (empty.blockCharFormat() != previous.charFormat())
                    empty.setBlockCharFormat(previous.charFormat());
            }
        }
        qtable->mergeCells(row, column, rowSpan, columnSpan);
        QTextCursor merged(qtable->cellAt(row, column).firstCursorPosition());
        QTextBlockFormat wanted = format;
        wanted.setObjectIndex(merged.blockFormat().objectIndex()); // its list stays
        if (merged.blockFormat() != wanted)
            merged.setBlockFormat(wanted);
        for (const auto &[place, kept] : before) {
            QTextCursor last(qtable->cellAt(place.first, place.second).lastCursorPosition());
            QTextBlockFormat restored = kept;
            restored.setObjectIndex(last.blockFormat().objectIndex());
            if (last.blockFormat() != restored)
                last.setBlockFormat(restored);
        }
        ++merges;
    };
    // The cell of a row that starts at a column, if one does.
    const auto cellAtColumn = [&](int row, int column) -> Table::GridCell * {
        std::vector<Table::GridCell> &cells = table.rows[size_t(row)];
        const auto found = std::lower_bound(
            cells.begin(), cells.end(), column,
            [](const Table::GridCell &cell, int start) { return cell.start < start; });
        return found != cells.end() && found->start == column ? &*found : nullptr;
    };
    // Each row's cell definitions by column, for the borders.
    std::vector<std::vector<CellDef>> byColumn(static_cast<size_t>(rows));
    for (int r = 0; r < rows; ++r) {
        for (const Table::GridCell &cell : table.rows[size_t(r)]) {
            if (cell.start + cell.span > columns)
                break;
            std::vector<CellDef> &places = byColumn[size_t(r)];
            places.resize(size_t(cell.start + cell.span));
            for (int k = 0; k < cell.span; ++k)
                places[size_t(cell.start + k)] = cell.def;
        }
    }
    constexpr int taken = 3; // a cell merged into the one above
    for (int r = 0; r < rows; ++r) {
        for (Table::GridCell &cell : table.rows[size_t(r)]) {
            if (merges >= maxMerges || cell.start + cell.span > columns)
                break;
            int rowSpan = 1;
            if (cell.def.vmerge == 1) {
                while (r + rowSpan < rows) {
                    Table::GridCell *below = cellAtColumn(r + rowSpan, cell.start);
                    if (!below || below->span != cell.span || below->def.vmerge != 2)
                        break;
                    below->def.vmerge = taken;
                    ++rowSpan;
                }
            }
            if (cell.def.vmerge != taken && (rowSpan > 1 || cell.span > 1))
                merge(r, cell.start, rowSpan, cell.span);
        }
    }

    if (watching && m_afterMove)
        m_afterMove();

    // The places past the end of a row with a definition: no cell of the
    // file's row is there. Only the grid's: a column no boundary made
    // (cells past every definition) would be lost.
    const int gridColumns = std::min(columns, int(table.grid.size()));
    for (int r = 0; r < rows; ++r) {
        if (table.rows[size_t(r)].empty())
            continue;
        for (int c = std::max(table.rowEnds[size_t(r)], 0); c < gridColumns; ++c) {
            QTextTableCell cell = qtable->cellAt(r, c);
            if (cell.row() != r || cell.column() != c || cell.rowSpan() > 1 ||
                cell.columnSpan() > 1)
                continue;
            QTextTableCellFormat outside = cell.format().toTableCellFormat();
            outside.setProperty(cellOutsideRowProperty, true);
            outside.clearProperty(rowHeightProperty); // another row's, copied by Qt
            cell.setFormat(outside);
        }
    }

    applyBorders(table, byColumn, format);

    m_cursor.setPosition(qtable->lastPosition() + 1);
    m_positioned = m_open.empty();
    readShadow();
}

void StructureBuilder::applyBorders(const Table &table,
                                    const std::vector<std::vector<CellDef>> &byColumn,
                                    QTextTableFormat &format)
{
    // Every place of the table takes part, also those no row definition
    // reached: a save writes them all, and what is read back must be the same.
    QTextTable *qtable = table.table;
    const int rows = qtable->rows();
    const int columns = qtable->columns();
    const size_t places = size_t(rows) * size_t(columns);
    // Each place's own lines: its cell definition's, and its row's outer and
    // inside lines.
    std::vector<std::uint8_t> own(places);
    std::vector<int> counts(static_cast<size_t>(rows)); // the cells each row defines
    bool any = false;
    // Each place's lines, in the order top, left, bottom, right; kept only
    // when some drawn line is not a plain single one. Then every place's
    // lines are kept, plain ones too: the width a file states for a thin
    // line is written back as stated, however the cells share their lines.
    std::vector<std::array<BorderLine, 4>> looks;
    std::vector<std::array<BorderLine, 4>> lineOf(places);
    bool ownLook = false;
    // The width every drawn line states, -1 while none is seen, -2 once
    // they differ.
    int gridTwips = -1;
    // A thin black single line: what the whole grid draws.
    const auto plain = [this](const BorderLine &line) {
        if (line.style != LineStyle::Single || line.width > 15)
            return false;
        if (line.colour <= 0 || size_t(line.colour) >= m_tables.colors.size())
            return true;
        const QColor colour = m_tables.colors[size_t(line.colour)];
        return !colour.isValid() || (colour.rgb() & 0xffffff) == 0;
    };
    const auto drawnSides = [](std::uint8_t bits) {
        return std::array<bool, 4>{bool(bits & TopSide), bool(bits & LeftSide),
                                   bool(bits & BottomSide), bool(bits & RightSide)};
    };
    for (int r = 0; r < std::min(int(byColumn.size()), rows); ++r) {
        const std::vector<CellDef> &cells = byColumn[size_t(r)];
        const std::uint8_t row = table.rowSides[size_t(r)];
        const int count = std::min(int(cells.size()), columns);
        counts[size_t(r)] = count;
        for (int c = 0; c < count; ++c) {
            const std::uint8_t cellSides = cells[size_t(c)].sides & AllSides;
            std::uint8_t drawn = cellSides;
            // A side the row draws and the cell does not has the row line's look.
            std::array<BorderLine, 4> lines = cells[size_t(c)].lines;
            const std::array<BorderLine, 6> &rowLines = table.rowLines[size_t(r)];
            const auto fromRow = [&](std::uint8_t side, std::uint8_t rowSide) {
                if (cells[size_t(c)].noneSides & side)
                    return; // the cell says it has none there
                drawn |= side;
                if (!(cellSides & side))
                    lines[size_t(std::countr_zero(unsigned(side)))] =
                        rowLines[size_t(std::countr_zero(unsigned(rowSide)))];
            };
            if (row & TopSide && r == 0)
                fromRow(TopSide, TopSide);
            else if (row & InsideHorizontal && r > 0)
                fromRow(TopSide, InsideHorizontal);
            if (row & BottomSide && r == rows - 1)
                fromRow(BottomSide, BottomSide);
            else if (row & InsideHorizontal && r < rows - 1)
                fromRow(BottomSide, InsideHorizontal);
            if (row & LeftSide && c == 0)
                fromRow(LeftSide, LeftSide);
            else if (row & InsideVertical && c > 0)
                fromRow(LeftSide, InsideVertical);
            if (row & RightSide && c == count - 1)
                fromRow(RightSide, RightSide);
            else if (row & InsideVertical && c < count - 1)
                fromRow(RightSide, InsideVertical);
            own[size_t(r) * size_t(columns) + size_t(c)] = drawn;
            any = any || drawn;
            lineOf[size_t(r) * size_t(columns) + size_t(c)] = lines;
            const std::array<bool, 4> on = drawnSides(drawn);
            for (size_t side = 0; side < 4; ++side) {
                if (!on[side])
                    continue;
                ownLook = ownLook || !plain(lines[side]);
                const int twips = lines[side].width;
                gridTwips = gridTwips == -1 || gridTwips == twips ? twips : -2;
            }
        }
    }
    if (ownLook)
        looks = std::move(lineOf);
    if (!any) {
        qtable->setFormat(format);
        return;
    }
    // The cell covering each place, by the index of its first place, and a
    // cell's sides: those its places draw on its own edges (a line inside a
    // merged cell is not drawn).
    std::vector<size_t> cellOf(places);
    std::vector<std::uint8_t> sides(places);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            const QTextTableCell cell = qtable->cellAt(r, c);
            const size_t here = size_t(r) * size_t(columns) + size_t(c);
            cellOf[here] = size_t(cell.row()) * size_t(columns) + size_t(cell.column());
            std::uint8_t outer = 0;
            if (r == cell.row())
                outer |= TopSide;
            if (r == cell.row() + cell.rowSpan() - 1)
                outer |= BottomSide;
            if (c == cell.column())
                outer |= LeftSide;
            if (c == cell.column() + cell.columnSpan() - 1)
                outer |= RightSide;
            sides[cellOf[here]] |= own[here] & outer;
            if (!looks.empty() && cellOf[here] != here) {
                const std::array<bool, 4> on = drawnSides(own[here] & outer);
                for (size_t side = 0; side < 4; ++side)
                    if (on[side])
                        looks[cellOf[here]][side] = looks[here][side];
            }
        }
    }
    // A line between two cells belongs to both, whichever of them the file
    // gave it to: a word processor often gives a row no top line when the
    // row above has a bottom one. Each shared edge is settled until none
    // changes (a cell's edge can touch several cells).
    for (bool changed = true; changed;) {
        changed = false;
        const auto share = [&](size_t a, std::uint8_t aSide, size_t b, std::uint8_t bSide) {
            if (a != b && bool(sides[a] & aSide) != bool(sides[b] & bSide)) {
                // The side that had no line takes the other's look.
                if (!looks.empty()) {
                    const size_t aIndex = size_t(std::countr_zero(unsigned(aSide)));
                    const size_t bIndex = size_t(std::countr_zero(unsigned(bSide)));
                    if (sides[a] & aSide)
                        looks[b][bIndex] = looks[a][aIndex];
                    else
                        looks[a][aIndex] = looks[b][bIndex];
                }
                sides[a] |= aSide;
                sides[b] |= bSide;
                changed = true;
            }
        };
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < columns; ++c) {
                const size_t here = size_t(r) * size_t(columns) + size_t(c);
                if (c + 1 < columns)
                    share(cellOf[here], RightSide, cellOf[here + 1], LeftSide);
                if (r + 1 < rows)
                    share(cellOf[here], BottomSide, cellOf[here + size_t(columns)], TopSide);
            }
        }
    }
    // The whole grid when every cell the file defines is closed all round.
    bool grid = true;
    for (int r = 0; r < rows && grid; ++r)
        for (int c = 0; c < counts[size_t(r)] && grid; ++c)
            grid = sides[cellOf[size_t(r) * size_t(columns) + size_t(c)]] == AllSides;
    size_t cellCount = 0;
    for (size_t i = 0; i < places; ++i)
        cellCount += cellOf[i] == i;
    // Lines on some sides only (a table with rules above and below its
    // header, say) need Qt's collapsed borders, which take each cell's
    // sides; they cost more per keystroke, so a table that big is drawn
    // with the whole grid instead.
    // Lines with a colour, width or style of their own are drawn cell by
    // cell too.
    const bool partial = (!grid || !looks.empty()) && cellCount <= maxCellsWithOwnBorders;
    if (partial) {
        format.setBorder(0);
        format.setBorderCollapse(true);
        format.setCellSpacing(0);
    } else {
        drawSingleBorders(format);
        if (gridTwips > 0 && std::lround(format.border() * 15) != gridTwips)
            format.setProperty(tableBorderTwipsProperty, gridTwips);
    }
    qtable->setFormat(format);
    if (!partial)
        return;
    for (size_t i = 0; i < places; ++i) {
        const std::uint8_t drawn = sides[i];
        if (cellOf[i] != i || !drawn)
            continue;
        QTextTableCell cell = qtable->cellAt(int(i / size_t(columns)), int(i % size_t(columns)));
        QTextTableCellFormat cellFormat = cell.format().toTableCellFormat();
        const auto side = [&](std::uint8_t bit, auto setWidth, auto setStyle, auto setBrush) {
            if (!(drawn & bit))
                return;
            const size_t index = size_t(std::countr_zero(unsigned(bit)));
            const BorderLine line = looks.empty() ? BorderLine() : looks[i][index];
            QTextFrameFormat::BorderStyle style = QTextFrameFormat::BorderStyle_Solid;
            qreal width = std::max(px(line.width), 1.0);
            switch (line.style) {
            case LineStyle::Double:
                // Two lines and the gap between them need three pixels.
                style = QTextFrameFormat::BorderStyle_Double;
                width = std::max(width, 3.0);
                break;
            case LineStyle::Dotted:
                style = QTextFrameFormat::BorderStyle_Dotted;
                break;
            case LineStyle::Dashed:
                style = QTextFrameFormat::BorderStyle_Dashed;
                break;
            case LineStyle::Single:
                break;
            }
            (cellFormat.*setWidth)(width);
            (cellFormat.*setStyle)(style);
            BorderLine kept = line;
            if (line.colour > 0 && size_t(line.colour) < m_tables.colors.size() &&
                m_tables.colors[size_t(line.colour)].isValid())
                (cellFormat.*setBrush)(m_tables.colors[size_t(line.colour)]);
            else
                kept.colour = 0; // a colour the table does not have is none
            // A width the one shown does not give back is kept to be written
            // (none stated, too, on a line the copy tells from a plain one).
            if (std::lround(width * 15) != line.width && kept != BorderLine())
                cellFormat.setProperty(cellBorderTwipsProperty + int(index), line.width);
        };
        side(TopSide, &QTextTableCellFormat::setTopBorder, &QTextTableCellFormat::setTopBorderStyle,
             &QTextTableCellFormat::setTopBorderBrush);
        side(LeftSide, &QTextTableCellFormat::setLeftBorder,
             &QTextTableCellFormat::setLeftBorderStyle, &QTextTableCellFormat::setLeftBorderBrush);
        side(BottomSide, &QTextTableCellFormat::setBottomBorder,
             &QTextTableCellFormat::setBottomBorderStyle,
             &QTextTableCellFormat::setBottomBorderBrush);
        side(RightSide, &QTextTableCellFormat::setRightBorder,
             &QTextTableCellFormat::setRightBorderStyle,
             &QTextTableCellFormat::setRightBorderBrush);
        cell.setFormat(cellFormat);
    }
}

QTextBlockFormat StructureBuilder::blockFormatOf(const ParaProps &para) const
{
    QTextBlockFormat format;
    if (para.alignment)
        format.setAlignment(para.alignment);
    if (para.rightToLeft)
        format.setLayoutDirection(Qt::RightToLeft);
    if (para.pageBreakBefore)
        format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
    if (!para.section.isEmpty()) {
        format.setProperty(sectionBreakProperty, para.section);
        format.setProperty(sectionNumberProperty, para.sectionNumber);
    }
    if (para.markHalfPoints > 0)
        m_tables.setMark(format, para.markFont, para.markHalfPoints);
    if (para.shading > 0 && size_t(para.shading) < m_tables.colors.size() &&
        m_tables.colors[size_t(para.shading)].isValid())
        format.setBackground(m_tables.colors[size_t(para.shading)]);
    // A list item's indent is its list's; its own indents are the label's.
    const bool listed = listUnderstood(para);
    if (para.leftIndent != 0 && !listed)
        format.setLeftMargin(px(para.leftIndent));
    if (para.rightIndent != 0)
        format.setRightMargin(px(para.rightIndent));
    if (para.firstIndent != 0 && !listed)
        format.setTextIndent(px(para.firstIndent));
    if (listed && para.indentStated)
        format.setProperty(listItemIndentsProperty,
                           QStringLiteral("%1,%2").arg(para.leftIndent).arg(para.firstIndent));
    if (para.spaceBefore != 0)
        format.setTopMargin(px(para.spaceBefore));
    if (para.spaceAfter != 0)
        format.setBottomMargin(px(para.spaceAfter));
    if (para.lineSpacing != 0) {
        if (para.lineMultiple && para.lineSpacing > 0)
            format.setLineHeight(para.lineSpacing / 240.0 * 100.0,
                                 QTextBlockFormat::ProportionalHeight);
        else if (!para.lineMultiple && para.lineSpacing > 0)
            format.setLineHeight(px(para.lineSpacing), QTextBlockFormat::MinimumHeight);
        else if (!para.lineMultiple)
            format.setLineHeight(px(-para.lineSpacing), QTextBlockFormat::FixedHeight);
    }
    if (para.contextualSpace)
        format.setProperty(contextualSpaceProperty, true);
    if (para.style != 0)
        format.setProperty(paragraphStyleProperty, para.style);
    if (para.borderSides & AllSides) {
        // Qt draws no box round a paragraph: it is kept to be written back.
        QString box;
        for (size_t side = 0; side < 4; ++side) {
            if (!(para.borderSides & (1u << side)))
                continue;
            const BorderLine &line = para.lines[side];
            QString colour;
            if (line.colour > 0 && size_t(line.colour) < m_tables.colors.size() &&
                m_tables.colors[size_t(line.colour)].isValid())
                colour = m_tables.colors[size_t(line.colour)].name();
            if (!box.isEmpty())
                box += u';';
            box += QStringLiteral("%1%2,%3,%4,%5")
                       .arg(QLatin1Char("tlbr"[side]))
                       .arg(int(line.style))
                       .arg(line.width)
                       .arg(colour)
                       .arg(line.space);
        }
        format.setProperty(paragraphBordersProperty, box);
    }
    if (!para.tabs.empty()) {
        QList<QTextOption::Tab> tabs;
        for (const TabStop &stop : para.tabs)
            tabs.append(
                QTextOption::Tab(px(stop.twips), stop.type,
                                 stop.type == QTextOption::DelimiterTab ? QChar(u'.') : QChar()));
        format.setTabPositions(tabs);
    }
    return format;
}

void StructureBuilder::applyParagraph(const ParaProps &para)
{
    if (m_pendingItem) {
        // The paragraph after the item is in: the item can join its list.
        m_runs.writePending();
        m_runs.flush();
        settleItem();
    }
    // Most paragraphs have the properties of the one before.
    if (!m_haveLastFormat || !(para == m_lastFormatOf)) {
        m_lastFormat = blockFormatOf(para);
        m_lastFormatOf = para;
        m_haveLastFormat = true;
    }
    const QTextBlockFormat &wanted = m_lastFormat;
    // Which list the paragraph continues, or starts.
    const ListLevel *level = nullptr;
    qint64 key = 0;
    int indent = 0;
    if (para.listOverride > 0) {
        level = m_lists.level(para.listOverride, para.listLevel);
        key = m_lists.listOf(para.listOverride);
        indent = std::clamp(para.listLevel, 0, 8);
    }
    if (!level && para.numbering.valid) {
        level = &para.numbering.look;
        key = oldNumberingKey;
        indent = std::clamp(para.numbering.level, 0, 8);
    }
    QTextListFormat listFormat;
    QTextList *run = nullptr;
    if (level) {
        // The text before goes in first: writing it may take a list's last
        // block away.
        m_runs.writePending();
        m_runs.flush();
        // The items of one list (\listid, through any of its overrides) are
        // numbered on wherever they stand, as Word and LibreOffice number
        // them: past plain paragraphs, items of other lists and tables, into
        // and out of cells. Only an item of a higher level of the same list
        // ends a level (the next deeper item counts from its start again).
        auto &levels = m_listRuns[key];
        // A level's first item after items of a deeper level counts from
        // its second number.
        const bool deeperFirst = !levels[size_t(indent)] &&
                                 std::any_of(levels.begin() + indent + 1, levels.end(),
                                             [](const QPointer<QTextList> &l) { return !l.isNull(); });
        for (size_t l = size_t(indent) + 1; l < levels.size(); ++l)
            levels[l] = nullptr;
        listFormat = listFormatOf(*level, indent);
        run = levels[size_t(indent)];
        if (run && run->format().hasProperty(listImpliedItemsProperty))
            listFormat.setProperty(listImpliedItemsProperty,
                                   run->format().property(listImpliedItemsProperty));
        else if (deeperFirst)
            listFormat.setProperty(listImpliedItemsProperty, 1);
        // The start a list was begun with is not a look of its own: an item
        // of another override with another start numbers on.
        if (run) {
            const QVariant began = run->format().property(listStartProperty);
            if (began.isValid())
                listFormat.setProperty(listStartProperty, began);
            else
                listFormat.clearProperty(listStartProperty);
        } else if (const int start = m_lists.overrideStart(para.listOverride, indent);
                   para.listOverride > 0 && start >= 0) {
            if (start != 1)
                listFormat.setProperty(listStartProperty, start);
            else
                listFormat.clearProperty(listStartProperty);
        }
        // The parts of a long list share its chain.
        if (run) {
            const QVariant chain = run->format().property(listChainProperty);
            if (chain.isValid())
                listFormat.setProperty(listChainProperty, chain);
        }
        if (run && run->format() != listFormat)
            run = nullptr; // a look no QTextList of this one's can show
        // A long list goes on in a new part (see listChainProperty), which
        // costs what the parts hold, not the whole list, for each item.
        if (run && run->count() - (m_cursor.block().textList() == run ? 1 : 0) >= listPartItems) {
            if (!listFormat.hasProperty(listChainProperty)) {
                listFormat.setProperty(listChainProperty, newListChain());
                run->setFormat(listFormat);
            }
            run = nullptr;
        }
    }
    if (level) {
        // Qt draws a list label in the block's character format: the
        // item's own first run's, not what the item before left there.
        const QTextBlock block = m_cursor.block();
        if (block.length() > 1) {
            QTextCursor first(block);
            first.setPosition(block.position() + 1);
            QTextCharFormat format = first.charFormat();
            for (int kept : {keptBeforeProperty, keptFieldProperty, keptAfterProperty,
                             footnoteMarkProperty, keptHashKeyProperty})
                format.clearProperty(kept);
            if (!format.isImageFormat() && block.charFormat() != format)
                m_cursor.setBlockCharFormat(format);
        }
    }
    if (wanted == m_shadow && m_shadowList == run && (run || !level))
        return; // the block already has it from the one before
    m_runs.writePending();
    m_runs.flush();
    QTextBlock block = m_cursor.block();
    if (QTextList *had = block.textList(); had && had != run)
        had->remove(block);
    if (run && block.textList() != run) {
        // Qt marks every item of a list changed when a paragraph joins or
        // leaves it. Joined now, the item would hand its list on to the next
        // paragraph, which leaves it again: it joins once that paragraph is
        // in (settleItem()).
        m_cursor.setBlockFormat(wanted);
        m_pendingItem = PendingItem{block, run, listFormat, key, indent};
        m_listRuns[key][size_t(indent)] = run;
        m_shadow = wanted;
        m_shadowList = nullptr;
        return;
    }
    if (run) {
        // In one step: the block may be the list's only one, and leaving it
        // would delete the list.
        QTextBlockFormat joined = wanted;
        joined.setObjectIndex(run->objectIndex());
        m_cursor.setBlockFormat(joined);
    } else {
        m_cursor.setBlockFormat(wanted);
        if (level)
            run = m_cursor.createList(listFormat);
    }
    if (level)
        m_listRuns[key][size_t(indent)] = run;
    m_shadow = wanted;
    m_shadowList = run;
}

void StructureBuilder::settleItem()
{
    if (!m_pendingItem)
        return;
    const PendingItem item = *m_pendingItem;
    m_pendingItem.reset();
    QTextList *list = item.list;
    if (!item.block.isValid() || item.block.textList())
        return;
    if (list) {
        list->add(item.block);
    } else {
        // Its list went with its last block: the item starts it again.
        list = QTextCursor(item.block).createList(item.format);
        QPointer<QTextList> &run = m_listRuns[item.key][size_t(item.indent)];
        if (!run)
            run = list;
    }
    if (m_cursor.block() == item.block)
        m_shadowList = list; // the next new block inherits it
}

void StructureBuilder::readShadow()
{
    m_shadow = m_cursor.blockFormat();
    m_shadow.clearProperty(QTextFormat::ObjectIndex);
    m_shadowList = m_cursor.currentList();
}

namespace {

// Whether two paragraphs flow together: in the same frame, and in a table
// in the same cell.
bool sameFlow(const QTextBlock &one, const QTextBlock &other)
{
    const QTextCursor a(one), b(other);
    if (a.currentFrame() != b.currentFrame())
        return false;
    const QTextTable *table = a.currentTable();
    return !table || table->cellAt(one.position()) == table->cellAt(other.position());
}

} // namespace

void showContextualSpacing(QTextDocument &document, int from, int to)
{
    // Without tables every paragraph flows in the same place.
    const bool tables = !document.rootFrame()->childFrames().isEmpty();
    const auto together = [tables](const QTextBlock &one, const QTextBlock &other) {
        return !tables || sameFlow(one, other);
    };
    // Consecutive paragraphs that get the same format get it in one step:
    // Qt takes as long for one paragraph as for a run of them.
    QTextCursor run(&document);
    QTextBlockFormat runFormat;
    QTextBlock runLast;
    const auto flush = [&] {
        if (runLast.isValid())
            run.setBlockFormat(runFormat);
        runLast = QTextBlock();
    };
    for (QTextBlock block = document.findBlock(from); block.isValid() && block.position() <= to;
         block = block.next()) {
        QTextBlockFormat format = block.blockFormat();
        if (!format.boolProperty(contextualSpaceProperty) ||
            format.hasProperty(statedSpacingProperty))
            continue;
        const int style = format.intProperty(paragraphStyleProperty);
        const auto sameStyle = [&](const QTextBlock &other) {
            return other.isValid() &&
                   other.blockFormat().intProperty(paragraphStyleProperty) == style &&
                   together(block, other);
        };
        const bool above = format.topMargin() > 0 && sameStyle(block.previous());
        const bool below = format.bottomMargin() > 0 && sameStyle(block.next());
        if (!above && !below)
            continue;
        format.setProperty(statedSpacingProperty,
                           QStringLiteral("%1,%2")
                               .arg(std::lround(format.topMargin() * 15))
                               .arg(std::lround(format.bottomMargin() * 15)));
        if (above)
            format.setTopMargin(0);
        if (below)
            format.setBottomMargin(0);
        if (runLast.isValid() && runLast.next() == block && format == runFormat &&
            together(runLast, block)) {
            run.setPosition(block.position(), QTextCursor::KeepAnchor);
            runLast = block;
            continue;
        }
        flush();
        run.setPosition(block.position());
        runFormat = format;
        runLast = block;
    }
    flush();
}

void showEmptyParagraphsBeforeTables(QTextDocument &document, int from, int to)
{
    for (QTextBlock block = document.findBlock(from); block.isValid() && block.position() <= to;
         block = block.next()) {
        if (block.length() != 1)
            continue;
        const auto *table =
            qobject_cast<const QTextTable *>(document.frameAt(block.position() + 1));
        if (!table || table->firstPosition() != block.position() + 1)
            continue;
        QTextBlockFormat format = block.blockFormat();
        if (format.hasProperty(QTextFormat::BackgroundBrush))
            continue; // Qt shows it
        // Where the document or a cell begins, only the file's own.
        const QTextCursor at(block);
        const QTextTable *around = at.currentTable();
        const int start = around ? around->cellAt(block.position()).firstPosition()
                                 : at.currentFrame()->firstPosition();
        if (block.position() == start && !format.boolProperty(ownParagraphProperty))
            continue;
        // Qt leaves a paragraph with a background of its own in its place;
        // this one draws none, and is written as none.
        format.setBackground(QBrush());
        QTextCursor(block).setBlockFormat(format);
    }
}

} // namespace Inkwell::Rtf
