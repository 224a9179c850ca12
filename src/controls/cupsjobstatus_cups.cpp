#include "controls/cupsjobstatus.h"

#include <dlfcn.h>

namespace Inkwell {

QString lastCupsJobError()
{
    // Qt's CUPS print plugin has libcups loaded when it printed; without it
    // there was no CUPS job to ask about. Looked up at run time so that the
    // program neither links nor builds against CUPS.
    void *cups = dlopen("libcups.so.2", RTLD_LAZY | RTLD_NOLOAD);
    if (!cups)
        return QString();
    using LastError = int (*)();
    using LastErrorString = const char *(*)();
    const auto lastError = reinterpret_cast<LastError>(dlsym(cups, "cupsLastError"));
    const auto lastErrorString =
        reinterpret_cast<LastErrorString>(dlsym(cups, "cupsLastErrorString"));
    QString reason;
    // IPP status codes below 0x0400 are successes, redirections included.
    if (lastError && lastErrorString && lastError() >= 0x0400) {
        const char *text = lastErrorString();
        reason = QString::fromUtf8(text ? text : "");
        if (reason.isEmpty())
            reason = QStringLiteral("IPP 0x%1").arg(lastError(), 4, 16, QLatin1Char('0'));
    }
    dlclose(cups);
    return reason;
}

} // namespace Inkwell
