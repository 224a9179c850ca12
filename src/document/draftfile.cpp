#include "document/draftfile.h"

#include "core/contenthash.h"
#include "core/localpath.h"
#include "document/bytescramble.h"
#include "rtf/rtfreader.h"

#include <QCryptographicHash>
#include <QHash>

namespace Inkwell {

namespace {

const QByteArray magicRtf = QByteArrayLiteral("INKWELL-DRAFT 1\n");
const QByteArray magic = QByteArrayLiteral("INKWELL-DRAFT 2\n");

struct Name {
    TextEncoding::Kind kind;
    const char *name;
};
constexpr Name kindNames[] = {{TextEncoding::Kind::Ansi, "ansi"},
                              {TextEncoding::Kind::Utf8, "utf8"},
                              {TextEncoding::Kind::Utf16LE, "utf16le"},
                              {TextEncoding::Kind::Utf16BE, "utf16be"}};
struct EndingName {
    TextEncoding::LineEnding ending;
    const char *name;
};
constexpr EndingName endingNames[] = {{TextEncoding::LineEnding::CRLF, "crlf"},
                                      {TextEncoding::LineEnding::LF, "lf"},
                                      {TextEncoding::LineEnding::CR, "cr"}};

QByteArray digestOf(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

void addLine(QByteArray &out, const char *key, const QByteArray &value)
{
    out += key;
    out += '=';
    out += value;
    out += '\n';
}

QByteArray encoded(const QString &value)
{
    return value.toUtf8().toPercentEncoding();
}

QString decoded(const QByteArray &value)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(value));
}

void addHeaderLines(QByteArray &out, const DraftHeader &header)
{
    addLine(out, "title", encoded(header.title));
    // By its bytes: a name that is not UTF-8 comes back as the same name.
    addLine(out, "path", localBytesOfPath(header.path).toPercentEncoding());
    addLine(
        out, "saved",
        encoded(header.saved.toOffsetFromUtc(header.saved.offsetFromUtc()).toString(Qt::ISODate)));
    for (const Name &n : kindNames)
        if (n.kind == header.encoding.kind)
            addLine(out, "encoding", n.name);
    addLine(out, "codepage", QByteArray::number(header.encoding.codePage));
    addLine(out, "bom", header.encoding.bom ? "1" : "0");
    for (const EndingName &n : endingNames)
        if (n.ending == header.encoding.lineEnding)
            addLine(out, "eol", n.name);
    addLine(out, "encrypted", header.encrypted ? "1" : "0");
}

DraftHeader headerFrom(const QHash<QByteArray, QByteArray> &values)
{
    DraftHeader h;
    h.title = decoded(values.value("title"));
    h.path = pathFromLocalBytes(QByteArray::fromPercentEncoding(values.value("path")));
    h.saved = QDateTime::fromString(decoded(values.value("saved")), Qt::ISODate);
    for (const Name &n : kindNames)
        if (values.value("encoding") == n.name)
            h.encoding.kind = n.kind;
    h.encoding.codePage = values.value("codepage").toInt();
    h.encoding.bom = values.value("bom") == "1";
    for (const EndingName &n : endingNames)
        if (values.value("eol") == n.name)
            h.encoding.lineEnding = n.ending;
    h.encrypted = values.value("encrypted") == "1";
    return h;
}

constexpr qsizetype frameHead = 5; // type and length
constexpr qsizetype frameTail = 8; // checksum

quint64 frameChecksum(QByteArrayView head, QByteArrayView payload)
{
    ContentHash hash;
    hash.add(head);
    hash.add(payload);
    return hash.value();
}

Error damaged(const QString &why)
{
    return Error{QStringLiteral("草稿已损坏"), why};
}

} // namespace

QByteArray encodeDraftHeader(const DraftHeader &header)
{
    QByteArray out = magic;
    addHeaderLines(out, header);
    out += '\n';
    return out;
}

QByteArray frameDraftRecord(DraftRecordType type, const QByteArray &payload)
{
    QByteArray out;
    out.reserve(frameHead + payload.size() + frameTail);
    out += char(type);
    const quint32 length = quint32(payload.size());
    for (int i = 0; i < 4; ++i)
        out += char((length >> (8 * i)) & 0xff);
    out += payload;
    const quint64 sum = frameChecksum(QByteArrayView(out).first(frameHead), payload);
    for (int i = 0; i < 8; ++i)
        out += char((sum >> (8 * i)) & 0xff);
    return out;
}

QByteArray encodeRtfDraft(const DraftHeader &header, const QByteArray &rtf)
{
    QByteArray out = magicRtf;
    addHeaderLines(out, header);
    addLine(out, "length", QByteArray::number(rtf.size()));
    addLine(out, "sha256", digestOf(rtf));
    out += '\n';
    out += rtf;
    if (header.encrypted)
        scrambleInPlace(out);
    return out;
}

namespace {

Result<DecodedDraft> decodeRtfDraft(QByteArray bytes, qsizetype headerEnd,
                                    const QHash<QByteArray, QByteArray> &values)
{
    DecodedDraft out;
    out.version = 1;
    bool lengthOk = false;
    const qsizetype length = values.value("length").toLongLong(&lengthOk);
    out.rtf = bytes.mid(headerEnd + 2);
    bytes.clear();
    if (!lengthOk || out.rtf.size() != length) {
        return damaged(QStringLiteral("草稿文件不完整（只有 %1 字节的文档，应有 %2 字节）")
                           .arg(out.rtf.size())
                           .arg(values.value("length").constData()));
    }
    if (digestOf(out.rtf) != values.value("sha256")) {
        return damaged(QStringLiteral("草稿文件的内容已损坏（校验不符）"));
    }
    if (!Rtf::looksLikeRtf(out.rtf)) {
        return damaged(QStringLiteral("草稿中的文档不是 RTF 格式"));
    }
    out.header = headerFrom(values);
    return out;
}

} // namespace

Result<DecodedDraft> decodeDraft(QByteArray bytes)
{
    const auto known = [&bytes] { return bytes.startsWith(magic) || bytes.startsWith(magicRtf); };
    if (!known()) {
        scrambleInPlace(bytes);
        if (!known()) {
            return damaged(QStringLiteral("不是 Inkwell 的草稿文件"));
        }
    }
    const bool rtf = bytes.startsWith(magicRtf);
    const qsizetype headerEnd = bytes.indexOf("\n\n");
    if (headerEnd < 0) {
        return damaged(QStringLiteral("草稿文件不完整"));
    }
    QHash<QByteArray, QByteArray> values;
    const QList<QByteArray> lines = bytes.left(headerEnd).mid(magic.size()).split('\n');
    for (const QByteArray &line : lines) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            values.insert(line.left(eq), line.mid(eq + 1));
    }
    if (rtf)
        return decodeRtfDraft(std::move(bytes), headerEnd, values);

    DecodedDraft out;
    out.header = headerFrom(values);
    qsizetype at = headerEnd + 2;
    out.wholeBytes = at;
    const QByteArrayView all(bytes);
    while (all.size() - at >= frameHead + frameTail) {
        quint32 length = 0;
        for (int i = 0; i < 4; ++i)
            length |= quint32(quint8(all[at + 1 + i])) << (8 * i);
        if (qint64(length) > all.size() - at - frameHead - frameTail)
            break; // cut short
        const QByteArrayView payload = all.sliced(at + frameHead, length);
        quint64 sum = 0;
        for (int i = 0; i < 8; ++i)
            sum |= quint64(quint8(all[at + frameHead + length + i])) << (8 * i);
        if (sum != frameChecksum(all.sliced(at, frameHead), payload)) {
            if (out.records.empty())
                return damaged(QStringLiteral("草稿文件的内容已损坏（校验不符）"));
            break; // the last write was cut short: what came before it stands
        }
        out.records.push_back({DraftRecordType(quint8(all[at])), payload.toByteArray()});
        at += frameHead + length + frameTail;
        out.wholeBytes = at;
    }
    if (out.records.empty())
        return damaged(QStringLiteral("草稿文件不完整"));
    if (out.records.front().type != DraftRecordType::Base)
        return damaged(QStringLiteral("草稿文件的内容已损坏（没有文档的起点）"));
    return out;
}

} // namespace Inkwell
