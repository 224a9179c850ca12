#include "commands/printcommands.h"

#include "controls/commondialog.h"
#include "controls/pageprinter.h"
#include "controls/richtextbox.h"
#include "core/localpath.h"
#include "core/printerhost.h"
#include "core/product.h"

#include <QDir>
#include <QFileInfo>

#include <QPrinter>

namespace Inkwell::Commands {

namespace {

// A new document's name, as its caption shows it.
QString untitledName()
{
    return Product::untitledCaption.chopped(Product::captionSuffix.size());
}

} // namespace

QString pdfOffer(const QString &documentPath)
{
    if (documentPath.isEmpty())
        return QDir::home().filePath(untitledName() + QStringLiteral(".pdf"));
    // The PDF is a new file: a name that is not UTF-8 gets the one the user
    // reads in the caption.
    const QFileInfo file(documentPath);
    return file.dir().filePath(displayPath(file.completeBaseName()) + QStringLiteral(".pdf"));
}

std::optional<Error> print(const RichTextBox &editor, CommonDialog &printDialog, QPrinter &printer,
                           PrinterHost &printers, const QString &documentPath)
{
    // The job carries the document's name, in the printer's queue too.
    printer.setDocName(documentPath.isEmpty() ? untitledName()
                                              : displayPath(QFileInfo(documentPath).fileName()));
    // The dialog says what will print: the selection when there is one,
    // otherwise everything. The user may switch a selection back to all.
    printer.setPrintRange(editor.textCursor().hasSelection() ? QPrinter::Selection
                                                             : QPrinter::AllPages);
    if (printDialog.ShowPrinter(printer, pdfOffer(documentPath)) == cdlCancel)
        return std::nullopt;
    // The rest of the dialog's choices (printer, copies, pages) stay in the
    // printer and take effect there.
    const bool selectionOnly = printer.printRange() == QPrinter::Selection;
    return printers.print(printer, [&editor, selectionOnly](QPagedPaintDevice *device) {
        editor.printTo(device, selectionOnly);
    });
}

void useDefaultPage(QPrinter &printer)
{
    const QPageLayout page = defaultPageLayout();
    // A printer whose paper list lacks A4 keeps its own paper, with the margins.
    if (!printer.setPageLayout(page)) {
        printer.setPageSize(page.pageSize());
        printer.setPageMargins(page.margins(), page.units());
    }
}

void printsetup(CommonDialog &pageSetupDialog, QPrinter &printer)
{
    pageSetupDialog.Flags = CdlFlags::PrintSetup;
    if (pageSetupDialog.ShowPrinter(printer) == cdlCancel)
        return;
    // Any other number is no orientation: the printer keeps the one it has.
    if (pageSetupDialog.Orientation == 1)
        printer.setPageOrientation(QPageLayout::Portrait);
    else if (pageSetupDialog.Orientation == 2)
        printer.setPageOrientation(QPageLayout::Landscape);
}

} // namespace Inkwell::Commands
