#include "core/textencoding.h"

#include "core/documenttext.h"

#include "platform/codepage.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <future>
#include <optional>

namespace Inkwell {

namespace {

struct Utf8Scan {
    bool valid;
    bool multibyte;
};

// Checks bytes [from, n) of p, which must start at a character.
Utf8Scan scanUtf8(const unsigned char *p, qsizetype from, qsizetype n)
{
    bool multibyte = false;
    qsizetype i = from;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int len;
        char32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            cp = c & 0x07;
        } else {
            return {false, multibyte};
        }
        if (i + len > n)
            return {false, multibyte};
        for (int k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return {false, multibyte};
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return {false, multibyte};
        multibyte = true;
        i += len;
    }
    return {true, multibyte};
}

bool isValidUtf8WithMultibyte(const QByteArray &bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype n = bytes.size();
    if (n < (8 << 20)) {
        const Utf8Scan whole = scanUtf8(p, 0, n);
        return whole.valid && whole.multibyte;
    }
    // A big file is checked in two halves at once, one on each core: the
    // check stands between the user and the first screen.
    qsizetype middle = n / 2;
    while (middle < n && (p[middle] & 0xC0) == 0x80)
        ++middle;
    auto second = std::async(std::launch::async, scanUtf8, p, middle, n);
    const Utf8Scan first = scanUtf8(p, 0, middle);
    const Utf8Scan rest = second.get();
    return first.valid && rest.valid && (first.multibyte || rest.multibyte);
}

QString decodeUtf16(const QByteArray &bytes, qsizetype from, bool bigEndian, bool *clean)
{
    const qsizetype units = (bytes.size() - from) / 2;
    QString text(units, Qt::Uninitialized);
    const auto *p = reinterpret_cast<const uchar *>(bytes.constData() + from);
    auto *out = reinterpret_cast<char16_t *>(text.data());
    for (qsizetype i = 0; i < units; ++i)
        out[i] =
            bigEndian ? qFromBigEndian<quint16>(p + 2 * i) : qFromLittleEndian<quint16>(p + 2 * i);
    if ((bytes.size() - from) % 2 != 0) {
        *clean = false;
        text.append(QChar::ReplacementCharacter);
    }
    return text;
}

// How much of a file's beginning must read as UTF-16 text before a file
// without a byte-order mark is taken for UTF-16.
constexpr qsizetype utf16Sample = 4096;

// A character of the Basic Latin or Latin-1 rows that text holds: no
// control but tab, line feed, form feed and carriage return.
bool isTextByte(uchar c)
{
    return c == '\t' || c == '\n' || c == '\f' || c == '\r' || (c >= 0x20 && c < 0x7F) || c >= 0xA0;
}

// Whether the bytes read as UTF-16 of that byte order prove to be text: the
// sample's ASCII characters each with their NUL byte on the same side,
// nothing but characters text holds, and the whole file decoding without an
// error. GBK, UTF-8 and ASCII text have no NUL bytes, so never pass.
bool provesUtf16(const QByteArray &bytes, bool bigEndian)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.constData());
    const qsizetype units = bytes.size() / 2;
    const qsizetype sampleUnits = std::min(units, utf16Sample / 2);
    const auto unitAt = [&](qsizetype i) {
        return bigEndian ? qFromBigEndian<quint16>(p + 2 * i)
                         : qFromLittleEndian<quint16>(p + 2 * i);
    };
    qsizetype ascii = 0;
    for (qsizetype i = 0; i < sampleUnits; ++i) {
        const char16_t u = unitAt(i);
        if (u < 0x100) {
            if (!isTextByte(uchar(u)))
                return false;
            ascii += u < 0x80;
            continue;
        }
        if (QChar::isSurrogate(u))
            continue; // pairs are checked below, over the whole file
        const QChar c(u);
        if (c.category() == QChar::Other_NotAssigned || c.isNonCharacter())
            return false;
    }
    // A few ASCII characters with their NULs: a stray NUL byte or two in a
    // binary file does not make text.
    if (ascii < std::min<qsizetype>(4, sampleUnits))
        return false;
    for (qsizetype i = 0; i < units; ++i) {
        const char16_t u = unitAt(i);
        if (u == 0)
            return false;
        if (QChar::isHighSurrogate(u)) {
            if (i + 1 >= units || !QChar::isLowSurrogate(unitAt(i + 1)))
                return false;
            ++i;
        } else if (QChar::isLowSurrogate(u)) {
            return false;
        }
    }
    return true;
}

// UTF-16 without a byte-order mark, when the bytes prove it (see provesUtf16).
std::optional<TextEncoding::Kind> unmarkedUtf16(const QByteArray &bytes)
{
    if (bytes.size() < 2 || bytes.size() % 2 != 0)
        return std::nullopt;
    // Text in any 8-bit encoding has no NUL: the common case ends here.
    if (!memchr(bytes.constData(), 0, size_t(std::min(bytes.size(), utf16Sample))))
        return std::nullopt;
    if (provesUtf16(bytes, false))
        return TextEncoding::Kind::Utf16LE;
    if (provesUtf16(bytes, true))
        return TextEncoding::Kind::Utf16BE;
    return std::nullopt;
}

} // namespace

TextEncoding::LineEnding TextEncoding::platformLineEnding()
{
#ifdef Q_OS_WIN
    return LineEnding::CRLF;
#else
    return LineEnding::LF;
#endif
}

TextFileDecoder::TextFileDecoder(const QByteArray &bytes) : m_bytes(bytes)
{
    const auto starts = [&](const char *prefix, int n) {
        return m_bytes.size() >= n && memcmp(m_bytes.constData(), prefix, size_t(n)) == 0;
    };
    if (starts("\xEF\xBB\xBF", 3)) {
        m_encoding.kind = TextEncoding::Kind::Utf8;
        m_encoding.bom = true;
        m_pos = 3;
    } else if (starts("\xFF\xFE", 2) || starts("\xFE\xFF", 2)) {
        m_encoding.kind =
            m_bytes.at(0) == '\xFE' ? TextEncoding::Kind::Utf16BE : TextEncoding::Kind::Utf16LE;
        m_encoding.bom = true;
        m_pos = 2;
    } else if (const auto utf16 = unmarkedUtf16(m_bytes)) {
        m_encoding.kind = *utf16;
    } else if (isValidUtf8WithMultibyte(m_bytes)) {
        m_encoding.kind = TextEncoding::Kind::Utf8;
    } else {
        m_encoding.kind = TextEncoding::Kind::Ansi;
        m_encoding.codePage = CodePage::systemAnsi();
    }
}

qsizetype TextFileDecoder::cutPoint(qsizetype maxBytes) const
{
    const qsizetype n = m_bytes.size();
    if (maxBytes >= n - m_pos)
        return n;
    qsizetype end = m_pos + std::max<qsizetype>(maxBytes, 4);
    const char *p = m_bytes.constData();
    if (m_encoding.kind == TextEncoding::Kind::Utf16LE ||
        m_encoding.kind == TextEncoding::Kind::Utf16BE) {
        end -= (end - m_pos) % 2;
        // Never between the two halves of a surrogate pair.
        const bool be = m_encoding.kind == TextEncoding::Kind::Utf16BE;
        const auto unitAt = [&](qsizetype i) {
            const auto *u = reinterpret_cast<const uchar *>(p + i);
            return be ? qFromBigEndian<quint16>(u) : qFromLittleEndian<quint16>(u);
        };
        if (end - 2 >= m_pos && unitAt(end - 2) >= 0xD800 && unitAt(end - 2) < 0xDC00)
            end -= 2;
        return end > m_pos ? end : n;
    }
    // In UTF-8 and in the double-byte code pages a byte below 0x30 is always
    // a character of its own (trail bytes and GB18030's digit bytes are higher),
    // so the text can be cut right after one.
    for (qsizetype i = end - 1; i >= m_pos; --i)
        if (static_cast<uchar>(p[i]) < 0x30)
            return i + 1;
    return n; // no safe place: take the rest at once
}

QString TextFileDecoder::next(qsizetype maxBytes)
{
    const qsizetype end = cutPoint(maxBytes);
    const std::string_view bytes(m_bytes.constData() + m_pos, size_t(end - m_pos));
    QString text;
    bool clean = true;
    switch (m_encoding.kind) {
    case TextEncoding::Kind::Utf16LE:
    case TextEncoding::Kind::Utf16BE:
        text = decodeUtf16(m_bytes.mid(m_pos, end - m_pos), 0,
                           m_encoding.kind == TextEncoding::Kind::Utf16BE, &clean);
        break;
    case TextEncoding::Kind::Utf8:
    case TextEncoding::Kind::Ansi: {
        const auto d = CodePage::decode(
            bytes, m_encoding.kind == TextEncoding::Kind::Utf8 ? 65001 : m_encoding.codePage);
        text = QString::fromStdU16String(d.text);
        clean = d.clean;
        break;
    }
    }
    m_pos = end;
    m_clean = m_clean && clean;

    // A CRLF cut between two pieces: its LF was already given as a break.
    if (m_pendingCR && text.startsWith(u'\n')) {
        text.remove(0, 1);
        if (m_firstBreakPending)
            m_encoding.lineEnding = TextEncoding::LineEnding::CRLF;
    }
    m_firstBreakPending = false;
    if (!m_eolKnown) {
        const qsizetype cr = text.indexOf(u'\r');
        const qsizetype lf = text.indexOf(u'\n');
        if (cr >= 0 || lf >= 0) {
            m_eolKnown = true;
            if (lf >= 0 && (cr < 0 || lf < cr)) {
                m_encoding.lineEnding = TextEncoding::LineEnding::LF;
            } else if (cr + 1 < text.size()) {
                m_encoding.lineEnding = text.at(cr + 1) == u'\n' ? TextEncoding::LineEnding::CRLF
                                                                 : TextEncoding::LineEnding::CR;
            } else {
                // The first break is the last character: the next piece says.
                m_encoding.lineEnding = TextEncoding::LineEnding::CR;
                m_firstBreakPending = true;
            }
        }
    }
    m_pendingCR = text.endsWith(u'\r');
    normaliseBreaks(text);
    return text;
}

QByteArray encodeTextFile(const QString &source, const TextEncoding &encoding, bool *lossless)
{
    // One pass: pictures dropped, line breaks written in the file's style.
    const bool crlf = encoding.lineEnding == TextEncoding::LineEnding::CRLF;
    const char16_t newline = encoding.lineEnding == TextEncoding::LineEnding::CR ? u'\r' : u'\n';
    const qsizetype breaks = crlf ? source.count(u'\n') : 0;
    QString text(source.size() + breaks, Qt::Uninitialized);
    {
        const char16_t *r = reinterpret_cast<const char16_t *>(source.utf16());
        char16_t *w = reinterpret_cast<char16_t *>(text.data());
        char16_t *const begin = w;
        for (qsizetype i = 0, n = source.size(); i < n; ++i) {
            const char16_t c = r[i];
            if (c == u'\n') {
                if (crlf)
                    *w++ = u'\r';
                *w++ = newline;
            } else if (c != 0xFFFC) {
                *w++ = c;
            }
        }
        text.truncate(w - begin);
    }
    bool ok = true;
    QByteArray out;
    switch (encoding.kind) {
    case TextEncoding::Kind::Utf8: {
        if (encoding.bom)
            out = QByteArray("\xEF\xBB\xBF");
        const auto e =
            CodePage::encode(std::u16string_view(reinterpret_cast<const char16_t *>(text.utf16()),
                                                 size_t(text.size())),
                             65001);
        ok = e.lossless;
        out.append(e.bytes.data(), qsizetype(e.bytes.size()));
        break;
    }
    case TextEncoding::Kind::Utf16LE:
    case TextEncoding::Kind::Utf16BE: {
        const bool be = encoding.kind == TextEncoding::Kind::Utf16BE;
        out.resize((text.size() + (encoding.bom ? 1 : 0)) * 2);
        auto *p = reinterpret_cast<uchar *>(out.data());
        auto put = [&](char16_t u) {
            if (be)
                qToBigEndian<quint16>(u, p);
            else
                qToLittleEndian<quint16>(u, p);
            p += 2;
        };
        if (encoding.bom)
            put(0xFEFF);
        for (QChar c : std::as_const(text))
            put(c.unicode());
        break;
    }
    case TextEncoding::Kind::Ansi: {
        const int cp = encoding.codePage ? encoding.codePage : CodePage::systemAnsi();
        const auto e =
            CodePage::encode(std::u16string_view(reinterpret_cast<const char16_t *>(text.utf16()),
                                                 size_t(text.size())),
                             cp);
        ok = e.lossless;
        out = QByteArray(e.bytes.data(), qsizetype(e.bytes.size()));
        break;
    }
    }
    if (lossless)
        *lossless = ok;
    return out;
}

namespace {

// Code pages whose encoder carries a shift state from one character to the
// next (ISO-2022, HZ, UTF-7): encoded in pieces they would reset it at
// each piece's end, so their text is encoded whole.
bool keepsShiftState(int codePage)
{
    switch (codePage) {
    case 50220:
    case 50221:
    case 50222:
    case 50225:
    case 50227:
    case 50229:
    case 52936:
    case 65000:
        return true;
    default:
        return false;
    }
}

} // namespace

TextFileEncoder::TextFileEncoder(const TextEncoding &encoding) : m_encoding(encoding)
{
    if (encoding.kind == TextEncoding::Kind::Ansi) {
        m_codePage = encoding.codePage ? encoding.codePage : CodePage::systemAnsi();
        m_holdAll = keepsShiftState(m_codePage);
    } else if (encoding.kind == TextEncoding::Kind::Utf8) {
        m_codePage = 65001;
    }
}

void TextFileEncoder::add(QStringView text, QByteArray &out)
{
    const bool crlf = m_encoding.lineEnding == TextEncoding::LineEnding::CRLF;
    const char16_t newline = m_encoding.lineEnding == TextEncoding::LineEnding::CR ? u'\r' : u'\n';
    // Line feeds kept and no picture: the text is encoded as it is, with no
    // copy (the common case on Linux).
    if (!crlf && newline == u'\n' && m_staged.isEmpty() && !m_holdAll &&
        !text.contains(QChar(QChar::ObjectReplacementCharacter))) {
        qsizetype n = text.size();
        if (n > 0 && text.at(n - 1).isHighSurrogate())
            m_staged.append(text.at(--n)); // may pair with the next piece
        start(out);
        encodeUnits(text.left(n), out);
        return;
    }
    // As encodeTextFile: pictures dropped, line breaks in the file's style.
    const qsizetype held = m_staged.size();
    m_staged.resize(held + 2 * text.size());
    char16_t *const begin = reinterpret_cast<char16_t *>(m_staged.data());
    char16_t *w = begin + held;
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        if (c == u'\n') {
            if (crlf)
                *w++ = u'\r';
            *w++ = newline;
        } else if (c != 0xFFFC) {
            *w++ = c;
        }
    }
    m_staged.truncate(w - begin);
    if (!m_holdAll)
        encodeStaged(out, false);
}

void TextFileEncoder::finish(QByteArray &out)
{
    encodeStaged(out, true);
}

void TextFileEncoder::start(QByteArray &out)
{
    if (m_started)
        return;
    m_started = true;
    if (m_encoding.bom && m_encoding.kind == TextEncoding::Kind::Utf8)
        out.append("\xEF\xBB\xBF");
    else if (m_encoding.bom && m_encoding.kind == TextEncoding::Kind::Utf16LE)
        out.append("\xFF\xFE");
    else if (m_encoding.bom && m_encoding.kind == TextEncoding::Kind::Utf16BE)
        out.append("\xFE\xFF");
}

void TextFileEncoder::encodeStaged(QByteArray &out, bool last)
{
    start(out);
    qsizetype n = m_staged.size();
    // A high surrogate at the end may be the first half of a pair whose
    // second half is in the next piece.
    if (!last && n > 0 && m_staged.at(n - 1).isHighSurrogate())
        --n;
    if (n == 0)
        return;
    encodeUnits(QStringView(m_staged).left(n), out);
    m_staged.remove(0, n);
}

void TextFileEncoder::encodeUnits(QStringView text, QByteArray &out)
{
    if (text.isEmpty())
        return;
    const std::u16string_view units(reinterpret_cast<const char16_t *>(text.utf16()),
                                    size_t(text.size()));
    if (m_encoding.kind == TextEncoding::Kind::Utf16LE ||
        m_encoding.kind == TextEncoding::Kind::Utf16BE) {
        const bool be = m_encoding.kind == TextEncoding::Kind::Utf16BE;
        const qsizetype at = out.size();
        out.resize(at + 2 * text.size());
        auto *p = reinterpret_cast<uchar *>(out.data() + at);
        for (const char16_t u : units) {
            if (be)
                qToBigEndian<quint16>(u, p);
            else
                qToLittleEndian<quint16>(u, p);
            p += 2;
        }
        return;
    }
    const auto e = CodePage::encode(units, m_codePage);
    m_lossless = m_lossless && e.lossless;
    out.append(e.bytes.data(), qsizetype(e.bytes.size()));
}

} // namespace Inkwell
