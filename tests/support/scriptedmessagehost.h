// A MessageHost that records every box shown and answers from a queue.
#pragma once

#include "core/messagehost.h"

#include <QList>
#include <QQueue>
#include <QStringList>

#include <functional>

namespace Inkwell::Testing {

struct ShownMessage {
    enum Kind { Inform, YesNoCancel, YesNo, Input, About } kind;
    QString text;
    QString title;
    MessageIcon icon = MessageIcon::Information;
    // The button Enter presses, for the questions.
    MessageAnswer defaultButton = MessageAnswer::Ok;
};

class ScriptedMessageHost : public MessageHost {
public:
    // Answers for askYesNoCancel/askYesNo, in order. An unanswered question
    // fails the test (QFAIL cannot be used here, so it is recorded).
    QQueue<MessageAnswer> answers;
    // Entries for inputBox, in order; an empty queue answers "" (Cancel).
    QQueue<QString> inputs;
    QList<ShownMessage> shown;
    bool unexpectedQuestion = false;
    // Runs while a yes/no question waits for its answer, as the time a user
    // takes to read it: the window's event loop goes on meanwhile.
    std::function<void()> whileAsked;

    void inform(const QString &text, const QString &title, MessageIcon icon) override
    {
        shown.append({ShownMessage::Inform, text, title, icon});
    }
    MessageAnswer askYesNoCancel(const QString &text, const QString &title) override
    {
        shown.append(
            {ShownMessage::YesNoCancel, text, title, MessageIcon::Exclamation, MessageAnswer::Yes});
        return next(MessageAnswer::Cancel);
    }
    MessageAnswer askYesNo(const QString &text, const QString &title, MessageIcon icon,
                           MessageAnswer defaultButton = MessageAnswer::No) override
    {
        shown.append({ShownMessage::YesNo, text, title, icon, defaultButton});
        if (whileAsked)
            whileAsked();
        return next(MessageAnswer::No);
    }
    QString inputBox(const QString &prompt, const QString &title,
                     const QString &defaultText) override
    {
        shown.append({ShownMessage::Input, prompt, title, MessageIcon::Information});
        lastInputDefault = defaultText;
        return inputs.isEmpty() ? QString() : inputs.dequeue();
    }
    void about(const QString &title, const QString &firstLine, const QIcon &) override
    {
        shown.append({ShownMessage::About, firstLine, title, MessageIcon::Information});
    }

    QStringList texts() const
    {
        QStringList out;
        for (const auto &m : shown)
            out << m.text;
        return out;
    }

    QString lastInputDefault;

private:
    MessageAnswer next(MessageAnswer fallback)
    {
        if (answers.isEmpty()) {
            unexpectedQuestion = true;
            return fallback;
        }
        return answers.dequeue();
    }
};

} // namespace Inkwell::Testing
