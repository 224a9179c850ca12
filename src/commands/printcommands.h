// Printing the document (or its selection) and choosing the page orientation
// of the printer kept for the run.
#pragma once

#include "core/error.h"

#include <optional>

class QPrinter;

namespace Inkwell {

class CommonDialog;
class PrinterHost;
class RichTextBox;

namespace Commands {

// The print dialog (`printDialog`), then the selection, or the
// whole document, with its fonts, colours and pictures. Cancelled: nothing
// printed. An Error when the printer could not take the job.
// `documentPath` is the file the document came from ("" for a new one): the
// job is named after it, and printing to a file offers its name with ".pdf"
// in its folder (the home folder for a new document).
std::optional<Error> print(const RichTextBox &editor, CommonDialog &printDialog, QPrinter &printer,
                           PrinterHost &printers, const QString &documentPath = QString());
// The PDF file offered for a document read from `documentPath`.
QString pdfOffer(const QString &documentPath);
// Gives the printer the page a new document prints on: A4 portrait, 20 mm
// margins on every side (what page setup then shows is what prints).
void useDefaultPage(QPrinter &printer);
// The page-setup dialog (`pageSetupDialog`); the orientation chosen
// there (1 portrait, 2 landscape) becomes the printer's for every later job.
void printsetup(CommonDialog &pageSetupDialog, QPrinter &printer);

} // namespace Commands
} // namespace Inkwell
