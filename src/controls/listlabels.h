// The labels of list items whose label Qt would draw wrongly: a numbered
// list that counts from another number, a bullet list with a bullet of its
// own, a part of a long numbered list (see labelDrawnByView() in
// core/documenttext.h).
#pragma once

#include <QBrush>
#include <QPointF>
#include <QRectF>

class QPainter;
class QTextDocument;

namespace Inkwell {

// Draws the view's labels of the items of `document` that reach into `clip`
// (document coordinates), the document drawn at `offset`, where and as Qt
// draws its own: right of the indent, a blank before the item's first line,
// in the item's character format (`text` where it names no colour).
void drawListLabels(QPainter &painter, const QTextDocument &document, const QRectF &clip,
                    const QPointF &offset, const QBrush &text);

} // namespace Inkwell
