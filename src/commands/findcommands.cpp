#include "commands/findcommands.h"

#include "core/messagehost.h"
#include "controls/richtextbox.h"

namespace Inkwell::Commands {

void find(RichTextBox &Text1, MessageHost &messages, QString &SearchText)
{
    SearchText = messages.inputBox(QStringLiteral("请输入要查找的段落："),
                                   QStringLiteral("查找内容"), SearchText);
    if (SearchText.isEmpty())
        return;
    Text1.Find(SearchText);
}

void findon(RichTextBox &Text1, const QString &SearchText)
{
    // From the end of the selection itself, so that a match right after the
    // previous one (or at the caret) is found too.
    Text1.setSelStart(Text1.SelStart() + Text1.SelLength());
    Text1.Find(SearchText, std::nullopt, int(Text1.Text().size()));
}

} // namespace Inkwell::Commands
