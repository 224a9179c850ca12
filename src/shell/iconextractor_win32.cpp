// ExtractIconW, with the module handle GetModuleHandleW gives for the file
// (the running program's own when it names it, 0 otherwise).
#include "shell/trueicon.h"

#include <QImage>
#include <QPixmap>

#include <windows.h>
// shellapi.h needs the types windows.h declares.
#include <shellapi.h>

namespace Inkwell {

QIcon extractIcon(const QString &fileName, int index)
{
    const auto *name = reinterpret_cast<const wchar_t *>(fileName.utf16());
    HICON handle = ExtractIconW(GetModuleHandleW(name), name, UINT(index));
    // 1 means "not an icon file"; 0 means no icon at that index.
    if (handle == nullptr || handle == reinterpret_cast<HICON>(1))
        return {};
    const QIcon icon(QPixmap::fromImage(QImage::fromHICON(handle)));
    DestroyIcon(handle);
    return icon;
}

} // namespace Inkwell
