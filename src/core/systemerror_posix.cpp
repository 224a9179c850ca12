#include "core/systemerror.h"

#include <QFileDevice>

#include <cerrno>

namespace Inkwell {

QString reasonForFailed(const QFileDevice &file, FileAccess access)
{
    // Qt's file engine reports the failing system call's errno unchanged;
    // a failure Qt found itself (a folder opened as a file) has no number.
    if (errno == 0 && file.error() == QFileDevice::OpenError)
        return reasonFor(EISDIR, access);
    return reasonFor(errno, access);
}

} // namespace Inkwell
