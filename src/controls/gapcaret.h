// The caret on the empty line after a table (core/tablegaps.h). Qt lays that
// paragraph out at the table's bottom right and draws the caret there; the
// window shows the line in the table's gap, so the caret, its rectangle and
// the clicks on the line go there.
#pragma once

#include <QObject>
#include <QPointF>
#include <QRect>
#include <QTimer>
#include <functional>
#include <optional>

class QMouseEvent;
class QTextEdit;

namespace Inkwell {

class GapCaret : public QObject {
public:
    explicit GapCaret(QTextEdit &view);

    // How far the caret's line is shown from where Qt laid it out, in the
    // viewport's pixels; nothing while the caret is where Qt draws it.
    std::optional<QPointF> caretOffset() const;
    // The caret's rectangle in the viewport where the user sees it.
    QRect cursorRect() const;
    // A rectangle of Qt's around the caret, moved with it.
    QRect shown(const QRect &qtRect) const;
    // For a point of the viewport on a shown empty line after a table, the
    // point where Qt has that line (so that its hit test finds it); other
    // points as they are.
    QPointF toQtLayout(const QPointF &point) const;
    // Paints the view by `paint` and, while the caret is on such a line,
    // draws it there instead of where Qt would.
    void paint(const std::function<void()> &paint);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void restartBlink();
    void showCaret();
    void blink();
    QPointF scrolled() const;

    QTextEdit &m_view;
    QTimer m_blink;
    bool m_on = true;
    QRect m_drawn; // where the caret was drawn last, to be drawn over
};

} // namespace Inkwell
