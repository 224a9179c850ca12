// A PrinterHost that sends every job to a PDF file instead of a printer
// (through the real host, so its checks run), or fails it on request.
#pragma once

#include "controls/qtprinterhost.h"

#include <QPrinter>
#include <QTemporaryDir>

namespace Inkwell::Testing {

class PdfPrinterHost : public PrinterHost {
public:
    // Where the next job goes; empty: a file in a private folder.
    QString outputFile;
    // Set to make every job fail with this error, before anything is drawn.
    std::optional<Error> failure;
    int jobs = 0;

    QString defaultOutput() const { return m_dir.filePath(QStringLiteral("printed.pdf")); }

    std::optional<Error> print(QPrinter &printer, const Render &render) override
    {
        ++jobs;
        if (failure)
            return failure;
        // A test never reaches a real printer, whatever the machine has.
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(outputFile.isEmpty() ? defaultOutput() : outputFile);
        return QtPrinterHost().print(printer, render);
    }

private:
    QTemporaryDir m_dir;
};

} // namespace Inkwell::Testing
