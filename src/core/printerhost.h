// Print jobs go through here, so that tests can send them to a PDF file or
// make them fail.
#pragma once

#include "core/error.h"

#include <functional>
#include <optional>

class QPagedPaintDevice;
class QPrinter;

namespace Inkwell {

class PrinterHost {
public:
    virtual ~PrinterHost() = default;
    using Render = std::function<void(QPagedPaintDevice *)>;
    // Runs one job on `printer`: `render` lays out and draws every page.
    // An Error whose `why` is the reason, in Chinese, when nothing could be printed.
    virtual std::optional<Error> print(QPrinter &printer, const Render &render) = 0;
};

} // namespace Inkwell
