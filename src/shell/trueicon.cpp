#include "shell/trueicon.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QWidget>

namespace Inkwell {

namespace {

ExecutablePathStyle nativeStyle()
{
    return QDir::separator() == u'\\' ? ExecutablePathStyle::windows()
                                      : ExecutablePathStyle::posix();
}

} // namespace

QString resolveIconFile(const QString &fileName, bool fileExists, const QString &programDirectory,
                        const QString &executableName, const ExecutablePathStyle &style)
{
    if (!fileName.isEmpty() && fileExists)
        return fileName;
    QString path = programDirectory;
    if (!path.endsWith(style.separator))
        path += style.separator;
    return path + executableName + style.suffix;
}

qint64 SetWindowIcon(QWidget *window, QString &fileName, qint16 iconIndex)
{
    // Normal and hidden files count; a directory is no icon file.
    const bool exists = !fileName.isEmpty() && QFileInfo(fileName).isFile();
    const ExecutablePathStyle style = nativeStyle();
    const QFileInfo executable(QCoreApplication::applicationFilePath());
    // Windows names the program by its base name and ".exe"; elsewhere the
    // file name is the whole name.
    const QString name =
        style.suffix.isEmpty() ? executable.fileName() : executable.completeBaseName();
    fileName = resolveIconFile(fileName, exists,
                               QDir::toNativeSeparators(QCoreApplication::applicationDirPath()),
                               name, style);

    const QIcon icon = extractIcon(fileName, iconIndex);
    const bool hadOwn = window->testAttribute(Qt::WA_SetWindowIcon);
    const QIcon previous = window->windowIcon();
    // Qt keeps one window icon; the title bar draws its small size.
    window->setWindowIcon(icon);
    return hadOwn && !previous.isNull() ? previous.cacheKey() : 0;
}

QString programIconFile(int size)
{
    return QStringLiteral(":/icons/inkwell-%1.png").arg(size);
}

QIcon programIcon()
{
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(programIconFile(size), QSize(size, size));
    return icon;
}

} // namespace Inkwell
