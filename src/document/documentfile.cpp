#include "document/documentfile.h"

#include "core/contenthash.h"
#include "core/documenttext.h"
#include "core/regularfile.h"
#include "core/systemerror.h"
#include "document/bytescramble.h"
#include "platform/codepage.h"
#include "rtf/rtfreader.h"
#include "rtf/rtfwriter.h"

#include <QTextCursor>
#include <QTextDocument>

namespace Inkwell {

FileFormat saveFormatFor(const QString &fileTitle)
{
    const QString ending = fileTitle.right(3).toLower();
    if (ending == u"txt")
        return FileFormat::PlainText;
    if (ending == u"stx")
        return FileFormat::Scrambled;
    return FileFormat::Rtf;
}

Result<DocumentBytes> readDocumentFile(const QString &path, ReadMode mode, qint64 limit)
{
    // Taken before the read: a change made while it reads shows as a change.
    const std::optional<FileStamp> before = stampOf(path);
    // A scrambled note named but not there yet is made private at once: the
    // save that follows keeps the mode of the file it finds.
    Result<FileContent> content =
        readRegularFile(path, limit, true,
                        mode == ReadMode::Scrambled ? NewFileAccess::Private : NewFileAccess::Shared);
    if (!content.ok())
        return Error{QStringLiteral("无法打开文件“%1”").arg(shortenedPath(path)),
                     content.error().why};
    DocumentBytes out;
    out.stamp = before ? before : stampOf(path);
    if (out.stamp)
        out.stamp->checksum = fileChecksum(content.value().bytes);
    out.bytes = std::move(content.value().bytes);
    out.hash = contentHash(out.bytes);
    if (mode == ReadMode::Scrambled)
        scrambleInPlace(out.bytes); // in memory: no unscrambled copy on disk
    out.rich = mode == ReadMode::Text && Rtf::looksLikeRtf(out.bytes);
    return out;
}

Result<ParsedRtf> parseRtf(const QByteArray &bytes, QTextDocument &document)
{
    setParagraphDirection(document, Qt::LeftToRight);
    QTextCursor cursor(&document);
    cursor.select(QTextCursor::Document);
    const Rtf::ReadResult read = Rtf::read(bytes, cursor, CodePage::systemAnsi());
    if (!read.ok)
        return Error{QStringLiteral("无法读取 RTF 文档"), read.error};
    return ParsedRtf{read.pictures, read.keptDropped};
}

Serialized serialize(const QTextDocument &document, const TextEncoding &encoding, FileFormat format)
{
    Serialized out;
    if (format == FileFormat::Rtf) {
        out.bytes = Rtf::write(document, rtfCodePageFor(encoding));
        return out;
    }
    out.bytes = encodeTextFile(exportPlainText(document), encoding, &out.lossless);
    if (format == FileFormat::Scrambled) {
        scrambleInPlace(out.bytes);
        out.access = NewFileAccess::Private;
    }
    return out;
}

std::optional<Error> writeDocument(const QString &path, const Serialized &file)
{
    return writeFileAtomically(path, file.bytes, file.access);
}

int rtfCodePageFor(const TextEncoding &encoding)
{
    return encoding.kind == TextEncoding::Kind::Ansi && encoding.codePage ? encoding.codePage
                                                                          : CodePage::systemAnsi();
}

Error saveError(const QString &path, const Error &cause)
{
    return Error{QStringLiteral("无法保存文件“%1”").arg(shortenedPath(path)), cause.why};
}

} // namespace Inkwell
