#include "commands/editcommands.h"

#include "core/clipboard.h"
#include "controls/richtextbox.h"

namespace Inkwell::Commands {

Error clipboardError()
{
    return Error{QStringLiteral("无法访问剪贴板。"), QString()};
}

std::optional<Error> copy(RichTextBox &editor, Clipboard &clipboard)
{
    // With nothing selected this still empties the clipboard: what the user
    // copied is "nothing", not whatever was there before.
    if (!clipboard.setText(editor.SelText()))
        return clipboardError();
    return std::nullopt;
}

std::optional<Error> cut(RichTextBox &editor, Clipboard &clipboard)
{
    if (std::optional<Error> failed = copy(editor, clipboard))
        return failed; // the text is nowhere else: keep it in the document
    if (editor.SelLength() > 0)
        editor.setSelText(QString());
    return std::nullopt;
}

void paste(RichTextBox &editor, const Clipboard &clipboard)
{
    const QString text = clipboard.text();
    // A clipboard without text (empty, or a picture only) must not wipe the
    // selection the user meant to replace.
    if (text.isEmpty())
        return;
    editor.setSelText(text);
}

void undo(RichTextBox &editor)
{
    editor.SetFocus();
    editor.undo();
}

void SelectAll(RichTextBox &editor)
{
    editor.setSelStart(0);
    editor.setSelLength(int(editor.Text().size()));
}

} // namespace Inkwell::Commands
