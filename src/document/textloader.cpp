#include "document/textloader.h"

#include "core/documenttext.h"

#include <QTextCursor>
#include <QTextDocument>

namespace Inkwell {

namespace {

// Characters a QTextDocument turns into paragraph or frame boundaries.
bool hasMarks(QStringView text)
{
    return text.contains(QChar::ParagraphSeparator) || text.contains(QChar(0xFDD0)) ||
           text.contains(QChar(0xFDD1));
}

} // namespace

TextLoader::TextLoader(QObject *parent) : QObject(parent) {}

void TextLoader::start(const QByteArray &bytes, QTextDocument &document,
                       const QTextCharFormat &format)
{
    cancel();
    m_loaded = Loaded{};
    // Undo history of a load is meaningless and costs memory; switching it
    // back on at the end leaves it empty.
    document.setUndoRedoEnabled(false);
    m_load = Load{TextFileDecoder(bytes), &document, format};
    if (bytes.size() > sliceBytes)
        m_loaded.baseline.begin();
    appendNextSlice();
}

void TextLoader::cancel()
{
    ++m_generation;
    if (!m_load)
        return;
    if (m_load->document)
        m_load->document->setUndoRedoEnabled(true);
    m_load.reset();
}

void TextLoader::finish()
{
    while (m_load)
        appendNextSlice();
}

void TextLoader::appendNextSlice()
{
    if (!m_load)
        return;
    Load &load = *m_load;
    if (!load.document) { // the document went away
        m_load.reset();
        return;
    }
    const bool whole = load.decoder.size() <= sliceBytes;
    const bool first = load.decoder.position() == 0;
    // A small first slice: the first screen needs only a few lines.
    QString slice = load.decoder.next(whole   ? load.decoder.size()
                                      : first ? sliceBytes / 8
                                              : sliceBytes);
    if (whole)
        m_loaded.baseline = slice;
    else
        m_loaded.baseline.append(slice);
    m_loaded.hadMarks = m_loaded.hadMarks || hasMarks(slice);
    QTextCursor cursor(load.document);
    cursor.movePosition(QTextCursor::End);
    // A long line goes in as pieces, so that appending to it (and later
    // a keystroke in it) lays out one piece, not the whole line.
    insertBreakingLongLines(cursor, slice, load.format);
    emit progress(load.decoder.position(), load.decoder.size(), first);
    if (!load.decoder.atEnd()) {
        const quint64 generation = m_generation;
        QMetaObject::invokeMethod(
            this,
            [this, generation] {
                if (generation == m_generation)
                    appendNextSlice();
            },
            Qt::QueuedConnection);
        return;
    }
    if (!whole)
        m_loaded.baseline.finish();
    m_loaded.clean = load.decoder.clean();
    m_loaded.encoding = load.decoder.encoding();
    cancel(); // done: undo on again, empty
    emit finished();
}

} // namespace Inkwell
