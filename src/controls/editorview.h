// One of RichTextBox's two views: a QPlainTextEdit or a QTextEdit that hands
// what the box handles alike for both to the box.
#pragma once

#include "controls/richtextbox.h"

#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QWheelEvent>

namespace Inkwell {

// One of the two views. Whatever either is sent that the box handles alike
// (the window's keys, pictures and files from outside, Ctrl+wheel) goes to
// the box; the rest is the view's own.
template <class Base> class EditorView : public Base {
public:
    explicit EditorView(RichTextBox &box) : Base(&box), m_box(box) {}

protected:
    bool event(QEvent *event) override
    {
        if (m_box.viewEvent(event))
            return true;
        return Base::event(event);
    }
    bool canInsertFromMimeData(const QMimeData *source) const override
    {
        return source->hasImage() || Base::canInsertFromMimeData(source);
    }
    void insertFromMimeData(const QMimeData *source) override
    {
        if (!m_box.viewInsertsMime(source))
            Base::insertFromMimeData(source);
    }
    void keyPressEvent(QKeyEvent *event) override
    {
        if (!m_box.viewKeyPress(event, [this](QKeyEvent *e) { Base::keyPressEvent(e); }))
            Base::keyPressEvent(event);
    }
    QMimeData *createMimeDataFromSelection() const override
    {
        if (QMimeData *data = m_box.viewMimeFromSelection())
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
        Base::mousePressEvent(event);
        emit m_box.mousePressed(event->button(), event->modifiers(),
                                this->mapTo(&m_box, event->position().toPoint()));
    }
    void dragEnterEvent(QDragEnterEvent *event) override
    {
        if (!m_box.viewDrag(event, false))
            Base::dragEnterEvent(event);
    }
    void dragMoveEvent(QDragMoveEvent *event) override
    {
        if (!m_box.viewDrag(event, false))
            Base::dragMoveEvent(event);
    }
    void dropEvent(QDropEvent *event) override
    {
        if (!m_box.viewDrag(event, true))
            Base::dropEvent(event);
    }
    void wheelEvent(QWheelEvent *event) override
    {
        if (!m_box.viewWheel(event))
            Base::wheelEvent(event);
    }

private:
    RichTextBox &m_box;
};

} // namespace Inkwell
