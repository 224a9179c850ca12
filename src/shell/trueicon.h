// The module trueicon: the window's small icon, taken out of a file; with no
// usable file, out of the program's own executable.
#pragma once

#include <QIcon>
#include <QString>

class QWidget;

namespace Inkwell {

// How the executable's path is spelled on a system.
struct ExecutablePathStyle {
    QChar separator;
    QString suffix; // ".exe" on Windows, nothing elsewhere

    static ExecutablePathStyle windows() { return {u'\\', QStringLiteral(".exe")}; }
    static ExecutablePathStyle posix() { return {u'/', QString()}; }
};

// The file SetWindowIcon takes the icon from: fileName itself when it names
// an existing file, otherwise programDirectory + separator (none when the
// directory already ends in one, as a drive root does) + executableName + suffix.
QString resolveIconFile(const QString &fileName, bool fileExists, const QString &programDirectory,
                        const QString &executableName, const ExecutablePathStyle &style);

// Sets the icon at iconIndex of fileName as window's small icon; an empty or
// missing fileName is replaced by the running executable's path, which the
// caller gets back. Returns the icon the window had before (its cache key),
// 0 when it had none of its own.
qint64 SetWindowIcon(QWidget *window, QString &fileName, qint16 iconIndex);

// The icon at index of an executable, library or icon file; a null icon
// when there is none (ExtractIconW on Windows).
QIcon extractIcon(const QString &fileName, int index);

// The program's own icon, in every size it ships in.
QIcon programIcon();
// The resource path of one size of it (":/icons/inkwell-<size>.png").
QString programIconFile(int size);

} // namespace Inkwell
