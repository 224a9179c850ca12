#include "commands/commandtests.h"

using namespace Inkwell;
using namespace Inkwell::Testing;

namespace {
const QString prompt = QStringLiteral("请输入要查找的段落：");
const QString promptTitle = QStringLiteral("查找内容");
} // namespace

class TestFindCommands : public QObject {
    Q_OBJECT
private slots:
    void find_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("anchor");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("entered");
        QTest::addColumn<int>("selStart");
        QTest::addColumn<int>("selLength");
        QTest::newRow("ignores case") << "xx ABC abc" << 0 << 0 << "abc" << 3 << 3;
        QTest::newRow("inside a word") << "the cabin" << 0 << 0 << "ab" << 5 << 2;
        QTest::newRow("whole text wherever the caret is") << "ab ab ab" << 7 << 7 << "ab" << 0 << 2;
        QTest::newRow("only inside the selection") << "ab ab ab" << 2 << 8 << "AB" << 3 << 2;
        QTest::newRow("selected match found again") << "ab ab ab" << 3 << 5 << "ab" << 3 << 2;
        QTest::newRow("not in the selection: selection stays")
            << "ab xy ab" << 2 << 6 << "ab" << 2 << 4;
        QTest::newRow("not found: caret stays") << "abc" << 2 << 2 << "zz" << 2 << 0;
        QTest::newRow("chinese across lines") << "第一行\n第二行" << 0 << 0 << "行\n第二" << 2 << 4;
        QTest::newRow("cancelled: nothing searched") << "abc" << 1 << 1 << "" << 1 << 0;
    }
    void find()
    {
        QFETCH(QString, text);
        QFETCH(int, anchor);
        QFETCH(int, position);
        QFETCH(QString, entered);
        QFETCH(int, selStart);
        QFETCH(int, selLength);
        TestWindow w;
        w.text1().setText(text);
        select(w.text1(), anchor, position);
        w.messages.inputs.enqueue(entered);
        w.trigger("find");
        QCOMPARE(w.text1().SelStart(), selStart);
        QCOMPARE(w.text1().SelLength(), selLength);
        QCOMPARE(w.form->SearchText, entered);
        QCOMPARE(w.messages.shown.size(), 1); // the prompt only, never "not found"
        QCOMPARE(w.messages.shown[0].kind, ShownMessage::Input);
    }

    // The prompt offers the text last entered; a cancel empties it.
    void promptRemembersLastText()
    {
        TestWindow w;
        w.text1().setText(QStringLiteral("abc"));
        w.messages.inputs << QStringLiteral("bc") << QString() << QStringLiteral("a");
        QStringList defaults;
        for (int i = 0; i < 3; ++i) {
            w.trigger("find");
            defaults << w.messages.lastInputDefault;
            w.text1().setSelStart(0);
        }
        QCOMPARE(defaults, (QStringList{QString(), QStringLiteral("bc"), QString()}));
        QCOMPARE(w.messages.shown[0].text, prompt);
        QCOMPARE(w.messages.shown[0].title, promptTitle);
    }

    void findon_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("anchor");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("search");
        QTest::addColumn<int>("selStart");
        QTest::addColumn<int>("selLength");
        QTest::newRow("abab: the next ab right after") << "abab" << 0 << 2 << "ab" << 2 << 2;
        QTest::newRow("aXa: the a after X") << "aXa" << 0 << 1 << "a" << 2 << 1;
        QTest::newRow("caret at 0: a match at 0") << "abc" << 0 << 0 << "AB" << 0 << 2;
        QTest::newRow("backwards selection counts its end") << "ab ab" << 2 << 0 << "ab" << 3 << 2;
        QTest::newRow("after the last: caret at the match's end")
            << "ab ab x" << 3 << 5 << "ab" << 5 << 0;
        QTest::newRow("no wrap to the start") << "ab cd" << 3 << 3 << "ab" << 3 << 0;
        QTest::newRow("empty search: caret to the selection's end")
            << "abcd" << 1 << 3 << "" << 3 << 0;
        QTest::newRow("match ending at the document's end") << "xxab" << 1 << 1 << "ab" << 2 << 2;
    }
    void findon()
    {
        QFETCH(QString, text);
        QFETCH(int, anchor);
        QFETCH(int, position);
        QFETCH(QString, search);
        QFETCH(int, selStart);
        QFETCH(int, selLength);
        TestWindow w;
        w.text1().setText(text);
        w.form->SearchText = search;
        select(w.text1(), anchor, position);
        w.trigger("findon");
        QCOMPARE(w.text1().SelStart(), selStart);
        QCOMPARE(w.text1().SelLength(), selLength);
        QVERIFY(w.messages.shown.isEmpty());
        QCOMPARE(w.form->SearchText, search);
    }

    // Ctrl+F then F3 again and again walks through every occurrence, as a
    // user would, and stops at the last one.
    void keysWalkThroughOccurrences()
    {
        TestWindow w;
        QVERIFY(showWithEditorFocused(w));
        w.text1().setText(QStringLiteral("Ab\nxab abAB"));
        w.messages.inputs.enqueue(QStringLiteral("ab"));
        QTest::keyClick(&w.text1(), Qt::Key_F, Qt::ControlModifier);
        QList<int> found{w.text1().SelStart()};
        for (int i = 0; i < 4; ++i) {
            QTest::keyClick(&w.text1(), Qt::Key_F3);
            found << (w.text1().SelLength() ? w.text1().SelStart() : -1);
        }
        QCOMPARE(found, (QList<int>{0, 4, 7, 9, -1}));
        QCOMPARE(w.text1().SelStart(), 11);
        QCOMPARE(w.messages.shown.size(), 1);
    }

    // SearchText belongs to the window, not to the document.
    void searchTextOutlivesNew()
    {
        TestWindow w;
        w.text1().setText(QStringLiteral("abc"));
        w.messages.inputs.enqueue(QStringLiteral("b"));
        w.trigger("find");
        w.messages.answers.enqueue(MessageAnswer::No); // the typed text is not saved
        w.trigger("new");
        QCOMPARE(w.text1().Text(), QString());
        w.text1().setText(QStringLiteral("bb"));
        w.trigger("findon");
        QCOMPARE(w.text1().SelStart(), 0);
        QCOMPARE(w.text1().SelLength(), 1);
    }
};

static const bool registered = registerCommandTest<TestFindCommands>();
#include "tst_findcommands.moc"
