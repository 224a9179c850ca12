#include "core/documenttext.h"

#include <QHash>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextFrame>
#include <QTextList>
#include <QTextTable>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace Inkwell {

namespace {

QString roman(int n, bool upper)
{
    static const struct {
        int value;
        const char *digits;
    } steps[] = {{1000, "m"}, {900, "cm"}, {500, "d"}, {400, "cd"}, {100, "c"},
                 {90, "xc"},  {50, "l"},   {40, "xl"}, {10, "x"},   {9, "ix"},
                 {5, "v"},    {4, "iv"},   {1, "i"}};
    QString out;
    for (const auto &step : steps)
        for (; n >= step.value; n -= step.value)
            out += QLatin1String(step.digits);
    return upper ? out.toUpper() : out;
}

QString alphabetic(int n, bool upper)
{
    // a..z, then aa, ab...: the letters count like digits without a zero.
    QString out;
    const char16_t base = upper ? u'A' : u'a';
    while (n > 0) {
        --n;
        out.prepend(QChar(char16_t(base + n % 26)));
        n /= 26;
    }
    return out;
}

// The child of `container` that holds `frame`, or null when the frame is
// the container itself or lies outside it.
QTextFrame *childOf(QTextFrame *frame, const QTextFrame *container)
{
    while (frame && frame->parentFrame() != container) {
        if (frame == container)
            return nullptr;
        frame = frame->parentFrame();
    }
    return frame;
}

class PlainExport {
public:
    explicit PlainExport(const QTextDocument &document) : m_document(document) {}

    QString run()
    {
        QTextFrame *root = m_document.rootFrame();
        for (QTextBlock block = m_document.begin(); block.isValid();) {
            QTextTable *table =
                qobject_cast<QTextTable *>(childOf(m_document.frameAt(block.position()), root));
            if (table) {
                writeTable(*table);
                block = m_document.findBlock(table->lastPosition() + 1);
                continue;
            }
            appendParagraph(block, m_out, false);
            block = block.next();
            if (block.isValid() && !continuesLine(block))
                m_out += u'\n';
        }
        return m_out;
    }

private:
    QString label(const QTextBlock &block)
    {
        QTextList *list = block.textList();
        if (!list)
            return {};
        // The parts of a long list count on as one.
        const QVariant chain = list->format().property(listChainProperty);
        const int index = chain.isValid() ? m_chainCount[chain.toInt()]++ : m_itemCount[list]++;
        const int indent = std::max(1, list->format().indent());
        return QString(4 * indent, u' ') + listLabel(*list, index) + u' ';
    }

    // One paragraph: inside a table cell a line break is a blank, since a
    // line end would start a new row.
    void appendParagraph(const QTextBlock &block, QString &out, bool inCell)
    {
        out += label(block);
        const QString text = block.text();
        const qsizetype start = out.size();
        out += text;
        char16_t *d = reinterpret_cast<char16_t *>(out.data());
        for (qsizetype i = start, n = out.size(); i < n; ++i)
            if (d[i] == 0x2028)
                d[i] = inCell ? u' ' : u'\n';
    }

    static void appendPiece(QString &cell, const QString &piece)
    {
        if (piece.isEmpty())
            return;
        if (!cell.isEmpty())
            cell += u' ';
        cell += piece;
    }

    // The text of one cell: its paragraphs, and the cells of the tables in
    // it, joined by blanks.
    QString cellText(const QTextTable &table, const QTextTableCell &cell)
    {
        QString out;
        const int last = cell.lastPosition();
        for (QTextBlock block = m_document.findBlock(cell.firstPosition());
             block.isValid() && block.position() <= last;) {
            QTextTable *inner =
                qobject_cast<QTextTable *>(childOf(m_document.frameAt(block.position()), &table));
            if (inner) {
                for (int r = 0; r < inner->rows(); ++r)
                    for (int c = 0; c < inner->columns(); ++c) {
                        const QTextTableCell innerCell = inner->cellAt(r, c);
                        if (innerCell.row() == r && innerCell.column() == c)
                            appendPiece(out, cellText(*inner, innerCell));
                    }
                block = m_document.findBlock(inner->lastPosition() + 1);
                continue;
            }
            QString paragraph;
            appendParagraph(block, paragraph, true);
            appendPiece(out, paragraph);
            block = block.next();
        }
        return out;
    }

    void writeTable(const QTextTable &table)
    {
        for (int r = 0; r < table.rows(); ++r) {
            for (int c = 0; c < table.columns(); ++c) {
                if (c > 0)
                    m_out += u'\t';
                // A cell covered by a merged one stays an empty field, so
                // that the columns keep their places.
                const QTextTableCell cell = table.cellAt(r, c);
                if (cell.row() == r && cell.column() == c)
                    m_out += cellText(table, cell);
            }
            m_out += u'\n';
        }
    }

    const QTextDocument &m_document;
    QHash<const QTextList *, int> m_itemCount;
    QHash<int, int> m_chainCount;
    QString m_out;
};

std::atomic<int> nextListChain{1};

} // namespace

int newListChain()
{
    return nextListChain.fetch_add(1, std::memory_order_relaxed);
}

ListChains::ListChains(const QTextDocument &document)
{
    // Most documents hold no chain: their formats tell without a pass.
    const QList<QTextFormat> formats = document.allFormats();
    if (std::none_of(formats.begin(), formats.end(), [](const QTextFormat &format) {
            return format.isListFormat() && format.hasProperty(listChainProperty);
        }))
        return;
    // The paragraphs of one list share their format: a list is looked up
    // once per format, not once per paragraph.
    QHash<int, const QTextList *> listOfFormat;
    QHash<int, int> counted; // per chain, the items of its parts met so far
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const int index = block.blockFormatIndex();
        auto found = listOfFormat.constFind(index);
        if (found == listOfFormat.constEnd())
            found = listOfFormat.insert(index, block.textList());
        const QTextList *list = *found;
        if (!list || m_before.contains(list))
            continue;
        const QVariant chain = list->format().property(listChainProperty);
        int &before = counted[chain.isValid() ? chain.toInt() : 0];
        m_before.insert(list, chain.isValid() ? before : 0);
        if (chain.isValid())
            before += list->count();
    }
}

int listItemIndex(const QTextBlock &block, const ListChains *chains)
{
    const QTextList *list = block.textList();
    if (!list)
        return -1;
    const int index = list->itemNumber(block);
    if (!list->format().hasProperty(listChainProperty))
        return index;
    return index +
           (chains ? chains->itemsBefore(*list) : ListChains(*block.document()).itemsBefore(*list));
}

QString listLabel(const QTextList &list, int index)
{
    const QTextListFormat format = list.format();
    const QVariant start = format.property(listStartProperty);
    const int number = (start.isValid() ? start.toInt() : 1) +
                       format.intProperty(listImpliedItemsProperty) + index;
    QString digits;
    switch (format.style()) {
    case QTextListFormat::ListDisc:
        return QStringLiteral("\u25CF");
    case QTextListFormat::ListCircle:
        return QStringLiteral("\u25CB");
    case QTextListFormat::ListSquare:
        return QStringLiteral("\u25A0");
    case QTextListFormat::ListLowerAlpha:
    case QTextListFormat::ListUpperAlpha:
        digits = number > 0 ? alphabetic(number, format.style() == QTextListFormat::ListUpperAlpha)
                            : QString::number(number);
        break;
    case QTextListFormat::ListLowerRoman:
    case QTextListFormat::ListUpperRoman:
        digits = number > 0 && number < 4000
                     ? roman(number, format.style() == QTextListFormat::ListUpperRoman)
                     : QString::number(number);
        break;
    default:
        digits = QString::number(number);
        break;
    }
    // Qt shows "." after the number when the format names no suffix.
    const QString suffix = format.hasProperty(QTextFormat::ListNumberSuffix) ? format.numberSuffix()
                                                                             : QStringLiteral(".");
    return format.numberPrefix() + digits + suffix;
}

bool qtDrawsWrongLabel(const QTextList &list)
{
    const QTextListFormat format = list.format();
    if (format.hasProperty(listBulletProperty))
        return true;
    // Qt numbers each part of a long list from its start.
    if (format.hasProperty(listChainProperty) && format.style() <= QTextListFormat::ListDecimal)
        return true;
    // The numbered styles are ListDecimal and the ones below it.
    const QVariant start = format.property(listStartProperty);
    const bool counted = (start.isValid() && start.toInt() != 1) ||
                         format.intProperty(listImpliedItemsProperty) > 0;
    return counted && format.style() <= QTextListFormat::ListDecimal;
}

bool labelDrawnByView(const QTextBlock &block)
{
    const QTextBlockFormat format = block.blockFormat();
    return block.textList() && format.hasProperty(QTextFormat::ListStyle) &&
           format.intProperty(QTextFormat::ListStyle) == QTextListFormat::ListStyleUndefined;
}

void handListLabelsToView(QTextDocument &document, int from, int to)
{
    // Consecutive items take the change in one step: Qt takes as long for
    // one paragraph as for a run of them.
    QTextCursor run(&document);
    bool open = false;
    QTextBlockFormat off;
    off.setProperty(QTextFormat::ListStyle, int(QTextListFormat::ListStyleUndefined));
    const auto flush = [&] {
        if (open)
            run.mergeBlockFormat(off);
        open = false;
    };
    for (QTextBlock block = document.findBlock(from); block.isValid() && block.position() <= to;
         block = block.next()) {
        const QTextList *list = block.textList();
        if (!list || labelDrawnByView(block) || !qtDrawsWrongLabel(*list)) {
            flush();
            continue;
        }
        // A run stays in one place: a selection into a table takes cells.
        const bool inRoot = document.frameAt(block.position()) == document.rootFrame();
        if (!inRoot || !open)
            flush();
        if (!open)
            run.setPosition(block.position());
        run.setPosition(block.position(), QTextCursor::KeepAnchor);
        open = true;
        if (!inRoot)
            flush();
    }
    flush();
}

QString shownListLabel(const QTextBlock &block, const ListChains *chains)
{
    const QTextList *list = block.textList();
    if (!list)
        return {};
    if (!labelDrawnByView(block))
        return list->itemText(block);
    const QString own = list->format().property(listBulletProperty).toString();
    return own.isEmpty() ? listLabel(*list, listItemIndex(block, chains)) : own;
}

bool plainTextIsRawText(const QTextDocument &document)
{
    if (!document.rootFrame()->childFrames().isEmpty())
        return false;
    const QList<QTextFormat> formats = document.allFormats();
    for (const QTextFormat &format : formats)
        if (format.isListFormat())
            return false;
    return true;
}

QString exportPlainText(const QTextDocument &document)
{
    if (plainTextIsRawText(document)) {
        // The common case, big plain files included: one pass over the raw text.
        QString text = document.toRawText();
        char16_t *d = reinterpret_cast<char16_t *>(text.data());
        for (qsizetype i = 0, n = text.size(); i < n; ++i)
            if (d[i] == 0x2029 || d[i] == 0x2028)
                d[i] = u'\n';
        const SoftBreaks breaks(document);
        return breaks.isEmpty() ? text : breaks.removeFrom(std::move(text), 0);
    }
    return PlainExport(document).run();
}

namespace {

const char softBreaksSeen[] = "inkwellSoftBreaks";

// Numbers for soft breaks, unique in the process: only a paragraph's
// neighbours must not share its number. Atomic, so that a document built on
// another thread may take numbers too.
std::atomic<int> nextSoftBreak{1};

void noteSoftBreaks(QTextDocument &document)
{
    if (!mayHaveSoftBreaks(document))
        document.setProperty(softBreaksSeen, true);
}

// Where a piece of at most `room` characters of `text` from `from` should
// end: after the last blank near its end, so that a word stays whole, else
// anywhere but inside a surrogate pair.
qsizetype pieceEnd(QStringView text, qsizetype from, qsizetype room)
{
    qsizetype end = from + room;
    if (end >= text.size())
        return text.size();
    const qsizetype lookBack = std::min<qsizetype>(room / 8, 256);
    for (qsizetype i = end; i > end - lookBack && i > from + 1; --i)
        if (text[i - 1] == u' ' || text[i - 1] == u'\t')
            return i;
    if (end > from + 1 && text[end - 1].isHighSurrogate())
        --end;
    return end;
}

} // namespace

bool continuesLine(const QTextBlock &block)
{
    if (!block.isValid())
        return false;
    const int number = block.blockFormat().intProperty(softBreakProperty);
    if (number == 0)
        return false;
    const QTextBlock before = block.previous();
    return before.isValid() && before.blockFormat().intProperty(softBreakProperty) != number;
}

bool mayHaveSoftBreaks(const QTextDocument &document)
{
    return document.property(softBreaksSeen).toBool();
}

void forgetSoftBreaks(QTextDocument &document)
{
    document.setProperty(softBreaksSeen, QVariant());
}

SoftBreaks::SoftBreaks(const QTextDocument &document)
{
    if (!mayHaveSoftBreaks(document))
        return;
    // Paragraphs share a handful of block formats: read each one's number once.
    QHash<int, int> numberOf;
    int previous = 0;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const int index = block.blockFormatIndex();
        auto found = numberOf.constFind(index);
        if (found == numberOf.constEnd())
            found = numberOf.insert(index, block.blockFormat().intProperty(softBreakProperty));
        if (*found != 0 && *found != previous && block.position() > 0)
            m_starts.push_back(block.position());
        previous = *found;
    }
}

int SoftBreaks::toText(int documentPosition) const
{
    const auto before = std::upper_bound(m_starts.begin(), m_starts.end(), documentPosition);
    return documentPosition - int(before - m_starts.begin());
}

int SoftBreaks::toDocument(int textPosition) const
{
    // The i-th continuing paragraph starts at text position starts[i] - (i + 1),
    // which never decreases with i.
    qsizetype low = 0;
    qsizetype high = qsizetype(m_starts.size());
    while (low < high) {
        const qsizetype middle = low + (high - low) / 2;
        if (m_starts[size_t(middle)] - (middle + 1) <= textPosition)
            low = middle + 1;
        else
            high = middle;
    }
    return textPosition + int(low);
}

QString SoftBreaks::removeFrom(QString text, int documentStart) const
{
    const int end = documentStart + int(text.size());
    // The break's character is the paragraph mark just before a continuing paragraph.
    auto it = std::upper_bound(m_starts.begin(), m_starts.end(), documentStart);
    if (it == m_starts.end() || *it - 1 >= end)
        return text;
    // In place: the text of a big file is not copied again.
    char16_t *d = reinterpret_cast<char16_t *>(text.data());
    qsizetype write = *it - 1 - documentStart;
    qsizetype read = write;
    for (; it != m_starts.end() && *it - 1 < end; ++it) {
        const qsizetype mark = *it - 1 - documentStart;
        std::memmove(d + write, d + read, size_t(mark - read) * sizeof(char16_t));
        write += mark - read;
        read = mark + 1;
    }
    std::memmove(d + write, d + read, size_t(text.size() - read) * sizeof(char16_t));
    write += text.size() - read;
    text.truncate(write);
    return text;
}

void insertSoftBreak(QTextCursor &cursor, const QTextCharFormat &format)
{
    QTextBlockFormat block = cursor.blockFormat();
    block.setProperty(softBreakProperty, nextSoftBreak.fetch_add(1, std::memory_order_relaxed));
    cursor.insertBlock(block, format);
    noteSoftBreaks(*cursor.document());
}

bool insertBreakingLongLines(QTextCursor &cursor, QStringView text, const QTextCharFormat &format)
{
    // In one edit block the cursor does not lay out the paragraph it ends in
    // after each insertion, and listeners hear of one change.
    cursor.beginEditBlock();
    bool broke = false;
    qsizetype carried = cursor.positionInBlock();
    // A line break typed or pasted is a real one, also in a piece: Qt would
    // give the paragraph it starts the piece's format.
    QTextBlockFormat hard = cursor.blockFormat();
    bool inPiece = hard.hasProperty(softBreakProperty);
    hard.clearProperty(softBreakProperty);
    // Text that needs no soft break goes in with one insertion: one change
    // per line would cost the listeners of every change once per line.
    qsizetype pending = 0;
    const auto flush = [&](qsizetype upTo) {
        while (pending < upTo) {
            const qsizetype brk = inPiece ? text.indexOf(u'\n', pending) : -1;
            if (brk < 0 || brk >= upTo) {
                cursor.insertText(text.mid(pending, upTo - pending).toString(), format);
                pending = upTo;
                return;
            }
            cursor.insertText(text.mid(pending, brk - pending).toString(), format);
            cursor.insertBlock(hard, format);
            inPiece = false;
            pending = brk + 1;
        }
    };
    for (qsizetype i = 0; i <= text.size();) {
        qsizetype lineEnd = text.indexOf(u'\n', i);
        if (lineEnd < 0)
            lineEnd = text.size();
        if (carried + (lineEnd - i) > softPieceChars) {
            flush(i);
            const QStringView line = text.mid(i, lineEnd - i);
            qsizetype done = 0;
            while (carried + (line.size() - done) > softPieceChars) {
                const qsizetype room = std::max<qsizetype>(softPieceChars - carried, 1);
                const qsizetype end = pieceEnd(line, done, room);
                cursor.insertText(line.mid(done, end - done).toString(), format);
                insertSoftBreak(cursor, format);
                broke = true;
                inPiece = true;
                done = end;
                carried = 0;
            }
            pending = i + done; // the rest of the line waits with what follows
            carried = line.size() - done;
        } else {
            carried += lineEnd - i;
        }
        if (lineEnd == text.size())
            break;
        carried = 0;
        i = lineEnd + 1;
    }
    flush(text.size());
    cursor.endEditBlock();
    return broke;
}

void drawSingleBorders(QTextTableFormat &format)
{
    constexpr qreal width = 1;
    format.setBorder(width);
    format.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
    // An automatic line is black to other readers; Qt's own is grey.
    format.setBorderBrush(Qt::black);
    format.setBorderCollapse(false);
    format.setCellSpacing(-width);
}

bool drawsSingleBorders(const QTextTableFormat &format)
{
    return !format.borderCollapse() && format.border() > 0 && format.cellSpacing() < 0;
}

namespace {

template <typename Visit>
void forEachTable(QTextFrame *frame, const Visit &visit)
{
    for (QTextFrame *child : frame->childFrames()) {
        if (auto *table = qobject_cast<QTextTable *>(child))
            visit(table);
        forEachTable(child, visit);
    }
}

} // namespace

bool selectionHasSingleBorders(const QTextCursor &cursor)
{
    if (!cursor.hasSelection() || !cursor.document())
        return false;
    const int start = cursor.selectionStart();
    const int end = cursor.selectionEnd();
    bool found = false;
    forEachTable(cursor.document()->rootFrame(), [&](QTextTable *table) {
        found = found || (table->firstPosition() <= end && table->lastPosition() >= start &&
                          drawsSingleBorders(table->format()));
    });
    return found;
}

void collapseSingleBorders(QTextDocument &document)
{
    forEachTable(document.rootFrame(), [](QTextTable *table) {
        QTextTableFormat format = table->format();
        if (!drawsSingleBorders(format))
            return;
        format.setBorderCollapse(true);
        format.setCellSpacing(0);
        table->setFormat(format);
    });
}

void setParagraphDirection(QTextDocument &document, Qt::LayoutDirection direction)
{
    QTextOption option = document.defaultTextOption();
    if (option.textDirection() == direction)
        return;
    option.setTextDirection(direction);
    document.setDefaultTextOption(option);
}

bool breakLongParagraphs(QTextDocument &document, int pieceChars)
{
    bool broke = false;
    QTextCursor edit(&document);
    edit.beginEditBlock();
    const QTextFrame *root = document.rootFrame();
    const bool frames = !root->childFrames().isEmpty();
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (block.length() - 1 <= pieceChars || block.textList() ||
            (frames && document.frameAt(block.position()) != root))
            continue;
        const QString text = block.text();
        QTextCursor cursor(block);
        qsizetype done = 0;
        while (text.size() - done > pieceChars) {
            const qsizetype end = pieceEnd(text, done, pieceChars);
            cursor.setPosition(cursor.block().position() + int(end - done));
            // The format of the character before, so that a break inside a
            // run of one format leaves it one run.
            insertSoftBreak(cursor, cursor.charFormat());
            broke = true;
            done = end;
        }
        block = cursor.block(); // the last piece: the loop goes on after it
    }
    edit.endEditBlock();
    return broke;
}

QString plainTextOf(const QTextDocument &document)
{
    QString text = document.toRawText();
    text.replace(QChar::ParagraphSeparator, u'\n');
    const SoftBreaks breaks(document);
    return breaks.isEmpty() ? text : breaks.removeFrom(std::move(text), 0);
}

PlainTextPieces::PlainTextPieces(const QTextDocument &document)
    : m_document(document), m_block(document.begin()),
      m_frames(!document.rootFrame()->childFrames().isEmpty()),
      m_softBreaks(mayHaveSoftBreaks(document))
{
    if (m_softBreaks && m_block.isValid())
        m_number = softNumber(m_block);
}

int PlainTextPieces::softNumber(const QTextBlock &block)
{
    // Paragraphs share a handful of block formats: read each one's number once.
    const int index = block.blockFormatIndex();
    auto found = m_numberOf.constFind(index);
    if (found == m_numberOf.constEnd())
        found = m_numberOf.insert(index, block.blockFormat().intProperty(softBreakProperty));
    return *found;
}

void PlainTextPieces::appendUpTo(QString &out, qsizetype atLeast)
{
    while (m_block.isValid() && out.size() < atLeast) {
        out += m_block.text();
        const int end = m_position + m_block.length(); // where the next paragraph starts
        const QTextBlock next = m_block.next();
        if (next.isValid()) {
            // As SoftBreaks: a paragraph continues the line when it carries a
            // number its predecessor does not.
            const int nextNumber = m_softBreaks ? softNumber(next) : 0;
            if (nextNumber == 0 || nextNumber == m_number) {
                const QChar mark =
                    m_frames ? m_document.characterAt(end - 1) : QChar(QChar::ParagraphSeparator);
                out += mark == QChar::ParagraphSeparator ? QChar(u'\n') : mark;
            }
            m_number = nextNumber;
        }
        m_block = next;
        m_position = end;
    }
}

void normaliseBreaks(QString &text)
{
    // One pass in place: QString::replace of a two-character needle is
    // quadratic on big texts in Qt 6.4.
    const qsizetype first = text.indexOf(u'\r');
    if (first < 0)
        return;
    char16_t *d = reinterpret_cast<char16_t *>(text.data());
    const qsizetype n = text.size();
    qsizetype w = first;
    for (qsizetype r = first; r < n; ++r) {
        const char16_t c = d[r];
        if (c == u'\r') {
            d[w++] = u'\n';
            if (r + 1 < n && d[r + 1] == u'\n')
                ++r;
        } else {
            d[w++] = c;
        }
    }
    text.truncate(w);
}

} // namespace Inkwell
