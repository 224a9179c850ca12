// QTextDocument → RTF 1.x bytes that RichEdit, Word and LibreOffice read.
#pragma once

#include <QByteArray>
#include <QDeadlineTimer>

#include <memory>

class QTextDocument;

namespace Inkwell::Rtf {

// The whole document. Deterministic: the same document gives the same bytes.
// `codePage` is written as \ansicpg and used for the byte fallbacks of text
// in fonts that have no character set of their own.
QByteArray write(const QTextDocument &document, int codePage);

// Only the characters [from, to) of the document (document positions); a
// paragraph end inside the range is written as \par.
QByteArray write(const QTextDocument &document, int from, int to, int codePage);

// The whole document written a few paragraphs at a time, so that a big one
// does not hold up the thread it is written on: the same bytes as write().
// The document must not change between the steps; after a change, start
// again with a new writer.
class SlicedWriter {
public:
    SlicedWriter(const QTextDocument &document, int codePage);
    ~SlicedWriter();
    SlicedWriter(const SlicedWriter &) = delete;
    SlicedWriter &operator=(const SlicedWriter &) = delete;

    // Writes on until `deadline` (at least one paragraph or table); true
    // when the whole document is written.
    bool writeSome(const QDeadlineTimer &deadline);
    // The bytes, once writeSome() has returned true. Call once.
    QByteArray take();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace Inkwell::Rtf
