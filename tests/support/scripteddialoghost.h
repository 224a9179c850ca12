// A DialogHost that answers each dialog from a queue of scripted choices and
// records what each dialog was shown with.
#pragma once

#include "controls/commondialog.h"

#include <QPrinter>
#include <QQueue>
#include <functional>
#include <optional>

namespace Inkwell::Testing {

class ScriptedDialogHost : public DialogHost {
public:
    // One entry per dialog shown. Return false to cancel; otherwise set the
    // dialog's values (FileName, Color, font values, Orientation) as a user would.
    using Answer = std::function<bool(CommonDialog &, QPrinter *)>;
    QQueue<Answer> script;

    struct Shown {
        enum Kind { Open, Save, Color, Font, Print, PageSetup } kind;
        QString fileName; // the preset the dialog opened with (print: the file offered)
        int flags;
        CommonDialog *dialog;
    };
    QList<Shown> shown;
    bool unexpectedDialog = false;

    static Answer choose(const QString &path)
    {
        return [path](CommonDialog &d, QPrinter *) {
            d.FileName = path;
            return true;
        };
    }
    static Answer cancel()
    {
        return [](CommonDialog &, QPrinter *) { return false; };
    }

    bool showOpen(CommonDialog &d) override { return run(Shown::Open, d, nullptr); }
    bool showSave(CommonDialog &d) override { return run(Shown::Save, d, nullptr); }
    bool showColor(CommonDialog &d) override { return run(Shown::Color, d, nullptr); }
    bool showFont(CommonDialog &d) override { return run(Shown::Font, d, nullptr); }
    bool showPrint(CommonDialog &d, QPrinter &p, const QString &fileOffer) override
    {
        return run(Shown::Print, d, &p, fileOffer);
    }
    bool showPageSetup(CommonDialog &d, QPrinter &p) override
    {
        return run(Shown::PageSetup, d, &p);
    }

private:
    bool run(Shown::Kind kind, CommonDialog &d, QPrinter *printer,
             const std::optional<QString> &offer = std::nullopt)
    {
        shown.append({kind, offer.value_or(d.FileName), d.Flags, &d});
        if (script.isEmpty()) {
            unexpectedDialog = true;
            return false;
        }
        return script.dequeue()(d, printer);
    }
};

} // namespace Inkwell::Testing
