#include "controls/textboxes.h"

#include "controls/keptuntilchange.h"

#include "core/formatproperties.h"
#include "core/textboxes.h"

#include <QAbstractTextDocumentLayout>
#include <QFont>
#include <QPainter>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextOption>

#include <algorithm>

namespace Inkwell {

namespace {

constexpr qreal twipsPerPixel = 15;
// Word's inner margins of a text box: 0.1 inch left and right, 0.05 inch
// above and below.
constexpr qreal sideMargin = 144 / twipsPerPixel;
constexpr qreal endMargin = 72 / twipsPerPixel;

// Lengths are pixels at 96 dpi; a layout with a paint device of its own
// (a zoomed view, a printer) scales them by its resolution, as Qt does.
qreal deviceScale(const QTextDocument &document)
{
    const QPaintDevice *device = document.documentLayout()->paintDevice();
    return device ? device->logicalDpiY() / 96.0 : 1.0;
}

struct Anchor {
    int block; // the paragraph whose top the boxes are placed from
    std::vector<TextBox> boxes;
    QFont font; // the font of the character holding them, the boxes' text's
};

// The boxes of the document and the paragraphs holding them.
std::vector<Anchor> anchorsOf(const QTextDocument &document)
{
    std::vector<Anchor> anchors;
    const QList<QTextFormat> formats = document.allFormats();
    if (std::none_of(formats.begin(), formats.end(),
                     [](const QTextFormat &format) { return format.hasProperty(textBoxProperty); }))
        return anchors;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const QVariant mark = block.blockFormat().property(textBoxProperty);
        if (mark.isValid())
            anchors.push_back(
                {block.blockNumber(), textBoxesOf(mark.toStringList()), block.charFormat().font()});
        // A run of characters with the same boxes holds them once.
        QVariant previous;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            const QVariant boxes = format.property(textBoxProperty);
            if (boxes.isValid() && boxes != previous)
                anchors.push_back(
                    {block.blockNumber(), textBoxesOf(boxes.toStringList()), format.font()});
            previous = boxes;
        }
    }
    return anchors;
}

void drawBox(QPainter &painter, const QTextDocument &document, const TextBox &box, QFont font,
             const QRectF &where, qreal scale)
{
    painter.save();
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::white);
    painter.drawRect(where.adjusted(0.5, 0.5, -0.5, -0.5));
    font.setUnderline(false);
    font.setStrikeOut(false);
    if (box.halfPoints > 0)
        font.setPointSizeF(box.halfPoints / 2.0);
    // Text the layout measures against a device of its own is as large as
    // that device's resolution makes it where the painter draws.
    if (const QPaintDevice *device = document.documentLayout()->paintDevice();
        device && painter.device() && painter.device()->logicalDpiY() > 0) {
        const qreal grown = qreal(device->logicalDpiY()) / painter.device()->logicalDpiY();
        if (font.pointSizeF() > 0)
            font.setPointSizeF(font.pointSizeF() * grown);
        else if (font.pixelSize() > 0)
            font.setPixelSize(std::max(1, qRound(font.pixelSize() * grown)));
    }
    painter.setFont(font);
    painter.setPen(Qt::black);
    const QRectF inner = where
                             .adjusted(sideMargin * scale, endMargin * scale, -sideMargin * scale,
                                       -endMargin * scale)
                             .normalized();
    painter.setClipRect(where, Qt::IntersectClip);
    QTextOption option(Qt::AlignLeft | Qt::AlignTop);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    painter.drawText(inner, box.text, option);
    painter.restore();
}

} // namespace

void drawTextBoxes(QPainter &painter, const QTextDocument &document, const QRectF &clip,
                   const QPointF &offset)
{
    const std::vector<Anchor> &anchors =
        keptUntilChange(document, QStringLiteral("inkwellTextBoxes"), &anchorsOf);
    if (anchors.empty())
        return;
    QAbstractTextDocumentLayout *layout = document.documentLayout();
    const qreal scale = deviceScale(document);
    const qreal left = (document.rootFrame()->frameFormat().leftMargin() +
                        document.rootFrame()->frameFormat().padding()) *
                       scale;
    for (const Anchor &anchor : anchors) {
        const QTextBlock block = document.findBlockByNumber(anchor.block);
        if (!block.isValid())
            continue;
        const QRectF paragraph = layout->blockBoundingRect(block);
        for (const TextBox &box : anchor.boxes) {
            const qreal unit = scale / twipsPerPixel;
            const QRectF where(left + box.left * unit, paragraph.top() + box.top * unit,
                               (box.right - box.left) * unit, (box.bottom - box.top) * unit);
            if (where.intersects(clip))
                drawBox(painter, document, box, anchor.font, where.translated(offset), scale);
        }
    }
}

} // namespace Inkwell
