// The text a document is compared with to tell whether it changed since it
// was read or saved. A big text is kept as its length and a digest instead
// of a second copy of tens of megabytes; a small one is kept whole. The
// character formats (fonts, colours, pictures) are kept beside it, as the
// one format every character shares or as a digest of the runs of formats.
#pragma once

#include "core/contenthash.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>

#include <optional>

class QFont;
class QTextCharFormat;
class QTextDocument;

namespace Inkwell {

namespace CharFormats {
// What a reader sees of a character format, as bytes: formats that look the
// same (bold switched on and off again, a face named as the default one)
// have the same key. Never empty.
QByteArray keyOf(const QTextCharFormat &format, const QFont &defaultFont);
// True when every character of the document has a format with this key.
// A document whose formats all have it is answered without a look at its
// characters, so a big plain-text file costs nothing.
bool allHave(const QTextDocument &document, const QByteArray &key);
} // namespace CharFormats

class TextBaseline {
public:
    static constexpr qsizetype keptWhole = 1 << 20; // characters

    TextBaseline() = default;
    TextBaseline(const QString &text) { *this = text; } // NOLINT: a text is a baseline
    // Replaces the text; the formats are those of an unformatted text until
    // takeFormats() is called.
    TextBaseline &operator=(const QString &text);

    // Builds the baseline of a text that arrives in pieces.
    void begin();
    void append(QStringView piece);
    void finish();

    // The text of the document as plainTextOf() gives it, read a piece at
    // a time: a big document is never copied whole.
    void takeText(const QTextDocument &document);

    bool matches(const QString &text) const;
    // Whether the document's text (as plainTextOf() gives it) is this one,
    // compared a piece at a time with no copy of the whole.
    bool matches(const QTextDocument &document) const;
    bool isEmpty() const { return m_length == 0; }
    qsizetype size() const { return m_length; }
    void clear() { *this = QString(); }
    // The text itself while it is small enough to be kept, else "".
    QString text() const { return m_whole ? m_text : QString(); }

    // Takes the character formats of the document the text is in.
    void takeFormats(const QTextDocument &document);
    // True when the document's characters have the formats taken last. Meant
    // for a document whose text matches(): runs are compared by position.
    bool formatsMatch(const QTextDocument &document) const;

private:
    static quint64 digestOf(QStringView text);

    qsizetype m_length = 0;
    bool m_whole = true;
    QString m_text;
    // A fast 64-bit hash of the text's UTF-16 units: a baseline is taken at
    // every save, and a cryptographic digest cost a quarter of a big save.
    quint64 m_digest = 0;
    std::optional<ContentHash> m_building;
    bool m_formatsTaken = false;
    QByteArray m_uniformFormat; // the key every character has, or "" when they differ
    QByteArray m_formatDigest;  // of the runs of formats when they differ
};

} // namespace Inkwell
