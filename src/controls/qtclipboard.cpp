#include "controls/qtclipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace Inkwell {

bool QtClipboard::setText(const QString &text)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    auto *data = new QMimeData;
    data->setText(text);
    clipboard->setMimeData(data);
    // QClipboard reports no failure (another program holding the clipboard
    // open on Windows, no clipboard owner on X11): read it back to know.
    const QMimeData *now = clipboard->mimeData();
    return now && now->hasText() && now->text() == text && !now->hasImage();
}

QString QtClipboard::text() const
{
    const QClipboard *clipboard = QGuiApplication::clipboard();
    const QMimeData *data = clipboard ? clipboard->mimeData() : nullptr;
    return data && data->hasText() ? data->text() : QString();
}

} // namespace Inkwell
