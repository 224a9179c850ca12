#include "core/documentshape.h"

#include "core/textbaseline.h"

#include <QFont>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>

namespace Inkwell {

bool needsRichView(const QTextDocument &document)
{
    if (!document.rootFrame()->childFrames().isEmpty())
        return true; // tables (and other frames)
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (block.textList())
            return true;
        const QTextBlockFormat format = block.blockFormat();
        if ((format.hasProperty(QTextFormat::BlockAlignment) &&
             !(format.alignment() & (Qt::AlignLeft | Qt::AlignLeading)) &&
             format.alignment() != Qt::AlignAbsolute) ||
            format.leftMargin() != 0 || format.rightMargin() != 0 || format.textIndent() != 0 ||
            format.topMargin() != 0 || format.bottomMargin() != 0 ||
            format.lineHeightType() != QTextBlockFormat::SingleHeight ||
            !format.tabPositions().isEmpty() || format.indent() != 0)
            return true;
    }
    return false;
}

bool hasLongParagraph(const QTextDocument &document)
{
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        if (block.length() - 1 > longLineChars)
            return true;
    return false;
}

bool changeMadeLongParagraph(const QTextDocument &document, int from, int charsAdded)
{
    if (charsAdded <= 0)
        return false;
    const int end = from + charsAdded;
    for (QTextBlock block = document.findBlock(from); block.isValid() && block.position() <= end;
         block = block.next())
        if (block.length() - 1 > longLineChars)
            return true;
    return false;
}

QFont longLineFont(QFont font, bool on)
{
    font.setStyleStrategy(on ? QFont::PreferNoShaping : QFont::PreferDefault);
    font.setKerning(!on);
    return font;
}

DocumentKind kindOfReadRtf(const QTextDocument &document)
{
    // The rich view's layout costs grow with the document (a keystroke at
    // the start of 0.6 M characters costs 8 ms, of 2.9 M 56 ms) and with the
    // paragraph typed in; the fast view's do not, and it holds a long
    // paragraph in pieces.
    const bool rich = needsRichView(document) ||
                      (document.characterCount() <= richViewChars && !hasLongParagraph(document));
    return rich ? DocumentKind::Rich : DocumentKind::Plain;
}

bool hasFormatting(const QTextDocument &document, DocumentKind kind,
                   const QTextCharFormat &plainFormat)
{
    if (kind == DocumentKind::Rich && needsRichView(document))
        return true;
    return !CharFormats::allHave(document, CharFormats::keyOf(plainFormat, document.defaultFont()));
}

} // namespace Inkwell
