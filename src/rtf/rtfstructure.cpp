#include "rtf/rtfstructure.h"

#include "core/documenttext.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextList>
#include <QTextTable>

#include <algorithm>
#include <bit>
#include <cmath>

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
    return format;
}

} // namespace

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
    QTextTable *table = nullptr;
    int row = 0; // the current cell
    int col = 0;
    int rowsUsed = 0;
    bool haveFirst = false;
    RowDef first;          // the first row's definition gives the column widths
    std::vector<int> grid; // the first row's cell boundaries
    // Each row's cell definitions by grid column, and the borders its row
    // definition drew.
    std::vector<std::vector<CellDef>> rows;
    std::vector<std::uint8_t> rowSides;
    // For a row whose cells span several grid columns: each cell's first
    // column and span. Empty: cell n is column n.
    std::vector<std::pair<int, int>> spans;

    int column(int cell) const
    {
        if (spans.empty())
            return cell;
        if (size_t(cell) < spans.size())
            return spans[size_t(cell)].first;
        return spans.back().first + spans.back().second + cell - int(spans.size());
    }
};

namespace {

// The first grid column and span of each cell of `row` on `grid`, when every
// cell ends on a boundary of the grid; empty when one does not.
std::vector<std::pair<int, int>> spansOnGrid(const RowDef &row, const std::vector<int> &grid)
{
    std::vector<std::pair<int, int>> spans;
    int start = 0;
    for (const CellDef &cell : row.cells) {
        const auto found = std::find(grid.begin() + start, grid.end(), cell.right);
        if (found == grid.end())
            return {};
        const int end = int(found - grid.begin());
        spans.emplace_back(start, end - start + 1);
        start = end + 1;
    }
    return spans;
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
    if (depth != int(m_open.size()) || !m_positioned)
        enter(depth);
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
    const int depth = nested ? std::max(2, para.depth()) : 1;
    if (depth > effectiveDepth(depth)) {
        // Past the caps the cells stay text, separated by tabs.
        m_runs.cellEnd();
        return;
    }
    enter(depth);
    // A \par right before \cell adds no empty paragraph to the cell; any
    // before it do, as they do outside a table.
    m_runs.dropBreaks(1);
    m_runs.writePending();
    applyParagraph(para);
    m_runs.flush();
    m_runs.dropPending();
    closeLists();
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
        // The row's cells by grid column; a cell spanning several columns
        // is merged over them.
        std::vector<CellDef> byColumn;
        for (int c = 0; c < int(def.cells.size()); ++c) {
            const int column = table.column(c);
            const int span = size_t(c) < table.spans.size() ? table.spans[size_t(c)].second : 1;
            if (column + span > qtable->columns())
                break;
            byColumn.resize(size_t(column + span));
            CellDef &first = byColumn[size_t(column)];
            first = def.cells[size_t(c)];
            if (span > 1)
                first.hmerge = 1;
            for (int k = 1; k < span; ++k) {
                byColumn[size_t(column + k)].hmerge = 2;
                byColumn[size_t(column + k)].vmerge = first.vmerge;
            }
        }
        for (int c = 0; c < int(def.cells.size()) && table.column(c) < qtable->columns(); ++c) {
            const CellDef &cell = def.cells[size_t(c)];
            QColor background;
            if (cell.pattern > 0 && size_t(cell.pattern) < m_tables.colors.size())
                background = m_tables.colors[size_t(cell.pattern)];
            if (!background.isValid() && cell.shading > 0) {
                const int level = 255 - 255 * std::min(cell.shading, 10000) / 10000;
                background = QColor(level, level, level);
            }
            const bool padded = cell.padding != CellDef().padding;
            if (!background.isValid() && !padded && cell.valign == 0)
                continue;
            QTextTableCell qcell = qtable->cellAt(table.row, table.column(c));
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
            qcell.setFormat(format);
        }
        if (!table.haveFirst && !def.cells.empty()) {
            table.haveFirst = true;
            table.first = def;
            table.first.next = CellDef();
            for (const CellDef &cell : def.cells)
                table.grid.push_back(cell.right);
        }
        table.rows.push_back(std::move(byColumn));
        table.rowSides.push_back(def.sides);
    }
    ++table.row;
    table.col = 0;
    table.spans.clear();
    m_positioned = false;
    if (qint64(table.row) * std::max(qtable->columns(), 1) >= maxCellsPerTable) {
        closeTable();
        m_flatFrom = depth; // further rows of this table are text
    }
}

void StructureBuilder::finish(const ParaProps &para)
{
    if (m_runs.paragraphHasContent())
        applyParagraph(para);
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
    if (m_runs.pendingBreaks() > 0)
        m_runs.dropBreaks(1);
    m_runs.writePending();
    m_runs.flush();
    m_runs.dropPending();
    closeLists();
    if (!m_open.empty() && !m_positioned)
        positionInCell();
    QTextTableFormat format;
    format.setCellSpacing(0);
    format.setCellPadding(0);
    format.setBorder(0);
    Table table;
    table.table = m_cursor.insertTable(1, 1, format);
    table.rowsUsed = 1;
    m_open.push_back(std::move(table));
    m_positioned = true;
    readShadow();
}

void StructureBuilder::positionInCell()
{
    m_runs.flush();
    if (Table &table = m_open.back(); table.col == 0 && !table.rows.empty()) {
        // A row defined with fewer cells than the table's first row, each
        // ending where a column does, spans those columns (Word writes
        // merged cells so); other rows with another number of cells start
        // a table of their own, as LibreOffice shows them.
        const RowDef &def = m_rowDefs[m_open.size()];
        table.spans.clear();
        if (!def.cells.empty() && !table.grid.empty() && def.cells.size() != table.grid.size()) {
            table.spans = spansOnGrid(def, table.grid);
            if (table.spans.empty()) {
                closeTable();
                openTable();
                return;
            }
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
    m_cursor.setPosition(qtable->cellAt(table.row, column).lastCursorPosition().position());
    m_positioned = true;
    readShadow();
}

void StructureBuilder::closeTable()
{
    m_runs.flush();
    m_runs.dropPending();
    closeLists();
    Table table = std::move(m_open.back());
    m_open.pop_back();
    QTextTable *qtable = table.table;
    if (table.rowsUsed < qtable->rows())
        qtable->removeRows(table.rowsUsed, qtable->rows() - table.rowsUsed);

    QTextTableFormat format = qtable->format();
    if (table.haveFirst) {
        const RowDef &first = table.first;
        QList<QTextLength> widths;
        int left = first.left;
        for (const CellDef &cell : first.cells) {
            if (widths.size() >= qtable->columns())
                break;
            // Boundaries come from the file as they are: any two ints.
            const qint64 width = std::min<qint64>(qint64(cell.right) - left, 31680);
            widths.append(width > 0 ? QTextLength(QTextLength::FixedLength, px(int(width)))
                                    : QTextLength());
            left = cell.right;
        }
        while (widths.size() < qtable->columns())
            widths.append(QTextLength());
        format.setColumnWidthConstraints(widths);
        format.setCellPadding(px(std::clamp(first.gap, 0, 1440)));
    }

    // Merged cells: a first cell and the cells that continue it.
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
        qtable->mergeCells(row, column, rowSpan, columnSpan);
        QTextCursor merged(qtable->cellAt(row, column).firstCursorPosition());
        QTextBlockFormat wanted = format;
        wanted.setObjectIndex(merged.blockFormat().objectIndex()); // its list stays
        if (merged.blockFormat() != wanted)
            merged.setBlockFormat(wanted);
        ++merges;
    };
    for (int r = 0; r < rows && merges < maxMerges; ++r) {
        const std::vector<CellDef> &cells = table.rows[size_t(r)];
        const int count = std::min(int(cells.size()), columns);
        for (int c = 0; c < count && merges < maxMerges; ++c) {
            if (cells[size_t(c)].vmerge == 1) {
                int span = 1;
                while (r + span < rows) {
                    const std::vector<CellDef> &below = table.rows[size_t(r + span)];
                    if (size_t(c) >= below.size() || below[size_t(c)].vmerge != 2)
                        break;
                    ++span;
                }
                if (span > 1)
                    merge(r, c, span, 1);
            }
            if (cells[size_t(c)].hmerge == 1) {
                int span = 1;
                while (c + span < count && cells[size_t(c + span)].hmerge == 2)
                    ++span;
                if (span > 1)
                    merge(r, c, 1, span);
            }
        }
    }

    if (watching && m_afterMove)
        m_afterMove();

    applyBorders(table, format);

    m_cursor.setPosition(qtable->lastPosition() + 1);
    m_positioned = m_open.empty();
    readShadow();
}

void StructureBuilder::applyBorders(const Table &table, QTextTableFormat &format)
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
    // Each place's lines, in the order top, left, bottom, right; made only
    // when some drawn line is not a plain single one.
    std::vector<std::array<BorderLine, 4>> looks;
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
    for (int r = 0; r < std::min(int(table.rows.size()), rows); ++r) {
        const std::vector<CellDef> &cells = table.rows[size_t(r)];
        const std::uint8_t row = table.rowSides[size_t(r)];
        const int count = std::min(int(cells.size()), columns);
        counts[size_t(r)] = count;
        for (int c = 0; c < count; ++c) {
            std::uint8_t drawn = cells[size_t(c)].sides & AllSides;
            if ((row & TopSide && r == 0) || (row & InsideHorizontal && r > 0))
                drawn |= TopSide;
            if ((row & BottomSide && r == rows - 1) || (row & InsideHorizontal && r < rows - 1))
                drawn |= BottomSide;
            if ((row & LeftSide && c == 0) || (row & InsideVertical && c > 0))
                drawn |= LeftSide;
            if ((row & RightSide && c == count - 1) || (row & InsideVertical && c < count - 1))
                drawn |= RightSide;
            own[size_t(r) * size_t(columns) + size_t(c)] = drawn;
            any = any || drawn;
            const std::array<bool, 4> on = drawnSides(drawn & cells[size_t(c)].sides);
            for (size_t side = 0; side < 4; ++side) {
                if (!on[side] || plain(cells[size_t(c)].lines[side]))
                    continue;
                if (looks.empty())
                    looks.resize(places);
                looks[size_t(r) * size_t(columns) + size_t(c)] = cells[size_t(c)].lines;
                break;
            }
        }
    }
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
            if (line.colour > 0 && size_t(line.colour) < m_tables.colors.size() &&
                m_tables.colors[size_t(line.colour)].isValid())
                (cellFormat.*setBrush)(m_tables.colors[size_t(line.colour)]);
            // A width the one shown does not give back is kept to be written.
            if (std::lround(width * 15) != line.width && line != BorderLine())
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
    if (para.markHalfPoints > 0) {
        const auto font = m_tables.fonts.find(para.markFont < 0 ? m_tables.deff : para.markFont);
        format.setProperty(markFamilyProperty,
                           font != m_tables.fonts.end() ? font->second.name : QString());
        format.setProperty(markHalfPointsProperty, para.markHalfPoints);
    }
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
    // Most paragraphs have the properties of the one before.
    if (!m_haveLastFormat || !(para == m_lastFormatOf)) {
        m_lastFormat = blockFormatOf(para);
        m_lastFormatOf = para;
        m_haveLastFormat = true;
    }
    const QTextBlockFormat &wanted = m_lastFormat;
    // Which list the paragraph continues, or starts.
    const ListLevel *level = nullptr;
    int key = 0;
    int indent = 0;
    if (para.listOverride > 0) {
        level = m_lists.level(para.listOverride, para.listLevel);
        key = para.listOverride;
        indent = std::clamp(para.listLevel, 0, 8);
    }
    if (!level && para.numbering.valid) {
        level = &para.numbering.look;
        key = -1;
        indent = std::clamp(para.numbering.level, 0, 8);
    }
    QTextListFormat listFormat;
    QTextList *run = nullptr;
    if (level) {
        if (key != m_listRunKey)
            closeLists();
        m_listRunKey = key;
        for (size_t l = size_t(indent) + 1; l < m_listRun.size(); ++l)
            m_listRun[l] = nullptr;
        listFormat = listFormatOf(*level, indent);
        run = m_listRun[size_t(indent)];
        if (run && run->format() != listFormat)
            run = nullptr;
    } else {
        closeLists();
    }
    if (level) {
        // Qt draws a list label in the block's character format: the
        // item's own first run's, not what the item before left there.
        m_runs.writePending();
        m_runs.flush();
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
    m_cursor.setBlockFormat(wanted);
    if (level) {
        if (!run)
            run = m_cursor.createList(listFormat);
        else if (m_cursor.block().textList() != run)
            run->add(m_cursor.block());
        m_listRun[size_t(indent)] = run;
    }
    m_shadow = wanted;
    m_shadowList = run;
}

void StructureBuilder::closeLists()
{
    m_listRun.fill(nullptr);
    m_listRunKey = 0;
}

void StructureBuilder::readShadow()
{
    m_shadow = m_cursor.blockFormat();
    m_shadow.clearProperty(QTextFormat::ObjectIndex);
    m_shadowList = m_cursor.currentList();
}

} // namespace Inkwell::Rtf
