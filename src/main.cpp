#include "app/form1.h"
#include "controls/clock.h"
#include "controls/qtclipboard.h"
#include "controls/qtdialoghost.h"
#include "controls/qtmessagehost.h"
#include "controls/qtprinterhost.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Inkwell"));
    QApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION));

    Inkwell::QtDialogHost dialogs;
    Inkwell::QtMessageHost messages;
    Inkwell::SystemClock clock;
    Inkwell::QtClipboard clipboard;
    Inkwell::QtPrinterHost printers;
    Inkwell::Form1 window(Inkwell::Services{dialogs, messages, clock, clipboard, printers});
    dialogs.setParent(&window);
    messages.setParent(&window);

    // The command line is one path: the arguments after the program, joined
    // by single blanks (a path with blanks may arrive split by the shell).
    const QStringList args = QApplication::arguments().mid(1);
    window.Form_Load(args.join(u' '));
    window.show();
    return app.exec();
}
