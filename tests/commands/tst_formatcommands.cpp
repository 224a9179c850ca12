#include "commands/commandtests.h"

#include "controls/chinesefonts.h"
#include "controls/fontcolordialog.h"
#include "controls/qtdialoghost.h"

#include <QApplication>
#include <QColorDialog>
#include <QListWidget>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimer>

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
    bool italic = true;
    bool underline = true;
    int mixed = -1;
};

ScriptedDialogHost::Answer record(Seen *seen, ScriptedDialogHost::Answer then)
{
    return [seen, then](CommonDialog &d, QPrinter *p) {
        *seen = {d.FontName, d.FontSize,   d.FontBold,      d.Color,
                 d.Flags,    d.FontItalic, d.FontUnderline, d.MixedValues};
        return then(d, p);
    };
}

// A user who changes only some of the font dialog's values and leaves the
// rest as shown; picking a value for a blank field clears its mixed bit.
ScriptedDialogHost::Answer change(std::function<void(CommonDialog &)> edit)
{
    return [edit](CommonDialog &d, QPrinter *) {
        edit(d);
        return true;
    };
}

// The resolved look of one character: what the user sees.
struct Look {
    QString family;
    double size;
    bool bold, underline;
    QColor colour; // invalid: automatic
    bool operator==(const Look &o) const
    {
        return family == o.family && size == o.size && bold == o.bold && underline == o.underline &&
               colour == o.colour;
    }
};

quint32 toBgr(const QColor &c)
{
    return quint32(c.red()) | (quint32(c.green()) << 8) | (quint32(c.blue()) << 16);
}

// Answers the next dialog with the real one, as a user who presses Enter at
// once; `shown` gets the colour it showed.
ScriptedDialogHost::Answer pressEnter(ScriptedDialogHost::Shown::Kind kind, QColor *shown)
{
    return [kind, shown](CommonDialog &d, QPrinter *) {
        QTimer::singleShot(0, [shown] {
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal)
                return;
            if (auto *colours = qobject_cast<QColorDialog *>(modal))
                *shown = colours->currentColor();
            else if (auto *font = qobject_cast<FontColorDialog *>(modal))
                *shown = font->currentColor();
            QWidget *focus = QApplication::focusWidget();
            QTest::keyClick(focus && modal->isAncestorOf(focus) ? focus : modal, Qt::Key_Return);
            if (modal->isVisible()) // Enter did not close it: end the test's wait
                qobject_cast<QDialog *>(modal)->reject();
        });
        QtDialogHost host;
        return kind == ScriptedDialogHost::Shown::Color ? host.showColor(d) : host.showFont(d);
    };
}

// A skin as the shipped dark one colours the views' text.
const char *const darkSkin = "QPlainTextEdit, QTextEdit { color: #e4e7ee; "
                             "background-color: #12141a; }";

Look lookAt(RichTextBox &text, int position)
{
    const QTextCharFormat f = formatAt(text, position);
    const QFont font = f.font().resolve(text.document()->defaultFont());
    return {font.families().value(0), font.pointSizeF(), font.bold(), font.underline(),
            f.hasProperty(QTextFormat::ForegroundBrush) ? f.foreground().color() : QColor()};
}

QList<QTextCharFormat> formatsOf(RichTextBox &text)
{
    QList<QTextCharFormat> out;
    for (int i = 0; i < text.Text().size(); ++i)
        out << formatAt(text, i);
    return out;
}

// "Heading body": the heading in DejaVu Sans 24 bold red, the body plain.
void typeHeading(TestWindow &w)
{
    w.text1().setText(QStringLiteral("Heading body"));
    select(w.text1(), 0, 7);
    QTextCharFormat heading;
    heading.setFontFamilies(QStringList{QStringLiteral("DejaVu Sans")});
    heading.setFontPointSize(24);
    heading.setFontWeight(QFont::Bold);
    heading.setForeground(QColor(255, 0, 0));
    w.text1().applySelectionFormat(heading);
    w.text1().document()->clearUndoRedoStacks();
}

} // namespace

Q_DECLARE_METATYPE(FontChoice)

class TestFormatCommands : public QObject {
    Q_OBJECT
private slots:
    // The dialog shows the selection's values; where the selection has more
    // than one, the field is blank (mixed) and the last choice stays behind it.
    void fontDialogStartsFromTheSelection_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to"); // from == to: the caret, no selection
        QTest::addColumn<QString>("name");
        QTest::addColumn<float>("size");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<quint32>("color");
        QTest::addColumn<int>("mixed");
        const quint32 viewColour =
            toBgr(TestWindow().text1().activeView()->palette().color(QPalette::Text));
        QTest::newRow("uniform heading")
            << 0 << 7 << "DejaVu Sans" << 24.0f << true << quint32(0x0000FF) << 0;
        QTest::newRow("part of the heading")
            << 2 << 4 << "DejaVu Sans" << 24.0f << true << quint32(0x0000FF) << 0;
        QTest::newRow("caret in the heading")
            << 3 << 3 << "DejaVu Sans" << 24.0f << true << quint32(0x0000FF) << 0;
        // Plain text has no colour of its own: it shows in the view's text
        // colour, and the dialog offers that.
        QTest::newRow("plain body: automatic colour")
            << 8 << 12 << "宋体" << 12.0f << false << viewColour << 0;
        QTest::newRow("caret in the body: automatic colour")
            << 10 << 10 << "宋体" << 12.0f << false << viewColour << 0;
        // A mixed colour offers the colour the selection starts with.
        QTest::newRow("heading and body: mixed")
            << 5 << 10 << "宋体" << 9.0f << false << quint32(0x0000FF)
            << (CdlFont::Name | CdlFont::Size | CdlFont::Bold | CdlFont::Color);
    }
    void fontDialogStartsFromTheSelection()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(QString, name);
        QFETCH(float, size);
        QFETCH(bool, bold);
        QFETCH(quint32, color);
        QFETCH(int, mixed);
        TestWindow w;
        typeHeading(w);
        select(w.text1(), from, to);
        Seen seen;
        w.dialogs.script.enqueue(record(&seen, ScriptedDialogHost::cancel()));
        w.trigger("font");
        QCOMPARE(seen.name, name);
        QCOMPARE(seen.size, size);
        QCOMPARE(seen.bold, bold);
        QCOMPARE(seen.italic, false);
        QCOMPARE(seen.underline, false);
        QCOMPARE(seen.color, color);
        QCOMPARE(seen.mixed, mixed);
        QCOMPARE(seen.flags, 259);
        QCOMPARE(w.dialogs.shown[0].kind, ScriptedDialogHost::Shown::Font);
        QCOMPARE(w.dialogs.shown[0].dialog, &w.form->openuse);

        // The colour dialog starts from the selection's colour too.
        Seen colorSeen;
        w.dialogs.script.enqueue(record(&colorSeen, ScriptedDialogHost::cancel()));
        w.trigger("color");
        QCOMPARE(colorSeen.color, color);
    }

    // Only what the user changed reaches the text: the rest of a mixed
    // selection keeps its faces, sizes and colours.
    void onlyChangedValuesApply_data()
    {
        QTest::addColumn<QString>("what");
        QTest::newRow("size of a mixed selection") << "size";
        QTest::newRow("underline of the heading") << "underline";
        QTest::newRow("colour of a mixed selection") << "colour";
        QTest::newRow("OK without a change") << "nothing";
    }
    void onlyChangedValuesApply()
    {
        QFETCH(QString, what);
        TestWindow w;
        typeHeading(w);
        const int from = what == u"underline" ? 0 : 5;
        const int to = 7 + (what == u"underline" ? 0 : 3);
        QList<Look> before;
        for (int i = 0; i < 12; ++i)
            before << lookAt(w.text1(), i);
        select(w.text1(), from, to);
        w.dialogs.script.enqueue(change([what](CommonDialog &d) {
            if (what == u"size") {
                d.FontSize = 16;
                d.MixedValues &= ~CdlFont::Size;
            } else if (what == u"underline") {
                d.FontUnderline = true;
            } else if (what == u"colour") {
                d.Color = 0xFF0000; // blue
                d.MixedValues &= ~CdlFont::Color;
            }
        }));
        w.trigger("font");
        for (int i = 0; i < 12; ++i) {
            Look expected = before[i];
            if (i >= from && i < to) {
                if (what == u"size")
                    expected.size = 16;
                else if (what == u"underline")
                    expected.underline = true;
                else if (what == u"colour")
                    expected.colour = QColor(0, 0, 255);
            }
            QVERIFY2(lookAt(w.text1(), i) == expected, qPrintable(QString::number(i)));
        }
        QCOMPARE(w.text1().document()->isUndoAvailable(), what != u"nothing");
    }

    // One Ctrl+Z takes back the whole change, font or colour; the caret's
    // format for typing is no step of its own.
    void oneUndoRestoresEverything_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("selection");
        QTest::newRow("font") << "font" << true;
        QTest::newRow("colour") << "color" << true;
        QTest::newRow("font at the caret") << "font" << false;
        QTest::newRow("colour at the caret") << "color" << false;
    }
    void oneUndoRestoresEverything()
    {
        QFETCH(QString, command);
        QFETCH(bool, selection);
        TestWindow w;
        QVERIFY(showWithEditorFocused(w));
        QTest::keyClicks(&w.text1(), QStringLiteral("one two three"));
        const QList<QTextCharFormat> before = formatsOf(w.text1());
        if (selection)
            select(w.text1(), 2, 9);
        if (command == u"font")
            w.dialogs.script.enqueue(
                chooseFont({"DejaVu Serif", 20, true, true, true, true, 0x00FF00}));
        else
            w.dialogs.script.enqueue(chooseColor(0x00FF00));
        w.trigger(command.toLatin1().constData());
        if (selection)
            QVERIFY(formatsOf(w.text1()) != before);
        QTest::keyClick(&w.text1(), Qt::Key_Z, Qt::ControlModifier);
        if (selection) {
            QCOMPARE(formatsOf(w.text1()), before);
            QCOMPARE(w.text1().Text(), QStringLiteral("one two three"));
        } else {
            // Nothing in the document changed, so the key takes back the typing.
            QVERIFY(w.text1().Text() != QStringLiteral("one two three"));
        }
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
            QCOMPARE(lookAt(w.text1(), i).family, choice.name);
            QCOMPARE(lookAt(w.text1(), i).size, double(choice.size));
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

    // Enter on a dialog left as it opened changes no colour: text without a
    // colour of its own stays automatic (the skin's colour still reaches it),
    // text with one keeps it. The dialog showed the colour the text shows.
    void unchangedDialogKeepsColours_data()
    {
        QTest::addColumn<int>("dialog");
        QTest::addColumn<bool>("ownColour");
        QTest::addColumn<bool>("skin");
        QTest::addColumn<QColor>("shown");
        const int colour = ScriptedDialogHost::Shown::Color, font = ScriptedDialogHost::Shown::Font;
        const QColor skinText(0xe4, 0xe7, 0xee), red(255, 0, 0);
        QTest::newRow("colour, automatic, skin") << colour << false << true << skinText;
        QTest::newRow("colour, own red, skin") << colour << true << true << red;
        QTest::newRow("font, automatic, skin") << font << false << true << skinText;
        QTest::newRow("font, own red, skin") << font << true << true << red;
        QTest::newRow("colour, automatic, no skin") << colour << false << false << QColor();
    }
    void unchangedDialogKeepsColours()
    {
        QFETCH(int, dialog);
        QFETCH(bool, ownColour);
        QFETCH(bool, skin);
        QFETCH(QColor, shown);
        const QString before = qApp->styleSheet();
        if (skin)
            qApp->setStyleSheet(QString::fromLatin1(darkSkin));
        const auto restore = qScopeGuard([before] { qApp->setStyleSheet(before); });
        TestWindow w;
        typeHeading(w);
        if (!shown.isValid())
            shown = w.text1().activeView()->palette().color(QPalette::Text);
        if (ownColour)
            select(w.text1(), 0, 7);
        else
            select(w.text1(), 8, 12);
        const QList<QTextCharFormat> formats = formatsOf(w.text1());
        QColor seen;
        w.dialogs.script.enqueue(pressEnter(ScriptedDialogHost::Shown::Kind(dialog), &seen));
        w.trigger(dialog == ScriptedDialogHost::Shown::Color ? "color" : "font");
        QCOMPARE(w.dialogs.shown.size(), 1);
        QCOMPARE(seen, shown);
        QCOMPARE(formatsOf(w.text1()), formats);
        QVERIFY(!formatAt(w.text1(), 9).hasProperty(QTextFormat::ForegroundBrush));
        QVERIFY(!w.text1().document()->isUndoAvailable());
    }

    // The colour chosen last is offered only where there is no text to ask:
    // nothing selected and nothing typed. OK there takes it for the typing.
    void rememberedColourOnlyBeforeTyping()
    {
        TestWindow w;
        Seen seen;
        w.dialogs.script.enqueue(record(&seen, change([](CommonDialog &) {})));
        w.trigger("color");
        QCOMPARE(seen.color, 0xE0E0E0u);
        w.type(QStringLiteral("x"));
        QCOMPARE(formatAt(w.text1(), 0).foreground().color(), QColor(224, 224, 224));

        TestWindow typed;
        typed.type(QStringLiteral("y"));
        Seen afterTyping;
        typed.dialogs.script.enqueue(record(&afterTyping, change([](CommonDialog &) {})));
        typed.trigger("color");
        QCOMPARE(afterTyping.color,
                 toBgr(typed.text1().activeView()->palette().color(QPalette::Text)));
        QVERIFY(!formatAt(typed.text1(), 0).hasProperty(QTextFormat::ForegroundBrush));
    }

    // The Chinese name picked in the real font dialog is the name the text
    // gets and the RTF names, so that Word on Windows finds 黑体 again.
    void chosenChineseNameIsWritten()
    {
        if (!offeredChineseFamilies().contains(QStringLiteral("黑体")))
            QSKIP("no face stands in for 黑体 here");
        TestWindow w;
        w.text1().setText(QStringLiteral("标题 body"));
        select(w.text1(), 0, 2);
        w.dialogs.script.enqueue([](CommonDialog &d, QPrinter *) {
            QTimer::singleShot(0, [] {
                auto *box = qobject_cast<FontColorDialog *>(QApplication::activeModalWidget());
                if (!box)
                    return;
                const auto items =
                    box->familyList()->findItems(QStringLiteral("黑体"), Qt::MatchExactly);
                if (!items.isEmpty())
                    box->familyList()->setCurrentItem(items.first());
                box->styleList()->setCurrentRow(2); // 粗体
                box->accept();
            });
            return QtDialogHost().showFont(d);
        });
        w.trigger("font");
        const QTextCharFormat f = formatAt(w.text1(), 0);
        QCOMPARE(f.fontFamilies().toStringList(), QStringList{QStringLiteral("黑体")});
        QVERIFY(f.fontWeight() >= QFont::Bold);
        const QByteArray rtf = w.bytesOf(FileFormat::Rtf);
        QVERIFY2(rtf.contains("\\'ba\\'da\\'cc\\'e5"), rtf.constData()); // 黑体 in GBK
        QVERIFY2(!rtf.contains("Noto"), rtf.constData());
    }

    // A font or colour change is a change: closing asks.
    void formattingIsAChange()
    {
        QTemporaryDir tmp;
        const QString file = tmp.filePath(QStringLiteral("a.txt"));
        QVERIFY(writeBytes(file, "some text"));
        TestWindow w(file);
        select(w.text1(), 0, 4);
        w.dialogs.script.enqueue(chooseFont({"DejaVu Sans", 20, true, true, true, true, 0xFF}));
        w.trigger("font");
        QVERIFY(formatAt(w.text1(), 1).fontWeight() >= QFont::Bold);
        QVERIFY(w.form->document().DocumentChanged());
        w.messages.answers.enqueue(MessageAnswer::Cancel);
        QVERIFY(!w.close());
        QCOMPARE(w.messages.texts(), QStringList{QStringLiteral("文件内容已经改变，是否保存？")});
    }
};

static const bool registered = registerCommandTest<TestFormatCommands>();
#include "tst_formatcommands.moc"
