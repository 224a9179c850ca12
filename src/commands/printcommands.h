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
std::optional<Error> print(const RichTextBox &editor, CommonDialog &printDialog, QPrinter &printer,
                           PrinterHost &printers);
// The page-setup dialog (`pageSetupDialog`); the orientation chosen
// there (1 portrait, 2 landscape) becomes the printer's for every later job.
void printsetup(CommonDialog &pageSetupDialog, QPrinter &printer);

} // namespace Commands
} // namespace Inkwell
