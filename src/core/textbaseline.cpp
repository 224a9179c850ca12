#include "core/textbaseline.h"

#include "core/documenttext.h"

#include <QDataStream>
#include <QFont>
#include <QHash>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFormat>

#include <optional>

namespace Inkwell {

namespace {

constexpr auto algorithm = QCryptographicHash::Blake2b_256;

// Properties folded into the key through the resolved font and the colour.
bool folded(int property)
{
    switch (property) {
    case QTextFormat::FontFamily:
    case QTextFormat::FontFamilies:
    case QTextFormat::FontPointSize:
    case QTextFormat::FontPixelSize:
    case QTextFormat::FontWeight:
    case QTextFormat::FontItalic:
    case QTextFormat::FontUnderline:
    case QTextFormat::TextUnderlineStyle:
    case QTextFormat::FontStrikeOut:
    case QTextFormat::FontOverline:
    case QTextFormat::ForegroundBrush:
        return true;
    default:
        return false;
    }
}

// The keys of one document's formats, each worked out once.
class FormatKeys {
public:
    explicit FormatKeys(const QTextDocument &document)
        : m_formats(document.allFormats()), m_defaultFont(document.defaultFont())
    {
    }

    const QByteArray &of(int index)
    {
        auto it = m_cache.find(index);
        if (it == m_cache.end())
            it = m_cache.insert(
                index, CharFormats::keyOf(m_formats.value(index).toCharFormat(), m_defaultFont));
        return *it;
    }
    QByteArray ofPlain() const { return CharFormats::keyOf(QTextCharFormat(), m_defaultFont); }

    // The key all the document's character formats share, used or not, or
    // none. Every format a character can have is among them, so a shared
    // key is every character's without a look at the characters.
    std::optional<QByteArray> sharedByAll()
    {
        std::optional<QByteArray> shared;
        for (int i = 0; i < m_formats.size(); ++i) {
            if (!m_formats.at(i).isCharFormat())
                continue;
            const QByteArray &key = of(i);
            if (!shared)
                shared = key;
            else if (*shared != key)
                return std::nullopt;
        }
        return shared;
    }

private:
    QList<QTextFormat> m_formats;
    QFont m_defaultFont;
    QHash<int, QByteArray> m_cache;
};

// Calls `run(length, key)` for each stretch of characters with one key, in
// order, until it returns false. Paragraph breaks are not counted: the text
// comparison covers them.
template <typename Run> bool forEachRun(const QTextDocument &document, FormatKeys &keys, Run run)
{
    qsizetype length = 0;
    QByteArray current; // a copy: the cache may move its keys as it grows
    int lastIndex = -1;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid())
                continue;
            const int index = fragment.charFormatIndex();
            if (index != lastIndex) {
                const QByteArray key = keys.of(index);
                lastIndex = index;
                if (current != key) {
                    if (!current.isEmpty() && !run(length, current))
                        return false;
                    current = key;
                    length = 0;
                }
            }
            length += fragment.length();
        }
    }
    return current.isEmpty() || run(length, current);
}

void addRun(QCryptographicHash &hash, qsizetype length, const QByteArray &key)
{
    const qint64 sizes[2] = {qint64(length), qint64(key.size())};
    hash.addData(QByteArrayView(reinterpret_cast<const char *>(sizes), sizeof sizes));
    hash.addData(key);
}

} // namespace

QByteArray CharFormats::keyOf(const QTextCharFormat &format, const QFont &defaultFont)
{
    QByteArray key;
    QDataStream out(&key, QIODevice::WriteOnly);
    const QFont font = format.font().resolve(defaultFont);
    out << font.families().value(0, font.family()) << font.pointSizeF() << font.pixelSize()
        << int(font.weight()) << font.italic() << font.underline() << font.strikeOut()
        << font.overline();
    // No brush of its own is "automatic": the text takes the window's colour.
    const QBrush brush = format.foreground();
    const bool coloured =
        format.hasProperty(QTextFormat::ForegroundBrush) && brush.style() != Qt::NoBrush;
    out << coloured << (coloured ? brush.color().rgba() : 0u);
    // Everything else as it stands: picture names and sizes, alignment, links.
    const QMap<int, QVariant> properties = format.properties();
    for (auto it = properties.cbegin(); it != properties.cend(); ++it)
        if (!folded(it.key()))
            out << qint32(it.key()) << it.value();
    return key;
}

bool CharFormats::allHave(const QTextDocument &document, const QByteArray &key)
{
    FormatKeys keys(document);
    if (const std::optional<QByteArray> shared = keys.sharedByAll(); shared && *shared == key)
        return true;
    return forEachRun(document, keys,
                      [&key](qsizetype, const QByteArray &runKey) { return runKey == key; });
}

namespace {
QByteArrayView unitsOf(QStringView text)
{
    return QByteArrayView(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
}
} // namespace

quint64 TextBaseline::digestOf(QStringView text)
{
    return contentHash(unitsOf(text));
}

TextBaseline &TextBaseline::operator=(const QString &text)
{
    m_building.reset();
    m_length = text.size();
    m_whole = m_length <= keptWhole;
    m_text = m_whole ? text : QString();
    m_digest = m_whole ? 0 : digestOf(text);
    m_formatsTaken = false;
    m_uniformFormat.clear();
    m_formatDigest.clear();
    return *this;
}

void TextBaseline::begin()
{
    *this = QString();
    m_building.emplace();
}

void TextBaseline::append(QStringView piece)
{
    if (!m_building)
        begin();
    m_building->add(unitsOf(piece));
    m_length += piece.size();
    if (m_whole) {
        if (m_length <= keptWhole)
            m_text.append(piece);
        else
            m_whole = false, m_text.clear();
    }
}

void TextBaseline::finish()
{
    if (m_building)
        m_digest = m_whole ? 0 : m_building->value();
    m_building.reset();
    if (!m_whole)
        m_text.clear();
}

bool TextBaseline::matches(const QString &text) const
{
    if (text.size() != m_length)
        return false;
    return m_whole ? text == m_text : digestOf(text) == m_digest;
}

namespace {
// How much text a walk over a document holds at a time.
constexpr qsizetype walkPiece = 1 << 16;
} // namespace

void TextBaseline::takeText(const QTextDocument &document)
{
    begin();
    PlainTextPieces pieces(document);
    QString piece;
    while (!pieces.atEnd()) {
        piece.clear();
        pieces.appendUpTo(piece, walkPiece);
        append(piece);
    }
    finish();
}

bool TextBaseline::matches(const QTextDocument &document) const
{
    // Without soft breaks the text has one character per position but the
    // last: most edits change its length, and need no look at the text.
    if (!mayHaveSoftBreaks(document) && document.characterCount() - 1 != m_length)
        return false;
    PlainTextPieces pieces(document);
    QString piece;
    qsizetype seen = 0;
    ContentHash hash;
    while (!pieces.atEnd()) {
        piece.clear();
        pieces.appendUpTo(piece, walkPiece);
        if (seen + piece.size() > m_length)
            return false; // longer: no need to read on
        if (m_whole) {
            if (QStringView(m_text).mid(seen, piece.size()) != piece)
                return false;
        } else {
            hash.add(unitsOf(piece));
        }
        seen += piece.size();
    }
    return seen == m_length && (m_whole || hash.value() == m_digest);
}

void TextBaseline::takeFormats(const QTextDocument &document)
{
    m_formatsTaken = true;
    m_formatDigest.clear();
    FormatKeys keys(document);
    // A plain-text file has one format however big it is: no scan.
    if (const std::optional<QByteArray> shared = keys.sharedByAll()) {
        m_uniformFormat = *shared;
        return;
    }
    QCryptographicHash hash(algorithm);
    QByteArray first;
    bool uniform = true;
    forEachRun(document, keys, [&](qsizetype length, const QByteArray &key) {
        if (first.isEmpty())
            first = key;
        uniform = uniform && key == first;
        addRun(hash, length, key);
        return true;
    });
    m_uniformFormat = uniform ? (first.isEmpty() ? keys.ofPlain() : first) : QByteArray();
    if (!uniform)
        m_formatDigest = hash.result();
}

bool TextBaseline::formatsMatch(const QTextDocument &document) const
{
    if (document.characterCount() <= 1)
        return true; // no character to carry a format
    if (!m_formatsTaken)
        return CharFormats::allHave(document,
                                    CharFormats::keyOf(QTextCharFormat(), document.defaultFont()));
    if (!m_uniformFormat.isEmpty())
        return CharFormats::allHave(document, m_uniformFormat);
    FormatKeys keys(document);
    QCryptographicHash hash(algorithm);
    forEachRun(document, keys, [&hash](qsizetype length, const QByteArray &key) {
        addRun(hash, length, key);
        return true;
    });
    return hash.result() == m_formatDigest;
}

} // namespace Inkwell
