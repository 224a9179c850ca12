#pragma once

#include <QString>

namespace Inkwell {

// Where drafts of unsaved documents live: the user's state directory
// ($XDG_STATE_HOME/inkwell/drafts, by default ~/.local/state/inkwell/drafts;
// %LOCALAPPDATA%\Inkwell\drafts on Windows). Qt 6.4 has no state location.
QString defaultDraftDirectory();

} // namespace Inkwell
