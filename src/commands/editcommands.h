// The clipboard, undo and select-all commands of the Edit menu. Each works
// on the control's selection; none keeps state of its own.
#pragma once

#include "core/error.h"

#include <optional>

namespace Inkwell {

class Clipboard;
class RichTextBox;

namespace Commands {

// The selection's text onto the clipboard (replacing all it held), then the
// selection removed. A clipboard that cannot be written keeps the selection.
std::optional<Error> cut(RichTextBox &editor, Clipboard &clipboard);
std::optional<Error> copy(RichTextBox &editor, Clipboard &clipboard);
// The clipboard's text, plain, in place of the selection; no text, no change.
void paste(RichTextBox &editor, const Clipboard &clipboard);
// The control's own undo, exactly what Ctrl+Z does in it.
void undo(RichTextBox &editor);
void SelectAll(RichTextBox &editor);

// The message for a clipboard that refused the text.
Error clipboardError();

} // namespace Commands
} // namespace Inkwell
