// Printing a document on the pages of a printer as the user set them up.
#pragma once

#include <QPageLayout>

class QPagedPaintDevice;
class QTextDocument;

namespace Inkwell {

// The page a new document prints on: A4 portrait with 20 mm margins on every
// side, the page Chinese offices print on and the one documents are saved with.
QPageLayout defaultPageLayout();

// Lays `document` out on the device's pages and draws every page. The text
// fills the page inside the device's own margins, those page setup shows,
// with none added (QTextDocument::print adds 2 cm inside them), and draws no
// page numbers. Text without a colour of its own prints black.
void printOnPages(QTextDocument &document, QPagedPaintDevice *device);

} // namespace Inkwell
