// How a plain-text file was stored, so that saving it again writes the same
// kind of bytes, and the decoding of a file's bytes into text.
#pragma once

#include <QByteArray>
#include <QString>

namespace Inkwell {

struct TextEncoding {
    enum class Kind { Ansi, Utf8, Utf16LE, Utf16BE };
    enum class LineEnding { CRLF, LF, CR };

    Kind kind = Kind::Ansi;
    bool bom = false;
    LineEnding lineEnding = platformLineEnding();
    int codePage = 0; // for Ansi; 0 means the system's ANSI code page

    static LineEnding platformLineEnding();
    // A new document: the ANSI code page and the platform's line ending.
    static TextEncoding forNewDocument() { return {}; }
    bool operator==(const TextEncoding &) const = default;
};

// Decodes a text file's bytes piece by piece, so that a big file can reach
// the editor in slices. The encoding is chosen from the whole file at the
// start: a byte-order mark; UTF-16 without one when the text proves it (its
// ASCII characters each with a NUL byte on the same side across the first
// few kilobytes, and no decoding error); UTF-8 that holds more than ASCII;
// else the ANSI code page. The line ending is the file's first one.
class TextFileDecoder {
public:
    explicit TextFileDecoder(const QByteArray &bytes);

    bool atEnd() const { return m_pos >= m_bytes.size(); }
    qsizetype position() const { return m_pos; }
    qsizetype size() const { return m_bytes.size(); }
    // The next piece of about `maxBytes` bytes, cut where no character is
    // split, with line breaks normalised to "\n".
    QString next(qsizetype maxBytes);
    // The line ending is known once the first line break has been decoded.
    TextEncoding encoding() const { return m_encoding; }
    bool clean() const { return m_clean; }

private:
    qsizetype cutPoint(qsizetype maxBytes) const;

    QByteArray m_bytes;
    qsizetype m_pos = 0;
    TextEncoding m_encoding;
    bool m_clean = true;
    bool m_eolKnown = false;
    bool m_pendingCR = false;
    bool m_firstBreakPending = false;
};

// The text ("\n" line breaks) in the given encoding and line ending. Pictures
// (U+FFFC object characters) have no plain-text form and are left out.
// `lossless` turns false when a character could not be represented.
QByteArray encodeTextFile(const QString &text, const TextEncoding &encoding,
                          bool *lossless = nullptr);

// encodeTextFile() for a text that comes in pieces: the bytes of all the
// pieces are those encodeTextFile() makes of the whole. A surrogate pair
// cut between two pieces is held until its second half comes; a code page
// that keeps a shift state between characters holds everything until
// finish().
class TextFileEncoder {
public:
    explicit TextFileEncoder(const TextEncoding &encoding);
    // Appends the bytes of the next piece of the text ("\n" line breaks) to
    // `out`; the byte-order mark comes with the first.
    void add(QStringView text, QByteArray &out);
    // Appends what was held back. The encoder is done.
    void finish(QByteArray &out);
    // False once a character had no form in the encoding (written as "?").
    bool lossless() const { return m_lossless; }

private:
    void start(QByteArray &out); // the byte-order mark, before the first bytes
    void encodeStaged(QByteArray &out, bool last);
    void encodeUnits(QStringView text, QByteArray &out);

    TextEncoding m_encoding;
    int m_codePage = 0;
    bool m_holdAll = false;
    bool m_started = false;
    bool m_lossless = true;
    QString m_staged; // the file's units: breaks in its style, pictures left out
};

} // namespace Inkwell
