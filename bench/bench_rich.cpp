// Rich documents in a rich-text view: opening a 5 MB RTF with pictures and a
// table until it is on the screen, saving it, and the cost of a keystroke
// (with its repaint) at the start of a 1 M character document and inside a
// table cell, for tables of 50, 200 and 500 rows and two ways of holding a
// big table that lay out the same: fixed column widths, and the rows split
// over several tables.
#include "bench.h"

#include "core/textencoding.h"
#include "document/documentfile.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextTable>

#include <time.h>

#include <algorithm>
#include <memory>

namespace Inkwell::Bench {

namespace {

// Five runs of 40 keys: 200 keys per document in all. A run reports the
// worst and the median of its keys; the runner prints the median of the runs.
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
        if (p == paragraphs / 2) {
            for (int row = 0; row < 50; ++row) {
                rtf += "\\trowd\\trgaph108";
                for (int c = 1; c <= tableColumns; ++c)
                    rtf +=
                        "\\clbrdrt\\brdrs\\clbrdrl\\brdrs\\clbrdrb\\brdrs\\clbrdrr\\brdrs\\cellx" +
                        QByteArray::number(c * 2200);
                rtf += '\n';
                for (int c = 0; c < tableColumns; ++c)
                    rtf += "\\pard\\intbl " + sentence(state, 3) + "\\cell ";
                rtf += "\\row\n";
            }
            rtf += "\\pard\n";
        }
    }
    rtf += "}";
    return rtf;
}

// A shown rich-text view of a usual window size.
std::unique_ptr<QTextEdit> makeView()
{
    auto view = std::make_unique<QTextEdit>();
    view->resize(1000, 700);
    view->show();
    if (!QTest::qWaitForWindowExposed(view.get()))
        qWarning("the view was not shown; paint costs are not measured");
    return view;
}

// Notes the viewport's paints.
struct PaintWatch : QObject {
    bool painted = false;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            painted = true;
        return false;
    }
};

enum class TableShape { Plain, FixedWidths, Split };

struct KeyDocument {
    int tableRows = 0; // 0: no table, the caret at the start
    TableShape shape = TableShape::Plain;
    int splitRows = 50;         // rows per table when split
    int characters = 1'000'000; // the document's length, table included
};

// About 1 M characters of formatted paragraphs; the table (if any) comes
// after the first paragraphs, so it is on the first screen.
void fillKeyDocument(QTextDocument &document, const KeyDocument &setup, QTextCursor *caret)
{
    document.setUndoRedoEnabled(false);
    QTextCursor cursor(&document);
    cursor.beginEditBlock();
    quint32 state = 11;
    QTextCharFormat plain;
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    QTextCharFormat red;
    red.setForeground(QColor(200, 0, 0));
    auto paragraph = [&] {
        cursor.insertText(QString::fromLatin1(sentence(state, 8)) + u' ', plain);
        cursor.insertText(QString::fromLatin1(sentence(state, 3)), bold);
        cursor.insertText(u' ' + QString::fromLatin1(sentence(state, 3)) + u' ', red);
        cursor.insertText(QString::fromLatin1(sentence(state, 6)), plain);
        cursor.insertBlock();
    };
    for (int i = 0; i < 3; ++i)
        paragraph();
    QTextCursor cell;
    if (setup.tableRows > 0) {
        QTextTableFormat format;
        format.setBorder(1);
        format.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
        format.setBorderCollapse(true);
        format.setCellPadding(4);
        format.setCellSpacing(0);
        if (setup.shape != TableShape::Plain) {
            QList<QTextLength> widths;
            for (int c = 0; c < tableColumns; ++c)
                widths << QTextLength(QTextLength::FixedLength, 147);
            format.setColumnWidthConstraints(widths);
        }
        const int perTable = setup.shape == TableShape::Split ? setup.splitRows : setup.tableRows;
        const int caretRow = setup.tableRows / 2;
        for (int first = 0; first < setup.tableRows; first += perTable) {
            const int rows = std::min(perTable, setup.tableRows - first);
            QTextTable *table = cursor.insertTable(rows, tableColumns, format);
            for (int r = 0; r < rows; ++r)
                for (int c = 0; c < tableColumns; ++c) {
                    QTextCursor in = table->cellAt(r, c).firstCursorPosition();
                    in.insertText(QString::fromLatin1(sentence(state, 3)), plain);
                    if (first + r == caretRow && c == 1)
                        cell = table->cellAt(r, c).firstCursorPosition();
                }
            // The next part goes right after this one: Qt lays consecutive
            // tables out touching, so the parts read as one table.
            cursor = table->lastCursorPosition();
            cursor.movePosition(QTextCursor::NextBlock);
        }
    }
    while (document.characterCount() < setup.characters)
        paragraph();
    cursor.endEditBlock();
    *caret = setup.tableRows > 0 ? cell : QTextCursor(&document);
}

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

struct KeyTimes {
    double worst = 0;
    double median = 0;
    // This thread's CPU time, which the other work on a shared machine
    // disturbs less than the wall time.
    double cpuWorst = 0;
    double cpuMedian = 0;
};

void addKeyPhases(std::vector<Phase> &phases, const QString &label, const KeyDocument &setup)
{
    struct State {
        std::unique_ptr<QTextEdit> view;
        KeyTimes last;
        bool ok = true;
    };
    auto state = std::make_shared<State>();
    phases.push_back(
        {QStringLiteral("key %1: worst").arg(label), 0,
         [state, setup] {
             if (!state->view) {
                 state->view = makeView();
                 QTextCursor caret;
                 fillKeyDocument(*state->view->document(), setup, &caret);
                 state->view->setTextCursor(caret);
                 state->view->ensureCursorVisible();
                 QApplication::processEvents();
                 // The whole document laid out before the first key.
                 state->view->document()->pageCount();
                 QApplication::processEvents();
             }
             QTextEdit &view = *state->view;
             const int before = view.document()->characterCount();
             std::vector<double> times;
             times.reserve(keysPerRun);
             std::vector<double> cpu;
             for (int i = 0; i < keysPerRun; ++i) {
                 QElapsedTimer timer;
                 const double cpuBefore = threadCpuMs();
                 timer.start();
                 QTest::keyClick(&view, Qt::Key_A);
                 view.viewport()->repaint();
                 times.push_back(timer.nsecsElapsed() / 1e6);
                 cpu.push_back(threadCpuMs() - cpuBefore);
                 // What the event loop does between two keys a user types.
                 QApplication::processEvents();
             }
             std::sort(times.begin(), times.end());
             std::sort(cpu.begin(), cpu.end());
             state->last = {times.back(), times[times.size() / 2], cpu.back(), cpu[cpu.size() / 2]};
             state->ok = view.document()->characterCount() == before + keysPerRun;
             return state->ok;
         },
         [state] { return state->last.worst; }});
    // The median of the keys of the same runs (this phase types nothing).
    phases.push_back({QStringLiteral("key %1: median").arg(label), 0, [state] { return state->ok; },
                      [state] { return state->last.median; }});
    phases.push_back({QStringLiteral("key %1: worst CPU").arg(label), 0,
                      [state] { return state->ok; }, [state] { return state->last.cpuWorst; }});
    phases.push_back({QStringLiteral("key %1: median CPU").arg(label), 0,
                      [state] { return state->ok; }, [state] { return state->last.cpuMedian; }});
}

} // namespace

std::vector<Phase> richPhases()
{
    std::vector<Phase> phases;
    const auto rtf = std::make_shared<const QByteArray>(makeRichRtf());
    struct Open {
        std::unique_ptr<QTextEdit> view;
        PaintWatch watch;
        double shown = 0;
    };
    auto open = std::make_shared<Open>();
    phases.push_back({QStringLiteral("rich open 5MB: shown"), rtf->size(),
                      [open, rtf] {
                          if (!open->view) {
                              open->view = makeView();
                              open->view->viewport()->installEventFilter(&open->watch);
                          }
                          QTextEdit &view = *open->view;
                          view.clear();
                          QApplication::processEvents();
                          open->watch.painted = false;
                          QElapsedTimer clock;
                          clock.start();
                          parseRtf(*rtf, *view.document());
                          while (!open->watch.painted)
                              QApplication::processEvents();
                          open->shown = clock.nsecsElapsed() / 1e6;
                          // Twenty pictures and the table's text must be there.
                          const QString text = view.document()->toRawText();
                          return text.count(QChar::ObjectReplacementCharacter) == 20 &&
                                 text.size() > 300'000;
                      },
                      [open] { return open->shown; }});
    phases.push_back({QStringLiteral("rich save 5MB as rtf"), rtf->size(), [open] {
                          if (!open->view)
                              return false;
                          const Serialized saved =
                              serialize(*open->view->document(), TextEncoding::forNewDocument(),
                                        FileFormat::Rtf);
                          return saved.bytes.size() > 4'000'000;
                      }});
    addKeyPhases(phases, QStringLiteral("1M start"), {});
    for (const int rows : {50, 200, 500})
        addKeyPhases(phases, QStringLiteral("1M %1-row table").arg(rows), {rows});
    for (const int rows : {200, 500}) {
        addKeyPhases(phases, QStringLiteral("1M %1-row fixed").arg(rows),
                     {rows, TableShape::FixedWidths});
        addKeyPhases(phases, QStringLiteral("1M %1-row split 50").arg(rows),
                     {rows, TableShape::Split, 50});
    }
    addKeyPhases(phases, QStringLiteral("1M 500-row split 10"), {500, TableShape::Split, 10});
    // The table's own share: the same tables with little text around them.
    addKeyPhases(phases, QStringLiteral("500-row table alone"), {500, TableShape::Plain, 50, 0});
    addKeyPhases(phases, QStringLiteral("500-row alone split 50"), {500, TableShape::Split, 50, 0});
    addKeyPhases(phases, QStringLiteral("500-row alone split 10"), {500, TableShape::Split, 10, 0});
    return phases;
}

} // namespace Inkwell::Bench
