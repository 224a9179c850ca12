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
void offerColour(CommonDialog &dialog, const RichTextBox::SelectionFormat &current)
{
    if (!(current.mixed & Part::Colour) && current.colour)
        dialog.Color = toBgr(*current.colour);
}

} // namespace

void font(RichTextBox &editor, CommonDialog &fontDialog)
{
    fontDialog.Flags = CdlFlags::FontScreenAndPrinter | CdlFlags::FontEffects;
    const RichTextBox::SelectionFormat current = editor.selectionFormat();
    const int mixed = current.mixed;
    if (!(mixed & CdlFont::Name))
        fontDialog.FontName = current.family;
    if (!(mixed & CdlFont::Size))
        fontDialog.FontSize = float(current.pointSize);
    if (!(mixed & CdlFont::Bold))
        fontDialog.FontBold = current.bold;
    if (!(mixed & CdlFont::Italic))
        fontDialog.FontItalic = current.italic;
    if (!(mixed & CdlFont::Underline))
        fontDialog.FontUnderline = current.underline;
    if (!(mixed & CdlFont::Strikethru))
        fontDialog.FontStrikethru = current.strikeOut;
    offerColour(fontDialog, current);
    fontDialog.MixedValues = mixed;
    const CommonDialog shown = fontDialog;
    if (fontDialog.ShowFont() == cdlCancel)
        return;

    // A value counts as chosen when it differs from what the dialog showed,
    // or when the user picked one for a field shown blank.
    const auto chosen = [&](int part, bool differs) {
        return differs || ((mixed & part) && !(fontDialog.MixedValues & part));
    };
    QTextCharFormat changes;
    if (chosen(CdlFont::Name, fontDialog.FontName != shown.FontName) &&
        !fontDialog.FontName.isEmpty())
        changes.setFontFamilies(QStringList{fontDialog.FontName});
    if (chosen(CdlFont::Size, fontDialog.FontSize != shown.FontSize) && fontDialog.FontSize > 0)
        changes.setFontPointSize(fontDialog.FontSize);
    if (chosen(CdlFont::Bold, fontDialog.FontBold != shown.FontBold))
        changes.setFontWeight(fontDialog.FontBold ? QFont::Bold : QFont::Normal);
    if (chosen(CdlFont::Italic, fontDialog.FontItalic != shown.FontItalic))
        changes.setFontItalic(fontDialog.FontItalic);
    if (chosen(CdlFont::Underline, fontDialog.FontUnderline != shown.FontUnderline))
        changes.setFontUnderline(fontDialog.FontUnderline);
    if (chosen(CdlFont::Strikethru, fontDialog.FontStrikethru != shown.FontStrikethru))
        changes.setFontStrikeOut(fontDialog.FontStrikethru);
    if (chosen(CdlFont::Color, fontDialog.Color != shown.Color))
        changes.setForeground(fromBgr(fontDialog.Color));
    editor.applySelectionFormat(changes);
}

void color(RichTextBox &editor, CommonDialog &colorDialog)
{
    colorDialog.Flags = CdlFlags::ColorRgbInit | CdlFlags::ColorFullOpen;
    const RichTextBox::SelectionFormat current = editor.selectionFormat();
    offerColour(colorDialog, current);
    if (colorDialog.ShowColor() == cdlCancel)
        return;
    // This dialog has one value, so OK chooses it, also for text that had no
    // colour of its own or several; only the colour the text has already is
    // not applied again.
    if (!(current.mixed & Part::Colour) && current.colour &&
        toBgr(*current.colour) == colorDialog.Color)
        return;
    QTextCharFormat change;
    change.setForeground(fromBgr(colorDialog.Color));
    editor.applySelectionFormat(change);
}

} // namespace Inkwell::Commands
