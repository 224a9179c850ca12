// Built where there is no ExtractIconW (see CMakeLists.txt). There the
// running executable carries no icon resource: its icon is the program icon
// compiled into the Qt resources. Other files are read as images.
#include "shell/trueicon.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QImageReader>
#include <QPixmap>

namespace Inkwell {

QIcon extractIcon(const QString &fileName, int index)
{
    // An .ico or .png file holds one icon; its sizes are the images in it.
    if (index != 0)
        return {};
    if (QFileInfo(fileName) == QFileInfo(QCoreApplication::applicationFilePath()))
        return programIcon();
    QImageReader reader(fileName);
    QIcon icon;
    do {
        const QImage image = reader.read();
        if (image.isNull())
            break;
        icon.addPixmap(QPixmap::fromImage(image));
    } while (reader.jumpToNextImage());
    return icon;
}

} // namespace Inkwell
