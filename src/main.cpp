#include "app/chineseui.h"
#include "app/form1.h"
#include "controls/qtclipboard.h"
#include "controls/qtdialoghost.h"
#include "controls/qtmessagehost.h"
#include "controls/qtprinterhost.h"
#include "core/clock.h"
#include "core/localpath.h"
#include "core/product.h"
#include "document/draftdirectory.h"
#include "shell/desktopassociation.h"
#include "shell/registry.h"
#include "shell/systemdirectory.h"
#include "skin/skinengine.h"
#include "skin/skinlocations.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(Inkwell::Product::name);
    QApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION));
    Inkwell::installQtChinese(app);
    Inkwell::installChineseFontSubstitutes();

    Inkwell::QtDialogHost dialogs;
    Inkwell::QtMessageHost messages;
    Inkwell::SystemClock clock;
    Inkwell::QtClipboard clipboard;
    Inkwell::QtPrinterHost printers;
    const auto registry = Inkwell::makeSystemRegistry();
    const auto systemDirectory = Inkwell::makeSystemDirectory();
    const auto desktop = Inkwell::makeDesktopAssociation(QApplication::applicationFilePath());
    const Inkwell::SkinLocations skinLocations = Inkwell::SkinLocations::forThisProgram();
    const auto skins = Inkwell::makeSkinEngine(skinLocations);
    Inkwell::Form1 window(Inkwell::Services{dialogs, messages, clock, clipboard, printers,
                                            *registry, *systemDirectory, desktop.get(), *skins,
                                            skinLocations});
    dialogs.setParent(&window);
    messages.setParent(&window);

    // The command line names one file: the arguments after the program (a
    // path with blanks may arrive split by the shell), from their bytes, so
    // that a name that is not UTF-8 still names its file. QApplication has
    // taken its own options out of argv.
    window.keepDrafts(Inkwell::defaultDraftDirectory());
    window.Form_Load(Inkwell::argumentsFromLocalBytes(argc, argv));
    window.show();
    return app.exec();
}
