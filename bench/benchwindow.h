// The window the editor's phases drive, shown, with a size a user would give
// it, and a scratch folder for the files they open and save.
#pragma once

#include "app/form1.h"
#include "controls/richtextbox.h"
#include "support/testwindow.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>

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

inline QString writeScratchFile(const QString &name, const QByteArray &bytes)
{
    const QString path = scratch().filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return path;
}

struct OpenTimes {
    double firstScreen = 0;
    double complete = 0;
    double longestStall = 0; // the longest time the event loop did not turn
};

// Opens through the menu, as a user does, and waits until the whole file is
// in and painted.
inline OpenTimes openByMenu(Window &w, const QString &path)
{
    OpenTimes t;
    QElapsedTimer clock;
    QElapsedTimer gap;
    qint64 longest = 0;
    QTimer ticker;
    ticker.setInterval(0);
    QObject::connect(&ticker, &QTimer::timeout, [&] { longest = std::max(longest, gap.restart()); });
    w.dialogs.script.enqueue(Testing::ScriptedDialogHost::choose(path));
    w.messages.shown.clear();
    clock.start();
    gap.start();
    ticker.start();
    w.form->action(QStringLiteral("open"))->trigger();
    QApplication::processEvents(); // the first paint of what is there
    t.firstScreen = clock.nsecsElapsed() / 1e6;
    while (w.form->document().isLoading())
        QApplication::processEvents();
    QApplication::processEvents();
    t.complete = clock.nsecsElapsed() / 1e6;
    ticker.stop();
    t.longestStall = double(std::max(longest, gap.elapsed()));
    return t;
}

} // namespace Inkwell::Bench
