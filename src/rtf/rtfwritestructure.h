// What the writer states about paragraphs, lists and tables, apart from the
// text runs: paragraph properties, the list table and table row definitions.
#pragma once

#include <QHash>
#include <QRgb>
#include <QTextListFormat>

#include "rtf/rtfstyles.h"

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QTextBlock;
class QTextBlockFormat;
class QTextDocument;
class QTextFrame;
class QTextList;
class QTextTable;
class QTextTableFormat;

namespace Inkwell::Rtf {

// The table that is a child of `container` and holds the document
// position, or null when the position is in `container` itself (or in a
// frame that is no table).
QTextTable *tableAt(const QTextDocument &document, int position, const QTextFrame *container);

// Where a block's paragraphs flow: the first position of the table cell
// holding it, or -1 outside tables. Text in no list ends a list only where
// the list's last item flows; text beside it (a description in the next
// cell, say) does not, as Word and LibreOffice number on past it.
int flowOf(const QTextBlock &block);

// Document lengths are pixels at 96 dpi; RTF lengths are twips.
int twipsOf(qreal pixels);

// RTF lists (\listtable) made from the QTextLists a document uses, in the
// order their first paragraphs are written. A QTextList is one level of one
// list: a list with a larger indent right after an item of a smaller one is
// a sublist, written as a deeper level of the same RTF list, so that Word and
// LibreOffice number it the way Qt does.
class ListTable {
public:
    // `fontOf` gives the font table's number of a font a level names
    // (listBulletAsReadProperty), adding the font to the table.
    ListTable(int levelTwips, std::function<int(const QString &)> fontOf)
        : m_fontOf(std::move(fontOf)), m_levelTwips(levelTwips)
    {
    }

    struct Ref {
        int override = 0; // \lsN, 1-based
        int level = 0;    // \ilvlN
    };
    // `previous` is the list of the paragraph written just before (null when
    // that one was not a list item).
    Ref refFor(const QTextList &list, const QTextList *previous);

    bool empty() const { return m_families.empty(); }
    int levelTwips() const { return m_levelTwips; }
    // {\*\listtable ...}{\*\listoverridetable ...}, or nothing without lists.
    std::string header() const;

private:
    struct Family {
        std::array<std::optional<QTextListFormat>, 9> levels;
        std::array<const QTextList *, 9> current{}; // the list given each level last
        std::array<int, 9> fonts{-1, -1, -1, -1, -1, -1, -1, -1, -1}; // \fN of each level
    };
    void setLevel(Family &family, int level, const QTextListFormat &format);
    static bool fitsInto(const Family &family, const QTextList &list, int level);
    std::vector<Family> m_families;
    QHash<const QTextList *, Ref> m_refs;
    QHash<int, Ref> m_chainRefs; // the place each long list's chain was given last
    std::function<int(const QString &)> m_fontOf;
    int m_levelTwips;
};

// "\pard" and the paragraph's properties; `depth` is how many tables hold
// the paragraph (0: none), `list` its list place (null: not a list item),
// `rightToLeft` whether it runs from right to left.
// `styles` are the kept style sheet's: a paragraph names its own style from
// them, and states what it does not take from that style (or from style 0)
// where other readers would.
// Returns "" for a paragraph with nothing to state: not in a table, not a
// list item, no property that differs from the RTF defaults.
std::string paragraphProperties(const QTextBlockFormat &format, int depth,
                                const ListTable::Ref *list, int levelTwips,
                                bool rightToLeft = false,
                                const std::function<int(QRgb)> &colour = {},
                                const ParagraphStyles *styles = nullptr);

// The widths of the table's columns in twips: the fixed and percentage
// constraints, the rest of `availableTwips` shared equally by the others;
// none wider than the widest page.
std::vector<int> columnWidths(const QTextTableFormat &format, int columns, int availableTwips);

// Which of the table's column boundaries some row draws: boundary k (left
// of column k, 0 < k < columns) where a written cell of some row begins or
// ends.
std::vector<bool> drawnBoundaries(const QTextTable &table);

// How many grid columns the cell written at (`row`, `column`) covers, the
// row written up to `columns`. A cell merged across is one cell, as wide as
// the columns it covers, where other rows draw the boundaries inside it (so
// that it reads back on the same grid); else each column is a cell of its
// own, the first marked \clmgf and the others \clmrg. Those LibreOffice draws
// with the lines of the wrong rows, and a table nested in them narrower.
int writtenSpan(const QTextTable &table, int row, int column, int columns,
                const std::vector<bool> &drawn);

// \trowd with the gap, the left edge and one \cellx per cell of `row` as
// writtenSpan() gives them (covered cells of merged ones included), with
// their merge marks, borders and shading; `colour` gives a colour table
// index. The row ends after `columns` grid columns.
std::string rowDefinition(const QTextTable &table, int row, const std::vector<int> &widths,
                          const std::function<int(QRgb)> &colour, int columns,
                          const std::vector<bool> &drawn);

// How many of the row's cells are written: the empty places past the end of
// the row the file gave (cellOutsideRowProperty) are not.
int writtenColumns(const QTextTable &table, int row);

} // namespace Inkwell::Rtf
