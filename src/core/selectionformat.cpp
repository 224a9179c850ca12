#include "core/selectionformat.h"

#include <QFont>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace Inkwell {

namespace {

SelectionFormat describe(const QTextCharFormat &format, const QFont &defaultFont)
{
    SelectionFormat out;
    const QFont font = format.font().resolve(defaultFont);
    out.family = font.families().value(0, font.family());
    out.pointSize = font.pointSizeF();
    out.bold = font.weight() >= QFont::Bold;
    out.italic = font.italic();
    out.underline = font.underline();
    out.strikeOut = font.strikeOut();
    if (format.hasProperty(QTextFormat::ForegroundBrush) &&
        format.foreground().style() != Qt::NoBrush)
        out.colour = format.foreground().color();
    return out;
}

// Marks in `into` what `other` holds in another value.
void mergeInto(SelectionFormat &into, const SelectionFormat &other)
{
    using F = SelectionFormat;
    const auto differ = [&into](int part, bool different) {
        if (different)
            into.mixed |= part;
    };
    differ(F::Family, into.family != other.family);
    differ(F::Size, into.pointSize != other.pointSize);
    differ(F::Bold, into.bold != other.bold);
    differ(F::Italic, into.italic != other.italic);
    differ(F::Underline, into.underline != other.underline);
    differ(F::StrikeOut, into.strikeOut != other.strikeOut);
    differ(F::Colour, into.colour.has_value() != other.colour.has_value() ||
                          (into.colour && into.colour->rgba() != other.colour->rgba()));
}

} // namespace

SelectionFormat selectionFormatOf(const QTextCursor &cursor, const QTextCharFormat &typed)
{
    const QTextDocument &document = *cursor.document();
    const QFont defaultFont = document.defaultFont();
    if (!cursor.hasSelection())
        return describe(typed, defaultFont);
    const int start = cursor.selectionStart();
    const int end = cursor.selectionEnd();
    std::optional<SelectionFormat> out;
    int lastIndex = -1;
    for (QTextBlock block = document.findBlock(start); block.isValid() && block.position() < end;
         block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid() || fragment.position() >= end ||
                fragment.position() + fragment.length() <= start)
                continue;
            // A big plain selection is one format over and over: look at it once.
            if (fragment.charFormatIndex() == lastIndex)
                continue;
            lastIndex = fragment.charFormatIndex();
            const SelectionFormat here = describe(fragment.charFormat(), defaultFont);
            if (!out)
                out = here;
            else
                mergeInto(*out, here);
        }
    }
    // Paragraph breaks alone: what would be typed over them.
    return out ? *out : describe(cursor.charFormat(), defaultFont);
}

} // namespace Inkwell
