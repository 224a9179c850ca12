// Every message box, input box and About box reaches the user through this
// interface, so that tests can answer them from a script.
#pragma once

#include <QIcon>
#include <QString>

namespace Inkwell {

enum class MessageIcon { Information, Exclamation };
enum class MessageAnswer { Ok, Yes, No, Cancel };

class MessageHost {
public:
    virtual ~MessageHost() = default;

    // One OK button (styles 64 and 48).
    virtual void inform(const QString &text, const QString &title, MessageIcon icon) = 0;
    // Yes, No and Cancel with the exclamation icon, Yes the default (style 51).
    // Closing the box or Esc answers Cancel.
    virtual MessageAnswer askYesNoCancel(const QString &text, const QString &title) = 0;
    // Yes and No; closing the box answers No. Enter presses `defaultButton`.
    virtual MessageAnswer askYesNo(const QString &text, const QString &title, MessageIcon icon,
                                   MessageAnswer defaultButton = MessageAnswer::No) = 0;
    // A modal input box; OK returns the entry, Cancel, Esc or closing return "".
    virtual QString inputBox(const QString &prompt, const QString &title,
                             const QString &defaultText) = 0;
    // The program's About box: a modal box with the title, the first line,
    // the system's version lines beneath it, and the icon.
    virtual void about(const QString &title, const QString &firstLine, const QIcon &icon) = 0;
};

} // namespace Inkwell
