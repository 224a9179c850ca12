#include "core/atomicfile.h"

#include <QSaveFile>

namespace Inkwell {

// Windows: QSaveFile replaces the file with ReplaceFile semantics; files
// there carry no POSIX owner, mode or hard-link expectations of the editor.
Result<bool> writeFileAtomically(const QString &path, FilePieces &pieces, NewFileAccess)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return Error{path, file.errorString()};
    // QSaveFile's errorString() after a failed commit() says nothing useful,
    // so the reason is taken from the failing write.
    QByteArray piece;
    for (FilePieces::Step step; (step = pieces.next(piece)) != FilePieces::Step::End;) {
        if (step == FilePieces::Step::Stop) {
            file.cancelWriting();
            return false;
        }
        if (file.write(piece) != piece.size()) {
            const QString why = file.errorString();
            file.cancelWriting();
            return Error{path, why};
        }
    }
    if (!file.flush()) {
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
    return true;
}

namespace {

class WholeBytes : public FilePieces {
public:
    explicit WholeBytes(const QByteArray &bytes) : m_bytes(bytes) {}
    Step next(QByteArray &piece) override
    {
        if (m_given)
            return Step::End;
        m_given = true;
        piece = m_bytes;
        return Step::Piece;
    }

private:
    const QByteArray &m_bytes;
    bool m_given = false;
};

} // namespace

std::optional<Error> writeFileAtomically(const QString &path, const QByteArray &bytes,
                                         NewFileAccess access)
{
    WholeBytes pieces(bytes);
    return writeFileAtomically(path, pieces, access).failure();
}

// QSaveFile writes in one piece: there is no moment to report.
void setSaveStageHook(SaveStageHook)
{
}

} // namespace Inkwell
