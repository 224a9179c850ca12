#include "document/draftfile.h"

#include "core/localpath.h"
#include "document/bytescramble.h"
#include "rtf/rtfreader.h"

#include <QCryptographicHash>
#include <QHash>

namespace Inkwell {

namespace {

const QByteArray magic = QByteArrayLiteral("INKWELL-DRAFT 1\n");

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

} // namespace

QByteArray encodeDraft(const DraftHeader &header, const QByteArray &rtf)
{
    QByteArray out = magic;
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
    addLine(out, "length", QByteArray::number(rtf.size()));
    addLine(out, "sha256", digestOf(rtf));
    out += '\n';
    out += rtf;
    if (header.encrypted)
        scrambleInPlace(out);
    return out;
}

Result<DecodedDraft> decodeDraft(QByteArray bytes)
{
    const auto damaged = [](const QString &why) {
        return Error{QStringLiteral("草稿已损坏"), why};
    };
    DecodedDraft out;
    if (!bytes.startsWith(magic)) {
        scrambleInPlace(bytes);
        if (!bytes.startsWith(magic)) {
            return damaged(QStringLiteral("不是 Inkwell 的草稿文件"));
        }
    }
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
    DraftHeader &h = out.header;
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
    return out;
}

} // namespace Inkwell
