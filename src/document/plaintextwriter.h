// A plain-text or scrambled save made straight from the document's
// paragraphs, a piece at a time: the bytes serialize() makes of the whole,
// with no copy of the whole text and no second pass. While it writes, it
// takes what a finished save needs: the baseline of the change test, the
// identity of the bytes written (hash, size, checksum) and whether every
// character had a form in the encoding.
#pragma once

#include "core/atomicfile.h"
#include "core/contenthash.h"
#include "core/textbaseline.h"
#include "core/textencoding.h"
#include "document/documentfile.h"

#include <QCryptographicHash>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QTextDocument;

namespace Inkwell {

class PlainTextPieces;

class PlainTextWriter : public FilePieces {
public:
    // How much text one piece takes: its bytes are about a megabyte.
    static constexpr qsizetype defaultPieceChars = qsizetype(1) << 19;

    // `format` is PlainText or Scrambled. The document must not change
    // until the writer is done.
    PlainTextWriter(const QTextDocument &document, const TextEncoding &encoding, FileFormat format);
    ~PlainTextWriter() override;

    // Pieces of about this many characters (tests ask for tiny ones).
    void setPieceChars(qsizetype chars) { m_pieceChars = std::max<qsizetype>(chars, 1); }
    // Stops the write at the first piece with a character the encoding
    // cannot hold, before anything replaces the file.
    void setStopWhenLossy(bool stop) { m_stopWhenLossy = stop; }
    // Called after each piece with the characters done and in all,
    // and while the bytes are flushed to the disk.
    void setProgress(std::function<void(qint64 done, qint64 total)> progress)
    {
        m_progress = std::move(progress);
    }

    Step next(QByteArray &piece) override;
    void waiting() override;

    // After the last piece: whether every character had a form in the
    // encoding, and whether the write stopped for one that had none.
    bool lossless() const { return m_lossless; }
    bool stoppedLossy() const { return m_stoppedLossy; }
    // Of the bytes written (scrambled for the scrambled format, as on disk).
    const ContentHash &written() const { return m_hash; }
    // fileChecksum() of the bytes written (empty past checksumLimit).
    QByteArray checksum() const;
    // The text of the document as plainTextOf() gives it, taken while
    // writing; its formats are not taken.
    TextBaseline takeBaseline() { return std::move(m_baseline); }
    NewFileAccess access() const;

    // All the bytes at once (what serialize() gives), for tests and callers
    // that want them whole.
    QByteArray all();

private:
    Step finishPiece(QByteArray &piece);

    const QTextDocument &m_document;
    TextEncoding m_encoding;
    FileFormat m_format;
    qsizetype m_pieceChars = defaultPieceChars;
    bool m_stopWhenLossy = false;
    std::function<void(qint64, qint64)> m_progress;

    // Documents with lists or frames are written as serialize() writes them
    // (small rich documents); these bytes are then handed out in pieces.
    bool m_whole = false;
    std::optional<QByteArray> m_wholeBytes;
    qsizetype m_wholeDone = 0;

    std::unique_ptr<PlainTextPieces> m_pieces;
    TextFileEncoder m_encoder;
    QString m_text;
    bool m_finished = false;
    bool m_lossless = true;
    bool m_stoppedLossy = false;
    ContentHash m_hash;
    QCryptographicHash m_checksum{QCryptographicHash::Sha1};
    TextBaseline m_baseline;
};

} // namespace Inkwell
