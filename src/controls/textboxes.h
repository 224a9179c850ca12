// The text boxes of a document's shapes (see core/textboxes.h), drawn over
// the text where other readers place them: Qt's text layout has no
// floating boxes.
#pragma once

#include <QPointF>
#include <QRectF>

class QPainter;
class QTextDocument;

namespace Inkwell {

// Draws the boxes of `document` that reach into `clip` (document
// coordinates), the document drawn at `offset`: a white box with a thin
// black frame and the box's text in the font of the character holding it.
void drawTextBoxes(QPainter &painter, const QTextDocument &document, const QRectF &clip,
                   const QPointF &offset = {});

} // namespace Inkwell
