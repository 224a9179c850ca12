// What the editing control gives to and takes from outside: the data a
// copy or a drag of the selection carries, the file a drop brings, and the
// keys it leaves to the window's commands.
#pragma once

#include <QString>

class QKeyEvent;
class QMimeData;

namespace Inkwell {

class RichTextBox;

// The data of the box's selection for the clipboard or a drag, or null
// when the view's own will do.
QMimeData *selectionMimeData(const RichTextBox &box);
// The first local file a drag carries, or "" when it carries none (text
// or a picture from another program).
QString droppedFile(const QMimeData *data);
// True for a key the window's menu commands take (cut, copy, paste, select
// all), so the view must not take it as its own shortcut.
bool isWindowCommandKey(const QKeyEvent &key);

} // namespace Inkwell
