#include "commands/printcommands.h"

#include "controls/commondialog.h"
#include "controls/printerhost.h"
#include "controls/richtextbox.h"

#include <QPrinter>

namespace Inkwell::Commands {

std::optional<Error> print(const RichTextBox &Text1, CommonDialog &safeuse, QPrinter &printer,
                           PrinterHost &printers)
{
    if (safeuse.ShowPrinter(printer) == cdlCancel)
        return std::nullopt;
    // What the dialog chose (copies, page range) is not read: the control
    // prints the selection or the whole document.
    return printers.print(printer, [&Text1](QPagedPaintDevice *device) { Text1.printTo(device); });
}

void printsetup(CommonDialog &openuse, QPrinter &printer)
{
    openuse.Flags = CdlFlags::PrintSetup;
    if (openuse.ShowPrinter(printer) == cdlCancel)
        return;
    // Any other number is no orientation: the printer keeps the one it has.
    if (openuse.Orientation == 1)
        printer.setPageOrientation(QPageLayout::Portrait);
    else if (openuse.Orientation == 2)
        printer.setPageOrientation(QPageLayout::Landscape);
}

} // namespace Inkwell::Commands
