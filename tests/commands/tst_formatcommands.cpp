#include "commands/commandtests.h"

#include <QTemporaryDir>

using namespace Inkwell;
using namespace Inkwell::Testing;

namespace {

QTextCharFormat formatAt(RichTextBox &text, int position)
{
    QTextCursor c(text.document());
    c.setPosition(position + 1);
    return c.charFormat();
}

struct FontChoice {
    QString name;
    float size;
    bool bold, italic, underline, strikethru;
    quint32 color; // 0x00BBGGRR
};

ScriptedDialogHost::Answer chooseFont(const FontChoice &choice)
{
    return [choice](CommonDialog &d, QPrinter *) {
        d.FontName = choice.name;
        d.FontSize = choice.size;
        d.FontBold = choice.bold;
        d.FontItalic = choice.italic;
        d.FontUnderline = choice.underline;
        d.FontStrikethru = choice.strikethru;
        d.Color = choice.color;
        return true;
    };
}

ScriptedDialogHost::Answer chooseColor(quint32 color)
{
    return [color](CommonDialog &d, QPrinter *) {
        d.Color = color;
        return true;
    };
}

// What the dialog showed when it opened.
struct Seen {
    QString name;
    float size = 0;
    bool bold = true;
    quint32 color = 0;
    int flags = -1;
};

ScriptedDialogHost::Answer record(Seen *seen, ScriptedDialogHost::Answer then)
{
    return [seen, then](CommonDialog &d, QPrinter *p) {
        *seen = {d.FontName, d.FontSize, d.FontBold, d.Color, d.Flags};
        return then(d, p);
    };
}

} // namespace

Q_DECLARE_METATYPE(FontChoice)

class TestFormatCommands : public QObject {
    Q_OBJECT
private slots:
    void firstFontDialogStartsFromDesignValues()
    {
        TestWindow w;
        w.text1().setText(QStringLiteral("abc"));
        select(w.text1(), 0, 3);
        w.text1().setSelFontSize(30); // the selection's format is not offered
        Seen seen;
        w.dialogs.script.enqueue(record(&seen, ScriptedDialogHost::cancel()));
        w.trigger("font");
        QCOMPARE(seen.name, QStringLiteral("宋体"));
        QCOMPARE(seen.size, 9.0f);
        QCOMPARE(seen.bold, false);
        QCOMPARE(seen.color, 0xE0E0E0u);
        QCOMPARE(seen.flags, 259);
        QCOMPARE(w.dialogs.shown[0].kind, ScriptedDialogHost::Shown::Font);
        QCOMPARE(w.dialogs.shown[0].dialog, &w.form->openuse);
    }

    void fontGoesToTheSelection_data()
    {
        QTest::addColumn<FontChoice>("choice");
        QTest::addColumn<QColor>("shown");
        QTest::newRow("bold red 20")
            << FontChoice{"DejaVu Sans", 20, true, false, false, false, 0x0000FF}
            << QColor(255, 0, 0);
        QTest::newRow("italic underlined blue 7.5")
            << FontChoice{"DejaVu Serif", 7.5f, false, true, true, false, 0xFF0000}
            << QColor(0, 0, 255);
        QTest::newRow("struck through, green-ish")
            << FontChoice{"宋体", 12, false, false, false, true, 0x00804020}
            << QColor(0x20, 0x40, 0x80);
        QTest::newRow("everything")
            << FontChoice{"DejaVu Sans Mono", 33, true, true, true, true, 0x123456}
            << QColor(0x56, 0x34, 0x12);
    }
    void fontGoesToTheSelection()
    {
        QFETCH(FontChoice, choice);
        QFETCH(QColor, shown);
        TestWindow w;
        w.text1().setText(QStringLiteral("one two three"));
        const QTextCharFormat before = formatAt(w.text1(), 0);
        select(w.text1(), 4, 7);
        w.dialogs.script.enqueue(chooseFont(choice));
        w.trigger("font");
        for (int i = 4; i < 7; ++i) {
            const QTextCharFormat f = formatAt(w.text1(), i);
            QCOMPARE(f.fontFamilies().toStringList().value(0), choice.name);
            QCOMPARE(f.fontPointSize(), double(choice.size));
            QCOMPARE(f.fontWeight() >= QFont::Bold, choice.bold);
            QCOMPARE(f.fontItalic(), choice.italic);
            QCOMPARE(f.fontUnderline(), choice.underline);
            QCOMPARE(f.fontStrikeOut(), choice.strikethru);
            QCOMPARE(f.foreground().color(), shown);
        }
        // Outside the selection nothing changes.
        for (int i : {0, 3, 7, 12})
            QCOMPARE(formatAt(w.text1(), i), before);
        QCOMPARE(w.text1().Text(), QStringLiteral("one two three"));
    }

    // Without a selection the choice is for the text typed next.
    void fontWithoutSelectionAppliesToTyping()
    {
        TestWindow w;
        w.text1().setText(QStringLiteral("old"));
        w.text1().moveCursor(QTextCursor::End);
        w.dialogs.script.enqueue(chooseFont({"DejaVu Sans", 20, false, false, false, false, 0}));
        w.trigger("font");
        w.type(QStringLiteral("new"));
        QCOMPARE(formatAt(w.text1(), 4).fontPointSize(), 20.0);
        QVERIFY(formatAt(w.text1(), 1).fontPointSize() != 20.0);
    }

    void fontCancelledChangesNothing()
    {
        TestWindow w;
        w.text1().setText(QStringLiteral("abc"));
        const QTextCharFormat before = formatAt(w.text1(), 1);
        select(w.text1(), 0, 3);
        w.dialogs.script.enqueue([](CommonDialog &d, QPrinter *) {
            d.FontSize = 50; // what the user tried before pressing Cancel
            return false;
        });
        w.trigger("font");
        QCOMPARE(formatAt(w.text1(), 1), before);
    }

    // The dialogs start from the last choice, and share one colour.
    void dialogsRememberTheLastChoice()
    {
        TestWindow w;
        w.text1().setText(QStringLiteral("abc"));
        w.dialogs.script.enqueue(
            chooseFont({"DejaVu Serif", 14, true, false, false, false, 0x0000FF}));
        w.trigger("font");
        Seen colorSeen;
        w.dialogs.script.enqueue(record(&colorSeen, chooseColor(0x00FF00)));
        w.trigger("color");
        QCOMPARE(colorSeen.color, 0x0000FFu);
        QCOMPARE(colorSeen.flags, 3);
        QCOMPARE(w.dialogs.shown[1].kind, ScriptedDialogHost::Shown::Color);
        QCOMPARE(w.dialogs.shown[1].dialog, &w.form->openuse);
        Seen fontSeen;
        w.dialogs.script.enqueue(record(&fontSeen, ScriptedDialogHost::cancel()));
        w.trigger("font");
        QCOMPARE(fontSeen.name, QStringLiteral("DejaVu Serif"));
        QCOMPARE(fontSeen.size, 14.0f);
        QCOMPARE(fontSeen.bold, true);
        QCOMPARE(fontSeen.color, 0x00FF00u);
        QCOMPARE(fontSeen.flags, 259);
    }

    void color_data()
    {
        QTest::addColumn<quint32>("bgr");
        QTest::addColumn<QColor>("shown");
        QTest::newRow("red") << quint32(0x0000FF) << QColor(255, 0, 0);
        QTest::newRow("blue") << quint32(0xFF0000) << QColor(0, 0, 255);
        QTest::newRow("mixed") << quint32(0x00332211) << QColor(0x11, 0x22, 0x33);
        QTest::newRow("black") << quint32(0) << QColor(0, 0, 0);
    }
    void color()
    {
        QFETCH(quint32, bgr);
        QFETCH(QColor, shown);
        TestWindow w;
        w.text1().setText(QStringLiteral("abcd"));
        select(w.text1(), 1, 3);
        w.dialogs.script.enqueue(chooseColor(bgr));
        w.trigger("color");
        QCOMPARE(formatAt(w.text1(), 1).foreground().color(), shown);
        QCOMPARE(formatAt(w.text1(), 2).foreground().color(), shown);
        QVERIFY(formatAt(w.text1(), 0).foreground().color() != shown || bgr == 0);
        QCOMPARE(w.form->openuse.Color, bgr);
    }

    void colorCancelledKeepsColours()
    {
        TestWindow w;
        w.text1().setText(QStringLiteral("abcd"));
        select(w.text1(), 0, 4);
        w.dialogs.script.enqueue(chooseColor(0x0000FF));
        w.trigger("color");
        w.dialogs.script.enqueue(ScriptedDialogHost::cancel());
        w.trigger("color");
        QCOMPARE(formatAt(w.text1(), 2).foreground().color(), QColor(255, 0, 0));
        QCOMPARE(w.form->openuse.Color, 0x0000FFu);
        QCOMPARE(w.dialogs.shown.size(), 2);
    }

    // Formatting alone does not make the document count as changed: closing
    // asks nothing.
    void formattingIsNoChange()
    {
        QTemporaryDir tmp;
        const QString file = tmp.filePath(QStringLiteral("a.txt"));
        QVERIFY(writeBytes(file, "some text"));
        TestWindow w(file);
        select(w.text1(), 0, 4);
        w.dialogs.script.enqueue(chooseFont({"DejaVu Sans", 20, true, true, true, true, 0xFF}));
        w.trigger("font");
        w.dialogs.script.enqueue(chooseColor(0xFF0000));
        w.trigger("color");
        QVERIFY(formatAt(w.text1(), 1).fontWeight() >= QFont::Bold);
        QVERIFY(!w.form->document().DocumentChanged());
        QVERIFY(w.close());
        QVERIFY(w.messages.shown.isEmpty());
    }
};

static const bool registered = registerCommandTest<TestFormatCommands>();
#include "tst_formatcommands.moc"
