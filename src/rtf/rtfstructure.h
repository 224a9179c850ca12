// The reader's paragraph, list and table structure: the paragraph properties
// kept per group, the list and row definitions read from the header and the
// rows, and the builder that turns paragraph, cell and row ends into block
// formats, QTextLists and QTextTables.
#pragma once

#include "core/formatproperties.h"
#include "rtf/rtftextruns.h"

#include <QByteArray>
#include <QPointer>
#include <QTextBlock>
#include <QTextBlockFormat>
#include <QTextFormat>
#include <QTextListFormat>
#include <QTextTableFormat>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

class QTextCursor;
class QTextList;
class QTextTable;

namespace Inkwell::Rtf {

// Bounds that keep hostile tables from taking unbounded time or memory;
// past them the content stays in the document as text.
inline constexpr int maxTableDepth = 8;
inline constexpr int maxCellsPerRow = 64;
inline constexpr int maxCellsPerTable = 100000;
// The columns one table's rows may share: each distinct cell boundary of its
// rows is one. A table whose rows need more is split where a row does not fit.
inline constexpr int maxGridColumns = 128;
// A table with lines on some sides of its cells only, and more cells than
// this, is drawn with the whole grid.
inline constexpr size_t maxCellsWithOwnBorders = 20000;

struct TabStop {
    int twips = 0;
    QTextOption::TabType type = QTextOption::LeftTab;
    bool operator==(const TabStop &) const = default;
};

// One level of a list as the list table (or a \pn group) defines it.
struct ListLevel {
    QTextListFormat::Style style = QTextListFormat::ListDecimal;
    QString prefix;
    QString suffix;
    int start = 1;
    QString bullet; // a bullet other than the style's own
    QString font;   // the level's font (\fN), by name
    char16_t bulletRead = 0; // a bullet level's character as the file has it
    int follow = 0; // \levelfollow: 0 a tab, 1 a space, 2 nothing
    bool operator==(const ListLevel &) const = default;
};

// The older paragraph numbering (\pn): one level carried by the paragraph.
struct OldNumbering {
    bool valid = false;
    int level = 0;
    ListLevel look;
    bool operator==(const OldNumbering &) const = default;
};

// The sides of a cell or row a border is drawn on.
enum BorderSide : std::uint8_t {
    TopSide = 1,
    LeftSide = 2,
    BottomSide = 4,
    RightSide = 8,
    AllSides = 15,
    InsideHorizontal = 16, // a row's lines between its cells and the rows next to it
    InsideVertical = 32,   // a row's lines between its cells
};

// How one side of a cell or paragraph is drawn: \brdrs and the like,
// \brdrdb, \brdrdot, \brdrdash; \brdrw; \brdrcf.
enum class LineStyle : std::uint8_t { Single, Double, Dotted, Dashed };
inline constexpr int maxBorderTwips = 255; // the largest \brdrw Word writes
struct BorderLine {
    LineStyle style = LineStyle::Single;
    int width = 0;  // twips; 0: none stated
    int colour = 0; // colour table index; 0: automatic
    int space = 0;  // \brsp: from the text, twips (a paragraph's only)
    bool operator==(const BorderLine &) const = default;
};

// The paragraph words a style gives (see ParagraphStyle) where the paragraph
// does not state its own.
enum StyledWord : std::uint8_t { StyledAlignment = 1, StyledLine = 2, StyledContextual = 4 };

// Paragraph properties; \pard resets them.
struct ParaProps {
    Qt::Alignment alignment = {};                         // none: the paragraph said nothing
    int leftIndent = 0, rightIndent = 0, firstIndent = 0; // twips
    bool indentStated = false;                            // \li or \fi read
    int spaceBefore = 0, spaceAfter = 0;                  // twips
    int lineSpacing = 0;                                  // \sl, 0: single
    bool lineMultiple = false;                            // \slmult1
    bool rightToLeft = false;                             // \rtlpar
    std::vector<TabStop> tabs;
    QTextOption::TabType nextTabType = QTextOption::LeftTab;
    bool inTable = false; // \intbl
    int nesting = 0;      // \itap
    int listOverride = 0; // \ls, 0: none
    int listLevel = 0;    // \ilvl
    OldNumbering numbering;
    bool pageBreakBefore = false;      // \pagebb, or a \page or \sect before it
    int shading = -1;                  // \cbpat: the background's colour table index
    bool contextualSpace = false;      // \contextualspace
    std::uint8_t borderSides = 0;      // BorderSide bits of the paragraph's box
    std::array<BorderLine, 4> lines{}; // top, left, bottom, right
    QByteArray section;                // the section break it begins (sectionBreakProperty)
    int sectionNumber = 0;             // and which one (sectionNumberProperty)
    int markFont = -1;                 // an empty paragraph's mark: its font
    int markHalfPoints = 0;            // and size; 0: not an empty paragraph
    int style = 0;                     // \s: a paragraph style of the style sheet
    std::uint8_t stated = 0;           // StyledWord bits the paragraph stated itself

    // The table nesting the paragraph is at: 0 outside tables.
    int depth() const { return nesting > 0 ? nesting : (inTable ? 1 : 0); }
    bool operator==(const ParaProps &) const = default;
};

// The list table and the list override table.
struct ListDefinitions {
    std::map<int, std::array<ListLevel, 9>> lists; // by \listid
    std::map<int, int> overrides;                  // \ls number → \listid
    // An override's own start of a level ({\lfolevel ... \levelstartatN}),
    // by \ls number; -1: the list's. It holds where the override begins the
    // list (or the level): other readers number a list already going on.
    std::map<int, std::array<int, 9>> overrideStarts;
    int overrideStart(int override, int level) const;
    const ListLevel *level(int override, int level) const;
    int listOf(int override) const; // the \listid of an override, 0: none
};

struct CellDef {
    int right = 0;           // \cellx, twips
    int hmerge = 0;          // 1 \clmgf, 2 \clmrg
    int vmerge = 0;          // 1 \clvmgf, 2 \clvmrg
    std::uint8_t sides = 0;  // BorderSide bits drawn
    // BorderSide bits the cell says have no line (\brdrnone): the row's
    // lines (\trbrdr*) do not reach them.
    std::uint8_t noneSides = 0;
    int pattern = -1;        // \clcbpat colour index
    int shading = 0;         // \clshdng, hundredths of a percent
    std::uint8_t valign = 0; // 0 top, 1 \clvertalc, 2 \clvertalb
    // \clpadt, \clpadl, \clpadb, \clpadr in twips; -1: the row's gap.
    std::array<int, 4> padding{-1, -1, -1, -1};
    // The look of each side drawn, in the order top, left, bottom, right.
    std::array<BorderLine, 4> lines{};
};

// The highest a row can be (\trrh), either way: the longest page, 22 inches.
inline constexpr int maxRowTwips = 31680;

struct RowDef {
    std::vector<CellDef> cells;
    CellDef next;           // properties read for the cell whose \cellx comes next
    int gap = 0;            // \trgaph
    int left = 0;           // \trleft
    int height = 0;         // \trrh, twips: > 0 at least, < 0 exactly, 0 as the content
    std::uint8_t sides = 0; // \trbrdr*: BorderSide bits drawn
    // The look of each row line, by the bit of its side: top, left, bottom,
    // right, inside horizontal, inside vertical.
    std::array<BorderLine, 6> lines{};
};

class StructureBuilder {
public:
    // `rows` holds the row definition read last for each table depth.
    StructureBuilder(QTextCursor &cursor, TextRuns &runs, const Tables &tables,
                     const ListDefinitions &lists,
                     const std::array<RowDef, maxTableDepth + 1> &rows);
    ~StructureBuilder();
    StructureBuilder(const StructureBuilder &) = delete;
    StructureBuilder &operator=(const StructureBuilder &) = delete;

    // Content of a paragraph with these properties follows.
    void content(const ParaProps &para);
    void paragraphEnd(const ParaProps &para);
    // \cell and \nestcell, \row and \nestrow; `row` is the row's definition.
    void cellEnd(const ParaProps &para, bool nested);
    void rowEnd(const ParaProps &para, bool nested, const RowDef &row);
    // A page or section break: between two rows of a table it ends the
    // table, and the rows after it make another.
    void breakBetweenRows();
    // The end of the data; `para` holds for a last paragraph without \par.
    void finish(const ParaProps &para);
    // True when the paragraph's list is one this builder makes a label for.
    bool listUnderstood(const ParaProps &para) const;
    // Where the definition of the row at a table depth comes from when a row
    // begins; without one, the definition read last. A file may give a row's
    // definition after its cells.
    void setRowSource(std::function<const RowDef &(int depth)> source)
    {
        m_rowSource = std::move(source);
    }
    // Called around the edits that move text already read (a row widened,
    // cells merged), with the first position they can move, so that
    // positions held elsewhere follow them.
    void setMoveWatch(std::function<void(int)> before, std::function<void()> after)
    {
        m_beforeMove = std::move(before);
        m_afterMove = std::move(after);
    }

private:
    struct Table;
    int effectiveDepth(int depth) const;
    void enter(int depth);
    void enterFor(const ParaProps &para);
    void openTable();
    bool ownParagraphBefore() const;
    void closeTable();
    void applyBorders(const Table &table, const std::vector<std::vector<CellDef>> &byColumn,
                      QTextTableFormat &format);
    void positionInCell();
    const RowDef &rowDefinition(int depth) const;
    bool placeRow(Table &table, const RowDef &def);
    void insertGridColumn(Table &table, int index, bool split);
    void applyParagraph(const ParaProps &para);
    QTextBlockFormat blockFormatOf(const ParaProps &para) const;
    QTextList *listFor(const ParaProps &para);
    void settleItem();
    void readShadow();

    QTextCursor &m_cursor;
    TextRuns &m_runs;
    const Tables &m_tables;
    const ListDefinitions &m_lists;
    const std::array<RowDef, maxTableDepth + 1> &m_rowDefs;
    std::vector<Table> m_open;          // the tables the cursor is in, outermost first
    bool m_positioned = true;           // the cursor is in the current cell of the innermost table
    int m_flatFrom = maxTableDepth + 1; // tables at this depth and deeper are text
    // The format and list the next new block inherits.
    QTextBlockFormat m_shadow;
    QTextList *m_shadowList = nullptr;
    // The block format made last, and what it was made from.
    QTextBlockFormat m_lastFormat;
    ParaProps m_lastFormatOf;
    bool m_haveLastFormat = false;
    // Per list (\listid), the QTextList of each level its next item joins.
    // (A list whose last block goes, in a merge, is deleted.)
    std::map<qint64, std::array<QPointer<QTextList>, 9>> m_listRuns;
    // A list item that joins its list once the paragraph after it is in.
    struct PendingItem {
        QTextBlock block;
        QPointer<QTextList> list;
        QTextListFormat format;
        qint64 key = 0;
        int indent = 0;
    };
    std::optional<PendingItem> m_pendingItem;
    std::function<const RowDef &(int)> m_rowSource;
    std::function<void(int)> m_beforeMove;
    std::function<void()> m_afterMove;
};

// Shows the contextual spacing of the paragraphs in [from, to] (see
// statedSpacingProperty): a paragraph that asks for it loses its space
// before or after next to a paragraph of the same style in the same place
// (the document, or one table cell).
void showContextualSpacing(QTextDocument &document, int from, int to);
// Qt hides an empty paragraph right before a table; the file's own empty
// paragraphs in [from, to] are shown, as other readers show them. (Qt's own
// before a table that begins the document or a cell stays hidden.)
void showEmptyParagraphsBeforeTables(QTextDocument &document, int from, int to);

} // namespace Inkwell::Rtf
