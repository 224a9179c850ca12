#include "commands/findcommands.h"

#include "core/messagehost.h"
#include "controls/richtextbox.h"

namespace Inkwell::Commands {

void find(RichTextBox &editor, MessageHost &messages, QString &searchText)
{
    searchText = messages.inputBox(QStringLiteral("请输入要查找的段落："),
                                   QStringLiteral("查找内容"), searchText);
    if (searchText.isEmpty())
        return;
    editor.Find(searchText);
}

void findon(RichTextBox &editor, const QString &searchText)
{
    // From the end of the selection itself, so that a match right after the
    // previous one (or at the caret) is found too.
    editor.setSelStart(editor.SelStart() + editor.SelLength());
    editor.Find(searchText, std::nullopt, int(editor.Text().size()));
}

} // namespace Inkwell::Commands
