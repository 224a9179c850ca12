// The plain text of a document as the rest of the program sees it.
#pragma once

#include <QString>
#include <QTextDocument>

namespace Inkwell {

// The whole document as one string: paragraphs separated by "\n", pictures
// as U+FFFC. Raw text keeps no-break spaces, which toPlainText() would turn
// into blanks.
inline QString plainTextOf(const QTextDocument &document)
{
    QString text = document.toRawText();
    text.replace(QChar::ParagraphSeparator, u'\n');
    return text;
}

// CRLF and CR become "\n", in place and in one pass.
void normaliseBreaks(QString &text);

} // namespace Inkwell
