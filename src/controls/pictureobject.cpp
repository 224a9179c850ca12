#include "controls/pictureobject.h"

#include <QAbstractTextDocumentLayout>
#include <QGuiApplication>
#include <QImage>
#include <QPaintDevice>
#include <QPainter>
#include <QScreen>
#include <QTextDocument>
#include <QTextImageFormat>

namespace Inkwell {

namespace {

QImage pictureOf(QTextDocument *document, const QTextImageFormat &format)
{
    const QVariant v = document->resource(QTextDocument::ImageResource, QUrl(format.name()));
    if (v.typeId() == QMetaType::QImage)
        return v.value<QImage>();
    if (v.typeId() == QMetaType::QPixmap)
        return v.value<QPixmap>().toImage();
    return {};
}

} // namespace

QSizeF PictureObject::intrinsicSize(QTextDocument *document, int, const QTextFormat &format)
{
    const QTextImageFormat image = format.toImageFormat();
    QSizeF size(image.width(), image.height());
    if (size.width() <= 0 || size.height() <= 0) {
        const QImage picture = pictureOf(document, image);
        size = picture.isNull() ? QSizeF(16, 16) : QSizeF(picture.size());
    }
    // Sizes are in screen pixels; a printer has many more dots per inch, so
    // scale by its resolution against the screen's or the picture shrinks.
    if (QPaintDevice *device = document->documentLayout()->paintDevice()) {
        const QScreen *screen = QGuiApplication::primaryScreen();
        const qreal screenDpi = screen ? screen->logicalDotsPerInch() : 96.0;
        if (screenDpi > 0 && device->logicalDpiY() > 0)
            size *= device->logicalDpiY() / screenDpi;
    }
    return size;
}

void PictureObject::drawObject(QPainter *painter, const QRectF &rect, QTextDocument *document, int,
                               const QTextFormat &format)
{
    const QImage picture = pictureOf(document, format.toImageFormat());
    if (picture.isNull()) {
        // Not decoded (the document's picture budget was spent): a crossed
        // frame of the picture's size stands in for it.
        const QRectF frame = rect.adjusted(0, 0, -1, -1);
        painter->drawRect(frame);
        painter->drawLine(frame.topLeft(), frame.bottomRight());
        painter->drawLine(frame.topRight(), frame.bottomLeft());
        return;
    }
    painter->drawImage(rect, picture);
}

void PictureObject::install(QTextDocument *document)
{
    auto *handler = new PictureObject(document);
    document->documentLayout()->registerHandler(QTextFormat::ImageObject, handler);
}

} // namespace Inkwell
