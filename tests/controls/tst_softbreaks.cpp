// A long line held in pieces: the text, positions, edits at the breaks,
// copies, saves and drafts must all see one line.
#include "controls/richtextbox.h"
#include "core/documenttext.h"
#include "document/documentfile.h"
#include "document/documentstate.h"
#include "document/draftjournal.h"
#include "rtf/rtfwriter.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QTest>
#include <QTextBlock>

using namespace Inkwell;

namespace {

QString hexLine(int length)
{
    QString out;
    for (quint32 i = 1; out.size() < length; ++i)
        out += QString::number(i * 2654435761u, 16);
    out.truncate(length);
    return out;
}

// The document positions where pieces begin, as the document holds them.
QList<int> pieceStarts(const QTextDocument &document)
{
    QList<int> out;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        if (continuesLine(block))
            out << block.position();
    return out;
}

int longestBlock(const QTextDocument &document)
{
    int longest = 0;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        longest = std::max(longest, block.length() - 1);
    return longest;
}

// Puts the caret at a document position (the sides of a break are two).
void placeAt(RichTextBox &box, int documentPosition)
{
    QTextCursor cursor = box.textCursor();
    cursor.setPosition(documentPosition);
    box.setTextCursor(cursor);
}

} // namespace

class TestSoftBreaks : public QObject {
    Q_OBJECT
private slots:
    void linesAreHeldInPieces_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("pieces"); // breaks expected, at least
        QTest::addColumn<bool>("atBlanks");
        QTest::newRow("x, 20,000") << QString(20000, u'x') << 4 << false;
        QTest::newRow("hex between short lines")
            << QStringLiteral("first\n") + hexLine(9000) + QStringLiteral("\nlast") << 2 << false;
        QString words;
        while (words.size() < 12000)
            words += QStringLiteral("word%1 ").arg(words.size());
        QTest::newRow("words break at blanks") << words << 2 << true;
        QString astral;
        for (int i = 0; i < 5000; ++i)
            astral += QString::fromUcs4(U"\U00020000");
        astral.prepend(u'a'); // so that a piece of even length would split a pair
        QTest::newRow("astral characters stay whole") << astral << 2 << false;
        QTest::newRow("several long lines")
            << QString(5000, u'a') + u'\n' + QString(5000, u'b') + u'\n' << 2 << false;
        QTest::newRow("one piece is no break") << QString(softPieceChars, u'y') << 0 << false;
    }
    void linesAreHeldInPieces()
    {
        QFETCH(QString, text);
        QFETCH(int, pieces);
        QFETCH(bool, atBlanks);
        RichTextBox box;
        box.setText(text);
        const QTextDocument &document = *box.document();
        QCOMPARE(box.Text(), text);
        QCOMPARE(exportPlainText(document), text);
        QVERIFY(longestBlock(document) <= softPieceChars);
        const QList<int> starts = pieceStarts(document);
        QVERIFY2(starts.size() >= pieces, qPrintable(QString::number(starts.size())));
        if (pieces == 0)
            QVERIFY(starts.isEmpty());
        for (const int start : starts) {
            const QTextBlock block = document.findBlock(start);
            QVERIFY(!block.text().isEmpty());
            QVERIFY(!block.text().front().isLowSurrogate());
            if (atBlanks)
                QCOMPARE(block.previous().text().back(), QChar(u' '));
        }
        // What a new document gets next has nothing of it.
        box.setText(QStringLiteral("short"));
        QVERIFY(pieceStarts(document).isEmpty());
        QVERIFY(!mayHaveSoftBreaks(document));
    }

    // Every position API counts the text's characters; a break is none.
    void positionsAreTheText()
    {
        const QString text = QStringLiteral("head\n") + hexLine(3 * softPieceChars + 100) +
                             QStringLiteral("\ntail line");
        RichTextBox box;
        box.setText(text);
        QVERIFY(!pieceStarts(*box.document()).isEmpty());
        const int lineStart = 5;
        const QList<int> places = {0,
                                   4,
                                   5,
                                   6,
                                   lineStart + softPieceChars - 1,
                                   lineStart + softPieceChars,
                                   lineStart + softPieceChars + 1,
                                   lineStart + 2 * softPieceChars,
                                   int(text.size()) - 3,
                                   int(text.size())};
        for (const int at : places) {
            box.setSelStart(at);
            QCOMPARE(box.SelStart(), at);
            QCOMPARE(box.SelLength(), 0);
            const int length = std::min(7, int(text.size()) - at);
            box.setSelLength(length);
            QCOMPARE(box.SelStart(), at);
            QCOMPARE(box.SelLength(), length);
            QCOMPARE(box.SelText(), text.mid(at, length));
            const int lineIndex = int(text.left(at + length).count(u'\n'));
            const int column = at + length - (int(text.lastIndexOf(u'\n', at + length - 1)) + 1);
            QCOMPARE(box.caretPosition().line, lineIndex + 1);
            QCOMPARE(box.caretPosition().column, column + 1);
        }
        // Past the end is the end, as without pieces.
        box.setSelStart(int(text.size()) + 50);
        QCOMPARE(box.SelStart(), int(text.size()));
        box.setSelStart(0);
        box.setSelLength(int(text.size()) + 50);
        QCOMPARE(box.SelText(), text);
    }

    void findSpansBreaks()
    {
        const QString line = hexLine(2 * softPieceChars + 500);
        RichTextBox box;
        box.setText(line);
        const QList<int> starts = pieceStarts(*box.document());
        QVERIFY(!starts.isEmpty());
        // Text position of the first break: its document position less none before it.
        const int brk = starts.first() - 1;
        const QString needle = line.mid(brk - 3, 8);
        QCOMPARE(box.Find(needle, 0), int(line.indexOf(needle)));
        QCOMPARE(box.SelText(), needle);
        QCOMPARE(box.SelStart(), int(line.indexOf(needle)));
        // Find next goes on from after the match, in text positions.
        const QString tail = line.right(6);
        box.setSelStart(box.SelStart() + box.SelLength());
        QCOMPARE(box.Find(tail, std::nullopt, int(line.size())), int(line.size()) - 6);
    }

    // Keys and edits at a break: the text changes as if it were one line.
    void editsAtBreaks_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<int>("offset"); // from the first break, in text positions
        QTest::newRow("backspace after the break") << "backspace" << 0;
        QTest::newRow("delete before the break") << "delete" << 0;
        QTest::newRow("enter in a piece") << "enter" << 10;
        QTest::newRow("enter at a piece's start") << "enter" << 0;
        QTest::newRow("enter, then delete across the break before it") << "enter-join" << 10;
        QTest::newRow("paste lines into a piece") << "paste" << 5;
        QTest::newRow("delete a selection across the break") << "cut-across" << -3;
        QTest::newRow("typing after the break") << "type" << 0;
    }
    void editsAtBreaks()
    {
        QFETCH(QString, edit);
        QFETCH(int, offset);
        const QString original = hexLine(3 * softPieceChars);
        RichTextBox box;
        box.setText(original);
        const int brkDoc = pieceStarts(*box.document()).first(); // document position after it
        const int brk = brkDoc - 1;                              // text position of the break
        QString expected = original;
        const int at = brk + offset;
        if (edit == u"backspace") {
            placeAt(box, brkDoc); // the start of the second piece
            QTest::keyClick(&box, Qt::Key_Backspace);
            expected.remove(brk - 1, 1);
        } else if (edit == u"delete") {
            placeAt(box, brkDoc - 1); // the end of the first piece
            QTest::keyClick(&box, Qt::Key_Delete);
            expected.remove(brk, 1);
        } else if (edit == u"enter") {
            box.setSelStart(at);
            if (offset == 0)
                placeAt(box, brkDoc);
            QTest::keyClick(&box, Qt::Key_Return);
            expected.insert(at, u'\n');
        } else if (edit == u"enter-join") {
            box.setSelStart(at);
            QTest::keyClick(&box, Qt::Key_Return);
            // From the end of the first piece to the line break just typed.
            QTextCursor cursor = box.textCursor();
            cursor.setPosition(brkDoc - 1);
            cursor.setPosition(box.textCursor().position() - 1, QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
            expected = original.left(brk) + u'\n' + original.mid(at);
        } else if (edit == u"paste") {
            box.setSelStart(at);
            box.setSelText(QStringLiteral("one\ntwo\nthree"));
            expected.insert(at, QStringLiteral("one\ntwo\nthree"));
        } else if (edit == u"cut-across") {
            box.setSelStart(at);
            box.setSelLength(6);
            box.setSelText(QString());
            expected.remove(at, 6);
        } else if (edit == u"type") {
            placeAt(box, brkDoc);
            QTest::keyClicks(&box, QStringLiteral("zz"));
            expected.insert(brk, QStringLiteral("zz"));
        }
        QCOMPARE(box.Text(), expected);
        QCOMPARE(exportPlainText(*box.document()), expected);
        // What follows the edit is still one line with what precedes it.
        QCOMPARE(box.Text().count(u'\n'), expected.count(u'\n'));
        // Undo brings the line back whole, redo the edit.
        while (box.document()->isUndoAvailable())
            box.undo();
        QCOMPARE(box.Text(), original);
        while (box.document()->isRedoAvailable())
            box.redo();
        QCOMPARE(box.Text(), expected);
    }

    void arrowsStepOverBreaks()
    {
        const QString line = hexLine(2 * softPieceChars);
        RichTextBox box;
        box.setText(line);
        const int brk = pieceStarts(*box.document()).first() - 1;
        box.setSelStart(brk - 2);
        for (int step = 1; step <= 4; ++step) {
            QTest::keyClick(&box, Qt::Key_Right);
            QCOMPARE(box.SelStart(), brk - 2 + step);
        }
        for (int step = 1; step <= 4; ++step) {
            QTest::keyClick(&box, Qt::Key_Left);
            QCOMPARE(box.SelStart(), brk + 2 - step);
        }
        QTest::keyClick(&box, Qt::Key_Right, Qt::ShiftModifier);
        QTest::keyClick(&box, Qt::Key_Right, Qt::ShiftModifier);
        QTest::keyClick(&box, Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(box.SelText(), line.mid(brk - 2, 3));
    }

    void copyLeavesBreaksOut()
    {
        const QString line = hexLine(2 * softPieceChars);
        RichTextBox box;
        box.setText(line);
        const int brk = pieceStarts(*box.document()).first() - 1;
        box.setSelStart(brk - 5);
        box.setSelLength(10);
        QGuiApplication::clipboard()->clear();
        box.copy(); // the view's own copy, as the context menu and a drag use
        QCOMPARE(QGuiApplication::clipboard()->text(), line.mid(brk - 5, 10));
    }

    void savesWriteOneLine_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("text") << int(FileFormat::PlainText);
        QTest::newRow("rtf") << int(FileFormat::Rtf);
    }
    void savesWriteOneLine()
    {
        QFETCH(int, format);
        const QString text =
            QStringLiteral("a\n") + hexLine(3 * softPieceChars) + QStringLiteral("\nz");
        RichTextBox box;
        box.setText(text);
        QVERIFY(!pieceStarts(*box.document()).isEmpty());
        const Serialized saved =
            serialize(*box.document(), TextEncoding::forNewDocument(), FileFormat(format));
        if (FileFormat(format) == FileFormat::PlainText) {
            QCOMPARE(saved.bytes, text.toLatin1());
            return;
        }
        QCOMPARE(saved.bytes.count("\\par\n"), 3); // one a line, the last one included
        QTextDocument read;
        parseRtf(saved.bytes, read);
        QCOMPARE(plainTextOf(read), text);
    }

    // A draft of a line in pieces recovers the one line, in the same pieces
    // (edits recorded after the snapshot name positions in them), and as
    // RTF one line, in pieces again once the document is in the fast view.
    void draftsKeepOneLine()
    {
        const QString text =
            QStringLiteral("x\n") + hexLine(3 * softPieceChars) + QStringLiteral("\ny");
        RichTextBox box;
        box.setText(text);
        PlainSnapshotWriter writer(*box.document(), 936);
        while (!writer.writeSome(QDeadlineTimer(0))) {
        }
        QVERIFY(writer.lossless());
        DocumentState model;
        model.adoptPlainText(*plainTextOfBase(writer.take()), {});
        QCOMPARE(pieceStarts(*model.document()), QList<int>());
        PlainSnapshotWriter again(*box.document(), 936);
        again.writeSome(QDeadlineTimer(QDeadlineTimer::Forever));
        const DraftBase base = again.take();
        model.adoptPlainText(*plainTextOfBase(base), base.softBreaks);
        const QTextDocument *copy = model.document();
        QCOMPARE(plainTextOf(*copy), text);
        QCOMPARE(pieceStarts(*copy), pieceStarts(*box.document()));
        QCOMPARE(copy->characterCount(), box.document()->characterCount());
        const QByteArray rtf = Rtf::write(*box.document(), 936);

        QTextDocument read;
        read.setDefaultFont(box.document()->defaultFont());
        parseRtf(rtf, read);
        QVERIFY(longestBlock(read) > softPieceChars);
        QVERIFY(breakLongParagraphs(read));
        QVERIFY(longestBlock(read) <= softPieceChars);
        QCOMPARE(plainTextOf(read), text);
        QCOMPARE(Rtf::write(read, 936), rtf);
        QVERIFY(!needsRichView(read));
    }
};

QTEST_MAIN(TestSoftBreaks)
#include "tst_softbreaks.moc"
