#include "core/atomicfile.h"

#include <QSaveFile>

namespace Inkwell {

// Windows: QSaveFile replaces the file with ReplaceFile semantics; files
// there carry no POSIX owner, mode or hard-link expectations of the editor.
std::optional<Error> writeFileAtomically(const QString &path, const QByteArray &bytes,
                                         NewFileAccess)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return Error{path, file.errorString()};
    // QSaveFile's errorString() after a failed commit() says nothing useful,
    // so the reason is taken from the failing write.
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        const QString why = file.errorString();
        file.cancelWriting();
        return Error{path, why};
    }
    if (!file.commit()) {
        const QString why = file.errorString();
        return Error{path, why.isEmpty() || why == QLatin1String("Unknown error")
                               ? QStringLiteral("无法写入磁盘（磁盘可能已满）")
                               : why};
    }
    return std::nullopt;
}

// QSaveFile writes in one piece: there is no moment to report.
void setSaveStageHook(SaveStageHook)
{
}

} // namespace Inkwell
