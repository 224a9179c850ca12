#include "controls/listlabels.h"

#include "controls/keptuntilchange.h"
#include "core/documenttext.h"

#include <QAbstractTextDocumentLayout>
#include <QFontMetrics>
#include <QPainter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QTextList>

#include <algorithm>

namespace Inkwell {

namespace {

// Whether any paragraph has its label drawn by the view: most documents
// have none, and a paint then costs one pass over the formats.
bool anyLabelOfTheView(const QTextDocument &document)
{
    const QList<QTextFormat> formats = document.allFormats();
    return std::any_of(formats.begin(), formats.end(), [](const QTextFormat &format) {
        return format.isBlockFormat() && format.hasProperty(QTextFormat::ListStyle) &&
               format.intProperty(QTextFormat::ListStyle) == QTextListFormat::ListStyleUndefined;
    });
}

void drawLabel(QPainter &painter, const QTextDocument &document, const QTextBlock &block,
               const QRectF &where, const QPointF &offset, const QBrush &text)
{
    const QTextLayout *layout = block.layout();
    if (!layout || layout->lineCount() == 0)
        return;
    const QTextList *list = block.textList();
    const bool chained = list && list->format().hasProperty(listChainProperty);
    const QString label = shownListLabel(
        block,
        chained ? &keptUntilChange<ListChains>(document, QStringLiteral("inkwellListChains"),
                                               [](const QTextDocument &d) { return ListChains(d); })
                : nullptr);
    if (label.isEmpty())
        return;
    QPaintDevice *device = document.documentLayout()->paintDevice();
    const QTextCharFormat format = QTextCursor(block).charFormat();
    QFont font = format.font();
    if (device)
        font = QFont(font, device);
    const QFontMetrics metrics(font);
    // Where Qt puts its label: the first line's text, whole pixels, a blank
    // and the label's width to its left (its right in right-to-left text).
    // Qt's block rectangle begins where the paragraph's layout does.
    const QPointF layoutAt = where.topLeft();
    const QRectF line = layout->lineAt(0).naturalTextRect();
    QPointF at = (offset + layoutAt).toPoint();
    at += line.topLeft().toPoint();
    const bool leftToRight = block.textDirection() == Qt::LeftToRight;
    if (!leftToRight)
        at.rx() += line.width();
    const qreal width = metrics.horizontalAdvance(label);
    const qreal blank = metrics.horizontalAdvance(QLatin1Char(' '));
    const qreal left = leftToRight ? at.x() - blank - width : at.x() + blank;

    QTextLayout drawn(label, font, device);
    QTextOption option(Qt::AlignLeft | Qt::AlignAbsolute);
    option.setTextDirection(block.textDirection());
    drawn.setTextOption(option);
    drawn.beginLayout();
    QTextLine first = drawn.createLine();
    if (first.isValid())
        first.setLeadingIncluded(true);
    drawn.endLayout();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QBrush foreground = format.foreground();
    painter.setPen(QPen(foreground.style() == Qt::NoBrush ? text : foreground, 0));
    drawn.draw(&painter, QPointF(left, at.y()));
    painter.restore();
}

} // namespace

void drawListLabels(QPainter &painter, const QTextDocument &document, const QRectF &clip,
                    const QPointF &offset, const QBrush &text)
{
    if (!anyLabelOfTheView(document))
        return;
    // From the paragraph at the top of the view to the one past its
    // bottom: a paint costs what is in view, not the document.
    QAbstractTextDocumentLayout *layout = document.documentLayout();
    const int first = layout->hitTest(clip.topLeft(), Qt::FuzzyHit);
    const int lastShown = layout->hitTest(clip.bottomRight(), Qt::FuzzyHit);
    for (QTextBlock block = document.findBlock(std::max(first, 0)); block.isValid();
         block = block.next()) {
        const QRectF where = layout->blockBoundingRect(block);
        if (lastShown >= 0 && block.position() > lastShown && where.top() > clip.bottom())
            break;
        if (!labelDrawnByView(block) || where.bottom() < clip.top() || where.top() > clip.bottom())
            continue;
        drawLabel(painter, document, block, where, offset, text);
    }
}

} // namespace Inkwell
