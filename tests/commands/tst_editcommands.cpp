#include "commands/commandtests.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QTextBlock>

using namespace Inkwell;
using namespace Inkwell::Testing;

namespace {

QClipboard &systemClipboard()
{
    return *QGuiApplication::clipboard();
}

void putText(const QString &text)
{
    systemClipboard().setText(text);
}

void putImageOnly(const QImage &image)
{
    auto *data = new QMimeData;
    data->setImageData(image);
    systemClipboard().setMimeData(data);
}

QImage redSquare(int side)
{
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(Qt::red);
    return image;
}

QTextCharFormat formatAt(RichTextBox &text, int position)
{
    QTextCursor c(text.document());
    c.setPosition(position + 1);
    return c.charFormat();
}

} // namespace

class TestEditCommands : public QObject {
    Q_OBJECT
private slots:
    // Guards the set-up that runs these tests once per view.
    void runsInTheRequestedView()
    {
        TestWindow w;
        const bool rich = qEnvironmentVariable("INKWELL_TEST_VIEW") == QLatin1String("rich");
        QCOMPARE(w.text1().view() == RichTextBox::View::Rich, rich);
        QCOMPARE(w.text1().activeView()->inherits("QTextEdit"), rich);
    }

    void init() { systemClipboard().clear(); }

    // Every character survives a trip through the clipboard, those the
    // Chinese code page has no form for included.
    void copyAndPasteKeepEveryCharacter_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::newRow("ascii") << "hello world" << 6 << 11;
        QTest::newRow("chinese") << "第一行中文" << 2 << 5;
        QTest::newRow("outside GBK: accents, emoji, arrows") << "xé😀→ß✓y" << 1 << 7;
        QTest::newRow("across a line break") << "ab\ncd" << 1 << 4;
    }
    void copyAndPasteKeepEveryCharacter()
    {
        QFETCH(QString, text);
        QFETCH(int, from);
        QFETCH(int, to);
        TestWindow w;
        QVERIFY(showWithEditorFocused(w));
        w.text1().setText(text);
        select(w.text1(), from, to);
        const QString picked = text.mid(from, to - from);
        QTest::keyClick(&w.text1(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(systemClipboard().text(), picked);
        QCOMPARE(w.text1().Text(), text); // copy leaves the document alone
        w.text1().moveCursor(QTextCursor::End);
        QTest::keyClick(&w.text1(), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(w.text1().Text(), text + picked);
        QCOMPARE(w.text1().SelStart(), int(text.size() + picked.size()));
        QVERIFY(w.messages.shown.isEmpty());
    }

    void cutRemovesAndPasteBringsBack_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<QString>("left");
        QTest::newRow("middle word") << "one two three" << 4 << 8 << "one three";
        QTest::newRow("backwards selection") << "one two three" << 8 << 4 << "one three";
        QTest::newRow("emoji pair") << "a😀b" << 1 << 3 << "ab";
        QTest::newRow("whole text") << "全部" << 0 << 2 << "";
    }
    void cutRemovesAndPasteBringsBack()
    {
        QFETCH(QString, text);
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(QString, left);
        TestWindow w;
        QVERIFY(showWithEditorFocused(w));
        w.text1().setText(text);
        select(w.text1(), from, to);
        const int start = std::min(from, to);
        const QString picked = text.mid(start, std::abs(to - from));
        QTest::keyClick(&w.text1(), Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(w.text1().Text(), left);
        QCOMPARE(w.text1().SelStart(), start);
        QCOMPARE(w.text1().SelLength(), 0);
        QCOMPARE(systemClipboard().text(), picked);
        QTest::keyClick(&w.text1(), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(w.text1().Text(), text);
        // Cutting is an edit: the window counts the document as changed.
        QVERIFY(w.form->document().DocumentChanged() == (left != text));
    }

    // The menu's keys run the menu's commands, not the editor's built-in
    // ones: each key must reach the clipboard service.
    void keysRunTheMenuCommands_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("writes");
        QTest::addColumn<int>("reads");
        QTest::addColumn<int>("selLength");
        QTest::newRow("Ctrl+C copy") << int(Qt::Key_C) << 1 << 0 << 2;
        QTest::newRow("Ctrl+X cut") << int(Qt::Key_X) << 1 << 0 << 0;
        QTest::newRow("Ctrl+V paste") << int(Qt::Key_V) << 0 << 1 << 0;
        QTest::newRow("Ctrl+A select all") << int(Qt::Key_A) << 0 << 0 << 6;
    }
    void keysRunTheMenuCommands()
    {
        QFETCH(int, key);
        QFETCH(int, writes);
        QFETCH(int, reads);
        QFETCH(int, selLength);
        TestWindow w;
        QVERIFY(showWithEditorFocused(w));
        putText(QStringLiteral("clip"));
        w.text1().setText(QStringLiteral("abcdef"));
        select(w.text1(), 1, 3);
        QTest::keyClick(&w.text1(), Qt::Key(key), Qt::ControlModifier);
        QCOMPARE(w.clipboard.writes, writes);
        QCOMPARE(w.clipboard.reads, reads);
        QCOMPARE(w.text1().SelLength(), selLength);
    }

    void menuItemsAreEnabled_data()
    {
        QTest::addColumn<QString>("name");
        for (const char *name : {"undo", "cut", "copy", "paste", "find", "findon", "SelectAll",
                                 "date", "font", "color", "addpicture", "printsetup", "print"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void menuItemsAreEnabled()
    {
        QFETCH(QString, name);
        TestWindow w;
        QVERIFY(w.form->action(name)->isEnabled());
    }

    void copyOrCutWithNothingSelectedEmptiesClipboard_data()
    {
        QTest::addColumn<QString>("item");
        QTest::newRow("copy") << "copy";
        QTest::newRow("cut") << "cut";
    }
    void copyOrCutWithNothingSelectedEmptiesClipboard()
    {
        QFETCH(QString, item);
        TestWindow w;
        putText(QStringLiteral("held before"));
        w.text1().setText(QStringLiteral("abc"));
        w.text1().setSelStart(1);
        w.trigger(item.toLatin1().constData());
        QCOMPARE(systemClipboard().text(), QString());
        QCOMPARE(w.text1().Text(), QStringLiteral("abc"));
        QCOMPARE(w.text1().SelStart(), 1);
    }

    // A clipboard held by another program: the text stays in the document
    // and the user is told.
    void clipboardRefusesText_data()
    {
        QTest::addColumn<QString>("item");
        QTest::newRow("copy") << "copy";
        QTest::newRow("cut") << "cut";
    }
    void clipboardRefusesText()
    {
        QFETCH(QString, item);
        TestWindow w;
        putText(QStringLiteral("held before"));
        w.clipboard.refuseWrites = true;
        w.text1().setText(QStringLiteral("keep this"));
        select(w.text1(), 5, 9);
        w.trigger(item.toLatin1().constData());
        QCOMPARE(w.text1().Text(), QStringLiteral("keep this"));
        QCOMPARE(w.text1().SelStart(), 5);
        QCOMPARE(w.text1().SelLength(), 4);
        QCOMPARE(w.messages.shown.size(), 1);
        QCOMPARE(w.messages.shown[0].kind, ShownMessage::Inform);
        QCOMPARE(w.messages.shown[0].text, QStringLiteral("无法访问剪贴板。"));
        QCOMPARE(w.messages.shown[0].title, QStringLiteral("Inkwell"));
        QCOMPARE(w.messages.shown[0].icon, MessageIcon::Exclamation);
        QCOMPARE(systemClipboard().text(), QStringLiteral("held before"));
    }

    // No text on the clipboard: the selection the user meant to replace stays.
    void pasteWithoutTextChangesNothing_data()
    {
        QTest::addColumn<QString>("clipboard");
        QTest::newRow("empty") << "empty";
        QTest::newRow("empty text") << "empty text";
        QTest::newRow("picture only") << "picture";
    }
    void pasteWithoutTextChangesNothing()
    {
        QFETCH(QString, clipboard);
        TestWindow w;
        if (clipboard == u"empty text")
            putText(QString());
        else if (clipboard == u"picture")
            putImageOnly(redSquare(8));
        w.text1().setText(QStringLiteral("abcd"));
        select(w.text1(), 1, 3);
        w.trigger("paste");
        QCOMPARE(w.text1().Text(), QStringLiteral("abcd"));
        QCOMPARE(w.text1().SelStart(), 1);
        QCOMPARE(w.text1().SelLength(), 2);
        QVERIFY(!w.form->document().DocumentChanged());
    }

    // Formatting never travels: the pasted text takes the format at the caret,
    // even when the clipboard also offers it as rich text.
    void pasteTakesTheCaretsFormat()
    {
        TestWindow w;
        w.text1().setText(QStringLiteral("plain "));
        auto *data = new QMimeData;
        data->setHtml(QStringLiteral("<b><i>rich</i></b>"));
        data->setText(QStringLiteral("rich"));
        systemClipboard().setMimeData(data);
        w.text1().moveCursor(QTextCursor::End);
        w.trigger("paste");
        QCOMPARE(w.text1().Text(), QStringLiteral("plain rich"));
        const QTextCharFormat pasted = formatAt(w.text1(), 7);
        QCOMPARE(pasted.fontWeight(), formatAt(w.text1(), 1).fontWeight());
        QVERIFY(!pasted.fontItalic());
    }

    // Another program's picture still comes in with Ctrl+V, through the
    // control's own paste; the menu's paste takes only text.
    void pictureFromAnotherProgramByKey()
    {
        TestWindow w;
        QVERIFY(showWithEditorFocused(w));
        w.text1().setText(QStringLiteral("ab"));
        w.text1().setSelStart(1);
        putImageOnly(redSquare(12));
        QTest::keyClick(&w.text1(), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(picturePositions(w.text1()), QList<int>{1});
        QCOMPARE(w.text1().Text().size(), 3);
        const QTextImageFormat image = formatAt(w.text1(), 1).toImageFormat();
        QVERIFY(image.isValid());
        QCOMPARE(image.width(), 12.0);
        QCOMPARE(image.height(), 12.0);
        QCOMPARE(w.text1().SelStart(), 2);
        QCOMPARE(w.clipboard.reads, 0);
    }

    void undoIsTheEditorsOwn_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::newRow("typing") << "typing";
        QTest::newRow("cut") << "cut";
        QTest::newRow("paste") << "paste";
        QTest::newRow("date") << "date";
    }
    void undoIsTheEditorsOwn()
    {
        QFETCH(QString, edit);
        // The same edit in two windows; one undone from the menu, the other by
        // Ctrl+Z in the editor: both end the same, and differ from the edited text.
        QString results[2];
        QString edited;
        for (int round = 0; round < 2; ++round) {
            TestWindow w;
            QVERIFY(showWithEditorFocused(w));
            QTest::keyClicks(&w.text1(), QStringLiteral("one two"));
            w.text1().setSelStart(99);
            QTest::keyClicks(&w.text1(), QStringLiteral(" three"));
            select(w.text1(), 0, 4);
            putText(QStringLiteral("PASTED "));
            if (edit == u"typing")
                QTest::keyClicks(&w.text1(), QStringLiteral("zz"));
            else
                w.trigger(edit.toLatin1().constData());
            edited = w.text1().Text();
            if (round == 0)
                w.trigger("undo");
            else
                QTest::keyClick(&w.text1(), Qt::Key_Z, Qt::ControlModifier);
            results[round] = w.text1().Text();
        }
        QCOMPARE(results[0], results[1]);
        QVERIFY2(results[0] != edited, qPrintable(edited));
    }

    void SelectAll_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("caret");
        QTest::newRow("empty document") << "" << 0;
        QTest::newRow("one line") << "abc" << 1;
        QTest::newRow("line breaks count") << "a\nbb\n\nccc\n" << 4;
        QTest::newRow("emoji counts two") << "😀中" << 2;
    }
    void SelectAll()
    {
        QFETCH(QString, text);
        QFETCH(int, caret);
        TestWindow w;
        w.text1().setText(text);
        w.text1().setSelStart(caret);
        w.trigger("SelectAll");
        QCOMPARE(w.text1().SelStart(), 0);
        QCOMPARE(w.text1().SelLength(), int(text.size()));
        QCOMPARE(w.text1().SelText(), text);
    }
};

static const bool registered = registerCommandTest<TestEditCommands>();
#include "tst_editcommands.moc"
