#include "commands/insertcommands.h"

#include "core/clock.h"
#include "controls/commondialog.h"
#include "controls/richtextbox.h"
#include "core/documentimages.h"

#include <QFile>

namespace Inkwell::Commands {

QString dateText(const QDateTime &when, const QLocale &locale)
{
    // QDate::toString with a format is locale-free: always Arabic digits.
    return timeOfDayText(when.time(), locale) + u' ' +
           when.date().toString(QStringLiteral("yyyy-MM-d"));
}

void date(RichTextBox &editor, const Clock &clock)
{
    editor.setSelText(dateText(clock.now(), clock.locale()));
}

std::optional<Error> addpicture(RichTextBox &editor, CommonDialog &pictureDialog)
{
    if (pictureDialog.ShowOpen() == cdlCancel)
        return std::nullopt;
    const QString path = pictureDialog.FileName;
    const Error unloadable{QStringLiteral("无法载入图片“%1”。").arg(path), QString()};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return unloadable;
    // Read one byte past the limit so that an oversized file is refused, not cut.
    const QByteArray bytes = file.read(DocumentImages::maxEncodedBytes + 1);
    const std::optional<DocumentImages::Picture> picture = DocumentImages::fromBytes(bytes);
    if (!picture)
        return unloadable;
    editor.insertPicture(picture->image, picture->encoded, picture->format);
    editor.SetFocus();
    return std::nullopt;
}

} // namespace Inkwell::Commands
