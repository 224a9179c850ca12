#include "document/documentshadow.h"

#include "core/documenttext.h"

#include <QElapsedTimer>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextImageFormat>

namespace Inkwell {

namespace {

// A format with a private of its own: the document's formats cache their hash
// lazily, and the worker must not write that cache while the GUI thread reads it.
QTextCharFormat unsharedCopy(const QTextCharFormat &format)
{
    QTextCharFormat copy;
    const QMap<int, QVariant> properties = format.properties();
    for (auto it = properties.cbegin(); it != properties.cend(); ++it)
        copy.setProperty(it.key(), it.value());
    return copy;
}

} // namespace

DocumentShadow::DocumentShadow(QTextDocument *document, int pieceSize, QObject *parent)
    : QObject(parent), m_document(document), m_pieceSize(std::max(pieceSize, 1))
{
    // A document without a layout never reports its changes.
    document->documentLayout();
    markAllStale();
    connect(document, &QTextDocument::contentsChange, this, &DocumentShadow::contentsChanged);
}

int DocumentShadow::shadowedLength() const
{
    return std::max(m_document->characterCount() - 1, 0);
}

void DocumentShadow::appendStale(std::vector<Piece> &out, int length) const
{
    while (length > 0) {
        const int size = std::min(length, m_pieceSize);
        out.push_back({size, nullptr});
        length -= size;
    }
}

void DocumentShadow::markAllStale()
{
    m_pieces.clear();
    m_total = shadowedLength();
    appendStale(m_pieces, m_total);
}

void DocumentShadow::contentsChanged(int position, int removed, int added)
{
    // Qt reports a replacement of the whole document with the final paragraph
    // mark counted in; such a change, or anything that does not add up, starts over.
    if (position < 0 || removed < 0 || added < 0 || position + removed > m_total) {
        markAllStale();
        return;
    }
    size_t first = 0;
    int start = 0;
    while (first < m_pieces.size() && start + m_pieces[first].length < position)
        start += m_pieces[first++].length;
    size_t last = first;
    int end = start;
    while (last < m_pieces.size() && (last == first || end < position + removed))
        end += m_pieces[last++].length;

    std::vector<Piece> replacement;
    appendStale(replacement, end - start - removed + added);
    m_pieces.erase(m_pieces.begin() + qsizetype(first), m_pieces.begin() + qsizetype(last));
    m_pieces.insert(m_pieces.begin() + qsizetype(first), replacement.begin(), replacement.end());
    m_total += added - removed;
    if (m_total != shadowedLength())
        markAllStale();
}

std::shared_ptr<const DocumentPiece> DocumentShadow::copyRange(int from, int to) const
{
    auto piece = std::make_shared<DocumentPiece>();
    QTextCursor cursor(m_document);
    cursor.setPosition(from);
    cursor.setPosition(to, QTextCursor::KeepAnchor);
    piece->text = cursor.selectedText();

    int lastFormat = -1;
    bool lastIsPicture = false;
    auto addRun = [&](int offset, int length, int formatIndex, const auto &formatOf) {
        if (!piece->runs.empty() && formatIndex == lastFormat) {
            DocumentPiece::Run &run = piece->runs.back();
            if (run.offset + run.length == offset) {
                run.length += length;
                return;
            }
        }
        const QTextCharFormat format = unsharedCopy(formatOf());
        lastFormat = formatIndex;
        lastIsPicture = format.isImageFormat();
        if (lastIsPicture)
            piece->pictures << format.toImageFormat().name();
        piece->runs.push_back({offset, length, format});
    };

    const bool pieces = mayHaveSoftBreaks(*m_document);
    for (QTextBlock block = m_document->findBlock(from); block.isValid() && block.position() < to;
         block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const int begin = std::max(fragment.position(), from);
            const int end = std::min(fragment.position() + fragment.length(), to);
            if (begin >= end)
                continue;
            addRun(begin - from, end - begin, fragment.charFormatIndex(),
                   [&] { return fragment.charFormat(); });
        }
        // The paragraph mark carries no formatting a draft keeps, so it joins
        // the run before it and a plain document stays one run per piece.
        const int mark = block.position() + block.length() - 1;
        if (mark >= from && mark < to) {
            const int formatIndex =
                !piece->runs.empty() && !lastIsPicture ? lastFormat : block.charFormatIndex();
            addRun(mark - from, 1, formatIndex, [&] { return block.charFormat(); });
            if (pieces && continuesLine(block.next()))
                piece->softBreaks.push_back(mark - from);
        }
    }
    return piece;
}

int DocumentShadow::stalePieces() const
{
    return int(
        std::count_if(m_pieces.begin(), m_pieces.end(), [](const Piece &p) { return !p.copy; }));
}

bool DocumentShadow::refresh(std::chrono::milliseconds budget)
{
    QElapsedTimer clock;
    clock.start();
    int start = 0;
    for (Piece &piece : m_pieces) {
        if (!piece.copy) {
            if (clock.elapsed() >= budget.count())
                return false;
            piece.copy = copyRange(start, start + piece.length);
        }
        start += piece.length;
    }
    return true;
}

DocumentSnapshot DocumentShadow::snapshot()
{
    refresh(std::chrono::milliseconds::max());
    DocumentSnapshot out;
    out.pieces.reserve(m_pieces.size());
    for (const Piece &piece : m_pieces) {
        out.pieces.push_back(piece.copy);
        for (const QString &name : piece.copy->pictures) {
            if (out.pictures.contains(name))
                continue;
            if (auto picture = DocumentImages::find(m_document, name))
                out.pictures.insert(name, *picture);
        }
    }
    // Rebuilt from its description, so the worker's font shares nothing with
    // the one the editor draws with.
    const QFont font = m_document->defaultFont();
    out.defaultFont.fromString(font.toString());
    out.defaultFont.setFamilies(font.families());
    out.kept = Rtf::Kept::documentGroups(*m_document);
    return out;
}

std::unique_ptr<QTextDocument> buildDocument(const DocumentSnapshot &snapshot)
{
    auto document = std::make_unique<QTextDocument>();
    document->setUndoRedoEnabled(false);
    document->setDefaultFont(snapshot.defaultFont);
    QHash<QString, QString> renamed;
    for (auto it = snapshot.pictures.cbegin(); it != snapshot.pictures.cend(); ++it) {
        // Added as found: a kept picture (a metafile, one past the budget)
        // stays one.
        const QTextImageFormat added = DocumentImages::add(document.get(), it.value());
        renamed.insert(it.key(), added.name());
    }
    QTextCursor cursor(document.get());
    for (const auto &piece : snapshot.pieces) {
        for (const DocumentPiece::Run &run : piece->runs) {
            QTextCharFormat format = run.format;
            if (format.isImageFormat()) {
                QTextImageFormat image = format.toImageFormat();
                image.setName(renamed.value(image.name(), image.name()));
                format = image;
            }
            // A line held in pieces stays in pieces, so that the draft
            // writes it as one line.
            int at = run.offset;
            const int end = run.offset + run.length;
            for (const int mark : piece->softBreaks) {
                if (mark < at || mark >= end)
                    continue;
                cursor.insertText(piece->text.mid(at, mark - at), format);
                insertSoftBreak(cursor, format);
                at = mark + 1;
            }
            cursor.insertText(piece->text.mid(at, end - at), format);
        }
    }
    Rtf::Kept::setDocumentGroups(*document, snapshot.kept);
    return document;
}

} // namespace Inkwell
