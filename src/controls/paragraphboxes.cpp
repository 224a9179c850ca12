#include "controls/paragraphboxes.h"

#include "core/formatproperties.h"

#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QTextList>

#include <algorithm>
#include <array>

namespace Inkwell {

namespace {

// One side as the property holds it: "<t|l|b|r><style>,<twips>,<colour>,<space>".
struct Side {
    bool drawn = false;
    int style = 0; // 0 single, 1 double, 2 dotted, 3 dashed
    qreal width = 0;
    QColor colour;
    qreal space = 0;
};

std::array<Side, 4> sidesOf(const QString &box)
{
    std::array<Side, 4> sides{};
    for (const QString &line : box.split(u';', Qt::SkipEmptyParts)) {
        const qsizetype index = QStringView(u"tlbr").indexOf(line.front());
        const QStringList parts = line.mid(1).split(u',');
        if (index < 0 || parts.size() != 4)
            continue;
        Side &side = sides[size_t(index)];
        side.drawn = true;
        side.style = std::clamp(parts[0].toInt(), 0, 3);
        side.width = std::clamp(parts[1].toInt(), 0, 255) / 15.0;
        side.colour = QColor(parts[2]);
        side.space = std::clamp(parts[3].toInt(), 0, 1440) / 15.0;
    }
    return sides;
}

void drawLine(QPainter &painter, const Side &side, QPointF from, QPointF to, QPointF inward)
{
    QPen pen(side.colour.isValid() ? side.colour : QColor(Qt::black));
    pen.setWidthF(std::max<qreal>(side.width, 1.0));
    pen.setCapStyle(Qt::FlatCap);
    if (side.style == 2)
        pen.setStyle(Qt::DotLine);
    else if (side.style == 3)
        pen.setStyle(Qt::DashLine);
    painter.setPen(pen);
    painter.drawLine(from, to);
    if (side.style == 1) // a second line inside the first
        painter.drawLine(from + inward * 2, to + inward * 2);
}

// Where the paragraph's box stands: round its lines (Qt's bounding rect is
// as wide as the line, wherever its indent puts it), a list item's label
// inside it.
QRectF boxOf(const QTextDocument &document, const QTextBlock &block)
{
    const QRectF shown = document.documentLayout()->blockBoundingRect(block);
    const QTextLayout *layout = block.layout();
    qreal left = 0, right = shown.width();
    if (layout && layout->lineCount() > 0) {
        left = layout->lineAt(0).x();
        right = left + layout->lineAt(0).width();
        for (int index = 1; index < layout->lineCount(); ++index) {
            const QTextLine line = layout->lineAt(index);
            left = std::min(left, line.x());
            right = std::max(right, line.x() + line.width());
        }
    }
    if (block.textList()) {
        // The label hangs before the text by the item's first-line indent.
        const QStringList own =
            block.blockFormat().stringProperty(listItemIndentsProperty).split(u',');
        const int hang = own.size() == 2 ? -std::clamp(own[1].toInt(), -31680, 0) : 360;
        left = std::max<qreal>(left - hang / 15.0, 0);
    }
    return {shown.x() + left, shown.y(), right - left, shown.height()};
}

} // namespace

void drawParagraphBoxes(QPainter &painter, const QTextDocument &document, const QRectF &clip,
                        const QPointF &offset)
{
    // Most documents have none: a look at their formats, not their text,
    // keeps a paint as cheap as Qt's own.
    const QList<QTextFormat> formats = document.allFormats();
    if (std::none_of(formats.begin(), formats.end(), [](const QTextFormat &format) {
            return format.isBlockFormat() && format.hasProperty(paragraphBordersProperty);
        }))
        return;
    QAbstractTextDocumentLayout *layout = document.documentLayout();
    const int first = layout->hitTest(clip.topLeft(), Qt::FuzzyHit);
    const int lastShown = layout->hitTest(clip.bottomRight(), Qt::FuzzyHit);
    QTextBlock block = document.findBlock(std::max(first, 0));
    // A box begun above the view is drawn from its first paragraph.
    const QString ownBox = block.blockFormat().stringProperty(paragraphBordersProperty);
    while (!ownBox.isEmpty() && block.previous().isValid() &&
           block.previous().blockFormat().stringProperty(paragraphBordersProperty) == ownBox)
        block = block.previous();
    painter.save();
    painter.translate(offset);
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (; block.isValid(); block = block.next()) {
        const QString box = block.blockFormat().stringProperty(paragraphBordersProperty);
        if (box.isEmpty()) {
            // The view's last paragraph is passed: none below it shows.
            if (lastShown >= 0 && block.position() > lastShown &&
                layout->blockBoundingRect(block).top() > clip.bottom())
                break;
            continue;
        }
        if (layout->blockBoundingRect(block).top() > clip.bottom())
            break;
        // The paragraphs with the same lines after this one share its box.
        QRectF rect = boxOf(document, block);
        QTextBlock last = block;
        bool open = false; // the box runs on below the view
        while (last.next().isValid() &&
               last.next().blockFormat().stringProperty(paragraphBordersProperty) == box) {
            last = last.next();
            const QRectF more = boxOf(document, last);
            rect = rect.united(more);
            if (more.top() > clip.bottom()) {
                open = true;
                break;
            }
        }
        std::array<Side, 4> sides = sidesOf(box);
        sides[2].drawn = sides[2].drawn && !open;
        rect.adjust(-sides[1].space, -sides[0].space, sides[3].space, sides[2].space);
        // Lines stand inside the page, where the space round the text would
        // put them past its edge.
        const qreal width = layout->documentSize().width();
        rect.setLeft(std::max<qreal>(rect.left(), 0.5));
        rect.setRight(std::min(rect.right(), width - 1));
        if (rect.intersects(clip.adjusted(-8, -8, 8, 8))) {
            if (sides[0].drawn)
                drawLine(painter, sides[0], rect.topLeft(), rect.topRight(), {0, 1});
            if (sides[2].drawn)
                drawLine(painter, sides[2], rect.bottomLeft(), rect.bottomRight(), {0, -1});
            if (sides[1].drawn)
                drawLine(painter, sides[1], rect.topLeft(), rect.bottomLeft(), {1, 0});
            if (sides[3].drawn)
                drawLine(painter, sides[3], rect.topRight(), rect.bottomRight(), {-1, 0});
        }
        block = last;
    }
    painter.restore();
}

} // namespace Inkwell
