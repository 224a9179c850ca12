#include "document/draftdirectory.h"

#include <QDir>
#include <QStandardPaths>

namespace Inkwell {

QString defaultDraftDirectory()
{
    QString local = qEnvironmentVariable("LOCALAPPDATA");
    if (local.isEmpty())
        local = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return QDir::fromNativeSeparators(local) + QStringLiteral("/Inkwell/drafts");
}

} // namespace Inkwell
