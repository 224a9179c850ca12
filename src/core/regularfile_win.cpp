#include "core/regularfile.h"

#include "core/systemerror.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <windows.h>

namespace Inkwell {

namespace {

constexpr qint64 oneGiB = qint64(1) << 30;

QString tooBig(qint64 size, qint64 limit)
{
    return QStringLiteral("文件太大（%1），Inkwell 最多能打开 %2 的文件")
        .arg(sizeText(size), sizeText(limit));
}

} // namespace

qint64 defaultReadLimit()
{
    MEMORYSTATUSEX memory{};
    memory.dwLength = sizeof memory;
    if (!GlobalMemoryStatusEx(&memory))
        return oneGiB;
    return std::min(oneGiB, qint64(memory.ullTotalPhys / 2));
}

FileContent readRegularFile(const QString &path, qint64 limit, bool createMissing, NewFileAccess)
{
    FileContent out;
    const QFileInfo info(path);
    QFile file(path);
    if (!info.exists()) {
        if (!createMissing || !file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            out.error = Error{path, file.errorString()};
        else
            out.created = true;
        return out;
    }
    if (info.isDir()) {
        out.error = Error{path, reasonFor(EISDIR, FileAccess::Read)};
        return out;
    }
    if (!info.isFile()) {
        out.error = Error{path, QStringLiteral("不是普通文件")};
        return out;
    }
    if (info.size() > limit) {
        out.error = Error{path, tooBig(info.size(), limit)};
        return out;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        out.error = Error{path, file.errorString()};
        return out;
    }
    out.bytes = file.read(limit + 1);
    if (out.bytes.size() > limit) {
        out.bytes.clear();
        out.error = Error{path, tooBig(file.size(), limit)};
    } else if (file.error() != QFileDevice::NoError) {
        out.bytes.clear();
        out.error = Error{path, file.errorString()};
    }
    return out;
}

} // namespace Inkwell
