// The plain text of a document as the rest of the program sees it.
#pragma once

#include <QString>
#include <QTextDocument>
#include <QTextFormat>

class QTextList;

namespace Inkwell {

// The whole document as one string: paragraphs separated by "\n", pictures
// as U+FFFC. Raw text keeps no-break spaces, which toPlainText() would turn
// into blanks. One character per document position: Find and the caret
// depend on it.
inline QString plainTextOf(const QTextDocument &document)
{
    QString text = document.toRawText();
    text.replace(QChar::ParagraphSeparator, u'\n');
    return text;
}

// The number a list counts from, on its QTextListFormat (an int), when it is
// not 1: Qt 6.4's list format has no start of its own.
constexpr int listStartProperty = QTextFormat::UserProperty + 0x101;

// The label a list shows in front of its item number `index` (0 for the
// first item): "1.", "a)", "iv." with the format's prefix and suffix, or
// the bullet for the bullet styles ("●", "○", "■": characters GBK has).
QString listLabel(const QTextList &list, int index);

// The document as a text file holds it: list items begin with their label
// and a blank (indented by four blanks per level, as LibreOffice's text
// export writes them), a table row is one line with its cells separated by
// tabs (a nested table's cells flattened into its cell, a cell's paragraphs
// joined by blanks), line breaks inside a paragraph are line ends, and the
// table frame marks never appear. Pictures stay U+FFFC. Lines end in "\n".
QString exportPlainText(const QTextDocument &document);

// CRLF and CR become "\n", in place and in one pass.
void normaliseBreaks(QString &text);

} // namespace Inkwell
