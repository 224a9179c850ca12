// The text a document is compared with to tell whether it changed since it
// was read or saved. A big text is kept as its length and a digest instead
// of a second copy of tens of megabytes; a small one is kept whole.
#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>

#include <memory>

namespace Inkwell {

class TextBaseline {
public:
    static constexpr qsizetype keptWhole = 1 << 20; // characters

    TextBaseline() = default;
    TextBaseline(const QString &text) { *this = text; } // NOLINT: a text is a baseline
    TextBaseline &operator=(const QString &text);

    // Builds the baseline of a text that arrives in pieces.
    void begin();
    void append(QStringView piece);
    void finish();

    bool matches(const QString &text) const;
    bool isEmpty() const { return m_length == 0; }
    qsizetype size() const { return m_length; }
    void clear() { *this = QString(); }
    // The text itself while it is small enough to be kept, else "".
    QString text() const { return m_whole ? m_text : QString(); }

private:
    static QByteArray digestOf(QStringView text);

    qsizetype m_length = 0;
    bool m_whole = true;
    QString m_text;
    QByteArray m_digest;
    std::unique_ptr<QCryptographicHash> m_building;
};

} // namespace Inkwell
