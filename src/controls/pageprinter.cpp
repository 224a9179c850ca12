#include "controls/pageprinter.h"

#include "controls/listlabels.h"
#include "controls/paragraphboxes.h"
#include "controls/textboxes.h"

#include <QAbstractTextDocumentLayout>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QTextDocument>
#include <QTextFrame>

namespace Inkwell {

QPageLayout defaultPageLayout()
{
    return QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(20, 20, 20, 20),
                       QPageLayout::Millimeter);
}

void printOnPages(QTextDocument &document, QPagedPaintDevice *device)
{
    QPainter painter(device);
    if (!painter.isActive())
        return; // the device keeps the reason (QPrinter::Error)
    // Measured against the device itself, so text breaks where it prints.
    QAbstractTextDocumentLayout *layout = document.documentLayout();
    layout->setPaintDevice(device);
    QTextFrameFormat frame = document.rootFrame()->frameFormat();
    frame.setMargin(0);
    document.rootFrame()->setFrameFormat(frame);
    const QSizeF page(device->width(), device->height());
    document.setPageSize(page);

    const int pages = document.pageCount();
    for (int index = 0; index < pages; ++index) {
        if (index > 0 && !device->newPage())
            return;
        const QRectF view(0, index * page.height(), page.width(), page.height());
        painter.save();
        painter.translate(0, -view.top());
        painter.setClipRect(view);
        QAbstractTextDocumentLayout::PaintContext context;
        context.clip = view;
        // The screen's text colour may be a skin's light grey: paper is white.
        context.palette.setColor(QPalette::Text, Qt::black);
        layout->draw(&painter, context);
        drawParagraphBoxes(painter, document, view);
        drawListLabels(painter, document, view, {}, context.palette.text());
        drawTextBoxes(painter, document, view);
        painter.restore();
    }
}

} // namespace Inkwell
