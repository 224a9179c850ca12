// The lines round a paragraph that a rich document gives it (a box, or some
// of its sides), which Qt's text layout does not draw.
#pragma once

#include <QPointF>
#include <QRectF>

class QPainter;
class QTextDocument;

namespace Inkwell {

// Draws the lines of the paragraphs of `document` that reach into `clip`
// (document coordinates), the document drawn at `offset`. Consecutive
// paragraphs with the same lines share one box, as other editors draw them.
void drawParagraphBoxes(QPainter &painter, const QTextDocument &document, const QRectF &clip,
                        const QPointF &offset = {});

} // namespace Inkwell
