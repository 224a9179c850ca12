// The keys at a soft break (documenttext.h): the break between two pieces
// of a long line is no character, so Backspace, Delete and the arrow keys
// step over it as if the line were whole, and Enter in a piece makes a real
// line break.
#pragma once

#include <functional>

class QKeyEvent;

namespace Inkwell {

class RichTextBox;

// Handles the key pressed in the box's view when it meets a soft break;
// `base` is the view's own handling. False leaves the key to the view.
bool softBreakKeyPress(RichTextBox &box, QKeyEvent *event,
                       const std::function<void(QKeyEvent *)> &base);

} // namespace Inkwell
