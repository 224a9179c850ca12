#include "commands/formatcommands.h"

#include "controls/commondialog.h"
#include "controls/richtextbox.h"

#include <QTextCharFormat>

namespace Inkwell::Commands {

namespace {

using Part = RichTextBox::FormatPart;
static_assert(int(Part::Family) == CdlFont::Name && int(Part::Size) == CdlFont::Size &&
              int(Part::Bold) == CdlFont::Bold && int(Part::Italic) == CdlFont::Italic &&
              int(Part::Underline) == CdlFont::Underline &&
              int(Part::StrikeOut) == CdlFont::Strikethru && int(Part::Colour) == CdlFont::Color);

QColor fromBgr(quint32 bgr)
{
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

quint32 toBgr(const QColor &c)
{
    return quint32(c.red()) | (quint32(c.green()) << 8) | (quint32(c.blue()) << 16);
}

// The dialog starts from the selection's colour; automatic or mixed colour
// leaves the remembered one.
void offerColour(CommonDialog &openuse, const RichTextBox::SelectionFormat &current)
{
    if (!(current.mixed & Part::Colour) && current.colour)
        openuse.Color = toBgr(*current.colour);
}

} // namespace

void font(RichTextBox &Text1, CommonDialog &openuse)
{
    openuse.Flags = CdlFlags::FontScreenAndPrinter | CdlFlags::FontEffects;
    const RichTextBox::SelectionFormat current = Text1.selectionFormat();
    const int mixed = current.mixed;
    if (!(mixed & CdlFont::Name))
        openuse.FontName = current.family;
    if (!(mixed & CdlFont::Size))
        openuse.FontSize = float(current.pointSize);
    if (!(mixed & CdlFont::Bold))
        openuse.FontBold = current.bold;
    if (!(mixed & CdlFont::Italic))
        openuse.FontItalic = current.italic;
    if (!(mixed & CdlFont::Underline))
        openuse.FontUnderline = current.underline;
    if (!(mixed & CdlFont::Strikethru))
        openuse.FontStrikethru = current.strikeOut;
    offerColour(openuse, current);
    openuse.MixedValues = mixed;
    const CommonDialog shown = openuse;
    if (openuse.ShowFont() == cdlCancel)
        return;

    // A value counts as chosen when it differs from what the dialog showed,
    // or when the user picked one for a field shown blank.
    const auto chosen = [&](int part, bool differs) {
        return differs || ((mixed & part) && !(openuse.MixedValues & part));
    };
    QTextCharFormat changes;
    if (chosen(CdlFont::Name, openuse.FontName != shown.FontName) && !openuse.FontName.isEmpty())
        changes.setFontFamilies(QStringList{openuse.FontName});
    if (chosen(CdlFont::Size, openuse.FontSize != shown.FontSize) && openuse.FontSize > 0)
        changes.setFontPointSize(openuse.FontSize);
    if (chosen(CdlFont::Bold, openuse.FontBold != shown.FontBold))
        changes.setFontWeight(openuse.FontBold ? QFont::Bold : QFont::Normal);
    if (chosen(CdlFont::Italic, openuse.FontItalic != shown.FontItalic))
        changes.setFontItalic(openuse.FontItalic);
    if (chosen(CdlFont::Underline, openuse.FontUnderline != shown.FontUnderline))
        changes.setFontUnderline(openuse.FontUnderline);
    if (chosen(CdlFont::Strikethru, openuse.FontStrikethru != shown.FontStrikethru))
        changes.setFontStrikeOut(openuse.FontStrikethru);
    if (chosen(CdlFont::Color, openuse.Color != shown.Color))
        changes.setForeground(fromBgr(openuse.Color));
    Text1.applySelectionFormat(changes);
}

void color(RichTextBox &Text1, CommonDialog &openuse)
{
    openuse.Flags = CdlFlags::ColorRgbInit | CdlFlags::ColorFullOpen;
    const RichTextBox::SelectionFormat current = Text1.selectionFormat();
    offerColour(openuse, current);
    if (openuse.ShowColor() == cdlCancel)
        return;
    // This dialog has one value, so OK chooses it, also for text that had no
    // colour of its own or several; only the colour the text has already is
    // not applied again.
    if (!(current.mixed & Part::Colour) && current.colour &&
        toBgr(*current.colour) == openuse.Color)
        return;
    QTextCharFormat change;
    change.setForeground(fromBgr(openuse.Color));
    Text1.applySelectionFormat(change);
}

} // namespace Inkwell::Commands
