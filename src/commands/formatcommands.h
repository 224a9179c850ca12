// Font and colour of the selection (or of what is typed next), chosen in the
// font and colour dialogs (one dialog object may serve both, so a choice is
// offered again next time). The dialogs open on the selection's own values
// (the last choice stands in for values it mixes) and on the colour the text
// shows, and only what the user changed is applied, as one undo step.
#pragma once

namespace Inkwell {

class CommonDialog;
class RichTextBox;

namespace Commands {

void font(RichTextBox &editor, CommonDialog &fontDialog);
void color(RichTextBox &editor, CommonDialog &colorDialog);

} // namespace Commands
} // namespace Inkwell
