// The editor's own paths on big files: opening (first screen, complete,
// longest stall of the event loop), typing, find, the change test, the caret
// panel and saving, through the real window with scripted dialogs.
#include "bench.h"
#include "benchwindow.h"

#include "app/form1.h"
#include "core/clock.h"
#include "controls/richtextbox.h"
#include "document/documentstate.h"
#include "platform/codepage.h"
#include "support/testwindow.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace Inkwell::Bench {

namespace {

using Testing::ScriptedDialogHost;

enum class Kind { Gbk, GbkCrlf, Utf8 };

// Novel-like lines of Chinese with some Latin, about `megabytes` MB.
QString makeFile(Kind kind, int megabytes)
{
    const QString name = QStringLiteral("%1-%2MB.txt")
                             .arg(kind == Kind::Utf8 ? "utf8" : kind == Kind::Gbk ? "gbk-lf" : "gbk-crlf")
                             .arg(megabytes);
    const QString path = scratch().filePath(name);
    if (QFile::exists(path))
        return path;
    const QString line = QStringLiteral(
        "第%1章 他走进房间，看见桌上放着一封信。The letter was dated 1998-07-12，字迹潦草。");
    const char *eol = kind == Kind::GbkCrlf ? "\r\n" : "\n";
    QByteArray bytes;
    bytes.reserve(qsizetype(megabytes) << 20);
    for (int i = 0; bytes.size() < (qsizetype(megabytes) << 20); ++i) {
        const QString text = line.arg(i);
        bytes += kind == Kind::Utf8 ? text.toUtf8()
                                    : QByteArray::fromStdString(
                                          CodePage::encode(text.toStdU16String(), 936).bytes);
        bytes += eol;
    }
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return path;
}

} // namespace

std::vector<Phase> editorPhases()
{
    std::vector<Phase> phases;
    // Shared by the phases, so it goes with them, before the application does.
    const auto window = std::make_shared<Window>();
    Window &w = *window;

    for (const int mb : {1, 10, 50}) {
        for (const Kind kind : {Kind::Gbk, Kind::GbkCrlf, Kind::Utf8}) {
            if (mb != 50 && kind != Kind::Gbk)
                continue;
            const QString path = makeFile(kind, mb);
            const qint64 size = QFileInfo(path).size();
            const QString label = kind == Kind::Gbk ? QStringLiteral("GBK")
                                  : kind == Kind::GbkCrlf ? QStringLiteral("GBK CRLF")
                                                          : QStringLiteral("UTF-8");
            auto last = std::make_shared<OpenTimes>();
            phases.push_back({QStringLiteral("open %1 %2MB: first screen").arg(label).arg(mb), size,
                              [&w, window, path, last] {
                                  *last = openByMenu(w, path);
                                  return !w.form->document().DocumentChanged();
                              },
                              [last] { return last->firstScreen; }});
            phases.push_back({QStringLiteral("open %1 %2MB: complete").arg(label).arg(mb), size,
                              [&w, window, path, last] {
                                  *last = openByMenu(w, path);
                                  return true;
                              },
                              [last] { return last->complete; }});
            phases.push_back({QStringLiteral("open %1 %2MB: longest stall").arg(label).arg(mb), 0,
                              [&w, window, path, last] {
                                  *last = openByMenu(w, path);
                                  return true;
                              },
                              [last] { return last->longestStall; }});
        }
        const QString path = makeFile(Kind::Gbk, mb);
        const qint64 size = QFileInfo(path).size();
        // The rest works on this file, opened once (inside the first of the
        // five keystroke runs, which the median leaves out).
        auto opened = std::make_shared<bool>(false);
        const auto ensureOpen = [&w, window, path, opened] {
            if (!*opened) {
                openByMenu(w, path);
                *opened = true;
            }
        };
        // A letter typed in the middle of the document, with its repaint. The
        // open happens inside the first of the five runs, which the median
        // leaves out.
        phases.push_back({QStringLiteral("type a letter %1MB (middle)").arg(mb), 0, [&w, window, ensureOpen] {
                              ensureOpen();
                              RichTextBox &box = *w.form->Text1;
                              box.setSelStart(box.document()->characterCount() / 2);
                              QTest::keyClick(&box, Qt::Key_A);
                              QApplication::processEvents();
                              return true;
                          }});
        phases.push_back({QStringLiteral("backspace %1MB (middle)").arg(mb), 0, [&w, window] {
                              RichTextBox &box = *w.form->Text1;
                              box.setSelStart(box.document()->characterCount() / 2 + 1);
                              QTest::keyClick(&box, Qt::Key_Backspace);
                              QApplication::processEvents();
                              return true;
                          }});
        phases.push_back({QStringLiteral("caret panel refresh %1MB").arg(mb), 0, [&w, window] {
                              QTest::keyRelease(w.form->Text1, Qt::Key_Right);
                              return w.form->panel(1)->text().startsWith(u'第');
                          }});
        phases.push_back({QStringLiteral("change test %1MB (typed)").arg(mb), 0, [&w, window] {
                              RichTextBox &box = *w.form->Text1;
                              box.setSelStart(0);
                              box.insertPlainText(QStringLiteral("x"));
                              const bool changed = w.form->document().DocumentChanged();
                              box.undo();
                              return changed;
                          }});
        // A word made bold: the texts are equal, so the formats are compared.
        phases.push_back(
            {QStringLiteral("change test %1MB (format only)").arg(mb), 0, [&w, window] {
                 RichTextBox &box = *w.form->Text1;
                 box.setSelStart(box.document()->characterCount() / 2);
                 box.setSelLength(4);
                 box.setSelBold(true);
                 const bool changed = w.form->document().DocumentChanged();
                 box.undo();
                 return changed;
             }});
        phases.push_back({QStringLiteral("find (no match) %1MB").arg(mb), size, [&w, window] {
                              RichTextBox &box = *w.form->Text1;
                              box.setSelStart(0);
                              return box.Find(QStringLiteral("不存在的句子")) == -1;
                          }});
        phases.push_back({QStringLiteral("find next (near end) %1MB").arg(mb), size, [&w, window] {
                              RichTextBox &box = *w.form->Text1;
                              box.setSelStart(0);
                              const int end = box.document()->characterCount() - 1;
                              return box.Find(QStringLiteral("第"), std::nullopt, end) >= 0;
                          }});
        for (const char *ending : {"txt", "stx", "rtf"}) {
            const QString target = scratch().filePath(QStringLiteral("saved-%1MB.%2").arg(mb).arg(ending));
            phases.push_back({QStringLiteral("save %1MB as %2").arg(mb).arg(ending), size,
                              [&w, window, target] {
                                  w.dialogs.script.enqueue(ScriptedDialogHost::choose(target));
                                  return w.form->commands().save().valueOr(false);
                              }});
        }
    }
    return phases;
}

} // namespace Inkwell::Bench
