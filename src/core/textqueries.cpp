#include "core/textqueries.h"

#include "core/documenttext.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace Inkwell {

int findInDocument(const QTextDocument &document, const QString &text, const QTextCursor &cursor,
                   std::optional<int> start, std::optional<int> end)
{
    if (text.isEmpty())
        return -1;
    const SoftBreaks breaks(document);
    const int docEnd = breaks.toText(document.characterCount() - 1);
    int from = 0;
    int to = docEnd;
    if (!start && !end) {
        if (cursor.hasSelection()) {
            from = breaks.toText(cursor.selectionStart());
            to = breaks.toText(cursor.selectionEnd());
        }
    } else {
        from = start ? *start : breaks.toText(cursor.position());
        to = end ? *end : docEnd;
    }
    from = std::clamp(from, 0, docEnd);
    to = std::clamp(to, from, docEnd);
    if (to - from < text.size())
        return -1;
    // Search the plain text, not the layout: a whole-document search of a big
    // file then costs one pass over memory.
    const QString plain = plainTextOf(document);
    const qsizetype found =
        QStringView(plain).mid(from, to - from).indexOf(text, 0, Qt::CaseInsensitive);
    return found < 0 ? -1 : from + int(found);
}

LineColumn lineColumnAt(const QTextDocument &document, int position)
{
    QTextBlock block = document.findBlock(position);
    if (!block.isValid())
        return {1, 1};
    const SoftBreaks breaks(document);
    if (breaks.isEmpty())
        return {block.blockNumber() + 1, position - block.position() + 1};
    // A line held in pieces is one line: count from its first piece.
    while (continuesLine(block))
        block = block.previous();
    const auto &starts = breaks.starts();
    const int piecesBefore =
        int(std::upper_bound(starts.begin(), starts.end(), block.position()) - starts.begin());
    return {block.blockNumber() - piecesBefore + 1,
            breaks.toText(position) - breaks.toText(block.position()) + 1};
}

namespace {

int textEnd(const QTextDocument &document, const SoftBreaks &breaks)
{
    return breaks.toText(document.characterCount() - 1);
}

} // namespace

int textSelectionStart(const QTextCursor &cursor)
{
    return SoftBreaks(*cursor.document()).toText(cursor.selectionStart());
}

int textSelectionLength(const QTextCursor &cursor)
{
    const SoftBreaks breaks(*cursor.document());
    return breaks.toText(cursor.selectionEnd()) - breaks.toText(cursor.selectionStart());
}

void setTextPosition(QTextCursor &cursor, int position)
{
    const SoftBreaks breaks(*cursor.document());
    const int end = textEnd(*cursor.document(), breaks);
    cursor.setPosition(breaks.toDocument(std::clamp(position, 0, end)));
}

void setTextSelectionLength(QTextCursor &cursor, int length)
{
    const SoftBreaks breaks(*cursor.document());
    const int start = cursor.selectionStart();
    const int end = textEnd(*cursor.document(), breaks);
    cursor.setPosition(start);
    cursor.setPosition(
        breaks.toDocument(std::clamp(breaks.toText(start) + std::max(length, 0), 0, end)),
        QTextCursor::KeepAnchor);
}

QString selectedText(const QTextCursor &cursor)
{
    QString text = cursor.selectedText();
    text.replace(QChar::ParagraphSeparator, u'\n');
    const SoftBreaks breaks(*cursor.document());
    return breaks.isEmpty() ? text : breaks.removeFrom(std::move(text), cursor.selectionStart());
}

} // namespace Inkwell
