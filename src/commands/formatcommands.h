// Font and colour of the selection (or of what is typed next), chosen in
// the dialogs of `openuse`, which remember the last choice.
#pragma once

namespace Inkwell {

class CommonDialog;
class RichTextBox;

namespace Commands {

void font(RichTextBox &Text1, CommonDialog &openuse);
void color(RichTextBox &Text1, CommonDialog &openuse);

} // namespace Commands
} // namespace Inkwell
