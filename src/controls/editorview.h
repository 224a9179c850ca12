// One of RichTextBox's two views: a QPlainTextEdit or a QTextEdit that hands
// what the box handles alike for both to the box.
#pragma once

#include "controls/editortransfer.h"
#include "controls/gapcaret.h"
#include "controls/listlabels.h"
#include "controls/paragraphboxes.h"
#include "controls/richtextbox.h"
#include "controls/softbreakkeys.h"
#include "controls/textboxes.h"

#include <QDropEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextEdit>
#include <QWheelEvent>
#include <functional>
#include <memory>
#include <type_traits>

namespace Inkwell {

// What both views do alike with what they are sent; true when it was
// handled (the view's own handling is then skipped).
struct ViewHandling {
    // The keys the window's commands take are left to the window.
    static bool event(QEvent *event);
    // A picture from another program comes in as a picture.
    static bool insertsMime(RichTextBox &box, const QMimeData *source);
    // A file dragged in goes to the window whole, `drop` when it is dropped.
    static bool drag(RichTextBox &box, QDropEvent *event, bool drop);
    // Ctrl+wheel zooms the view.
    static bool wheel(RichTextBox &box, QWheelEvent *event);
    // Whether a key may change the text (typing, Enter, deleting, cutting,
    // pasting); undo and redo do not count: they bring back their own step.
    static bool mayEdit(const QKeyEvent &event);
};

// One of the two views. Whatever either is sent that the box handles alike
// (the window's keys, pictures and files from outside, Ctrl+wheel) goes to
// the box; the rest is the view's own.
template <class Base> class EditorView : public Base {
public:
    explicit EditorView(RichTextBox &box) : Base(&box), m_box(box)
    {
        if constexpr (rich)
            m_gapCaret = std::make_unique<GapCaret>(*this);
    }

    // The caret's rectangle in the viewport, where the user sees it.
    QRect shownCursorRect() const
    {
        if constexpr (rich)
            return m_gapCaret->cursorRect();
        return this->cursorRect();
    }

    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override
    {
        QVariant answer = Base::inputMethodQuery(query);
        if constexpr (rich) {
            // The input method's window goes by the caret the user sees.
            if (query == Qt::ImCursorRectangle ||
                (query == Qt::ImAnchorRectangle && !this->textCursor().hasSelection()))
                answer = m_gapCaret->shown(answer.toRect());
        }
        return answer;
    }

protected:
    bool event(QEvent *event) override
    {
        if (ViewHandling::event(event))
            return true;
        return Base::event(event);
    }
    bool canInsertFromMimeData(const QMimeData *source) const override
    {
        return source->hasImage() || Base::canInsertFromMimeData(source);
    }
    void insertFromMimeData(const QMimeData *source) override
    {
        m_box.editKeepingTableGaps([&] {
            if (!ViewHandling::insertsMime(m_box, source))
                Base::insertFromMimeData(source);
        });
    }
    void keyPressEvent(QKeyEvent *event) override
    {
        const auto press = [&] {
            if (!softBreakKeyPress(m_box, event,
                                   [this](QKeyEvent *e) { Base::keyPressEvent(e); }))
                Base::keyPressEvent(event);
        };
        if (ViewHandling::mayEdit(*event))
            m_box.editKeepingTableGaps(press);
        else
            press();
    }
    void inputMethodEvent(QInputMethodEvent *event) override
    {
        if (event->commitString().isEmpty())
            Base::inputMethodEvent(event);
        else
            m_box.editKeepingTableGaps([&] { Base::inputMethodEvent(event); });
    }
    QMimeData *createMimeDataFromSelection() const override
    {
        if (QMimeData *data = selectionMimeData(m_box))
            return data;
        return Base::createMimeDataFromSelection();
    }
    void keyReleaseEvent(QKeyEvent *event) override
    {
        Base::keyReleaseEvent(event);
        emit m_box.keyReleased(event->key(), event->modifiers());
    }
    void mousePressEvent(QMouseEvent *event) override
    {
        withShownLines(event, [this](QMouseEvent *e) { Base::mousePressEvent(e); });
        emit m_box.mousePressed(event->button(), event->modifiers(),
                                this->mapTo(&m_box, event->position().toPoint()));
    }
    void mouseMoveEvent(QMouseEvent *event) override
    {
        withShownLines(event, [this](QMouseEvent *e) { Base::mouseMoveEvent(e); });
    }
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        withShownLines(event, [this](QMouseEvent *e) { Base::mouseReleaseEvent(e); });
    }
    void mouseDoubleClickEvent(QMouseEvent *event) override
    {
        withShownLines(event, [this](QMouseEvent *e) { Base::mouseDoubleClickEvent(e); });
    }
    void dragEnterEvent(QDragEnterEvent *event) override
    {
        if (!ViewHandling::drag(m_box, event, false))
            Base::dragEnterEvent(event);
    }
    void dragMoveEvent(QDragMoveEvent *event) override
    {
        if (!ViewHandling::drag(m_box, event, false))
            Base::dragMoveEvent(event);
    }
    void dropEvent(QDropEvent *event) override
    {
        if (!ViewHandling::drag(m_box, event, true))
            Base::dropEvent(event);
    }
    void paintEvent(QPaintEvent *event) override
    {
        if constexpr (rich)
            m_gapCaret->paint([&] { Base::paintEvent(event); });
        else
            Base::paintEvent(event);
        // Paragraph boxes of a rich document, which Qt does not draw.
        if constexpr (rich) {
            const QPointF scrolled(this->horizontalScrollBar()->value(),
                                   this->verticalScrollBar()->value());
            QPainter painter(this->viewport());
            drawParagraphBoxes(painter, *this->document(),
                               QRectF(event->rect()).translated(scrolled), -scrolled);
            // And the list labels Qt would draw wrongly.
            drawListLabels(painter, *this->document(), QRectF(event->rect()).translated(scrolled),
                           -scrolled, this->palette().text());
            // And the text boxes of shapes, over the text.
            drawTextBoxes(painter, *this->document(), QRectF(event->rect()).translated(scrolled),
                          -scrolled);
        }
    }
    void wheelEvent(QWheelEvent *event) override
    {
        if (!ViewHandling::wheel(m_box, event))
            Base::wheelEvent(event);
    }

private:
    static constexpr bool rich = std::is_same_v<Base, QTextEdit>;

    // A click or drag on the empty line after a table, which the window
    // shows in the table's gap, goes to Qt where Qt has the line.
    template <class Handle> void withShownLines(QMouseEvent *event, Handle handle)
    {
        if constexpr (rich) {
            const QPointF at = m_gapCaret->toQtLayout(event->position());
            if (at != event->position()) {
                QMouseEvent moved(event->type(), at, event->scenePosition(),
                                  event->globalPosition(), event->button(), event->buttons(),
                                  event->modifiers(), event->pointingDevice());
                moved.setTimestamp(event->timestamp());
                handle(&moved);
                event->setAccepted(moved.isAccepted());
                return;
            }
        }
        handle(event);
    }

    RichTextBox &m_box;
    std::unique_ptr<GapCaret> m_gapCaret; // the rich view's
};

} // namespace Inkwell
