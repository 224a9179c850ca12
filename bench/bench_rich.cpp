// Rich documents in the editor's window: opening a 5 MB RTF with pictures and
// a table through the menu until it is on the screen, saving it, and the
// cost of a keystroke typed into the window (with its repaint) at the start of a 1 M
// character document read from RTF and inside a bordered table cell, for
// tables of 50, 200 and 500 rows.
#include "bench.h"
#include "benchwindow.h"

#include "controls/richtextbox.h"
#include "document/documentfile.h"
#include "document/documentstate.h"
#include "document/draftkeeper.h"
#include "rtf/rtfwriter.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QRandomGenerator>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextTable>

#include <time.h>

#include <algorithm>
#include <memory>

namespace Inkwell::Bench {

namespace {

// Five runs of 40 keys: 200 keys per document in all. "worst" is the median
// of the five runs' worst keys; "worst of all", "worst CPU" and the medians
// are over all 200 keys.
constexpr int keysPerRun = 40;
constexpr int tableColumns = 4;

// Deterministic noise, so that PNG cannot squeeze the pictures away.
QByteArray noisePng(int width, int height, quint32 seed)
{
    QRandomGenerator random(seed);
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<quint32 *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = 0xff000000u | (random.generate() & 0xffffffu);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

const char *const words[] = {"editor", "table", "picture", "paragraph", "document", "saves",
                             "rich",   "text",  "cell",    "row",       "opens",    "quickly"};

QByteArray sentence(quint32 &state, int wordCount)
{
    QByteArray out;
    for (int i = 0; i < wordCount; ++i) {
        state = state * 1664525u + 1013904223u;
        if (i)
            out += ' ';
        out += words[(state >> 8) % std::size(words)];
    }
    return out;
}

// A table of `rows` × 4 cells of three words, each cell with borders all
// round, as Word writes a bordered table. Returns the characters it adds to
// the document.
qsizetype appendTable(QByteArray &rtf, int rows, quint32 &state)
{
    qsizetype characters = 0;
    for (int row = 0; row < rows; ++row) {
        rtf += "\\trowd\\trgaph108";
        for (int c = 1; c <= tableColumns; ++c)
            rtf += "\\clbrdrt\\brdrs\\clbrdrl\\brdrs\\clbrdrb\\brdrs\\clbrdrr\\brdrs\\cellx" +
                   QByteArray::number(c * 2200);
        rtf += '\n';
        for (int c = 0; c < tableColumns; ++c) {
            const QByteArray text = sentence(state, 3);
            rtf += "\\pard\\intbl " + text + "\\cell ";
            characters += text.size() + 1;
        }
        rtf += "\\row\n";
    }
    rtf += "\\pard\n";
    return characters;
}

// About 5 MB of RTF as a word processor writes it: a font and colour table,
// paragraphs with bold, italic and coloured runs, some centred, a 50-row
// table with cell borders, and 20 PNG pictures of noise (~110 KB each, twice
// that as hex).
QByteArray makeRichRtf()
{
    QByteArray rtf = "{\\rtf1\\ansi\\ansicpg936\\deff0"
                     "{\\fonttbl{\\f0\\froman\\fcharset0 Times New Roman;}"
                     "{\\f1\\fnil\\fcharset134 \\'cb\\'ce\\'cc\\'e5;}}"
                     "{\\colortbl;\\red0\\green0\\blue0;\\red200\\green0\\blue0;}\n";
    quint32 state = 7;
    int picture = 0;
    const int paragraphs = 1700;
    for (int p = 0; p < paragraphs; ++p) {
        rtf += "\\pard\\plain";
        if (p % 25 == 0)
            rtf += "\\qc";
        else if (p % 3 == 0)
            rtf += "\\qj\\fi420";
        rtf += "\\f0\\fs24 ";
        rtf += sentence(state, 20);
        rtf += " {\\b " + sentence(state, 4) + "} {\\i " + sentence(state, 4) + "} {\\cf2 ";
        rtf += sentence(state, 4) + "} ";
        rtf += "{\\f1 \\'d6\\'d0\\'ce\\'c4\\'ce\\'c4\\'b1\\'be}";
        rtf += "\\par\n";
        if (p % 70 == 35 && picture < 20) {
            const QByteArray png = noisePng(200, 180, quint32(++picture));
            rtf += "\\pard\\qc{\\pict\\pngblip\\picw200\\pich180\\picwgoal3000\\pichgoal2700\n";
            const QByteArray hex = png.toHex();
            for (qsizetype at = 0; at < hex.size(); at += 128)
                rtf += hex.mid(at, 128) + '\n';
            rtf += "}\\par\n";
        }
        if (p == paragraphs / 2)
            appendTable(rtf, 50, state);
    }
    rtf += "}";
    return rtf;
}

// About 1 M characters of paragraphs with bold and coloured words, and a
// bordered table of `tableRows` rows after the first three paragraphs, so it
// is on the first screen.
QByteArray makeKeyRtf(int tableRows)
{
    QByteArray rtf = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\froman\\fcharset0 Times New Roman;}}"
                     "{\\colortbl;\\red0\\green0\\blue0;\\red200\\green0\\blue0;}\n";
    quint32 state = 11;
    qsizetype characters = 0;
    auto paragraph = [&] {
        const QByteArray plain = sentence(state, 8);
        const QByteArray bold = sentence(state, 3);
        const QByteArray red = sentence(state, 3);
        const QByteArray tail = sentence(state, 6);
        rtf += "\\pard\\plain\\f0\\fs24 " + plain + " {\\b " + bold + "} {\\cf2 " + red + "} " +
               tail + "\\par\n";
        characters += plain.size() + bold.size() + red.size() + tail.size() + 4;
    };
    for (int i = 0; i < 3; ++i)
        paragraph();
    characters += appendTable(rtf, tableRows, state);
    while (characters < 1'000'000)
        paragraph();
    return rtf + "}";
}

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

double medianOf(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double worstOf(const std::vector<double> &values)
{
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

enum class Caret { Start, InTable };

// One key and what the event loop does after it. Never inlined, so that a
// profiler can count just this (valgrind --tool=callgrind
// --collect-atstart=no --toggle-collect='*typeKey*').
[[gnu::noinline]] void typeKey(QWidget &box, Qt::Key key)
{
    QTest::keyClick(&box, key);
    QApplication::processEvents();
}

// Keys typed in the editor's window into a document it opened from RTF,
// each timed with what the event loop then does (the repaint, the status
// bar), as a user waits for it.
void addKeyPhases(std::vector<Phase> &phases, const std::shared_ptr<Window> &window,
                  const QString &label, int tableRows, Caret where)
{
    struct State {
        bool opened = false;
        double lastWorst = 0; // of the last run
        // Every key of every run: wall time, and this thread's CPU time,
        // which other work on a shared machine disturbs less.
        std::vector<double> wall;
        std::vector<double> cpu;
        bool ok = true;
    };
    auto state = std::make_shared<State>();
    phases.push_back(
        {QStringLiteral("key %1: worst").arg(label), 0,
         [state, window, tableRows, where] {
             Window &w = *window;
             RichTextBox &box = *w.form->Text1;
             if (!state->opened) {
                 const QString path = writeScratchFile(
                     QStringLiteral("key-%1-rows.rtf").arg(tableRows), makeKeyRtf(tableRows));
                 // What the phases before typed is not kept.
                 box.document()->setModified(false);
                 openByMenu(w, path);
                 QTextDocument &document = *box.document();
                 QTextCursor caret(&document);
                 if (where == Caret::InTable) {
                     QTextTable *table = nullptr;
                     for (QTextFrame *frame : document.rootFrame()->childFrames())
                         if ((table = qobject_cast<QTextTable *>(frame)))
                             break;
                     if (!table || table->rows() != tableRows)
                         return false;
                     caret = table->cellAt(tableRows / 2, 1).firstCursorPosition();
                 }
                 box.setTextCursor(caret);
                 // The whole document laid out before the first key.
                 document.pageCount();
                 QApplication::processEvents();
                 state->opened = box.view() == RichTextBox::View::Rich;
                 if (!state->opened)
                     return false;
             }
             const int before = box.document()->characterCount();
             double worst = 0;
             for (int i = 0; i < keysPerRun; ++i) {
                 QElapsedTimer timer;
                 const double cpuBefore = threadCpuMs();
                 timer.start();
                 // Words of five letters, as a user types them: a cell's
                 // text then wraps at its blanks, not inside one long word.
                 typeKey(box, i % 6 == 5 ? Qt::Key_Space : Qt::Key_A);
                 const double wall = timer.nsecsElapsed() / 1e6;
                 state->cpu.push_back(threadCpuMs() - cpuBefore);
                 state->wall.push_back(wall);
                 worst = std::max(worst, wall);
             }
             state->lastWorst = worst;
             state->ok = box.document()->characterCount() == before + keysPerRun;
             return state->ok;
         },
         [state] { return state->lastWorst; }});
    // Over all the keys of those runs (these phases type nothing).
    const auto over = [&](const QString &what, double (*figure)(const std::vector<double> &),
                          std::vector<double> State::*times) {
        phases.push_back({QStringLiteral("key %1: %2").arg(label, what), 0,
                          [state] { return state->ok; },
                          [state, figure, times] { return figure((*state).*times); }});
    };
    const auto median = [](const std::vector<double> &v) { return medianOf(v); };
    over(QStringLiteral("worst of all"), &worstOf, &State::wall);
    over(QStringLiteral("median"), median, &State::wall);
    over(QStringLiteral("worst CPU"), &worstOf, &State::cpu);
    over(QStringLiteral("median CPU"), median, &State::cpu);
}

} // namespace

std::vector<Phase> richPhases()
{
    std::vector<Phase> phases;
    // The window goes with the phases, before the application does.
    const auto window = std::make_shared<Window>();
    const QByteArray rtf = makeRichRtf();
    const QString path = writeScratchFile(QStringLiteral("rich-5MB.rtf"), rtf);
    auto shown = std::make_shared<double>(0);
    phases.push_back({QStringLiteral("rich open 5MB: shown"), rtf.size(),
                      [window, path, shown] {
                          Window &w = *window;
                          w.form->Text1->document()->setModified(false);
                          *shown = openByMenu(w, path).firstScreen;
                          // Twenty pictures and the table's text must be there.
                          const QString text = w.form->Text1->Text();
                          return w.form->Text1->view() == RichTextBox::View::Rich &&
                                 text.count(QChar::ObjectReplacementCharacter) == 20 &&
                                 text.size() > 300'000;
                      },
                      [shown] { return *shown; }});
    const QString target = scratch().filePath(QStringLiteral("rich-5MB-saved.rtf"));
    phases.push_back({QStringLiteral("rich save 5MB as rtf"), rtf.size(), [window, target] {
                          Window &w = *window;
                          w.dialogs.script.enqueue(Testing::ScriptedDialogHost::choose(target));
                          return w.form->commands().save().valueOr(false) &&
                                 QFileInfo(target).size() > 4'000'000;
                      }});
    addKeyPhases(phases, window, QStringLiteral("1M start"), 50, Caret::Start);
    for (const int rows : {50, 200, 500}) {
        addKeyPhases(phases, window, QStringLiteral("1M %1-row table").arg(rows), rows,
                     Caret::InTable);
        if (rows == 50) {
            // What a draft of the document it typed in costs the window's
            // thread: written all at once, as before, and in the slices a
            // key typed meanwhile waits for at most.
            phases.push_back({QStringLiteral("draft 1M 50-row table: all at once"), 0, [window] {
                                  Window &w = *window;
                                  return serialize(*w.form->Text1->document(),
                                                   w.form->document().encoding(), FileFormat::Rtf)
                                             .bytes.size() > 1'000'000;
                              }});
            auto longest = std::make_shared<double>(0);
            phases.push_back(
                {QStringLiteral("draft 1M 50-row table: longest slice"), 0,
                 [window, longest] {
                     Window &w = *window;
                     Rtf::SlicedWriter writer(*w.form->Text1->document(),
                                              rtfCodePageFor(w.form->document().encoding()));
                     *longest = 0;
                     for (bool done = false; !done;) {
                         QElapsedTimer slice;
                         slice.start();
                         done = writer.writeSome(QDeadlineTimer(DraftTiming().slice));
                         *longest = std::max(*longest, slice.nsecsElapsed() / 1e6);
                     }
                     return writer.take().size() > 1'000'000;
                 },
                 [longest] { return *longest; }});
        }
    }
    // A numbered and a bullet list of 15,000 items each, their items
    // alternating with plain paragraphs: lists long enough that building
    // them item by item would cost their length squared.
    QByteArray listRtf = "{\\rtf1\\ansi{\\*\\listtable{\\list{\\listlevel\\levelnfc0"
                         "{\\leveltext\\'02\\'00.;}\\fi-360\\li720}\\listid1}{\\list{\\listlevel"
                         "\\levelnfc23{\\leveltext\\'01\\u8226 ?;}\\fi-360\\li720}\\listid2}}"
                         "{\\*\\listoverridetable{\\listoverride\\listid1\\ls1}"
                         "{\\listoverride\\listid2\\ls2}}";
    for (int i = 0; i < 15'000; ++i)
        listRtf += "\\pard\\ls1 A numbered item\\par\\pard A plain paragraph\\par"
                   "\\pard\\ls2 A bullet item\\par";
    listRtf += '}';
    const QString listPath = writeScratchFile(QStringLiteral("long-lists.rtf"), listRtf);
    phases.push_back({QStringLiteral("rich open 15,000-item lists"), listRtf.size(),
                      [window, listPath] {
                          Window &w = *window;
                          w.form->Text1->document()->setModified(false);
                          openByMenu(w, listPath);
                          return w.form->Text1->document()->blockCount() >= 45'000;
                      }});
    return phases;
}

} // namespace Inkwell::Bench
