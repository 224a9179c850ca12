#include "core/documenttext.h"

#include <QHash>
#include <QTextBlock>
#include <QTextFrame>
#include <QTextList>
#include <QTextTable>

#include <algorithm>

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
            if (block.isValid())
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
        const int index = m_itemCount[list]++;
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
    QString m_out;
};

bool hasLists(const QTextDocument &document)
{
    const QList<QTextFormat> formats = document.allFormats();
    for (const QTextFormat &format : formats)
        if (format.isListFormat())
            return true;
    return false;
}

} // namespace

QString listLabel(const QTextList &list, int index)
{
    const QTextListFormat format = list.format();
    const QVariant start = format.property(listStartProperty);
    const int number = (start.isValid() ? start.toInt() : 1) + index;
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

QString exportPlainText(const QTextDocument &document)
{
    if (document.rootFrame()->childFrames().isEmpty() && !hasLists(document)) {
        // The common case, big plain files included: one pass over the raw text.
        QString text = document.toRawText();
        char16_t *d = reinterpret_cast<char16_t *>(text.data());
        for (qsizetype i = 0, n = text.size(); i < n; ++i)
            if (d[i] == 0x2029 || d[i] == 0x2028)
                d[i] = u'\n';
        return text;
    }
    return PlainExport(document).run();
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
