#include "core/systemerror.h"

#include <QFileDevice>

namespace Inkwell {

QString reasonForFailed(const QFileDevice &file, FileAccess)
{
    // On Windows Qt's text comes from FormatMessage in the system's own
    // language, and errno is not set by its file engine.
    return file.errorString();
}

} // namespace Inkwell
