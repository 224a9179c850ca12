// The window the editor's phases drive, shown, with a size a user would give
// it, and a scratch folder for the files they open and save.
#pragma once

#include "app/form1.h"
#include "controls/richtextbox.h"
#include "support/testwindow.h"

#include <QTemporaryDir>
#include <QTest>

namespace Inkwell::Bench {

struct Window : Testing::TestWindow {
    Window()
    {
        form->resize(1000, 700);
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get()))
            qWarning("the window was not shown; paint costs are not measured");
    }
    ~Window()
    {
        form->Text1->document()->setModified(false);
        messages.answers.enqueue(MessageAnswer::No);
        form->close();
    }
};

inline QTemporaryDir &scratch()
{
    static QTemporaryDir dir;
    return dir;
}

} // namespace Inkwell::Bench
