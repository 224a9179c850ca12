#include "controls/editortransfer.h"

#include "controls/richtextbox.h"
#include "core/documenttext.h"
#include "core/localpath.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QTextDocumentFragment>
#include <QTextDocumentWriter>
#include <QUrl>

namespace Inkwell {

QMimeData *selectionMimeData(const RichTextBox &box)
{
    if (box.view() == RichTextBox::View::Rich) {
        const QTextCursor cursor = box.textCursor();
        if (selectionHasSingleBorders(cursor)) {
            // Other programs read a bordered table's single lines from
            // collapsed borders; Qt's own HTML and ODF are made from a copy
            // that has them.
            const QTextDocumentFragment selection = cursor.selection();
            QTextDocument copy;
            QTextCursor(&copy).insertFragment(selection);
            collapseSingleBorders(copy);
            auto *data = new QMimeData;
            data->setHtml(copy.toHtml());
            QBuffer odf;
            odf.open(QIODevice::WriteOnly);
            QTextDocumentWriter writer(&odf, "ODF");
            if (writer.write(&copy))
                data->setData(QStringLiteral("application/vnd.oasis.opendocument.text"),
                              odf.data());
            data->setText(selection.toPlainText());
            return data;
        }
    }
    // The break of a line held in pieces goes nowhere outside.
    if (!mayHaveSoftBreaks(*box.document()))
        return nullptr;
    auto *data = new QMimeData;
    data->setText(box.SelText());
    return data;
}

QString droppedFile(const QMimeData *data)
{
    if (!data || !data->hasUrls())
        return {};
    for (const QUrl &url : data->urls())
        if (url.isLocalFile())
            return pathFromFileUrl(url);
    return {};
}

bool isWindowCommandKey(const QKeyEvent &key)
{
    // Cut, copy, paste and select all are menu commands with these same
    // keys: leave the keys to the window so that the commands run. A
    // picture alone on the clipboard is the exception, since only the
    // control's own paste can take it. Without a window shortcut the key
    // still comes here as an ordinary key press.
    const auto pictureOnly = [] {
        const QClipboard *clipboard = QGuiApplication::clipboard();
        const QMimeData *data = clipboard ? clipboard->mimeData() : nullptr;
        return data && data->hasImage() && !data->hasText();
    };
    return key.matches(QKeySequence::Cut) || key.matches(QKeySequence::Copy) ||
           key.matches(QKeySequence::SelectAll) ||
           (key.matches(QKeySequence::Paste) && !pictureOnly());
}

} // namespace Inkwell
