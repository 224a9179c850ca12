// Hostile files through the real window: one line of 20 MB without a break
// point, and RTF picture bombs (one small PNG of 4000 × 4000 pixels repeated).
// Run alone (`bench/run.sh hostile`), so that the peak RSS column is theirs:
// the bombs come first, before the long line raises the peak.
#include "bench.h"
#include "benchwindow.h"

#include "app/form1.h"
#include "controls/richtextbox.h"
#include "core/documenttext.h"
#include "document/documentstate.h"
#include "rtf/picturebomb.h"
#include "support/testwindow.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <algorithm>
#include <memory>

namespace Inkwell::Bench {

namespace {

using Testing::ScriptedDialogHost;

// 100 pictures of one 4000 × 4000 PNG (a colour picture, about 15 KB), the
// same bytes each time or each made different by a text chunk.
QByteArray pictureBomb(bool different)
{
    QImage image(4000, 4000, QImage::Format_RGB32);
    image.fill(Qt::white);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    QByteArray rtf = "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}bomb\\par\n";
    for (int i = 0; i < 100; ++i) {
        const QByteArray picture =
            different ? Testing::withTextChunk(png, QByteArray::number(i)) : png;
        rtf += "{\\pict\\pngblip\\picw4000\\pich4000\n" + picture.toHex() + "}\n";
    }
    return rtf + "}";
}

} // namespace

std::vector<Phase> hostilePhases()
{
    std::vector<Phase> phases;
    const auto window = std::make_shared<Window>();
    Window &w = *window;

    for (const bool different : {false, true}) {
        const QByteArray rtf = pictureBomb(different);
        const QString path =
            writeScratchFile(QStringLiteral("bomb-%1.rtf").arg(different ? "different" : "same"), rtf);
        phases.push_back(
            {QStringLiteral("open picture bomb (100 %1)")
                 .arg(different ? QStringLiteral("different") : QStringLiteral("same")),
             rtf.size(), [&w, window, path] {
                 openByMenu(w, path);
                 return w.form->document().pictureUse().bytes <= DocumentImages::pictureBudget;
             }});
    }

    const QByteArray line(20'000'000, 'x');
    const QString path = writeScratchFile(QStringLiteral("line-20MB.txt"), line);
    auto last = std::make_shared<OpenTimes>();
    phases.push_back({QStringLiteral("open 20MB line: first screen"), line.size(),
                      [&w, window, path, last] {
                          *last = openByMenu(w, path);
                          // Held in pieces, and the text is the whole line.
                          return mayHaveSoftBreaks(*w.text1().document()) &&
                                 w.text1().Text().size() == 20'000'000;
                      },
                      [last] { return last->firstScreen; }});
    phases.push_back({QStringLiteral("open 20MB line: complete"), line.size(), [] { return true; },
                      [last] { return last->complete; }});
    auto keys = std::make_shared<std::vector<double>>();
    // Round the places: the middle, the start, the end, and both sides of
    // a break between two pieces, where a Backspace must take the
    // character before the break.
    auto round = std::make_shared<int>(0);
    phases.push_back({QStringLiteral("type a letter 20MB line (round)"), 0, [&w, window, keys, round] {
                          RichTextBox &box = *w.form->Text1;
                          const int length = int(box.Text().size());
                          const int place = (*round)++ % 5;
                          const int at = place == 0   ? length / 2
                                         : place == 1 ? 0
                                         : place == 2 ? length
                                                      : length / 3;
                          box.setSelStart(at);
                          if (place == 3) { // after the break, as the arrow keys leave it
                              QTextCursor c = box.textCursor();
                              c.movePosition(QTextCursor::NextBlock);
                              box.setTextCursor(c);
                          }
                          QApplication::processEvents();
                          QElapsedTimer clock;
                          clock.start();
                          QTest::keyClick(&box, place == 3 ? Qt::Key_Backspace : Qt::Key_A);
                          QApplication::processEvents();
                          keys->push_back(clock.nsecsElapsed() / 1e6);
                          return true;
                      },
                      [keys] { return keys->back(); }});
    phases.push_back({QStringLiteral("type a letter 20MB line (worst)"), 0, [] { return true; },
                      [keys] { return *std::max_element(keys->begin(), keys->end()); }});
    const QString target = scratch().filePath(QStringLiteral("saved-line.txt"));
    phases.push_back({QStringLiteral("save 20MB line as txt"), line.size(), [&w, window, target] {
                          w.dialogs.script.enqueue(ScriptedDialogHost::choose(target));
                          // Saved as one line: the pieces' breaks are no line ends.
                          return w.form->commands().save().valueOr(false) &&
                                 QFileInfo(target).size() == w.text1().Text().size();
                      }});
    return phases;
}

} // namespace Inkwell::Bench
