// A main window wired to scripted services, driven as a user would drive it.
#pragma once

#include "app/documentcommands.h"
#include "app/form1.h"
#include "controls/richtextbox.h"
#include "document/documentfile.h"
#include "document/documentstate.h"
#include "shell/registry_file.h"
#include "shell/systemdirectory.h"
#include "skin/skinlocations.h"
#include "support/files.h"
#include "support/fixedclock.h"
#include "support/pdfprinterhost.h"
#include "support/recordingskinengine.h"
#include "support/scriptedclipboard.h"
#include "support/scripteddialoghost.h"
#include "support/scriptedmessagehost.h"

#include <QAction>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace Inkwell::Testing {

struct TestWindow {
    ScriptedDialogHost dialogs;
    ScriptedMessageHost messages;
    FixedClock clock;
    ScriptedClipboard clipboard;
    PdfPrinterHost printers;
    // The registry and the skin copy live in a folder of the test's own.
    QTemporaryDir home;
    FileRegistry registry{home.filePath(QStringLiteral("registry")).toStdString()};
    std::unique_ptr<SystemDirectory> systemDirectory = makeSystemDirectory();
    RecordingEngine skins;
    SkinLocations skinLocations{home.filePath(QStringLiteral("program")),
                                home.filePath(QStringLiteral("user"))};
    std::unique_ptr<Form1> form;

    explicit TestWindow(const QString &commandLine = QString())
    {
        form = std::make_unique<Form1>(Services{dialogs, messages, clock, clipboard, printers,
                                                registry, *systemDirectory, nullptr, skins,
                                                skinLocations});
        form->Form_Load(commandLine);
        // The command tests run once per view: the commands must not care
        // which one shows the document.
        if (qEnvironmentVariable("INKWELL_TEST_VIEW") == QLatin1String("rich"))
            form->document().setKind(DocumentKind::Rich);
    }

    void trigger(const char *item) { form->action(QString::fromLatin1(item))->trigger(); }
    RichTextBox &text1() { return *form->Text1; }
    QString caption() const { return form->windowTitle(); }
    // Types text at the caret as the keyboard would (through the control's own editing).
    void type(const QString &text) { form->Text1->insertPlainText(text); }
    bool close() { return form->close(); }
    // What a save in the given format would write now.
    QByteArray bytesOf(FileFormat format)
    {
        return serialize(*form->Text1->document(), form->document().encoding(), format).bytes;
    }
};

// Shows the window with the keyboard focus in the editor, so that keys
// pressed there go through the window's shortcuts as a user's would.
inline bool showWithEditorFocused(TestWindow &w)
{
    w.form->show();
    if (!QTest::qWaitForWindowExposed(w.form.get()))
        return false;
    w.form->activateWindow();
    w.text1().setFocus();
    return QTest::qWaitForWindowActive(w.form.get());
}

} // namespace Inkwell::Testing
