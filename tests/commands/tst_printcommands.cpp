#include "commands/commandtests.h"
#include "controls/qtdialoghost.h"
#include "core/localpath.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QPageSetupDialog>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimer>

using namespace Inkwell;
using namespace Inkwell::Testing;

namespace {

const QString twoLines = QStringLiteral("第一行 alpha line\nsecond 第二行 omega");

QString pdfText(const QString &pdf)
{
    // The CJK fonts map some ideographs to their Kangxi radical look-alikes
    // (一 comes back as U+2F00); compatibility normalisation undoes that.
    return toolOutput(QStringLiteral("pdftotext"),
                      {QStringLiteral("-enc"), QStringLiteral("UTF-8"), pdf, QStringLiteral("-")})
        .normalized(QString::NormalizationForm_KC);
}

// Width and height of the first page in points, from pdfinfo.
QSizeF pageSize(const QString &pdf)
{
    const QString info = toolOutput(QStringLiteral("pdfinfo"), {pdf});
    static const QRegularExpression line(QStringLiteral("Page size:\\s+([0-9.]+) x ([0-9.]+) pts"));
    const QRegularExpressionMatch m = line.match(info);
    return m.hasMatch() ? QSizeF(m.captured(1).toDouble(), m.captured(2).toDouble()) : QSizeF();
}

// Pixel sizes of the pictures in the PDF, from pdfimages -list.
QList<QSize> pdfPictures(const QString &pdf)
{
    QList<QSize> out;
    const QStringList lines =
        toolOutput(QStringLiteral("pdfimages"), {QStringLiteral("-list"), pdf}).split(u'\n');
    for (const QString &row : lines.mid(2)) {
        const QStringList cells = row.simplified().split(u' ');
        if (cells.size() > 4 && cells.at(2) == u"image")
            out << QSize(cells.at(3).toInt(), cells.at(4).toInt());
    }
    return out;
}

// The box around all the words of the first page, in points from its top
// left corner, from pdftotext -bbox.
QRectF inkBox(const QString &pdf)
{
    const QString html =
        toolOutput(QStringLiteral("pdftotext"),
                   {QStringLiteral("-bbox"), QStringLiteral("-f"), QStringLiteral("1"),
                    QStringLiteral("-l"), QStringLiteral("1"), pdf, QStringLiteral("-")});
    static const QRegularExpression word(
        QStringLiteral("<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" xMax=\"([0-9.]+)\" "
                       "yMax=\"([0-9.]+)\">"));
    QRectF box;
    for (auto it = word.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QRectF one(QPointF(m.captured(1).toDouble(), m.captured(2).toDouble()),
                         QPointF(m.captured(3).toDouble(), m.captured(4).toDouble()));
        box = box.isNull() ? one : box.united(one);
    }
    return box;
}

constexpr double pointsPerMm = 72.0 / 25.4;

ScriptedDialogHost::Answer accept()
{
    return [](CommonDialog &, QPrinter *) { return true; };
}

ScriptedDialogHost::Answer chooseOrientation(int orientation)
{
    return [orientation](CommonDialog &d, QPrinter *) {
        d.Orientation = orientation;
        return true;
    };
}

} // namespace

class TestPrintCommands : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_tmp;

private slots:
    void init()
    {
        m_tmp = std::make_unique<QTemporaryDir>();
        QVERIFY(m_tmp->isValid());
    }

    void printsSelectionOrWholeDocument_data()
    {
        QTest::addColumn<int>("anchor");
        QTest::addColumn<int>("position");
        // What the print dialog offers, and what the user picks there (-1: leaves it).
        QTest::addColumn<int>("offered");
        QTest::addColumn<int>("picked");
        QTest::addColumn<QStringList>("printed");
        QTest::addColumn<QStringList>("absent");
        const int all = QPrinter::AllPages, selection = QPrinter::Selection;
        QTest::newRow("nothing selected: everything")
            << 0 << 0 << all << -1 << QStringList{"第一行", "alpha", "second", "第二行", "omega"}
            << QStringList{};
        QTest::newRow("selection: only it") << 4 << 9 << selection << -1 << QStringList{"alpha"}
                                            << QStringList{"第一行", "second", "omega", "line"};
        QTest::newRow("selection across the break")
            << 10 << 25 << selection << -1 << QStringList{"line", "second", "第二行"}
            << QStringList{"第一行", "alpha", "omega"};
        QTest::newRow("caret at the end: everything")
            << 31 << 31 << all << -1 << QStringList{"第一行", "omega"} << QStringList{};
        QTest::newRow("selection, all picked in the dialog")
            << 4 << 9 << selection << all << QStringList{"第一行", "alpha", "omega"}
            << QStringList{};
    }
    void printsSelectionOrWholeDocument()
    {
        QFETCH(int, anchor);
        QFETCH(int, position);
        QFETCH(int, offered);
        QFETCH(int, picked);
        QFETCH(QStringList, printed);
        QFETCH(QStringList, absent);
        if (!havePoppler())
            QSKIP("poppler-utils (pdftotext, pdfinfo, pdfimages) are not installed");
        TestWindow w;
        w.printers.outputFile = m_tmp->filePath(QStringLiteral("out.pdf"));
        w.text1().setText(twoLines);
        select(w.text1(), anchor, position);
        int shownRange = -1;
        w.dialogs.script.enqueue([&shownRange, picked](CommonDialog &, QPrinter *printer) {
            shownRange = printer->printRange();
            if (picked >= 0)
                printer->setPrintRange(QPrinter::PrintRange(picked));
            return true;
        });
        w.trigger("print");
        QCOMPARE(shownRange, offered);
        QCOMPARE(w.printers.jobs, 1);
        QVERIFY(w.messages.shown.isEmpty());
        const QString text = pdfText(w.printers.outputFile);
        QVERIFY2(!text.isNull(), "pdftotext could not read the printed file");
        for (const QString &word : printed)
            QVERIFY2(text.contains(word),
                     qPrintable(word + QStringLiteral(" missing in: ") + text));
        for (const QString &word : absent)
            QVERIFY2(!text.contains(word),
                     qPrintable(word + QStringLiteral(" printed in: ") + text));
        // Printing leaves the selection and the document as they were.
        QCOMPARE(w.text1().Text(), twoLines);
        QCOMPARE(w.text1().SelStart(), std::min(anchor, position));
    }

    // The print dialog is safeuse's, shown without flags of its own; Ctrl+P opens it.
    void printDialogIsSafeuses()
    {
        TestWindow w;
        QVERIFY(showWithEditorFocused(w));
        w.text1().setText(QStringLiteral("x"));
        w.dialogs.script.enqueue(ScriptedDialogHost::cancel());
        QTest::keyClick(&w.text1(), Qt::Key_P, Qt::ControlModifier);
        QCOMPARE(w.dialogs.shown.size(), 1);
        QCOMPARE(w.dialogs.shown[0].kind, ScriptedDialogHost::Shown::Print);
        QCOMPARE(w.dialogs.shown[0].dialog, &w.form->safeuse);
        QCOMPARE(w.dialogs.shown[0].flags, 0);
        // Cancelled: nothing printed, nothing said.
        QCOMPARE(w.printers.jobs, 0);
        QVERIFY(!QFileInfo::exists(w.printers.defaultOutput()));
        QVERIFY(w.messages.shown.isEmpty());
    }

    void orientationFromPageSetup_data()
    {
        QTest::addColumn<QList<int>>("choices"); // 0: the page setup cancelled
        QTest::addColumn<bool>("landscape");
        QTest::newRow("untouched: portrait") << QList<int>{} << false;
        QTest::newRow("landscape") << QList<int>{2} << true;
        QTest::newRow("landscape, then portrait") << QList<int>{2, 1} << false;
        QTest::newRow("landscape, then cancelled") << QList<int>{2, 0} << true;
        QTest::newRow("no orientation number keeps it") << QList<int>{2, 7} << true;
    }
    void orientationFromPageSetup()
    {
        QFETCH(QList<int>, choices);
        QFETCH(bool, landscape);
        if (!havePoppler())
            QSKIP("poppler-utils (pdftotext, pdfinfo, pdfimages) are not installed");
        TestWindow w;
        w.text1().setText(twoLines);
        for (int choice : choices) {
            w.dialogs.script.enqueue(choice ? chooseOrientation(choice)
                                            : ScriptedDialogHost::cancel());
            w.trigger("printsetup");
            QCOMPARE(w.dialogs.shown.last().kind, ScriptedDialogHost::Shown::PageSetup);
            QCOMPARE(w.dialogs.shown.last().dialog, &w.form->openuse);
            QCOMPARE(w.form->openuse.Flags, 64);
        }
        // Every later job keeps the orientation: print twice.
        for (const char *name : {"first.pdf", "second.pdf"}) {
            w.printers.outputFile = m_tmp->filePath(QString::fromLatin1(name));
            w.dialogs.script.enqueue(accept());
            w.trigger("print");
            const QSizeF size = pageSize(w.printers.outputFile);
            QVERIFY2(size.isValid(), "pdfinfo gave no page size");
            QCOMPARE(size.width() > size.height(), landscape);
        }
        QVERIFY(w.messages.shown.isEmpty());
    }

    // A new document prints on A4 with 20 mm margins; the margins page setup
    // leaves are the margins the text is printed within, nothing added.
    void marginsSetUpAreMarginsPrinted_data()
    {
        QTest::addColumn<bool>("pageSetup");
        QTest::addColumn<QMarginsF>("margins"); // millimetres
        QTest::newRow("new document") << false << QMarginsF(20, 20, 20, 20);
        QTest::newRow("margins from page setup") << true << QMarginsF(10, 30, 15, 25);
    }
    void marginsSetUpAreMarginsPrinted()
    {
        QFETCH(bool, pageSetup);
        QFETCH(QMarginsF, margins);
        if (!havePoppler())
            QSKIP("poppler-utils (pdftotext, pdfinfo, pdfimages) are not installed");
        TestWindow w;
        if (pageSetup) {
            w.dialogs.script.enqueue([margins](CommonDialog &d, QPrinter *printer) {
                printer->setPageMargins(margins, QPageLayout::Millimeter);
                d.Orientation = 1;
                return true;
            });
            w.trigger("printsetup");
        }
        // One long paragraph: its lines run from margin to margin.
        w.text1().setText(QStringLiteral("Mwide ") + QStringLiteral("alpha beta ").repeated(150));
        w.printers.outputFile = m_tmp->filePath(QStringLiteral("margins.pdf"));
        w.dialogs.script.enqueue(accept());
        w.trigger("print");
        QVERIFY(w.messages.shown.isEmpty());
        const QSizeF page = pageSize(w.printers.outputFile);
        QVERIFY2(std::abs(page.width() - 595.3) < 1 && std::abs(page.height() - 841.9) < 1,
                 "the page is not A4");
        const QRectF ink = inkBox(w.printers.outputFile);
        QVERIFY2(!ink.isNull(), "no text found on the page");
        const QString where = QStringLiteral("text from %1,%2 to %3 pt")
                                  .arg(ink.left())
                                  .arg(ink.top())
                                  .arg(ink.right());
        // Glyphs sit a little inside their line, a point or two, and the page
        // edges fall on whole pixels of the printer: never a centimetre off.
        QVERIFY2(ink.left() >= margins.left() * pointsPerMm - 1 &&
                     ink.left() <= margins.left() * pointsPerMm + 3,
                 qPrintable(where));
        QVERIFY2(ink.top() >= margins.top() * pointsPerMm - 1 &&
                     ink.top() <= margins.top() * pointsPerMm + 4,
                 qPrintable(where));
        const double rightEdge = page.width() - margins.right() * pointsPerMm;
        QVERIFY2(ink.right() <= rightEdge + 1 && ink.right() >= rightEdge - 30, qPrintable(where));
    }

    // A page range chosen in the print dialog does not limit what prints.
    void pageRangeDoesNotLimitPrinting()
    {
        if (!havePoppler())
            QSKIP("poppler-utils (pdftotext, pdfinfo, pdfimages) are not installed");
        TestWindow w;
        w.text1().setText(QStringLiteral("line\n").repeated(150) + QStringLiteral("lastline"));
        w.printers.outputFile = m_tmp->filePath(QStringLiteral("range.pdf"));
        w.dialogs.script.enqueue([](CommonDialog &, QPrinter *printer) {
            printer->setPrintRange(QPrinter::PageRange);
            printer->setFromTo(2, 2);
            return true;
        });
        w.trigger("print");
        const QString info = toolOutput(QStringLiteral("pdfinfo"), {w.printers.outputFile});
        static const QRegularExpression pages(QStringLiteral("Pages:\\s+(\\d+)"));
        QVERIFY2(pages.match(info).captured(1).toInt() >= 3, qPrintable(info));
        const QString text = pdfText(w.printers.outputFile);
        QVERIFY2(text.startsWith(QStringLiteral("line")) &&
                     text.contains(QStringLiteral("lastline")),
                 qPrintable(text.left(200)));
    }

    // Page setup opens on the page a new document prints on.
    void pageSetupShowsTheDefaultPage()
    {
        const QLocale before;
        QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China)); // millimetres
        const auto restore = qScopeGuard([before] { QLocale::setDefault(before); });
        TestWindow w;
        QString paper;
        QList<double> margins;
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<QPageSetupDialog *>(QApplication::activeModalWidget());
            if (!box)
                return;
            if (auto *sizes = box->findChild<QComboBox *>(QStringLiteral("pageSizeCombo")))
                paper = sizes->currentText();
            for (const char *name : {"leftMargin", "topMargin", "rightMargin", "bottomMargin"})
                if (auto *spin = box->findChild<QDoubleSpinBox *>(QString::fromLatin1(name)))
                    margins << spin->value();
            box->reject();
        });
        QtDialogHost host;
        QVERIFY(!host.showPageSetup(w.form->openuse, *w.form->printer()));
        QCOMPARE(paper, QStringLiteral("A4"));
        QCOMPARE(margins, (QList<double>{20, 20, 20, 20}));
    }

    // Printing to a file offers the document's name with ".pdf" in its
    // folder, the home folder for a new document; the job carries the name.
    void printToFileOffersTheDocumentsName_data()
    {
        QTest::addColumn<QString>("file"); // in the test's folder; "": a new document
        QTest::addColumn<QString>("offered");
        QTest::addColumn<QString>("jobName");
        QTest::newRow("new document") << "" << QDir::home().filePath("无标题.pdf") << "无标题";
        QTest::newRow("text file") << "报告.txt"
                                   << "报告.pdf"
                                   << "报告.txt";
        QTest::newRow("two dots") << "notes.v2.rtf"
                                  << "notes.v2.pdf"
                                  << "notes.v2.rtf";
        QTest::newRow("no ending") << "README"
                                   << "README.pdf"
                                   << "README";
        // A name that is not UTF-8 gets the name the caption shows.
        QTest::newRow("GBK name") << pathFromLocalBytes("\xb1\xa8\xb8\xe6.txt") << "报告.pdf"
                                  << "报告.txt";
    }
    void printToFileOffersTheDocumentsName()
    {
        QFETCH(QString, file);
        QFETCH(QString, offered);
        QFETCH(QString, jobName);
        QString path;
        const QByteArray folder = QFile::encodeName(m_tmp->path());
        // QTemporaryDir cannot list, so cannot remove, a name that is not UTF-8.
        const auto removeAll = qScopeGuard([&] { removeEntries(folder); });
        if (!file.isEmpty()) {
            path = m_tmp->filePath(file);
            QVERIFY(writeBytesNamed(localBytesOfPath(path), "text"));
            offered = m_tmp->filePath(offered);
        }
        TestWindow w(path);
        w.dialogs.script.enqueue(ScriptedDialogHost::cancel());
        w.trigger("print");
        QCOMPARE(w.dialogs.shown.size(), 1);
        QCOMPARE(w.dialogs.shown[0].fileName, offered);
        QCOMPARE(w.form->printer()->docName(), jobName);
        QCOMPARE(w.form->safeuse.FileName, QStringLiteral("*.stx")); // safeuse keeps its own
    }

    // The real print dialog puts the offer in its file field; a file the
    // user chose for the same document is offered again, not for another.
    void printDialogShowsTheFileOffered()
    {
        const QString report = m_tmp->filePath(QStringLiteral("报告.pdf"));
        const QString other = m_tmp->filePath(QStringLiteral("other.pdf"));
        const QString mine = m_tmp->filePath(QStringLiteral("mine.pdf"));
        QtDialogHost host;
        CommonDialog safeuse(&host);
        QPrinter printer;
        const auto fileShown = [&](const QString &offer) {
            QString seen = QStringLiteral("<no dialog>");
            QTimer::singleShot(0, [&seen] {
                auto *box = qobject_cast<QDialog *>(QApplication::activeModalWidget());
                if (!box)
                    return;
                auto *name = box->findChild<QLineEdit *>(QStringLiteral("filename"));
                seen = name ? name->text() : QStringLiteral("<no file field>");
                box->reject();
            });
            safeuse.ShowPrinter(printer, offer);
            return seen;
        };
        QCOMPARE(fileShown(report), report);
        printer.setOutputFileName(mine); // printed to a file of the user's own
        QCOMPARE(fileShown(report), mine);
        QCOMPARE(fileShown(other), other);
    }

    // Pictures print at their place, fonts and colours with the text.
    void pictureIsPrinted()
    {
        if (!havePoppler())
            QSKIP("poppler-utils (pdftotext, pdfinfo, pdfimages) are not installed");
        const QString picture = m_tmp->filePath(QStringLiteral("p.png"));
        QImage image(48, 20, QImage::Format_RGB32);
        image.fill(Qt::darkGreen);
        QVERIFY(image.save(picture));
        TestWindow w;
        w.text1().setText(QStringLiteral("before after"));
        w.text1().setSelStart(7);
        w.dialogs.script.enqueue(ScriptedDialogHost::choose(picture));
        w.trigger("addpicture");
        w.printers.outputFile = m_tmp->filePath(QStringLiteral("pic.pdf"));
        w.dialogs.script.enqueue(accept());
        w.trigger("print");
        QCOMPARE(pdfPictures(w.printers.outputFile), QList<QSize>{QSize(48, 20)});
        const QString text = pdfText(w.printers.outputFile);
        QVERIFY2(text.contains(QStringLiteral("before")) && text.contains(QStringLiteral("after")),
                 qPrintable(text));
    }

    void failedPrintIsTold_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("message");
        QTest::newRow("printer refuses the job") << "refuse"
                                                 << "打印失败：打印机“HP”拒绝了打印任务。";
        QTest::newRow("file cannot be written") << "unwritable"
                                                << "打印失败：无法写入文件“%1”。";
    }
    void failedPrintIsTold()
    {
        QFETCH(QString, how);
        QFETCH(QString, message);
        TestWindow w;
        w.text1().setText(twoLines);
        if (how == u"refuse") {
            w.printers.failure =
                Error{QStringLiteral("打印失败"), QStringLiteral("打印机“HP”拒绝了打印任务。")};
        } else {
            w.printers.outputFile = m_tmp->filePath(QStringLiteral("no/such/folder/out.pdf"));
            message = message.arg(w.printers.outputFile);
        }
        w.dialogs.script.enqueue(accept());
        w.trigger("print");
        QCOMPARE(w.messages.shown.size(), 1);
        QCOMPARE(w.messages.shown[0].text, message);
        QCOMPARE(w.messages.shown[0].title, QStringLiteral("Inkwell"));
        QCOMPARE(w.messages.shown[0].icon, MessageIcon::Exclamation);
        QCOMPARE(w.text1().Text(), twoLines);
    }

    // With no printer at all Qt falls back to a PDF file it has no name for.
    void noPrinterIsTold()
    {
        QPrinter printer;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString());
        bool rendered = false;
        const std::optional<Error> failure =
            QtPrinterHost().print(printer, [&](QPagedPaintDevice *) { rendered = true; });
        QVERIFY(failure);
        QCOMPARE(failure->what, QStringLiteral("打印失败"));
        QCOMPARE(failure->why, QStringLiteral("没有可用的打印机。"));
        QVERIFY(!rendered);
    }
};

static const bool registered = registerCommandTest<TestPrintCommands>();
#include "tst_printcommands.moc"
