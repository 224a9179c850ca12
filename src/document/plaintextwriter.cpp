#include "document/plaintextwriter.h"

#include "core/documenttext.h"
#include "core/filestamp.h"
#include "document/bytescramble.h"

#include <QTextDocument>
#include <QTextFormat>
#include <QTextFrame>

namespace Inkwell {

namespace {

// The pieces of a whole file given out at a time.
constexpr qsizetype wholePiece = qsizetype(1) << 20;

} // namespace

PlainTextWriter::PlainTextWriter(const QTextDocument &document, const TextEncoding &encoding,
                                 FileFormat format)
    : m_document(document), m_encoding(encoding), m_format(format), m_encoder(encoding)
{
    // Lists and tables have labels and cells the text export lays out; such
    // documents are small, and are exported whole as before.
    m_whole = !plainTextIsRawText(document);
    if (!m_whole) {
        m_pieces = std::make_unique<PlainTextPieces>(document);
        m_baseline.begin();
    }
}

PlainTextWriter::~PlainTextWriter() = default;

NewFileAccess PlainTextWriter::access() const
{
    return m_format == FileFormat::Scrambled ? NewFileAccess::Private : NewFileAccess::Shared;
}

QByteArray PlainTextWriter::checksum() const
{
    return m_hash.size() > checksumLimit ? QByteArray() : m_checksum.result();
}

PlainTextWriter::Step PlainTextWriter::finishPiece(QByteArray &piece)
{
    if (!m_lossless && m_stopWhenLossy) {
        m_stoppedLossy = true;
        return Step::Stop;
    }
    if (piece.isEmpty())
        return Step::End;
    // Scrambled here for the scrambled format: the plain bytes never leave
    // this piece. (serialize() has scrambled a whole file already.)
    if (m_format == FileFormat::Scrambled && !m_whole)
        scrambleInPlace(piece);
    m_hash.add(piece);
    if (m_hash.size() <= checksumLimit)
        m_checksum.addData(piece);
    return Step::Piece;
}

PlainTextWriter::Step PlainTextWriter::next(QByteArray &piece)
{
    piece.resize(0);
    if (m_whole) {
        if (!m_wholeBytes) {
            Serialized file = serialize(m_document, m_encoding, m_format);
            m_lossless = file.lossless;
            m_wholeBytes = std::move(file.bytes);
            m_baseline.takeText(m_document);
        }
        const qsizetype length = std::min(wholePiece, m_wholeBytes->size() - m_wholeDone);
        if (length > 0)
            piece = m_wholeBytes->mid(m_wholeDone, length);
        m_wholeDone += length;
        return finishPiece(piece);
    }
    // A piece of text may give no bytes (pictures only, half a surrogate
    // pair held back): read on until one does or the text ends.
    while (piece.isEmpty() && !m_finished) {
        m_text.resize(0);
        m_pieces->appendUpTo(m_text, m_pieceChars);
        m_baseline.append(m_text);
        // exportPlainText's form: a line break inside a paragraph ends a line.
        char16_t *d = reinterpret_cast<char16_t *>(m_text.data());
        for (qsizetype i = 0, n = m_text.size(); i < n; ++i)
            if (d[i] == 0x2028)
                d[i] = u'\n';
        m_encoder.add(m_text, piece);
        if (m_pieces->atEnd()) {
            m_encoder.finish(piece);
            m_baseline.finish();
            m_finished = true;
        }
        m_lossless = m_encoder.lossless();
        if (!m_lossless && m_stopWhenLossy)
            break;
    }
    const Step step = finishPiece(piece);
    if (step == Step::Piece && m_progress)
        m_progress(m_pieces->position(), m_document.characterCount());
    return step;
}

void PlainTextWriter::waiting()
{
    if (m_progress) {
        const qint64 total = m_document.characterCount();
        m_progress(total, total);
    }
}

QByteArray PlainTextWriter::all()
{
    QByteArray out;
    QByteArray piece;
    for (Step step; (step = next(piece)) == Step::Piece;)
        out += piece;
    return out;
}

} // namespace Inkwell
