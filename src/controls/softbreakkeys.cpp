#include "controls/softbreakkeys.h"

#include "controls/richtextbox.h"
#include "core/documenttext.h"

#include <QKeyEvent>
#include <QTextBlock>

namespace Inkwell {

bool softBreakKeyPress(RichTextBox &box, QKeyEvent *event,
                       const std::function<void(QKeyEvent *)> &base)
{
    if (!mayHaveSoftBreaks(*box.document()) || box.isReadOnly())
        return false;
    QTextCursor cursor = box.textCursor();
    const QTextBlock block = cursor.block();
    const bool atPieceStart = cursor.atBlockStart() && continuesLine(block);
    const bool atPieceEnd = cursor.atBlockEnd() && continuesLine(block.next());
    if (event == QKeySequence::InsertParagraphSeparator) {
        if (box.view() != RichTextBox::View::Fast)
            return false;
        // A line break typed in a piece is a real one (Qt would give the new
        // paragraph the piece's format).
        box.setSelText(QStringLiteral("\n"));
        box.ensureCursorVisible();
        return true;
    }
    // As the views take it: Backspace, with Shift or without.
    const bool backspace =
        event->key() == Qt::Key_Backspace && !(event->modifiers() & ~Qt::ShiftModifier);
    if (!cursor.hasSelection() && backspace) {
        if (!atPieceStart)
            return false;
        // The character before the break goes, not the break, which is none.
        while (cursor.atBlockStart() && continuesLine(cursor.block()))
            cursor.movePosition(QTextCursor::PreviousCharacter);
        cursor.deletePreviousChar();
        box.setTextCursor(cursor);
        return true;
    }
    if (!cursor.hasSelection() && event == QKeySequence::Delete) {
        if (!atPieceEnd)
            return false;
        while (cursor.atBlockEnd() && continuesLine(cursor.block().next()))
            cursor.movePosition(QTextCursor::NextCharacter);
        cursor.deleteChar();
        box.setTextCursor(cursor);
        return true;
    }
    const bool left =
        event == QKeySequence::MoveToPreviousChar || event == QKeySequence::SelectPreviousChar;
    const bool right =
        event == QKeySequence::MoveToNextChar || event == QKeySequence::SelectNextChar;
    if (!left && !right)
        return false;
    // Both sides of a break are one place in the text: one key press must
    // not stop at both.
    const SoftBreaks breaks(*box.document());
    const int before = breaks.toText(box.textCursor().position());
    base(event);
    for (int i = 0; i < 2 && breaks.toText(box.textCursor().position()) == before; ++i) {
        const int was = box.textCursor().position();
        base(event);
        if (box.textCursor().position() == was)
            break;
    }
    return true;
}

} // namespace Inkwell
