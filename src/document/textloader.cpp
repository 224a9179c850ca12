#include "document/textloader.h"

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

// The length of the last line of `text`, given that the line it continues
// already held `carried` characters.
qsizetype lastLineLength(QStringView text, qsizetype carried)
{
    const qsizetype brk = text.lastIndexOf(u'\n');
    return brk < 0 ? carried + text.size() : text.size() - brk - 1;
}

// A line longer than this goes into the document in one piece (see below).
constexpr qsizetype longLineChars = 10000;

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
    m_load = Load{TextFileDecoder(bytes), &document, format, 0};
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
    load.tailChars = lastLineLength(slice, load.tailChars);
    // Appending to a paragraph lays all of it out again, so a long line fed
    // slice by slice would cost time quadratic in its length. Past the first
    // slice (which shows the first screen at once), the rest of a long line
    // goes in with one append: one more layout of the whole line.
    if (!first && load.tailChars > longLineChars) {
        while (!load.decoder.atEnd() && !slice.contains(u'\n')) {
            const QString more = load.decoder.next(sliceBytes);
            load.tailChars = lastLineLength(more, load.tailChars);
            slice += more;
        }
    }
    if (whole)
        m_loaded.baseline = slice;
    else
        m_loaded.baseline.append(slice);
    m_loaded.hadMarks = m_loaded.hadMarks || hasMarks(slice);
    QTextCursor cursor(load.document);
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(slice, load.format);
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
