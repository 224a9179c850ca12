#include "core/systemerror.h"

#include "core/localpath.h"

#include <QLocale>

#include <cerrno>

namespace Inkwell {

namespace {

struct Reason {
    int number;
    const char *text;
};

// Numbers whose reason does not depend on reading or writing. Kept as a table
// so that numbers a platform lacks are simply absent.
const Reason reasons[] = {
    {ENOSPC, "磁盘空间不足，请腾出空间或另存到其他磁盘"},
    {ENAMETOOLONG, "文件名太长，请换一个较短的文件名或较浅的文件夹"},
    {EROFS, "只读文件系统，请另存到其他位置"},
#ifdef EDQUOT
    {EDQUOT, "磁盘配额已满，请删除一些文件或请管理员增加配额"},
#endif
    {ENOENT, "文件或文件夹不存在，请检查路径"},
    {EISDIR, "这是一个文件夹，不是文件"},
    {EIO, "磁盘读写出错，请检查磁盘或设备是否正常"},
    {EMFILE, "打开的文件太多，请关闭一些窗口或程序后再试"},
    {ENFILE, "系统打开的文件太多，请关闭一些程序后再试"},
    {ETXTBSY, "文件正被运行中的程序使用，请先关闭该程序"},
    {EFBIG, "文件太大，超出了这个磁盘或文件系统的限制"},
    {ELOOP, "符号链接太多或形成了循环，请检查路径中的链接"},
    {ENOTDIR, "路径中有一部分不是文件夹，请检查路径"},
    {EXDEV, "不能跨磁盘移动文件，请另存到同一磁盘"},
    {EBUSY, "文件或设备正忙，请稍后再试"},
    {ENOMEM, "内存不足，请关闭一些程序后再试"},
    {EEXIST, "文件已经存在"},
    {EINVAL, "文件名或操作无效，这个文件系统可能不接受文件名中的某些字符"},
    {ENXIO, "设备不存在或没有就绪"},
    {ENODEV, "设备不存在或不支持这个操作"},
    {EAGAIN, "资源暂时不可用，请稍后再试"},
    {EINTR, "操作被中断，请再试一次"},
    {EOVERFLOW, "文件太大，无法处理"},
#ifdef ESTALE
    {ESTALE, "网络文件已经失效，请重新打开所在的文件夹"},
#endif
};

} // namespace

QString reasonFor(int errnoValue, FileAccess access)
{
    if (errnoValue == EACCES || errnoValue == EPERM) {
        return access == FileAccess::Read
                   ? QStringLiteral("没有读取权限，请检查文件的权限")
                   : QStringLiteral("没有写入权限，请检查文件和所在文件夹的权限，或另存到其他位置");
    }
    for (const Reason &r : reasons) {
        if (r.number == errnoValue)
            return QString::fromUtf8(r.text);
    }
    if (errnoValue == 0)
        return QStringLiteral("系统没有说明原因");
    return QStringLiteral("系统错误（错误 %1）").arg(errnoValue);
}

QString shortenedPath(const QString &original, qsizetype limit)
{
    const QString path = displayPath(original);
    if (path.size() <= limit || limit < 8)
        return path;
    const QString ellipsis = QStringLiteral("…");
    const qsizetype room = limit - ellipsis.size();
    const qsizetype slash = path.lastIndexOf(u'/');
    const qsizetype nameLength = path.size() - slash - 1;
    // Keep the file name whole when it leaves some of the folder to show;
    // otherwise keep both ends evenly.
    qsizetype tail = nameLength + 1 <= room * 3 / 4 ? nameLength + 1 : room / 2;
    tail = std::max<qsizetype>(tail, room / 2);
    const qsizetype head = room - tail;
    return path.left(head) + ellipsis + path.right(tail);
}

QString sizeText(qint64 bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 字节").arg(bytes);
    return QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

} // namespace Inkwell
