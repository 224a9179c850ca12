#include "commands/insertcommands.h"

#include "controls/commondialog.h"
#include "controls/richtextbox.h"
#include "core/clock.h"
#include "core/documentimages.h"
#include "core/regularfile.h"

#include <QFile>
#include <QFileInfo>

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
    const auto unloadable = [&](const QString &why) {
        return Error{QStringLiteral("无法载入图片“%1”").arg(path), why};
    };
    const Result<FileContent> content = readRegularFile(path, DocumentImages::maxEncodedBytes, false);
    if (!content.ok()) {
        // Too big to read: named by its pixels when its header says they
        // pass the limits too, else by its bytes.
        const QFileInfo info(path);
        if (info.isFile() && info.size() > DocumentImages::maxEncodedBytes) {
            QFile file(path);
            const QByteArray head =
                file.open(QIODevice::ReadOnly) ? file.read(1 << 20) : QByteArray();
            return unloadable(
                DocumentImages::limitReason(info.size(), DocumentImages::readHeader(head).size));
        }
        return unloadable(content.error().why);
    }
    // A picture the editor cannot show is refused with the reason rather
    // than inserted as a frame the user never sees the picture in.
    const DocumentImages::Decoded decoded = DocumentImages::decode(content.value().bytes);
    if (!decoded.picture)
        return unloadable(decoded.why);
    editor.insertPicture(decoded.picture->image, decoded.picture->encoded, decoded.picture->format);
    editor.SetFocus();
    return std::nullopt;
}

} // namespace Inkwell::Commands
