#include "commands/formatcommands.h"

#include "controls/commondialog.h"
#include "controls/richtextbox.h"

namespace Inkwell::Commands {

void font(RichTextBox &Text1, CommonDialog &openuse)
{
    openuse.Flags = CdlFlags::FontScreenAndPrinter | CdlFlags::FontEffects;
    if (openuse.ShowFont() == cdlCancel)
        return;
    // Each value on its own: one the control refuses (a size of 0, say)
    // leaves the others applied.
    Text1.setSelFontName(openuse.FontName);
    Text1.setSelFontSize(openuse.FontSize);
    Text1.setSelBold(openuse.FontBold);
    Text1.setSelItalic(openuse.FontItalic);
    Text1.setSelUnderline(openuse.FontUnderline);
    Text1.setSelStrikethru(openuse.FontStrikethru);
    Text1.setSelColor(openuse.Color);
}

void color(RichTextBox &Text1, CommonDialog &openuse)
{
    openuse.Flags = CdlFlags::ColorRgbInit | CdlFlags::ColorFullOpen;
    if (openuse.ShowColor() == cdlCancel)
        return;
    Text1.setSelColor(openuse.Color);
}

} // namespace Inkwell::Commands
