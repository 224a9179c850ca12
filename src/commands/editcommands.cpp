#include "commands/editcommands.h"

#include "core/clipboard.h"
#include "controls/richtextbox.h"

namespace Inkwell::Commands {

Error clipboardError()
{
    return Error{QStringLiteral("无法访问剪贴板。"), QString()};
}

std::optional<Error> copy(RichTextBox &Text1, Clipboard &clipboard)
{
    // With nothing selected this still empties the clipboard: what the user
    // copied is "nothing", not whatever was there before.
    if (!clipboard.setText(Text1.SelText()))
        return clipboardError();
    return std::nullopt;
}

std::optional<Error> cut(RichTextBox &Text1, Clipboard &clipboard)
{
    if (std::optional<Error> failed = copy(Text1, clipboard))
        return failed; // the text is nowhere else: keep it in the document
    if (Text1.SelLength() > 0)
        Text1.setSelText(QString());
    return std::nullopt;
}

void paste(RichTextBox &Text1, const Clipboard &clipboard)
{
    const QString text = clipboard.text();
    // A clipboard without text (empty, or a picture only) must not wipe the
    // selection the user meant to replace.
    if (text.isEmpty())
        return;
    Text1.setSelText(text);
}

void undo(RichTextBox &Text1)
{
    Text1.SetFocus();
    Text1.undo();
}

void SelectAll(RichTextBox &Text1)
{
    Text1.setSelStart(0);
    Text1.setSelLength(int(Text1.Text().size()));
}

} // namespace Inkwell::Commands
