#include "document/draftdirectory.h"

#include <QDir>

namespace Inkwell {

QString defaultDraftDirectory()
{
    // A relative XDG_STATE_HOME is invalid under the XDG base-directory rules
    // and is ignored.
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/inkwell/drafts");
}

} // namespace Inkwell
