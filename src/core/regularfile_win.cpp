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

Result<FileContent> readRegularFile(const QString &path, qint64 limit, bool createMissing,
                                    NewFileAccess)
{
    FileContent out;
    const QFileInfo info(path);
    QFile file(path);
    if (!info.exists()) {
        if (!createMissing || !file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return Error{path, file.errorString()};
        out.created = true;
        return out;
    }
    if (info.isDir())
        return Error{path, reasonFor(EISDIR, FileAccess::Read)};
    if (!info.isFile())
        return Error{path, QStringLiteral("不是普通文件")};
    if (info.size() > limit)
        return Error{path, tooBig(info.size(), limit)};
    if (!file.open(QIODevice::ReadOnly))
        return Error{path, file.errorString()};
    out.bytes = file.read(limit + 1);
    if (out.bytes.size() > limit)
        return Error{path, tooBig(file.size(), limit)};
    if (file.error() != QFileDevice::NoError)
        return Error{path, file.errorString()};
    return out;
}

} // namespace Inkwell
