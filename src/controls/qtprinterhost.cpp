#include "controls/qtprinterhost.h"

#include "controls/cupsjobstatus.h"

#include <QPrinter>

namespace Inkwell {

std::optional<Error> QtPrinterHost::print(QPrinter &printer, const Render &render)
{
    const QString what = QStringLiteral("打印失败");
    // Without any printer Qt falls back to PDF output with no file to write.
    const bool toFile = printer.outputFormat() == QPrinter::PdfFormat;
    if ((toFile && printer.outputFileName().isEmpty()) || (!toFile && !printer.isValid()))
        return Error{what, QStringLiteral("没有可用的打印机。")};
    render(&printer);
    // The painter that renders reports nothing; the printer keeps the verdict.
    switch (printer.printerState()) {
    case QPrinter::Error:
        return Error{
            what, toFile ? QStringLiteral("无法写入文件“%1”。").arg(printer.outputFileName())
                         : QStringLiteral("打印机“%1”拒绝了打印任务。").arg(printer.printerName())};
    case QPrinter::Aborted:
        return Error{what, QStringLiteral("打印任务已被取消。")};
    default:
        break;
    }
    if (!toFile) {
        const QString refused = lastCupsJobError();
        if (!refused.isEmpty())
            return Error{what, refused};
    }
    return std::nullopt;
}

} // namespace Inkwell
