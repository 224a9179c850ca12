#include "controls/gapcaret.h"

#include "core/tablegaps.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QPaintEngine>
#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextFrame>
#include <QTextTable>

namespace Inkwell {

GapCaret::GapCaret(QTextEdit &view) : QObject(&view), m_view(view)
{
    connect(&m_view, &QTextEdit::cursorPositionChanged, this, &GapCaret::restartBlink);
    connect(&m_blink, &QTimer::timeout, this, &GapCaret::blink);
    m_view.installEventFilter(this);
}

QPointF GapCaret::scrolled() const
{
    return QPointF(m_view.horizontalScrollBar()->value(), m_view.verticalScrollBar()->value());
}

std::optional<QPointF> GapCaret::caretOffset() const
{
    const QTextDocument *document = m_view.document();
    return shownGapLineOffset(*document, m_view.textCursor().block());
}

QRect GapCaret::shown(const QRect &qtRect) const
{
    const std::optional<QPointF> offset = caretOffset();
    return offset ? qtRect.translated(offset->toPoint()) : qtRect;
}

QRect GapCaret::cursorRect() const
{
    return shown(m_view.cursorRect());
}

QPointF GapCaret::toQtLayout(const QPointF &point) const
{
    const QTextDocument &document = *m_view.document();
    if (document.rootFrame()->childFrames().isEmpty())
        return point; // no table, no gap
    QAbstractTextDocumentLayout *layout = document.documentLayout();
    const QPointF at = point + scrolled();
    const int hit = layout->hitTest(at, Qt::FuzzyHit);
    if (hit < 0)
        return point;
    // The shown line lies in its table's gap, so Qt finds the table (or a
    // table in it) or the parked line there.
    std::vector<QTextBlock> lines{document.findBlock(hit)};
    for (const QTextFrame *frame = document.frameAt(hit); frame; frame = frame->parentFrame())
        if (qobject_cast<const QTextTable *>(frame))
            lines.push_back(document.findBlock(frame->lastPosition() + 1));
    for (const QTextBlock &line : lines) {
        const std::optional<QPointF> offset = shownGapLineOffset(document, line);
        if (!offset)
            continue;
        const QRectF parked = layout->blockBoundingRect(line);
        QRectF gap = parked.translated(*offset);
        gap.setBottom(parked.bottom()); // the table's bottom
        if (gap.contains(at))
            return point - *offset;
    }
    return point;
}

void GapCaret::paint(const std::function<void()> &paint)
{
    const std::optional<QPointF> offset = caretOffset();
    if (!m_drawn.isNull() && !offset)
        m_drawn = QRect();
    if (!offset) {
        m_blink.stop();
        paint();
        return;
    }
    // Qt draws its caret as wide as its layout's cursor width: none for
    // this paint.
    QAbstractTextDocumentLayout *layout = m_view.document()->documentLayout();
    const QVariant width = layout->property("cursorWidth");
    const QRect caret = cursorRect();
    layout->setProperty("cursorWidth", 0);
    paint();
    layout->setProperty("cursorWidth", width);
    m_drawn = caret;
    const bool shows =
        m_view.hasFocus() && m_view.isEnabled() &&
        (m_view.textInteractionFlags() & (Qt::TextEditable | Qt::TextSelectableByKeyboard));
    if (shows && !m_blink.isActive() && QApplication::cursorFlashTime() > 0)
        restartBlink();
    if (!shows || !m_on)
        return;
    QPainter painter(m_view.viewport());
    // As Qt draws its caret: inverting what is under it where it can.
    if (painter.paintEngine()->hasFeature(QPaintEngine::RasterOpModes))
        painter.setCompositionMode(QPainter::RasterOp_NotDestination);
    painter.fillRect(caret, m_view.palette().text());
}

void GapCaret::showCaret()
{
    // Qt scrolls to where it parked the line, at the table's right: a table
    // wider than the view leaves the line's start out of sight.
    const QRect caret = cursorRect();
    if (!caretOffset() || m_view.viewport()->rect().contains(caret))
        return;
    QScrollBar *across = m_view.horizontalScrollBar();
    const int width = m_view.viewport()->width();
    if (caret.left() < 0)
        across->setValue(across->value() + caret.left() - width / 4);
    else if (caret.right() >= width)
        across->setValue(across->value() + caret.right() - width + width / 4);
}

void GapCaret::restartBlink()
{
    m_on = true;
    const int flash = QApplication::cursorFlashTime();
    if (flash > 0 && m_view.hasFocus() && caretOffset())
        m_blink.start(flash / 2);
    else
        m_blink.stop();
    if (!m_drawn.isNull())
        m_view.viewport()->update(m_drawn);
    if (caretOffset()) {
        m_view.viewport()->update(cursorRect());
        // After Qt has made its own caret visible.
        QTimer::singleShot(0, this, &GapCaret::showCaret);
    }
}

void GapCaret::blink()
{
    m_on = !m_on;
    if (!caretOffset()) {
        m_blink.stop();
        m_on = true;
    }
    if (!m_drawn.isNull())
        m_view.viewport()->update(m_drawn);
}

bool GapCaret::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == &m_view &&
        (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut))
        restartBlink();
    return QObject::eventFilter(watched, event);
}

} // namespace Inkwell
