// Runs every benchmark phase five times and prints a table with the median
// time. Usage: inkwell_bench [substring of phase names to run]
//        inkwell_bench --open FILE [RUNS]
//        inkwell_bench --save FILE [RUNS]
#include "bench.h"
#include "benchwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

using namespace Inkwell::Bench;

namespace {

constexpr int repetitions = 5;

struct Suite {
    const char *name;
    std::vector<Phase> (*phases)();
};

// Add new areas here.
const Suite suites[] = {
    {"rtf", rtfPhases},
    {"editor", editorPhases},
    {"hostile", hostilePhases},
    {"rich", richPhases},
};

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    // "--open FILE [N]": opens one file N times through the menu and prints
    // each open's first screen, completion and longest stall of the event
    // loop (bench/peers.sh uses it for the files it gives the real program).
    if (argc >= 3 && qstrcmp(argv[1], "--open") == 0) {
        const QString path = QString::fromLocal8Bit(argv[2]);
        const int runs = argc >= 4 ? std::max(1, std::atoi(argv[3])) : 1;
        Window w;
        for (int i = 1; i <= runs; ++i) {
            const OpenTimes t = openByMenu(w, path);
            std::printf(
                "%s run %d: first screen %.0f ms, complete %.0f ms, longest stall %.0f ms\n",
                qPrintable(QFileInfo(path).fileName()), i, t.firstScreen, t.complete,
                t.longestStall);
            std::fflush(stdout);
        }
        return 0;
    }
    // "--save FILE [N]": opens the file, types a letter at its start and
    // saves it as a new file in the same format, N times; prints the wall
    // time until the new file is there and the longest stall of the event
    // loop meanwhile (a save that works between events keeps it short).
    if (argc >= 3 && qstrcmp(argv[1], "--save") == 0) {
        const QString path = QString::fromLocal8Bit(argv[2]);
        const int runs = argc >= 4 ? std::max(1, std::atoi(argv[3])) : 1;
        Window w;
        openByMenu(w, path);
        QTest::keyClick(w.form->Text1, Qt::Key_X);
        QApplication::processEvents();
        for (int i = 1; i <= runs; ++i) {
            const QString target = scratch().filePath(
                QStringLiteral("saved-%1-%2").arg(i).arg(QFileInfo(path).fileName()));
            QElapsedTimer clock;
            QElapsedTimer gap;
            qint64 longest = 0;
            QTimer ticker;
            ticker.setInterval(0);
            QObject::connect(&ticker, &QTimer::timeout,
                             [&] { longest = std::max(longest, gap.restart()); });
            w.dialogs.script.enqueue(Inkwell::Testing::ScriptedDialogHost::choose(target));
            clock.start();
            gap.start();
            ticker.start();
            const bool saved = w.form->commands().save().valueOr(false);
            // A save that goes on between events is over once its file is
            // in place and the loop has been quiet for a moment.
            QElapsedTimer quiet;
            quiet.start();
            qint64 done = -1;
            while (clock.elapsed() < 120000) {
                QApplication::processEvents(QEventLoop::AllEvents, 50);
                if (done < 0 && QFileInfo::exists(target))
                    done = clock.elapsed();
                if (done >= 0 && clock.elapsed() - done > 300)
                    break;
            }
            ticker.stop();
            std::printf("%s save %d: %s, file in place %lld ms, longest stall %lld ms\n",
                        qPrintable(QFileInfo(path).fileName()), i, saved ? "saved" : "NOT SAVED",
                        static_cast<long long>(done), static_cast<long long>(longest));
            std::fflush(stdout);
            QFile::remove(target);
        }
        return 0;
    }
    const QString filter = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();

    std::printf("%-36s %10s %10s %9s %10s\n", "phase", "size (MB)", "median ms", "MB/s",
                "peak RSS MB");
    bool allCorrect = true;
    // A suite's name ("rtf", "editor") runs all of that suite and nothing
    // else; any other word picks the phases whose names hold it.
    const bool filterIsSuite =
        std::any_of(std::begin(suites), std::end(suites),
                    [&](const Suite &s) { return filter == QLatin1String(s.name); });
    for (const Suite &suite : suites) {
        const bool suiteChosen = filter == QLatin1String(suite.name);
        if (filterIsSuite && !suiteChosen)
            continue;
        for (const Phase &phase : suite.phases()) {
            if (!filter.isEmpty() && !suiteChosen && !phase.name.contains(filter))
                continue;
            std::vector<double> times;
            bool correct = true;
            for (int i = 0; i < repetitions; ++i) {
                QElapsedTimer timer;
                timer.start();
                correct = phase.run() && correct;
                times.push_back(phase.measured ? phase.measured() : timer.nsecsElapsed() / 1e6);
            }
            std::sort(times.begin(), times.end());
            const double median = times[times.size() / 2];
            const double megabytes = phase.bytes / 1e6;
            rusage usage{};
            getrusage(RUSAGE_SELF, &usage);
            std::printf("%-36s %10.2f %10.2f %9.1f %10ld%s\n", qPrintable(phase.name), megabytes,
                        median, median > 0 && megabytes > 0 ? megabytes / (median / 1000.0) : 0.0,
                        usage.ru_maxrss / 1024, correct ? "" : "  WRONG RESULT");
            std::fflush(stdout);
            allCorrect = allCorrect && correct;
        }
    }
    return allCorrect ? 0 : 1;
}
