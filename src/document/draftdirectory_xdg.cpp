#include "document/draftdirectory.h"

#include <QDir>

namespace Inkwell {

QString defaultDraftDirectory()
{
    // The base directory specification: a relative XDG_STATE_HOME is invalid
    // and must be ignored.
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/inkwell/drafts");
}

} // namespace Inkwell
