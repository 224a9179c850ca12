#include "commands/formatcommands.h"

#include "controls/commondialog.h"
#include "controls/richtextbox.h"

#include <QPalette>
#include <QTextCharFormat>
#include <QWidget>

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

// What the colour dialogs start from: the colour the text shows. Text with no
// colour of its own shows the view's text colour (the skin's or the
// palette's), so OK on an unchanged dialog leaves it automatic. Only before
// anything is typed, with nothing selected, is there no text to ask: the
// colour chosen last is offered for what will be typed.
struct ColourOffer {
    quint32 bgr = 0;
    bool remembered = false;
};

ColourOffer offerColour(const RichTextBox &editor, const RichTextBox::SelectionFormat &current,
                        quint32 remembered)
{
    if (current.colour)
        return {toBgr(*current.colour), false};
    if (!editor.textCursor().hasSelection() && editor.document()->isEmpty())
        return {remembered, true};
    QWidget *view = editor.activeView();
    view->ensurePolished(); // a skin's colours reach the palette when the style polishes it
    return {toBgr(view->palette().color(QPalette::Text)), false};
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
    const quint32 remembered = fontDialog.Color;
    fontDialog.Color = offerColour(editor, current, remembered).bgr;
    fontDialog.MixedValues = mixed;
    const CommonDialog shown = fontDialog;
    if (fontDialog.ShowFont() == cdlCancel) {
        fontDialog.Color = remembered;
        return;
    }

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
    const quint32 remembered = colorDialog.Color;
    const ColourOffer offer = offerColour(editor, editor.selectionFormat(), remembered);
    colorDialog.Color = offer.bgr;
    if (colorDialog.ShowColor() == cdlCancel) {
        colorDialog.Color = remembered;
        return;
    }
    // OK on the colour offered changes nothing: text without a colour of its
    // own stays automatic, a mixed selection keeps its colours. The colour
    // remembered for typing is a choice the dialog proposed, and OK takes it.
    if (!offer.remembered && colorDialog.Color == offer.bgr)
        return;
    QTextCharFormat change;
    change.setForeground(fromBgr(colorDialog.Color));
    editor.applySelectionFormat(change);
}

} // namespace Inkwell::Commands
