#include "controls/editorview.h"

#include <QImage>

namespace Inkwell {

bool ViewHandling::event(QEvent *event)
{
    if (event->type() == QEvent::ShortcutOverride &&
        isWindowCommandKey(*static_cast<QKeyEvent *>(event))) {
        event->ignore();
        return true;
    }
    return false;
}

bool ViewHandling::mayEdit(const QKeyEvent &event)
{
    if (event.matches(QKeySequence::Undo) || event.matches(QKeySequence::Redo))
        return false;
    if (event.matches(QKeySequence::Paste) || event.matches(QKeySequence::Cut))
        return true;
    switch (event.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
    case Qt::Key_Tab:
        return true;
    default:
        break;
    }
    const QString text = event.text();
    return !text.isEmpty() && text.front().isPrint() &&
           !(event.modifiers() & Qt::ControlModifier);
}

bool ViewHandling::insertsMime(RichTextBox &box, const QMimeData *source)
{
    // Text comes in plain (it takes the format at the caret, as the paste
    // command's does); a picture from another program comes in as a picture.
    if (source->hasText() || !source->hasImage())
        return false;
    box.insertPicture(qvariant_cast<QImage>(source->imageData()));
    box.ensureCursorVisible();
    return true;
}

bool ViewHandling::wheel(RichTextBox &box, QWheelEvent *event)
{
    if (!(event->modifiers() & Qt::ControlModifier))
        return false;
    box.zoomByWheel(event->angleDelta().y());
    event->accept();
    return true;
}

bool ViewHandling::drag(RichTextBox &box, QDropEvent *event, bool drop)
{
    // A file goes to the window whole, not to a place in the text: no caret
    // follows the mouse, and the window opens it.
    const QString path = droppedFile(event->mimeData());
    if (path.isEmpty())
        return false;
    event->acceptProposedAction();
    if (drop)
        emit box.fileDropped(path);
    return true;
}

} // namespace Inkwell
