#pragma once

#include "core/printerhost.h"

namespace Inkwell {

// Prints on the printer as the user set it up: the system's default (CUPS
// on Linux) or a file chosen in the print dialog.
class QtPrinterHost : public PrinterHost {
public:
    std::optional<Error> print(QPrinter &printer, const Render &render) override;
};

} // namespace Inkwell
