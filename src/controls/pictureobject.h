#pragma once

#include <QObject>
#include <QTextObjectInterface>

namespace Inkwell {

// Draws the pictures of a document (image objects whose image sits in the
// document's resources). QPlainTextEdit's layout has no image handler of its
// own; QTextDocument::print copies this one onto the clone it prints.
class PictureObject : public QObject, public QTextObjectInterface {
    Q_OBJECT
    Q_INTERFACES(QTextObjectInterface)
public:
    using QObject::QObject;

    QSizeF intrinsicSize(QTextDocument *document, int position, const QTextFormat &format) override;
    void drawObject(QPainter *painter, const QRectF &rect, QTextDocument *document, int position,
                    const QTextFormat &format) override;

    static void install(QTextDocument *document);
};

} // namespace Inkwell
