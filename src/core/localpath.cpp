#include "core/localpath.h"

#include "platform/codepage.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QUrl>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

namespace Inkwell {

namespace {

constexpr char16_t escapeBase = 0xDC00;
constexpr int gbk = 936;

bool isContinuation(uchar byte)
{
    return (byte & 0xC0) == 0x80;
}

// The length of the valid UTF-8 sequence at `at`, and its code point;
// 0 when the byte there does not start one.
int sequenceAt(QByteArrayView bytes, qsizetype at, char32_t *codePoint)
{
    const auto byte = [&](qsizetype i) { return uchar(bytes[i]); };
    const uchar lead = byte(at);
    int length = 0;
    char32_t value = 0;
    char32_t least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
        least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        value = lead & 0x0F;
        least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
        least = 0x10000;
    } else {
        return 0;
    }
    if (at + length > bytes.size())
        return 0;
    for (int i = 1; i < length; ++i) {
        if (!isContinuation(byte(at + i)))
            return 0;
        value = (value << 6) | (byte(at + i) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if (value < least || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF)
        return 0;
    *codePoint = value;
    return length;
}

bool isEscape(QStringView path, qsizetype i)
{
    const char16_t unit = path[i].unicode();
    return unit >= escapeBase + 0x80 && unit <= escapeBase + 0xFF &&
           (i == 0 || !path[i - 1].isHighSurrogate());
}

} // namespace

QString pathFromLocalBytes(QByteArrayView bytes)
{
    QString out;
    out.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size();) {
        const uchar byte = uchar(bytes[i]);
        if (byte < 0x80) {
            out += QChar(byte);
            ++i;
            continue;
        }
        char32_t codePoint = 0;
        const int length = sequenceAt(bytes, i, &codePoint);
        if (length == 0) {
            out += QChar(char16_t(escapeBase + byte));
            ++i;
            continue;
        }
        out += QChar::fromUcs4(codePoint);
        i += length;
    }
    return out;
}

QByteArray localBytesOfPath(QStringView path)
{
    QByteArray out;
    out.reserve(path.size());
    qsizetype run = 0; // start of the text not yet written
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (!isEscape(path, i))
            continue;
        out += path.sliced(run, i - run).toUtf8();
        out += char(path[i].unicode() - escapeBase);
        run = i + 1;
    }
    out += path.sliced(run).toUtf8();
    return out;
}

bool hasForeignBytes(QStringView path)
{
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (isEscape(path, i))
            return true;
    }
    return false;
}

QString displayPath(const QString &path)
{
    if (!hasForeignBytes(path))
        return path;
    // Name by name: a UTF-8 folder above a GBK name keeps its reading.
    QStringList names = path.split(u'/');
    for (QString &name : names) {
        if (!hasForeignBytes(name))
            continue;
        const QByteArray bytes = localBytesOfPath(name);
        name = QString::fromStdU16String(
            CodePage::decode(std::string_view(bytes.constData(), size_t(bytes.size())), gbk).text);
    }
    return names.join(u'/');
}

bool pathExists(const QString &path)
{
#ifdef Q_OS_WIN
    return QFileInfo::exists(path);
#else
    struct stat st {};
    return !path.isEmpty() && ::stat(localBytesOfPath(path).constData(), &st) == 0;
#endif
}

QStringList argumentsFromLocalBytes(int argc, const char *const *argv)
{
#ifdef Q_OS_WIN
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    return QCoreApplication::arguments().mid(1);
#else
    QStringList out;
    for (int i = 1; i < argc; ++i)
        out << pathFromLocalBytes(QByteArrayView(argv[i]));
    return out;
#endif
}

QString pathFromFileUrl(const QUrl &url)
{
    if (!url.isLocalFile())
        return {};
#ifndef Q_OS_WIN
    // A host would make a network path, which toLocalFile() spells.
    if (url.host().isEmpty()) {
        const QByteArray encoded = url.path(QUrl::FullyEncoded).toLatin1();
        return pathFromLocalBytes(QByteArray::fromPercentEncoding(encoded));
    }
#endif
    return url.toLocalFile();
}

} // namespace Inkwell
