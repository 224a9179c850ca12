#include "rtf/rtfwritestructure.h"

#include "core/documenttext.h"
#include "core/formatproperties.h"
#include "rtf/rtflisttable.h"

#include <QColor>
#include <QTextBlock>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextList>
#include <QTextTable>

#include <algorithm>
#include <cmath>
#include <limits>

namespace Inkwell::Rtf {

namespace {

constexpr int maxLevels = 9;          // what Word and LibreOffice know
constexpr int maxColumnTwips = 31680; // 22 inches, the widest page
constexpr int maxRowHeightTwips = 31680; // the longest page, as the reader holds \trrh

void word(std::string &out, const char *name)
{
    out.push_back('\\');
    out.append(name);
}

void word(std::string &out, const char *name, long long value)
{
    word(out, name);
    out.append(std::to_string(value));
}

void hexByte(std::string &out, int value)
{
    static const char digits[] = "0123456789abcdef";
    out.append("\\'");
    out.push_back(digits[(value >> 4) & 15]);
    out.push_back(digits[value & 15]);
}

// Text inside \leveltext: every character counts as one, whatever its form.
void levelChars(std::string &out, const QString &text)
{
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 0x20 && u < 0x7F && u != '\\' && u != '{' && u != '}' && u != ';') {
            out.push_back(char(u));
        } else if (u < 0x80) {
            hexByte(out, u);
        } else {
            word(out, "u", u > 32767 ? u - 65536 : u);
            out.push_back('?');
        }
    }
}

int numberFormat(QTextListFormat::Style style)
{
    switch (style) {
    case QTextListFormat::ListDisc:
    case QTextListFormat::ListCircle:
    case QTextListFormat::ListSquare:
        return 23;
    case QTextListFormat::ListUpperRoman:
        return 1;
    case QTextListFormat::ListLowerRoman:
        return 2;
    case QTextListFormat::ListUpperAlpha:
        return 3;
    case QTextListFormat::ListLowerAlpha:
        return 4;
    case QTextListFormat::ListStyleUndefined:
        return 255; // no number
    default:
        return 0;
    }
}

int startOf(const QTextListFormat &format)
{
    const QVariant start = format.property(listStartProperty);
    return start.isValid() ? start.toInt() : 1;
}

QString suffixOf(const QTextListFormat &format)
{
    return format.hasProperty(QTextFormat::ListNumberSuffix) ? format.numberSuffix()
                                                             : QStringLiteral(".");
}

bool sameLevel(const QTextListFormat &a, const QTextListFormat &b)
{
    return a.style() == b.style() && a.numberPrefix() == b.numberPrefix() &&
           suffixOf(a) == suffixOf(b) && startOf(a) == startOf(b) &&
           a.property(listBulletProperty) == b.property(listBulletProperty) &&
           a.intProperty(listFollowProperty) == b.intProperty(listFollowProperty) &&
           a.property(listBulletAsReadProperty) == b.property(listBulletAsReadProperty);
}

// `font`: the level's \fN, or -1.
void levelDefinition(std::string &out, const QTextListFormat &format, int level, int levelTwips,
                     int font)
{
    const int nfc = numberFormat(format.style());
    out.append("{\\listlevel");
    word(out, "levelnfc", nfc);
    word(out, "levelnfcn", nfc);
    out.append("\\leveljc0\\leveljcn0");
    word(out, "levelfollow", std::clamp(format.intProperty(listFollowProperty), 0, 2));
    word(out, "levelstartat", startOf(format));
    out.append("\\levelspace0\\levelindent0{\\leveltext");
    if (nfc == 23) {
        // The bullets Word and LibreOffice use for these shapes.
        const char16_t bullet = format.style() == QTextListFormat::ListCircle   ? 0x25E6
                                : format.style() == QTextListFormat::ListSquare ? 0x25AA
                                                                                : 0x2022;
        const QString own = format.property(listBulletProperty).toString();
        const QString read = format.property(listBulletAsReadProperty).toString();
        hexByte(out, 1);
        // The character as the file had it, where read back it shows what
        // the level shows now. (A byte such as \\'b7 is written as its
        // character: LibreOffice reads the byte so.)
        const bool asRead = font >= 0 && !read.isEmpty() &&
                            bulletLook(read.back().unicode()) == BulletLook{format.style(), own};
        if (asRead)
            levelChars(out, read.right(1));
        else
            levelChars(out, own.size() == 1 ? own : QString(QChar(bullet)));
        out.append(";}{\\levelnumbers;}");
        if (asRead)
            word(out, "f", font);
    } else if (nfc == 255) {
        out.append("\\'00;}{\\levelnumbers;}");
    } else {
        const QString prefix = format.numberPrefix();
        const QString suffix = suffixOf(format);
        hexByte(out, int(std::min<qsizetype>(prefix.size() + 1 + suffix.size(), 255)));
        levelChars(out, prefix);
        hexByte(out, level); // the placeholder of this level's number
        levelChars(out, suffix);
        out.append(";}{\\levelnumbers");
        hexByte(out, int(std::min<qsizetype>(prefix.size() + 1, 255)));
        out.append(";}");
    }
    const int left = (level + 1) * levelTwips;
    out.append("\\fi-360");
    word(out, "li", left);
    word(out, "lin", left);
    out.append("}");
}

} // namespace

QTextTable *tableAt(const QTextDocument &document, int position, const QTextFrame *container)
{
    QTextFrame *frame = document.frameAt(position);
    while (frame && frame->parentFrame() != container) {
        if (frame == container)
            return nullptr;
        frame = frame->parentFrame();
    }
    return qobject_cast<QTextTable *>(frame);
}

int flowOf(const QTextBlock &block)
{
    const QTextTable *table = QTextCursor(block).currentTable();
    return table ? table->cellAt(block.position()).firstPosition() : -1;
}

int twipsOf(qreal pixels)
{
    // Held to what an int takes: a hostile file can give any length.
    constexpr double limit = std::numeric_limits<int>::max();
    return int(std::lround(std::clamp(pixels * 15, -limit, limit)));
}

// A reader numbers the items of one RTF list's level on until an item of a
// higher level of that list comes. A QTextList joins a list at `level` only
// where that numbers its items as Qt does: every list the family gave that
// level or a deeper one has ended before the list's first item, and no list
// of a higher level has an item among the list's own. (Lists are written in
// the order their first items come.)
bool ListTable::fitsInto(const Family &family, const QTextList &list, int level)
{
    const int count = list.count();
    if (count == 0)
        return true;
    const int first = list.item(0).position();
    const int last = list.item(count - 1).position();
    for (int l = 0; l < maxLevels; ++l) {
        const QTextList *other = family.current[size_t(l)];
        const int items = other ? other->count() : 0;
        if (items == 0)
            continue;
        if (l >= level) {
            if (other->item(items - 1).position() > first)
                return false;
            continue;
        }
        // The first of the other list's items after the list's first one.
        int low = 0;
        int high = items;
        while (low < high) {
            const int middle = low + (high - low) / 2;
            if (other->item(middle).position() > first)
                high = middle;
            else
                low = middle + 1;
        }
        if (low < items && other->item(low).position() < last)
            return false;
    }
    return true;
}

void ListTable::setLevel(Family &family, int level, const QTextListFormat &format)
{
    family.levels[size_t(level)] = format;
    const QString read = format.property(listBulletAsReadProperty).toString();
    if (read.size() > 1 && m_fontOf)
        family.fonts[size_t(level)] = m_fontOf(read.chopped(1));
}

ListTable::Ref ListTable::refFor(const QTextList &list, const QTextList *previous)
{
    const auto found = m_refs.constFind(&list);
    if (found != m_refs.constEnd())
        return *found;
    const QTextListFormat format = list.format();
    Ref ref;
    ref.level = std::clamp(format.indent() - 1, 0, maxLevels - 1);
    // The list as a level of another's family, unless that level already
    // counts in another style or numbers otherwise there.
    const auto join = [&](int override) {
        Family &family = m_families[size_t(override - 1)];
        std::optional<QTextListFormat> &slot = family.levels[size_t(ref.level)];
        if ((slot && !sameLevel(*slot, format)) || !fitsInto(family, list, ref.level))
            return false;
        if (!slot)
            setLevel(family, ref.level, format);
        ref.override = override;
        return true;
    };
    const auto before = previous ? m_refs.constFind(previous) : m_refs.constEnd();
    bool joined = false;
    // A part of a long list goes on where the part before it was written.
    const QVariant chain = format.property(listChainProperty);
    const auto part =
        chain.isValid() ? m_chainRefs.constFind(chain.toInt()) : m_chainRefs.constEnd();
    if (part != m_chainRefs.constEnd() && part->level == ref.level)
        joined = join(part->override);
    // A sublist right under an item: a deeper level of the same list.
    if (!joined && before != m_refs.constEnd() && ref.level > before->level)
        joined = join(before->override);
    if (!joined && format.intProperty(listImpliedItemsProperty) > 0) {
        // A level whose first item follows items of a deeper level, which
        // other readers count as its own first: the same list as the
        // deeper items just before it.
        const int first = list.count() > 0 ? list.item(0).position() : -1;
        const QTextList *deeper = nullptr;
        int deeperEnd = -1;
        for (auto it = m_refs.constBegin(); it != m_refs.constEnd(); ++it) {
            const QTextList *other = it.key();
            const int end = other->count() > 0 ? other->item(other->count() - 1).position() : -1;
            if (it->level > ref.level && end < first && end > deeperEnd) {
                deeper = other;
                deeperEnd = end;
            }
        }
        if (deeper)
            joined = join(m_refs[deeper].override);
    }
    if (!joined) {
        m_families.emplace_back();
        setLevel(m_families.back(), ref.level, format);
        ref.override = int(m_families.size());
    }
    m_families[size_t(ref.override - 1)].current[size_t(ref.level)] = &list;
    m_refs.insert(&list, ref);
    if (chain.isValid())
        m_chainRefs.insert(chain.toInt(), ref);
    return ref;
}

std::string ListTable::header() const
{
    if (m_families.empty())
        return {};
    std::string out = "{\\*\\listtable\n";
    for (size_t i = 0; i < m_families.size(); ++i) {
        const long long id = static_cast<long long>(i) + 1;
        out.append("{\\list");
        word(out, "listtemplateid", id);
        for (int level = 0; level < maxLevels; ++level) {
            const std::optional<QTextListFormat> &slot = m_families[i].levels[size_t(level)];
            QTextListFormat format;
            format.setStyle(QTextListFormat::ListDecimal);
            levelDefinition(out, slot ? *slot : format, level, m_levelTwips,
                            m_families[i].fonts[size_t(level)]);
            out.push_back('\n');
        }
        out.append("{\\listname ;}");
        word(out, "listid", id);
        out.append("}\n");
    }
    out.append("}\n{\\*\\listoverridetable");
    for (size_t i = 0; i < m_families.size(); ++i) {
        out.append("{\\listoverride");
        word(out, "listid", static_cast<long long>(i) + 1);
        out.append("\\listoverridecount0");
        word(out, "ls", static_cast<long long>(i) + 1);
        out.append("}");
    }
    out.append("}\n");
    return out;
}

std::string paragraphProperties(const QTextBlockFormat &format, int depth,
                                const ListTable::Ref *list, int levelTwips, bool rightToLeft,
                                const std::function<int(QRgb)> &colour,
                                const ParagraphStyles *styles)
{
    std::string out;
    // The style the paragraph names, else style 0, which a reader gives to
    // every paragraph that names none.
    const ParagraphStyle *style = nullptr;
    if (styles) {
        const int own = format.intProperty(paragraphStyleProperty);
        auto found = own != 0 ? styles->find(own) : styles->end();
        if (found != styles->end())
            word(out, "s", own);
        else
            found = styles->find(0);
        if (found != styles->end())
            style = &found->second;
    }
    if (depth > 0)
        word(out, "intbl");
    if (depth > 1)
        word(out, "itap", depth);
    if (list) {
        word(out, "ls", list->override);
        word(out, "ilvl", list->level);
    }
    const Qt::Alignment horizontal = format.hasProperty(QTextFormat::BlockAlignment)
                                         ? format.alignment() & Qt::AlignHorizontal_Mask
                                         : Qt::Alignment();
    if (horizontal & Qt::AlignHCenter)
        word(out, "qc");
    else if (horizontal & Qt::AlignJustify)
        word(out, "qj");
    else if (horizontal & Qt::AlignRight)
        word(out, "qr");
    else if (style && style->alignment && *style->alignment != Qt::AlignLeft)
        word(out, "ql");
    if (rightToLeft)
        word(out, "rtlpar");
    if (format.pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore)
        word(out, "pagebb");
    if (colour && format.background().style() != Qt::NoBrush)
        word(out, "cbpat", colour(format.background().color().rgb()));
    if (format.boolProperty(contextualSpaceProperty))
        word(out, "contextualspace");
    else if (style && style->contextualSpace)
        word(out, "contextualspace", 0);
    // The paragraph's box as read: "<side><style>,<twips>,<colour>,<space>"
    // per side.
    const QString box = format.stringProperty(paragraphBordersProperty);
    for (const QString &line : box.split(u';', Qt::SkipEmptyParts)) {
        const QStringList parts = line.mid(1).split(u',');
        const qsizetype side = QStringView(u"tlbr").indexOf(line.front());
        if (side < 0 || parts.size() != 4)
            continue;
        static const char *const sides[] = {"brdrt", "brdrl", "brdrb", "brdrr"};
        static const char *const styles[] = {"brdrs", "brdrdb", "brdrdot", "brdrdash"};
        word(out, sides[side]);
        word(out, styles[std::clamp(parts[0].toInt(), 0, 3)]);
        if (const int twips = std::clamp(parts[1].toInt(), 0, 255))
            word(out, "brdrw", twips);
        const QColor rgb(parts[2]);
        if (colour && rgb.isValid())
            word(out, "brdrcf", colour(rgb.rgb()));
        if (const int space = std::clamp(parts[3].toInt(), 0, 1440))
            word(out, "brsp", space);
    }
    // A list item's text starts where Qt puts it, its label hanging in front,
    // unless the file stated the item's own indents.
    int left = twipsOf(format.leftMargin()) + (list ? (list->level + 1) * levelTwips : 0);
    int first = list && format.textIndent() == 0 ? -360 : twipsOf(format.textIndent());
    const QStringList own = format.stringProperty(listItemIndentsProperty).split(u',');
    const bool stated = list && own.size() == 2;
    if (stated) {
        left = std::clamp(own[0].toInt(), -31680, 31680);
        first = std::clamp(own[1].toInt(), -31680, 31680);
    }
    if (left != 0 || stated)
        word(out, "li", left);
    if (const int right = twipsOf(format.rightMargin()))
        word(out, "ri", right);
    if (first != 0 || stated)
        word(out, "fi", first);
    // The spacing the file stated, where the window shows less of it.
    int before = twipsOf(format.topMargin()), after = twipsOf(format.bottomMargin());
    const QStringList spacing = format.stringProperty(statedSpacingProperty).split(u',');
    if (spacing.size() == 2) {
        before = std::clamp(spacing[0].toInt(), 0, 31680);
        after = std::clamp(spacing[1].toInt(), 0, 31680);
    }
    if (before != 0)
        word(out, "sb", before);
    if (after != 0)
        word(out, "sa", after);
    const std::size_t beforeLine = out.size();
    if (format.hasProperty(QTextFormat::LineHeightType)) {
        const qreal height = format.lineHeight();
        switch (format.lineHeightType()) {
        case QTextBlockFormat::ProportionalHeight:
            if (height > 0 && height != 100) {
                word(out, "sl", std::lround(height * 240 / 100));
                word(out, "slmult", 1);
            }
            break;
        case QTextBlockFormat::MinimumHeight:
            if (twipsOf(height) > 0) {
                word(out, "sl", twipsOf(height));
                word(out, "slmult", 0);
            }
            break;
        case QTextBlockFormat::FixedHeight:
            if (twipsOf(height) > 0) {
                word(out, "sl", -twipsOf(height));
                word(out, "slmult", 0);
            }
            break;
        default:
            break;
        }
    }
    // Single spacing, where the style would give its own.
    if (out.size() == beforeLine && style && style->lineStated && style->lineSpacing != 0) {
        word(out, "sl", 0);
        word(out, "slmult", 0);
    }
    const QList<QTextOption::Tab> tabs = format.tabPositions();
    for (const QTextOption::Tab &tab : tabs) {
        if (tab.type == QTextOption::RightTab)
            word(out, "tqr");
        else if (tab.type == QTextOption::CenterTab)
            word(out, "tqc");
        else if (tab.type == QTextOption::DelimiterTab)
            word(out, "tqdec");
        word(out, "tx", twipsOf(tab.position));
    }
    if (out.empty())
        return out;
    return "\\pard" + out;
}

std::vector<int> columnWidths(const QTextTableFormat &format, int columns, int availableTwips)
{
    std::vector<int> widths(size_t(std::max(columns, 0)), 0);
    const QList<QTextLength> constraints = format.columnWidthConstraints();
    long long used = 0; // widths from a hostile file can add up past an int
    int open = 0;
    for (int c = 0; c < columns; ++c) {
        const QTextLength length = c < constraints.size() ? constraints[c] : QTextLength();
        if (length.type() == QTextLength::FixedLength)
            widths[size_t(c)] = twipsOf(length.rawValue());
        else if (length.type() == QTextLength::PercentageLength)
            widths[size_t(c)] = int(std::lround(length.rawValue() * availableTwips / 100));
        else
            ++open;
        used += widths[size_t(c)];
    }
    if (open > 0) {
        const int share = int(std::clamp<long long>((availableTwips - used) / open, 360,
                                                    std::numeric_limits<int>::max()));
        for (int c = 0; c < columns; ++c) {
            const QTextLength length = c < constraints.size() ? constraints[c] : QTextLength();
            if (length.type() != QTextLength::FixedLength &&
                length.type() != QTextLength::PercentageLength)
                widths[size_t(c)] = share;
        }
    }
    // No column is wider than the widest page: the reader holds a column to
    // that, so a wider one written here would read back narrower and a
    // second save would differ from the first.
    for (int &width : widths)
        width = std::clamp(width, 1, maxColumnTwips);
    return widths;
}

int writtenColumns(const QTextTable &table, int row)
{
    int columns = table.columns();
    // At least one cell: a row of none is no row.
    while (columns > 1) {
        const QTextTableCell cell = table.cellAt(row, columns - 1);
        if (cell.row() != row || cell.column() != columns - 1 || cell.rowSpan() > 1 ||
            cell.columnSpan() > 1 || !cell.format().boolProperty(cellOutsideRowProperty) ||
            cell.firstPosition() != cell.lastPosition())
            break;
        --columns;
    }
    return columns;
}

std::vector<bool> drawnBoundaries(const QTextTable &table)
{
    const int columns = table.columns();
    std::vector<bool> drawn(size_t(std::max(columns, 0)), false);
    for (int row = 0; row < table.rows(); ++row) {
        const int written = writtenColumns(table, row);
        if (written < columns)
            drawn[size_t(written)] = true; // where the row ends
        for (int c = 1; c < written; ++c)
            if (table.cellAt(row, c).column() == c)
                drawn[size_t(c)] = true;
    }
    return drawn;
}

int writtenSpan(const QTextTable &table, int row, int column, int columns,
                const std::vector<bool> &drawn)
{
    const QTextTableCell cell = table.cellAt(row, column);
    if (cell.column() != column)
        return 1; // a covered place of a cell written in columns
    const int end = std::min(cell.column() + cell.columnSpan(), columns);
    for (int c = column + 1; c < end; ++c)
        if (size_t(c) >= drawn.size() || !drawn[size_t(c)])
            return 1;
    return std::max(end - column, 1);
}

std::string rowDefinition(const QTextTable &table, int row, const std::vector<int> &widths,
                          const std::function<int(QRgb)> &colour, int columns,
                          const std::vector<bool> &drawn)
{
    const QTextTableFormat format = table.format();
    std::string out = "\\trowd";
    const int left = twipsOf(format.leftMargin());
    word(out, "trgaph", twipsOf(format.cellPadding()));
    word(out, "trleft", left);
    // The row's height, held by the cells that begin in it: the first one's.
    // (A column Qt adds copies a neighbour's format, of another row at the
    // end of a row.)
    for (int c = 0; c < table.columns(); ++c) {
        const QTextTableCell cell = table.cellAt(row, c);
        if (cell.row() != row || cell.column() != c)
            continue;
        if (const int height = cell.format().intProperty(rowHeightProperty))
            word(out, "trrh", std::clamp(height, -maxRowHeightTwips, maxRowHeightTwips));
        break;
    }
    const int border =
        format.border() <= 0 || format.borderStyle() == QTextFrameFormat::BorderStyle_None ? 0
        : format.hasProperty(tableBorderTwipsProperty)
            ? format.intProperty(tableBorderTwipsProperty)
            : std::max(twipsOf(format.border()), 1);
    // Column widths read from a hostile file can add up past an int.
    long long edge = left;
    const int limit = std::min(columns, table.columns());
    for (int c = 0; c < limit;) {
        const QTextTableCell cell = table.cellAt(row, c);
        const int span = writtenSpan(table, row, c, limit, drawn);
        if (cell.rowSpan() > 1)
            word(out, cell.row() == row ? "clvmgf" : "clvmrg");
        if (span < cell.columnSpan())
            word(out, cell.column() == c ? "clmgf" : "clmrg");
        if (border > 0) {
            for (const char *side : {"clbrdrt", "clbrdrl", "clbrdrb", "clbrdrr"}) {
                word(out, side);
                word(out, "brdrs");
                word(out, "brdrw", border);
            }
        } else if (format.borderCollapse()) {
            // Lines on some sides of the cell only; a merged cell's on its
            // outer edges at this place.
            const QTextTableCellFormat own = cell.format().toTableCellFormat();
            const bool top = row == cell.row();
            const bool bottom = row == cell.row() + cell.rowSpan() - 1;
            const bool leftmost = c == cell.column();
            const bool rightmost = c + span == cell.column() + cell.columnSpan();
            struct Side {
                const char *word;
                bool outer;
                qreal width;
                QTextFrameFormat::BorderStyle style;
                QBrush brush;
            };
            const Side sides[] = {
                {"clbrdrt", top, own.topBorder(), own.topBorderStyle(), own.topBorderBrush()},
                {"clbrdrl", leftmost, own.leftBorder(), own.leftBorderStyle(),
                 own.leftBorderBrush()},
                {"clbrdrb", bottom, own.bottomBorder(), own.bottomBorderStyle(),
                 own.bottomBorderBrush()},
                {"clbrdrr", rightmost, own.rightBorder(), own.rightBorderStyle(),
                 own.rightBorderBrush()}};
            for (int index = 0; index < 4; ++index) {
                const Side &line = sides[index];
                if (!line.outer || line.width <= 0 ||
                    line.style == QTextFrameFormat::BorderStyle_None)
                    continue;
                word(out, line.word);
                word(out, line.style == QTextFrameFormat::BorderStyle_Double   ? "brdrdb"
                          : line.style == QTextFrameFormat::BorderStyle_Dotted ? "brdrdot"
                          : line.style == QTextFrameFormat::BorderStyle_Dashed ? "brdrdash"
                                                                               : "brdrs");
                // The width the file gave, where the one shown had to be wider.
                const int stated = cellBorderTwipsProperty + index;
                const int twips = own.hasProperty(stated) ? own.intProperty(stated)
                                                          : std::max(twipsOf(line.width), 1);
                if (twips > 0)
                    word(out, "brdrw", twips);
                if (line.brush.style() != Qt::NoBrush)
                    word(out, "brdrcf", colour(line.brush.color().rgb()));
            }
        }
        const QTextTableCellFormat own = cell.format().toTableCellFormat();
        const QBrush background = own.background();
        if (background.style() != Qt::NoBrush)
            word(out, "clcbpat", colour(background.color().rgb()));
        if (own.verticalAlignment() == QTextCharFormat::AlignMiddle)
            word(out, "clvertalc");
        else if (own.verticalAlignment() == QTextCharFormat::AlignBottom)
            word(out, "clvertalb");
        const struct {
            int property;
            const char *value;
            const char *unit;
        } paddings[] = {// Top and left as Word writes them (see the reader)
                        {QTextFormat::TableCellTopPadding, "clpadl", "clpadfl"},
                        {QTextFormat::TableCellLeftPadding, "clpadt", "clpadft"},
                        {QTextFormat::TableCellBottomPadding, "clpadb", "clpadfb"},
                        {QTextFormat::TableCellRightPadding, "clpadr", "clpadfr"}};
        for (const auto &padding : paddings) {
            // Above and below the text, where a reader has no padding unless
            // told, the padding shown: the table's, unless the cell has its
            // own. None is the reader's own default.
            const bool vertical = padding.property == QTextFormat::TableCellTopPadding ||
                                  padding.property == QTextFormat::TableCellBottomPadding;
            // Below the text, the file's own where the row is shown higher.
            bool has = own.hasProperty(padding.property);
            qreal value = own.doubleProperty(padding.property);
            if (padding.property == QTextFormat::TableCellBottomPadding &&
                own.hasProperty(statedBottomPaddingProperty)) {
                value = own.doubleProperty(statedBottomPaddingProperty);
                has = value >= 0;
            }
            if (!has && !vertical)
                continue;
            const int twips = std::max(has ? twipsOf(value) : twipsOf(format.cellPadding()), 0);
            if (vertical && twips == 0)
                continue;
            word(out, padding.value, twips);
            word(out, padding.unit, 3);
        }
        for (int k = c; k < c + span; ++k)
            edge = std::min<long long>(edge + widths[size_t(k)], std::numeric_limits<int>::max());
        word(out, "cellx", edge);
        c += span;
    }
    return out;
}

} // namespace Inkwell::Rtf
