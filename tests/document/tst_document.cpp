#include "core/atomicfile.h"
#include "core/documenttext.h"
#include "core/localpath.h"
#include "document/bytescramble.h"
#include "rtf/rtfkept.h"
#include "support/diskchange.h"
#include "support/testwindow.h"

#include <QDir>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Inkwell;

namespace {
// Where a forked save stops to be killed (set in the child only).
int killStage = -1;
qint64 killAfter = 0;
int killPipe = -1;
} // namespace
using namespace Inkwell::Testing;

namespace {
const QString untitled = QStringLiteral("无标题 - Inkwell");
const QString savePrompt = QStringLiteral("文件内容已经改变，是否保存？");
QString rtfQuestion(const QString &title)
{
    return QStringLiteral("“%1”将以RTF格式保存，其他程序将无法按纯文本读取。仍要保存吗？")
        .arg(title);
}
const QByteArray gbkText("\xd6\xd0\xce\xc4 text\r\n\xb5\xda\xb6\xfe\xd0\xd0\r\n"); // 中文 text / 第二行
} // namespace

class TestDocument : public QObject {
    Q_OBJECT

    // A fresh folder for every test function and data row.
    std::unique_ptr<QTemporaryDir> m_tmp;
    QString path(const QString &name) const { return m_tmp->filePath(name); }
    QString dirPath() const { return m_tmp->path(); }

private slots:
    void init()
    {
        m_tmp = std::make_unique<QTemporaryDir>();
        QVERIFY(m_tmp->isValid());
    }

    void saveEnding_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("format");
        QTest::newRow("A.TXT: plain") << "A.TXT" << "plain";
        QTest::newRow("notes.mtxt: plain") << "notes.mtxt" << "plain";
        QTest::newRow("x.sstx: scrambled") << "x.sstx" << "scrambled";
        QTest::newRow("b.stx: scrambled") << "b.stx" << "scrambled";
        QTest::newRow("c.rtf: rtf") << "c.rtf" << "rtf";
        QTest::newRow("readme: rtf") << "readme" << "rtf";
        QTest::newRow("a.doc: rtf") << "a.doc" << "rtf";
        QTest::newRow("a.tx: rtf") << "a.tx" << "rtf";
        QTest::newRow("tx: rtf") << "tx" << "rtf";
    }
    void saveEnding()
    {
        QFETCH(QString, name);
        QFETCH(QString, format);
        TestWindow w;
        w.type(QStringLiteral("中文 abc"));
        // Plain text saved as RTF under a name that does not say so asks first.
        const bool asksRtf = format == u"rtf" && !name.endsWith(u"rtf", Qt::CaseInsensitive);
        if (asksRtf)
            w.messages.answers.enqueue(MessageAnswer::Yes);
        w.dialogs.script.enqueue(ScriptedDialogHost::choose(path(name)));
        w.trigger("save");
        const QByteArray bytes = readBytes(path(name));
        const QByteArray plain("\xd6\xd0\xce\xc4 abc");
        if (format == u"plain") {
            QCOMPARE(bytes, plain);
        } else if (format == u"scrambled") {
            QByteArray expected = plain;
            scrambleInPlace(expected);
            QCOMPARE(bytes, expected);
        } else {
            QVERIFY2(bytes.startsWith("{\\rtf1"), bytes.left(40).constData());
        }
        // A successful save is the new baseline and names the window.
        QCOMPARE(w.caption(), name + QStringLiteral(" - Inkwell"));
        QVERIFY(!w.form->document().DocumentChanged());
        if (asksRtf)
            QCOMPARE(w.messages.texts(), QStringList{rtfQuestion(name)});
        else
            QVERIFY(w.messages.shown.isEmpty());
    }

    // A document from an encrypted file saved under an ending that does not
    // scramble asks first, No the default; No writes nothing.
    void encryptedSavedInTheClearAsks_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("yes");
        QTest::addColumn<bool>("asks");
        QTest::addColumn<QByteArray>("starts");
        QTest::newRow("plain text, no") << "clear.txt" << false << true << QByteArray();
        QTest::newRow("plain text, yes") << "clear.txt" << true << true << QByteArray("secret");
        // One question: it also says the file is no longer what it was.
        QTest::newRow("RTF under another ending, yes")
            << "notes.log" << true << true << QByteArray("{\\rtf1");
        QTest::newRow("RTF, no") << "clear.rtf" << false << true << QByteArray();
        QTest::newRow("scrambled again") << "again.STX" << false << false << QByteArray("-;=,;*");
    }
    void encryptedSavedInTheClearAsks()
    {
        QFETCH(QString, name);
        QFETCH(bool, yes);
        QFETCH(bool, asks);
        QFETCH(QByteArray, starts);
        QByteArray scrambled("secret");
        scrambleInPlace(scrambled);
        QVERIFY(writeBytes(path(QStringLiteral("s.stx")), scrambled));
        TestWindow w;
        w.dialogs.script.enqueue(ScriptedDialogHost::choose(path(QStringLiteral("s.stx"))));
        w.trigger("opensafe");
        QCOMPARE(w.text1().Text(), QStringLiteral("secret"));
        w.text1().moveCursor(QTextCursor::End);
        w.type(QStringLiteral(" edit"));
        w.messages.answers.enqueue(yes ? MessageAnswer::Yes : MessageAnswer::No);
        w.dialogs.script.enqueue(ScriptedDialogHost::choose(path(name)));
        w.trigger("save");
        const QString question =
            QStringLiteral("此文档来自加密文件，保存为该格式将不再加密。仍要保存吗？");
        QCOMPARE(w.messages.texts(), asks ? QStringList{question} : QStringList{});
        if (asks) {
            QCOMPARE(w.messages.shown.first().kind, ShownMessage::YesNo);
            QCOMPARE(w.messages.shown.first().defaultButton, MessageAnswer::No);
        }
        const bool written = yes || !asks;
        QCOMPARE(QFileInfo::exists(path(name)), written);
        if (written)
            QVERIFY2(readBytes(path(name)).startsWith(starts), readBytes(path(name)).constData());
        QCOMPARE(w.caption(),
                 (written ? name : QStringLiteral("s.stx")) + QStringLiteral(" - Inkwell"));
        QCOMPARE(w.form->document().DocumentChanged(), !written);
    }

    // Plain text saved under a name whose ending chooses RTF (not "rtf"
    // itself) asks first, No the default; a document that was RTF, or that
    // the user formatted, asks nothing.
    void plainBecomingRtfAsks_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("yes");
        QTest::addColumn<bool>("asks");
        QTest::newRow("text file as .log, no") << "a.txt"
                                               << "notes.log" << false << true;
        QTest::newRow("text file as .log, yes") << "a.txt"
                                                << "notes.log" << true << true;
        QTest::newRow("text file as .rtf") << "a.txt"
                                           << "notes.rtf" << false << false;
        QTest::newRow("text file as .RTF") << "a.txt"
                                           << "NOTES.RTF" << false << false;
        QTest::newRow("text file as .txt") << "a.txt"
                                           << "notes.txt" << false << false;
        QTest::newRow("undecodable text file as .log, yes: one question")
            << "odd.txt"
            << "notes.log" << true << true;
        QTest::newRow("RTF file as .log") << "r.rtf"
                                          << "notes.log" << false << false;
        QTest::newRow("untitled as .doc, no") << ""
                                              << "a.doc" << false << true;
        QTest::newRow("untitled and bold as .doc") << "bold"
                                                   << "a.doc" << false << false;
    }
    void plainBecomingRtfAsks()
    {
        QFETCH(QString, source);
        QFETCH(QString, name);
        QFETCH(bool, yes);
        QFETCH(bool, asks);
        QVERIFY(writeBytes(path(QStringLiteral("a.txt")), QByteArray("plain\r\n")));
        QVERIFY(writeBytes(path(QStringLiteral("odd.txt")), QByteArray("odd\xff\r\n")));
        QVERIFY(writeBytes(path(QStringLiteral("r.rtf")), QByteArray("{\\rtf1\\ansi rich}")));
        TestWindow w;
        if (source.contains(u'.')) {
            w.dialogs.script.enqueue(ScriptedDialogHost::choose(path(source)));
            w.trigger("open");
            QVERIFY(!w.text1().Text().isEmpty());
        }
        w.text1().moveCursor(QTextCursor::End);
        w.type(QStringLiteral("typed"));
        if (source == u"bold") {
            w.text1().setSelStart(0);
            w.text1().setSelLength(5);
            w.text1().setSelBold(true);
        }
        w.messages.answers.enqueue(yes ? MessageAnswer::Yes : MessageAnswer::No);
        w.dialogs.script.enqueue(ScriptedDialogHost::choose(path(name)));
        w.trigger("save");
        QCOMPARE(w.messages.texts(), asks ? QStringList{rtfQuestion(name)} : QStringList{});
        if (asks) {
            QCOMPARE(w.messages.shown.first().kind, ShownMessage::YesNo);
            QCOMPARE(w.messages.shown.first().defaultButton, MessageAnswer::No);
        }
        const bool written = yes || !asks;
        QCOMPARE(QFileInfo::exists(path(name)), written);
        if (written && saveFormatFor(name) == FileFormat::Rtf)
            QVERIFY(readBytes(path(name)).startsWith("{\\rtf1"));
        QCOMPARE(w.form->document().DocumentChanged(), !written);
    }

    void roundTripBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("GBK CRLF") << gbkText << QStringLiteral("中文 text\n第二行\n");
        QTest::newRow("GBK LF") << QByteArray("\xd6\xd0\n\xce\xc4") << QStringLiteral("中\n文");
        QTest::newRow("CR only") << QByteArray("a\rb\r") << QStringLiteral("a\nb\n");
        QTest::newRow("UTF-8") << QByteArray("\xe4\xb8\xad\xe6\x96\x87\r\n") << QStringLiteral("中文\n");
        QTest::newRow("UTF-8 BOM") << QByteArray("\xef\xbb\xbf" "a\xc3\xa9\n") << QStringLiteral("aé\n");
        QTest::newRow("UTF-8 BOM ascii") << QByteArray("\xef\xbb\xbf" "abc") << QStringLiteral("abc");
        QTest::newRow("UTF-16LE") << QByteArray("\xff\xfe\x2d\x4e\x0d\x00\x0a\x00", 8) << QStringLiteral("中\n");
        QTest::newRow("UTF-16BE") << QByteArray("\xfe\xff\x4e\x2d\x00\x0a", 6) << QStringLiteral("中\n");
        QTest::newRow("GB18030 four-byte") << QByteArray("\x94\x39\xfc\x36") << QString::fromUcs4(U"\U0001F600");
        QTest::newRow("empty") << QByteArray() << QString();
        QTest::newRow("ascii with tab and NUL") << QByteArray("a\tb\0c", 5) << QString::fromUtf16(u"a\tb\0c", 5);
    }
    void roundTripBytes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        const QString source = path(QStringLiteral("in.txt"));
        QVERIFY(writeBytes(source, bytes));
        TestWindow w;
        w.dialogs.script.enqueue(ScriptedDialogHost::choose(source));
        w.trigger("open");
        QCOMPARE(w.text1().Text(), text);
        QCOMPARE(w.caption(), QStringLiteral("in.txt - Inkwell"));
        QVERIFY(!w.form->document().DocumentChanged());
        const QString target = path(QStringLiteral("out.txt"));
        w.dialogs.script.enqueue(ScriptedDialogHost::choose(target));
        w.trigger("save");
        QCOMPARE(readBytes(target), bytes);
        QVERIFY(w.messages.shown.isEmpty());
    }

    void editedUtf8KeepsEncodingAndLineEnding()
    {
        const QString source = path(QStringLiteral("u.txt"));
        QVERIFY(writeBytes(source, QByteArray("\xe4\xb8\xad\r\nx")));
        TestWindow w(source);
        w.text1().moveCursor(QTextCursor::End);
        w.type(QStringLiteral("\n文"));
        w.dialogs.script.enqueue(ScriptedDialogHost::choose(source));
        w.trigger("save");
        QCOMPARE(readBytes(source), QByteArray("\xe4\xb8\xad\r\nx\r\n\xe6\x96\x87"));
    }

    void newDocumentUsesAnsiAndPlatformLineEnding()
    {
        TestWindow w;
        w.type(QStringLiteral("中\n文😀"));
        w.dialogs.script.enqueue(ScriptedDialogHost::choose(path(QStringLiteral("n.txt"))));
        w.trigger("save");
        // Characters outside code page 936 go out as GB18030, so nothing is lost.
        QCOMPARE(readBytes(path(QStringLiteral("n.txt"))), QByteArray("\xd6\xd0\n\xce\xc4\x94\x39\xfc\x36"));
    }

    void undecodableBytesAskBeforeSaving_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("written");
        QTest::newRow("yes writes") << int(MessageAnswer::Yes) << true;
        QTest::newRow("no cancels") << int(MessageAnswer::No) << false;
    }
    void undecodableBytesAskBeforeSaving()
    {
        QFETCH(int, answer);
        QFETCH(bool, written);
        const QString source = path(QStringLiteral("bin.txt"));
        QVERIFY(writeBytes(source, QByteArray("ab\xff\xd6")));
        TestWindow w(source);
        QVERIFY(!w.form->document().DocumentChanged());
        const QString target = path(QStringLiteral("bin-out.txt"));
        w.dialogs.script.enqueue(ScriptedDialogHost::choose(target));
        w.messages.answers.enqueue(MessageAnswer(answer));
        w.trigger("save");
        QCOMPARE(w.messages.shown.size(), 1);
        QCOMPARE(w.messages.shown[0].text,
                 QStringLiteral("文件“bin.txt”含有无法按当前编码识别的字节，保存会改变这些字节。仍要保存吗？"));
        QCOMPARE(w.messages.shown[0].title, QStringLiteral("Inkwell"));
        QCOMPARE(w.messages.shown[0].icon, MessageIcon::Exclamation);
        QCOMPARE(QFile::exists(target), written);
        QCOMPARE(w.caption(), written ? QStringLiteral("bin-out.txt - Inkwell") : QStringLiteral("bin.txt - Inkwell"));
    }

    // Coming back to the window after another program changed its file: the
    // offer to read it again comes once per change, Enter keeping what was
    // typed; Yes with unsaved changes goes through the save prompt first.
    void activationOffersReload_data()
    {
        QTest::addColumn<bool>("typed");
        QTest::addColumn<QList<int>>("answers"); // the offer, then the save prompt
        QTest::addColumn<bool>("reloaded");
        const int yes = int(MessageAnswer::Yes);
        const int no = int(MessageAnswer::No);
        const int cancel = int(MessageAnswer::Cancel);
        QTest::newRow("nothing typed, yes reads it again") << false << QList<int>{yes} << true;
        QTest::newRow("nothing typed, no keeps it") << false << QList<int>{no} << false;
        QTest::newRow("typed, no keeps the work") << true << QList<int>{no} << false;
        QTest::newRow("typed, yes and discard reads it again")
            << true << QList<int>{yes, no} << true;
        QTest::newRow("typed, yes and cancel keeps the work")
            << true << QList<int>{yes, cancel} << false;
    }
    void activationOffersReload()
    {
        QFETCH(bool, typed);
        QFETCH(QList<int>, answers);
        QFETCH(bool, reloaded);
        const QString file = path(QStringLiteral("f.txt"));
        QVERIFY(writeStartFile(file));
        TestWindow w(file);
        QVERIFY(showWithEditorFocused(w));
        // The window becoming active, and the check it queues.
        const auto activate = [&] {
            QEvent event(QEvent::ActivationChange);
            QCoreApplication::sendEvent(w.form.get(), &event);
            QCoreApplication::sendPostedEvents(w.form.get());
        };
        activate();
        QVERIFY(w.messages.shown.isEmpty());
        if (typed)
            w.type(QStringLiteral("typed"));
        QVERIFY(changeOnDisk(file, DiskChange::Append));
        for (int answer : answers)
            w.messages.answers.enqueue(MessageAnswer(answer));
        activate();
        QVERIFY(!w.messages.unexpectedQuestion);
        QVERIFY(w.messages.answers.isEmpty());
        QCOMPARE(w.messages.shown.size(), answers.size());
        const ShownMessage offer = w.messages.shown.first();
        QCOMPARE(offer.kind, ShownMessage::YesNo);
        QCOMPARE(offer.text, QStringLiteral("文件“f.txt”已被其他程序修改。要重新载入吗？"));
        QCOMPARE(offer.defaultButton, typed ? MessageAnswer::No : MessageAnswer::Yes);
        if (answers.size() > 1)
            QCOMPARE(w.messages.shown[1].text, savePrompt);
        w.form->document().finishLoading();
        const QString text = w.form->document().document()->toPlainText();
        QCOMPARE(text.contains(QStringLiteral("more")), reloaded);
        QCOMPARE(text.contains(QStringLiteral("typed")), typed && !reloaded);
        QCOMPARE(w.form->document().DocumentChanged(), typed && !reloaded);

        // Once per change: coming back again says nothing, a new change asks.
        activate();
        QCOMPARE(w.messages.shown.size(), answers.size());
        QVERIFY(setModified(file, {startTime.tv_sec + 7, 0}));
        w.messages.answers.enqueue(MessageAnswer::No);
        activate();
        QCOMPARE(w.messages.shown.size(), answers.size() + 1);
        QCOMPARE(w.messages.shown.last().text, offer.text);
    }

    void newPrompt_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("saveSucceeds");
        QTest::addColumn<QString>("textAfter");
        QTest::addColumn<QString>("captionAfter");
        QTest::newRow("yes, saved: emptied") << int(MessageAnswer::Yes) << true << "" << untitled;
        QTest::newRow("yes, dialog cancelled: kept") << int(MessageAnswer::Yes) << false << "typed" << untitled;
        QTest::newRow("no: emptied") << int(MessageAnswer::No) << false << "" << untitled;
        QTest::newRow("cancel: kept") << int(MessageAnswer::Cancel) << false << "typed" << untitled;
    }
    void newPrompt()
    {
        QFETCH(int, answer);
        QFETCH(bool, saveSucceeds);
        QFETCH(QString, textAfter);
        QFETCH(QString, captionAfter);
        TestWindow w;
        w.type(QStringLiteral("typed"));
        w.messages.answers.enqueue(MessageAnswer(answer));
        if (MessageAnswer(answer) == MessageAnswer::Yes)
            w.dialogs.script.enqueue(saveSucceeds ? ScriptedDialogHost::choose(path(QStringLiteral("s.txt")))
                                                  : ScriptedDialogHost::cancel());
        w.trigger("new");
        QCOMPARE(w.messages.texts(), QStringList{savePrompt});
        QCOMPARE(w.messages.shown[0].title, QStringLiteral("Inkwell"));
        QCOMPARE(w.text1().Text(), textAfter);
        QCOMPARE(w.caption(), captionAfter);
        QVERIFY(!w.dialogs.unexpectedDialog);
        if (saveSucceeds)
            QCOMPARE(readBytes(path(QStringLiteral("s.txt"))), QByteArray("typed"));
    }

    void newAsksNothingWhenUnchanged()
    {
        TestWindow w;
        w.type(QStringLiteral("x"));
        w.text1().setSelStart(0);
        w.text1().setSelLength(1);
        w.text1().setSelText(QString());
        w.trigger("new");
        QVERIFY(w.messages.shown.isEmpty());
        QCOMPARE(w.caption(), untitled);
    }

    void newAfterOpenDoesNotAskAgain()
    {
        const QString source = path(QStringLiteral("full.txt"));
        QVERIFY(writeBytes(source, "content"));
        TestWindow w(source);
        w.trigger("new");
        QCOMPARE(w.text1().Text(), QString());
        // The emptied document is the new baseline: a second new or a close asks nothing.
        w.trigger("new");
        QVERIFY(w.close());
        QVERIFY(w.messages.shown.isEmpty());
    }

    void openPrompt_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("saveSucceeds");
        QTest::addColumn<bool>("opened");
        QTest::newRow("yes, saved") << int(MessageAnswer::Yes) << true << true;
        QTest::newRow("yes, save cancelled") << int(MessageAnswer::Yes) << false << false;
        QTest::newRow("no") << int(MessageAnswer::No) << false << true;
        QTest::newRow("cancel") << int(MessageAnswer::Cancel) << false << false;
    }
    void openPrompt()
    {
        QFETCH(int, answer);
        QFETCH(bool, saveSucceeds);
        QFETCH(bool, opened);
        const QString other = path(QStringLiteral("other.txt"));
        QVERIFY(writeBytes(other, "other"));
        TestWindow w;
        w.type(QStringLiteral("edits"));
        w.messages.answers.enqueue(MessageAnswer(answer));
        if (MessageAnswer(answer) == MessageAnswer::Yes)
            w.dialogs.script.enqueue(saveSucceeds ? ScriptedDialogHost::choose(path(QStringLiteral("e.txt")))
                                                  : ScriptedDialogHost::cancel());
        if (opened)
            w.dialogs.script.enqueue(ScriptedDialogHost::choose(other));
        w.trigger("open");
        QCOMPARE(w.text1().Text(), opened ? QStringLiteral("other") : QStringLiteral("edits"));
        QVERIFY(!w.dialogs.unexpectedDialog);
        QVERIFY(w.dialogs.script.isEmpty());
        if (saveSucceeds)
            QCOMPARE(readBytes(path(QStringLiteral("e.txt"))), QByteArray("edits"));
    }

    void closePrompt_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("saveOutcome"); // 0 saved, 1 dialog cancelled, 2 write failed
        QTest::addColumn<bool>("closes");
        QTest::newRow("yes, saved") << int(MessageAnswer::Yes) << 0 << true;
        QTest::newRow("yes, dialog cancelled") << int(MessageAnswer::Yes) << 1 << false;
        QTest::newRow("yes, write failed") << int(MessageAnswer::Yes) << 2 << false;
        QTest::newRow("no") << int(MessageAnswer::No) << 0 << true;
        QTest::newRow("cancel") << int(MessageAnswer::Cancel) << 0 << false;
    }
    void closePrompt()
    {
        QFETCH(int, answer);
        QFETCH(int, saveOutcome);
        QFETCH(bool, closes);
        TestWindow w;
        w.form->show();
        w.type(QStringLiteral("unsaved"));
        w.messages.answers.enqueue(MessageAnswer(answer));
        if (MessageAnswer(answer) == MessageAnswer::Yes) {
            if (saveOutcome == 1)
                w.dialogs.script.enqueue(ScriptedDialogHost::cancel());
            else if (saveOutcome == 2)
                w.dialogs.script.enqueue(ScriptedDialogHost::choose(path(QStringLiteral("no/such/dir/f.txt"))));
            else
                w.dialogs.script.enqueue(ScriptedDialogHost::choose(path(QStringLiteral("c.txt"))));
        }
        QCOMPARE(w.close(), closes);
        QCOMPARE(w.form->isVisible(), !closes);
        QCOMPARE(w.text1().Text(), QStringLiteral("unsaved"));
        if (saveOutcome == 2) {
            QCOMPARE(w.messages.shown.size(), 2);
            QVERIFY(w.messages.shown[1].text.startsWith(
                QStringLiteral("无法保存文件“%1”：").arg(path(QStringLiteral("no/such/dir/f.txt")))));
            QCOMPARE(w.messages.shown[1].icon, MessageIcon::Exclamation);
        }
        // A cancelled close asks again next time.
        if (!closes) {
            w.messages.answers.enqueue(MessageAnswer::No);
            QVERIFY(w.close());
        }
    }

    // Formatting switched on and off again, or undone, leaves the document as
    // it was read: closing asks nothing.
    void closeUnchangedAsksNothing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("bold, then not bold") << "bold off";
        QTest::newRow("bold, then undone") << "undo";
    }
    void closeUnchangedAsksNothing()
    {
        QFETCH(QString, how);
        const QString source = path(QStringLiteral("c.txt"));
        QVERIFY(writeBytes(source, "a\r\nb"));
        TestWindow w(source);
        w.text1().selectAll();
        w.text1().setSelBold(true);
        if (how == u"undo")
            w.text1().undo();
        else
            w.text1().setSelBold(false);
        QVERIFY(w.close());
        QVERIFY(w.messages.shown.isEmpty());
    }

    // A change of fonts, colours or pictures is a change like a letter typed:
    // new, open and close ask first; formatting put back as it was is none.
    void formatChangeAsks_data()
    {
        QTest::addColumn<QString>("source"); // the file read: plain text or RTF
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("asks");
        for (const char *source : {"txt", "rtf"}) {
            for (const char *command : {"new", "open", "close"}) {
                const auto row = [&](const char *edit, bool asks) {
                    QTest::addRow("%s, %s, %s", source, edit, command)
                        << source << edit << command << asks;
                };
                row("colour only", true);
                row("font size only", true);
                row("picture inserted", true);
                row("picture replaced", true);
                row("bold then not bold", false);
                row("coloured then undone", false);
            }
        }
    }
    void formatChangeAsks()
    {
        QFETCH(QString, source);
        QFETCH(QString, edit);
        QFETCH(QString, command);
        QFETCH(bool, asks);
        const QString file = path(QStringLiteral("f.") + source);
        QVERIFY(writeBytes(file, source == u"rtf"
                                     ? QByteArray("{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}"
                                                  "\\f0 plain {\\i slanted} \\b bold\\par}")
                                     : QByteArray("plain slanted bold")));
        TestWindow w(file);
        QImage red(4, 4, QImage::Format_RGB32);
        red.fill(Qt::red);
        QImage blue = red;
        blue.fill(Qt::blue);
        if (edit == u"picture replaced") {
            // A document read with a picture in it, whose picture is swapped for
            // another: the text is the same, only the picture differs.
            w.text1().setSelStart(0);
            w.text1().insertPicture(red);
            w.dialogs.script.enqueue(ScriptedDialogHost::choose(path(QStringLiteral("p.rtf"))));
            w.trigger("save");
            QVERIFY(!w.form->document().DocumentChanged());
        }
        w.text1().setSelStart(6);
        w.text1().setSelLength(7);
        if (edit == u"colour only") {
            w.text1().setSelColor(0x0000FF);
        } else if (edit == u"font size only") {
            w.text1().setSelFontSize(20);
        } else if (edit == u"picture inserted") {
            w.text1().setSelStart(0);
            w.text1().insertPicture(red);
        } else if (edit == u"picture replaced") {
            w.text1().setSelStart(0);
            w.text1().setSelLength(1);
            w.text1().insertPicture(blue);
        } else if (edit == u"bold then not bold") {
            w.text1().setSelBold(true);
            w.text1().setSelBold(false);
        } else {
            w.text1().setSelColor(0x0000FF);
            w.text1().undo();
        }
        QCOMPARE(w.form->document().DocumentChanged(), asks);
        w.messages.answers.enqueue(MessageAnswer::Cancel);
        if (command == u"close") {
            QCOMPARE(w.close(), !asks);
        } else {
            if (!asks && command == u"open")
                w.dialogs.script.enqueue(ScriptedDialogHost::cancel());
            w.trigger(command.toLatin1().constData());
        }
        QCOMPARE(w.messages.texts(), asks ? QStringList{savePrompt} : QStringList());
        if (asks) // Cancel keeps the document as it is
            QVERIFY(w.text1().Text().contains(QStringLiteral("slanted")));
    }

    // Plain text (txt, and stx, which is scrambled plain text) keeps no
    // pictures or formats: a save that would drop them asks first.
    void plainTextSaveWarns_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("content"); // what the document holds besides text
        QTest::addColumn<int>("answer");      // -1: no question expected
        QTest::newRow("txt, bold, yes") << "a.txt"
                                        << "bold" << int(MessageAnswer::Yes);
        QTest::newRow("txt, bold, no") << "a.txt"
                                       << "bold" << int(MessageAnswer::No);
        QTest::newRow("stx, colour, yes") << "a.stx"
                                          << "colour" << int(MessageAnswer::Yes);
        QTest::newRow("stx, colour, no") << "a.stx"
                                         << "colour" << int(MessageAnswer::No);
        QTest::newRow("txt, picture, no") << "a.txt"
                                          << "picture" << int(MessageAnswer::No);
        QTest::newRow("txt, plain text: no question") << "a.txt"
                                                      << "nothing" << -1;
        QTest::newRow("stx, plain text: no question") << "a.stx"
                                                      << "nothing" << -1;
        QTest::newRow("txt, bold switched off again: no question") << "a.txt"
                                                                   << "bold off" << -1;
        QTest::newRow("rtf keeps everything: no question") << "a.rtf"
                                                           << "bold" << -1;
    }
    void plainTextSaveWarns()
    {
        QFETCH(QString, name);
        QFETCH(QString, content);
        QFETCH(int, answer);
        TestWindow w;
        w.type(QStringLiteral("formatted text"));
        w.text1().setSelStart(0);
        w.text1().setSelLength(9);
        if (content == u"bold" || content == u"bold off")
            w.text1().setSelBold(true);
        if (content == u"bold off")
            w.text1().setSelBold(false);
        if (content == u"colour")
            w.text1().setSelColor(0x00FF00);
        if (content == u"picture") {
            QImage image(3, 3, QImage::Format_RGB32);
            image.fill(Qt::green);
            w.text1().insertPicture(image);
        }
        if (answer >= 0)
            w.messages.answers.enqueue(MessageAnswer(answer));
        w.dialogs.script.enqueue(ScriptedDialogHost::choose(path(name)));
        w.trigger("save");
        QVERIFY(!w.messages.unexpectedQuestion);
        if (answer < 0) {
            QVERIFY(w.messages.shown.isEmpty());
        } else {
            QCOMPARE(w.messages.shown.size(), 1);
            const ShownMessage &asked = w.messages.shown[0];
            QCOMPARE(asked.kind, ShownMessage::YesNo);
            QCOMPARE(asked.text,
                     QStringLiteral("保存为纯文本格式将丢失文档中的图片和格式。仍要保存吗？"));
            QCOMPARE(asked.title, QStringLiteral("Inkwell"));
            QCOMPARE(asked.icon, MessageIcon::Exclamation);
            QCOMPARE(asked.defaultButton, MessageAnswer::No);
        }
        const bool saved = answer != int(MessageAnswer::No);
        QCOMPARE(QFile::exists(path(name)), saved);
        QCOMPARE(w.caption(), saved ? name + QStringLiteral(" - Inkwell") : untitled);
        QCOMPARE(w.form->document().DocumentChanged(), !saved);
    }

    // No at that question is a cancelled save: the close that asked to save
    // stays open.
    void refusedPlainTextSaveKeepsWindowOpen()
    {
        TestWindow w;
        w.form->show();
        w.type(QStringLiteral("red words"));
        w.text1().selectAll();
        w.text1().setSelColor(0x0000FF);
        w.messages.answers << MessageAnswer::Yes << MessageAnswer::No;
        w.dialogs.script.enqueue(ScriptedDialogHost::choose(path(QStringLiteral("r.txt"))));
        QVERIFY(!w.close());
        QVERIFY(w.form->isVisible());
        QVERIFY(!QFile::exists(path(QStringLiteral("r.txt"))));
        QCOMPARE(w.messages.shown.size(), 2);
        w.messages.answers.enqueue(MessageAnswer::No);
        QVERIFY(w.close());
    }

    // A big save is written in pieces with the window alive between them:
    // timers run and the progress row shows once the save takes a while,
    // but the editor takes no edit until the file is written.
    void bigSaveKeepsWindowAliveAndDocumentFrozen()
    {
        TestWindow w;
        w.form->show();
        QString text;
        const QString words = QStringLiteral("一行文字 and some words in it, ").repeated(4);
        for (int i = 0; i < 12000; ++i)
            text += QStringLiteral("%1 ").arg(i) + words + u'\n';
        w.type(text);
        QProgressBar *bar = w.form->findChild<QProgressBar *>();
        QVERIFY(bar);
        bool timerRan = false;
        QTimer::singleShot(0, w.form.get(), [&] { timerRan = true; });
        int pieces = 0;
        bool alwaysReadOnly = true;
        bool rowShown = false;
        QString label;
        connect(&w.form->document(), &DocumentState::saveProgress, this, [&] {
            ++pieces;
            alwaysReadOnly = alwaysReadOnly && w.text1().isReadOnly();
            rowShown = rowShown || !bar->parentWidget()->isHidden();
            if (const auto *shown = bar->parentWidget()->findChild<QLabel *>())
                label = shown->text();
            // The save has taken a while by the window's clock.
            w.clock.moment = w.clock.moment.addSecs(1);
        });
        const QString target = path(QStringLiteral("big.txt"));
        w.dialogs.script.enqueue(ScriptedDialogHost::choose(target));
        w.trigger("save");
        QVERIFY(pieces > 1);
        QVERIFY(timerRan);
        QVERIFY(alwaysReadOnly);
        QVERIFY(rowShown);
        QCOMPARE(label, QStringLiteral("正在保存 big.txt"));
        QVERIFY(bar->parentWidget()->isHidden());
        QVERIFY(!w.text1().isReadOnly());
        QCOMPARE(readBytes(target), encodeTextFile(text, w.form->document().encoding()));
        QVERIFY(!w.form->document().DocumentChanged());
    }

    void commandLine_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("text");
        QTest::newRow("plain path") << "%1/a.txt" << "a.txt - Inkwell" << "hello";
        QTest::newRow("blanks around") << "   %1/a.txt  " << "a.txt - Inkwell" << "hello";
        QTest::newRow("quoted, with blank") << "\"%1/b c.txt\"" << "b c.txt - Inkwell" << "blank";
        QTest::newRow("missing file is created") << "%1/new.txt" << "new.txt - Inkwell" << "";
        QTest::newRow("a folder cannot be read") << "%1/" << untitled << "";
        QTest::newRow("empty") << "" << untitled << "";
    }
    void commandLine()
    {
        QFETCH(QString, commandLine);
        QFETCH(QString, caption);
        QFETCH(QString, text);
        QVERIFY(writeBytes(path(QStringLiteral("a.txt")), "hello"));
        QVERIFY(writeBytes(path(QStringLiteral("b c.txt")), "blank"));
        QFile::remove(path(QStringLiteral("new.txt")));
        TestWindow w(commandLine.contains(u'%') ? commandLine.arg(dirPath()) : commandLine);
        QCOMPARE(w.caption(), caption);
        QCOMPARE(w.text1().Text(), text);
        QVERIFY(!w.form->document().DocumentChanged());
        if (caption.startsWith(u"new.txt"))
            QVERIFY(QFile::exists(path(QStringLiteral("new.txt"))));
        if (commandLine.endsWith(u'/'))
            QVERIFY(w.messages.texts().value(0).startsWith(QStringLiteral("无法打开文件")));
    }

    // Arguments as the program receives them: a name that exists as written
    // wins over trimming and joining.
    void commandLineArguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("text");
        QTest::newRow("trailing blank, that file present")
            << QStringList{"%1/trail.txt "} << QStringList{"trail.txt ", "trail.txt"}
            << "trail.txt  - Inkwell"
            << "trail.txt ";
        QTest::newRow("trailing blank, only the trimmed name present")
            << QStringList{"%1/trail.txt "} << QStringList{"trail.txt"} << "trail.txt - Inkwell"
            << "trail.txt";
        QTest::newRow("quoted, with blank")
            << QStringList{"\"%1/b c.txt\""} << QStringList{"b c.txt"} << "b c.txt - Inkwell"
            << "b c.txt";
        // Relative to the current folder, so that the quotes enclose the whole line.
        QTest::newRow("quotes belong to the name")
            << QStringList{"\"q.txt\""} << QStringList{"\"q.txt\"", "q.txt"}
            << "\"q.txt\" - Inkwell" << "\"q.txt\"";
        QTest::newRow("split by the shell")
            << QStringList{"%1/b", "c.txt"} << QStringList{"b c.txt"} << "b c.txt - Inkwell"
            << "b c.txt";
        QTest::newRow("one of several arguments names a file")
            << QStringList{"%1/a.txt", "--extra"} << QStringList{"a.txt"} << "a.txt - Inkwell"
            << "a.txt";
        QTest::newRow("nothing named: joined and created")
            << QStringList{"%1/new", "file.txt "} << QStringList{} << "new file.txt - Inkwell"
            << "";
    }
    void commandLineArguments()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, present);
        QFETCH(QString, caption);
        QFETCH(QString, text);
        for (const QString &name : present)
            QVERIFY(writeBytes(path(name), name.toUtf8())); // each file holds its own name
        for (QString &argument : arguments)
            argument.replace(QStringLiteral("%1"), dirPath());
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dirPath());
        TestWindow w;
        QVERIFY(!w.form->document().openCommandLine(arguments));
        QDir::setCurrent(previous);
        QCOMPARE(w.caption(), caption);
        QCOMPARE(w.text1().Text(), text);
        QVERIFY(w.messages.shown.isEmpty());
        if (present.isEmpty())
            QVERIFY(QFile::exists(path(QStringLiteral("new file.txt"))));
        // Nothing else was created by trimming a name.
        QCOMPARE(QDir(dirPath()).entryList(QDir::Files).size(),
                 std::max<qsizetype>(present.size(), 1));
    }

    // The program's arguments as the system passes them, with a name that
    // is not UTF-8: an existing file opens by its bytes, the save dialog
    // offers it (no one can type it there) and the save writes back to the
    // same bytes; a missing one is not created, and the window says why.
    void commandLineForeignName_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("present");
        QTest::addColumn<QString>("shown");
        QTest::newRow("GBK name") << QByteArray("\xd6\xd0\xce\xc4.txt") << true << "中文.txt";
        QTest::newRow("ASCII and GBK") << QByteArray("a-\xb5\xda.txt") << true << "a-第.txt";
        QTest::newRow("GBK name, missing")
            << QByteArray("\xd6\xd0\xce\xc4.txt") << false << "中文.txt";
    }
    void commandLineForeignName()
    {
        QFETCH(QByteArray, name);
        QFETCH(bool, present);
        QFETCH(QString, shown);
        const QByteArray folder = QFile::encodeName(dirPath());
        const QByteArray file = folder + '/' + name;
        // QTemporaryDir cannot list, so cannot remove, what is left here.
        const auto removeAll = qScopeGuard([&] { removeEntries(folder); });
        if (present)
            QVERIFY(writeBytesNamed(file, gbkText));
        const char *argv[] = {"inkwell", file.constData()};
        TestWindow w;
        w.form->Form_Load(argumentsFromLocalBytes(2, argv));
        QCOMPARE(entryBytes(folder), present ? QList<QByteArray>{name} : QList<QByteArray>{});
        if (!present) {
            QCOMPARE(w.caption(), untitled);
            QCOMPARE(w.messages.shown.size(), 1);
            const QString text = w.messages.texts().constFirst();
            QVERIFY2(text.startsWith(
                         QStringLiteral("无法打开文件“%1/%2”：文件不存在").arg(dirPath(), shown)) &&
                         text.contains(QStringLiteral("UTF-8")),
                     qPrintable(text));
            return;
        }
        QVERIFY(w.messages.shown.isEmpty());
        QCOMPARE(w.caption(), shown + QStringLiteral(" - Inkwell"));
        QCOMPARE(w.text1().Text(), QStringLiteral("中文 text\n第二行\n"));
        w.type(QStringLiteral("新"));
        w.dialogs.script.enqueue([](CommonDialog &, QPrinter *) { return true; }); // as offered
        w.trigger("save");
        QCOMPARE(w.dialogs.shown.size(), 1);
        QCOMPARE(localBytesOfPath(w.dialogs.shown[0].fileName), file);
        QVERIFY(w.messages.shown.isEmpty());
        QCOMPARE(entryBytes(folder), QList<QByteArray>{name});
        QCOMPARE(readBytesNamed(file), QByteArray("\xd0\xc2") + gbkText);
        QCOMPARE(w.caption(), shown + QStringLiteral(" - Inkwell"));
    }

    void rtfFileOpensAsRichText()
    {
        const QString source = path(QStringLiteral("r.rtf"));
        QVERIFY(writeBytes(source, "{\\rtf1\\ansi\\ansicpg936{\\fonttbl{\\f0\\fcharset134 SimSun;}}"
                                   "\\f0 plain {\\b bold} \\'d6\\'d0\\par end}"));
        TestWindow w(source);
        QCOMPARE(w.text1().Text(), QStringLiteral("plain bold 中\nend"));
        QVERIFY(!w.form->document().DocumentChanged());
        QTextCursor c(w.text1().document());
        c.setPosition(8);
        QCOMPARE(c.charFormat().fontWeight(), int(QFont::Bold));
    }

    void viewFollowsTheDocument_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("rich");
        const QByteArray longPlain =
            QByteArray("{\\rtf1\\ansi ") + QByteArray(richViewChars + 10, 'x') + "}";
        QTest::newRow("text file: fast") << "a.txt" << QByteArray("abc\r\n") << false;
        QTest::newRow("text file named .rtf: fast") << "b.rtf" << QByteArray("plain") << false;
        QTest::newRow("RTF: rich") << "c.txt" << QByteArray("{\\rtf1\\ansi {\\b x}}") << true;
        QTest::newRow("long RTF of characters only: fast") << "d.rtf" << longPlain << false;
        QByteArray longCentred = longPlain;
        longCentred.insert(longCentred.size() - 1, "\\par\\pard\\qc Title");
        QTest::newRow("long RTF with a centred paragraph: rich") << "e.rtf" << longCentred << true;
        const QByteArray longParagraph =
            "{\\rtf1\\ansi short\\par " + QByteArray(longLineChars + 1, 'y') + "}";
        QTest::newRow("RTF with a long paragraph: fast") << "f.rtf" << longParagraph << false;
        QByteArray longCentredParagraph = longParagraph;
        longCentredParagraph.insert(longCentredParagraph.size() - 1, "\\par\\pard\\qc Title");
        QTest::newRow("long paragraph and a centred one: rich")
            << "g.rtf" << longCentredParagraph << true;
    }
    void viewFollowsTheDocument()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, rich);
        QVERIFY(writeBytes(path(name), bytes));
        TestWindow w(path(name));
        w.form->document().finishLoading();
        const auto expected = rich ? RichTextBox::View::Rich : RichTextBox::View::Fast;
        QCOMPARE(w.text1().view(), expected);
        QCOMPARE(w.text1().activeView()->isVisibleTo(&w.text1()), true);
        QVERIFY(!w.form->document().DocumentChanged());
        // The fast view holds a long line in pieces; the text is one line.
        if (!rich) {
            for (QTextBlock b = w.text1().document()->begin(); b.isValid(); b = b.next())
                QVERIFY(b.length() - 1 <= softPieceChars);
            if (bytes.startsWith("{\\rtf"))
                QCOMPARE(w.text1().Text().count(u'\n'), bytes.count("\\par"));
        }
        // A new document is a plain one, whatever was shown before.
        w.trigger("new");
        QCOMPARE(w.text1().view(), RichTextBox::View::Fast);
        QVERIFY(!w.form->document().DocumentChanged());
    }

    // The rich view lays out each change as it comes: a paragraph of 20 MB
    // read into it took minutes. An RTF is read in the fast view and only
    // then shown in the view it needs, a file's and a recovered draft's alike.
    void rtfIsReadInTheFastView_data()
    {
        QTest::addColumn<bool>("recovered");
        QTest::addColumn<bool>("centred");
        QTest::newRow("file") << false << false;
        QTest::newRow("recovered draft") << true << false;
        QTest::newRow("file that needs the rich view") << false << true;
    }
    void rtfIsReadInTheFastView()
    {
        QFETCH(bool, recovered);
        QFETCH(bool, centred);
        const QString line(3 * softPieceChars, u'q');
        QByteArray rtf = "{\\rtf1\\ansi first\\par " + line.toLatin1() + "\\par last";
        if (centred)
            rtf += "\\par\\pard\\qc Title";
        rtf += "}";
        const QString name = path(QStringLiteral("long.rtf"));
        QVERIFY(writeBytes(name, rtf));
        TestWindow w;
        QList<RichTextBox::View> viewsWhileRead;
        connect(w.text1().document(), &QTextDocument::contentsChange, this,
                [&](int, int, int added) {
                    if (added > 1)
                        viewsWhileRead << w.text1().view();
                });
        if (recovered)
            w.form->document().adoptRecovered(rtf, QStringLiteral("long.rtf"), name, false,
                                              TextEncoding::forNewDocument());
        else
            QVERIFY(!w.form->document().openFile(name, ReadMode::Text));
        QVERIFY(!viewsWhileRead.isEmpty());
        QCOMPARE(viewsWhileRead.first(), RichTextBox::View::Fast);
        QCOMPARE(w.text1().view(), centred ? RichTextBox::View::Rich : RichTextBox::View::Fast);
        QString text = QStringLiteral("first\n") + line + QStringLiteral("\nlast");
        if (centred)
            text += QStringLiteral("\nTitle");
        QCOMPARE(w.text1().Text(), text);
        // In the fast view the line is held in pieces, and nothing is left
        // for the layout to wrap anywhere.
        QCOMPARE(!SoftBreaks(*w.text1().document()).isEmpty(), !centred);
        QCOMPARE(w.text1().hasLongLineLayout(), centred);
        QCOMPARE(w.form->document().DocumentChanged(), recovered);
    }

    void paragraphDirectionFollowsTheFile()
    {
        // An RTF paragraph runs left to right unless it is marked, whatever
        // its letters; a text file's line takes its direction from them,
        // also after an RTF was open.
        const QString arabic = QStringLiteral("\u0645\u0631\u062d\u0628\u0627");
        QByteArray escaped;
        for (const QChar c : arabic)
            escaped += "\\u" + QByteArray::number(c.unicode()) + '?';
        const QString rtfName = path(QStringLiteral("direction.rtf"));
        QVERIFY(writeBytes(rtfName, "{\\rtf1\\ansi\\qc " + escaped + " plain\\par\\pard\\rtlpar "
                                        + escaped + "\\par}"));
        const QString textName = path(QStringLiteral("direction.txt"));
        QVERIFY(writeBytes(textName, "\xef\xbb\xbf" + arabic.toUtf8() + "\n"));
        TestWindow w;
        QVERIFY(!w.form->document().openFile(rtfName, ReadMode::Text));
        const QTextDocument &rtf = *w.text1().document();
        QCOMPARE(rtf.firstBlock().textDirection(), Qt::LeftToRight);
        QCOMPARE(rtf.firstBlock().next().textDirection(), Qt::RightToLeft);
        QVERIFY(!w.form->document().openFile(textName, ReadMode::Text));
        QTRY_VERIFY(!w.form->document().isLoading());
        QVERIFY(w.text1().Text().startsWith(arabic));
        QCOMPARE(w.text1().document()->firstBlock().textDirection(), Qt::RightToLeft);
    }

    void rtfSaveReopensWithFormatting()
    {
        TestWindow w;
        w.type(QStringLiteral("粗体 normal"));
        w.text1().setSelStart(0);
        w.text1().setSelLength(2);
        w.text1().setSelBold(true);
        w.text1().setSelColor(0x0000FF); // red in 0x00BBGGRR
        const QString target = path(QStringLiteral("doc"));
        w.dialogs.script.enqueue(ScriptedDialogHost::choose(target));
        w.trigger("save");
        TestWindow again(target);
        QCOMPARE(again.text1().Text(), QStringLiteral("粗体 normal"));
        QTextCursor c(again.text1().document());
        c.setPosition(1);
        QCOMPARE(c.charFormat().fontWeight(), int(QFont::Bold));
        QCOMPARE(c.charFormat().foreground().color(), QColor(255, 0, 0));
        c.setPosition(5);
        QCOMPARE(c.charFormat().fontWeight(), int(QFont::Normal));
    }

    void unreadableFileKeepsDocument()
    {
        const QString source = path(QStringLiteral("locked.txt"));
        QVERIFY(writeBytes(source, "secret"));
        QFile::setPermissions(source, QFileDevice::Permissions());
        QFile probe(source);
        if (probe.open(QIODevice::ReadOnly))
            QSKIP("permissions are not enforced for this user (root); the nocaps run covers this");
        TestWindow w;
        w.type(QStringLiteral("mine"));
        w.messages.answers.enqueue(MessageAnswer::No);
        w.dialogs.script.enqueue(ScriptedDialogHost::choose(source));
        w.trigger("open");
        QCOMPARE(w.text1().Text(), QStringLiteral("mine"));
        QCOMPARE(w.caption(), untitled);
        QCOMPARE(w.messages.shown.size(), 2);
        QCOMPARE(w.messages.shown[1].text,
                 QStringLiteral("无法打开文件“%1”：没有读取权限，请检查文件的权限").arg(source));
        QVERIFY(w.form->document().DocumentChanged());
    }

    // A folder that takes no new file: a file that may be written is saved in
    // place, one that may not is left alone and the reason is told.
    void unwritableFolderKeepsDocument_data()
    {
        QTest::addColumn<bool>("fileWritable");
        QTest::newRow("writable file: saved in place") << true;
        QTest::newRow("read-only file: refused") << false;
    }
    void unwritableFolderKeepsDocument()
    {
        QFETCH(bool, fileWritable);
        const QString folder = path(QStringLiteral("ro"));
        QVERIFY(QDir().mkpath(folder));
        const QString target = folder + QStringLiteral("/x.txt");
        QVERIFY(writeBytes(target, "old"));
        if (!fileWritable)
            QFile::setPermissions(target, QFileDevice::ReadOwner);
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        QFile probe(folder + QStringLiteral("/probe"));
        if (probe.open(QIODevice::WriteOnly)) {
            probe.remove();
            QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                              QFileDevice::ExeOwner);
            QSKIP("permissions are not enforced for this user (root); the nocaps run covers this");
        }
        TestWindow w;
        w.type(QStringLiteral("new"));
        w.dialogs.script.enqueue(ScriptedDialogHost::choose(target));
        w.trigger("save");
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"x.txt"});
        if (fileWritable) {
            QCOMPARE(readBytes(target), QByteArray("new"));
            QCOMPARE(w.caption(), QStringLiteral("x.txt - Inkwell"));
            QVERIFY(w.messages.shown.isEmpty());
            return;
        }
        QCOMPARE(readBytes(target), QByteArray("old"));
        QCOMPARE(w.caption(), untitled);
        QVERIFY(w.form->document().DocumentChanged());
        QCOMPARE(w.messages.shown.size(), 1);
        QCOMPARE(
            w.messages.shown[0].text,
            QStringLiteral(
                "无法保存文件“%1”：没有写入权限，请检查文件和所在文件夹的权限，或另存到其他位置")
                .arg(target));
    }

    void longPathShortenedInSaveMessage()
    {
        // A path of some 5,000 characters in folders that do not exist.
        QString target = dirPath();
        for (int i = 0; i < 40; ++i)
            target += u'/' + QString(120, QChar(u'a' + i % 26));
        target += QStringLiteral("/结尾.txt");
        TestWindow w;
        w.type(QStringLiteral("text"));
        w.dialogs.script.enqueue(ScriptedDialogHost::choose(target));
        w.trigger("save");
        QCOMPARE(w.messages.shown.size(), 1);
        const QString text = w.messages.shown[0].text;
        const QString frame = QStringLiteral("无法保存文件“");
        QVERIFY2(text.startsWith(frame + dirPath().left(10)), qPrintable(text));
        const qsizetype close = text.indexOf(QStringLiteral("”："));
        QVERIFY(close > 0);
        const QString shown = text.mid(frame.size(), close - frame.size());
        QVERIFY2(shown.size() <= 120 && shown.contains(u'…'), qPrintable(shown));
        QVERIFY(shown.endsWith(QStringLiteral("/结尾.txt")));
        // The kernel refuses the name or the missing folder, and says so in Chinese.
        const QString why = text.mid(close + 2);
        QVERIFY2(why.contains(QStringLiteral("文件名太长")) ||
                     why.contains(QStringLiteral("不存在")),
                 qPrintable(why));
    }

    // Files that are not regular files are refused at once from the open
    // dialog and from the command line; an alarm fails a read that hangs.
    void hostileFilesRefusedAtOnce_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("commandLine");
        for (const bool commandLine : {false, true}) {
            const char *from = commandLine ? "command line" : "open dialog";
            QTest::addRow("FIFO, %s", from) << "fifo" << commandLine;
            QTest::addRow("/dev/zero, %s", from) << "zero" << commandLine;
            QTest::addRow("socket, %s", from) << "socket" << commandLine;
        }
    }
    void hostileFilesRefusedAtOnce()
    {
        QFETCH(QString, kind);
        QFETCH(bool, commandLine);
        QString target = path(QStringLiteral("hostile.txt"));
        const QByteArray name = QFile::encodeName(target);
        int listener = -1;
        if (kind == u"fifo") {
            QVERIFY(::mkfifo(name.constData(), 0600) == 0);
        } else if (kind == u"zero") {
            target = QStringLiteral("/dev/zero");
        } else {
            listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            QVERIFY(size_t(name.size()) < sizeof address.sun_path);
            std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
            QVERIFY(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
        }
        ::alarm(120); // a read that blocks kills the test instead of hanging it
        // The command line goes through the window's start-up, as the
        // program's own does; the dialog through the open command.
        std::unique_ptr<TestWindow> window =
            commandLine ? std::make_unique<TestWindow>(target) : std::make_unique<TestWindow>();
        TestWindow &w = *window;
        if (!commandLine) {
            w.type(QStringLiteral("mine"));
            w.messages.answers.enqueue(MessageAnswer::No);
            w.dialogs.script.enqueue(ScriptedDialogHost::choose(target));
            w.trigger("open");
        }
        ::alarm(0);
        if (listener >= 0)
            ::close(listener);
        const QString refusal = QStringLiteral("无法打开文件“%1”：不是普通文件").arg(target);
        QVERIFY(!w.messages.shown.isEmpty());
        QCOMPARE(w.messages.texts().last(), refusal);
        QCOMPARE(w.messages.shown.last().icon, MessageIcon::Exclamation);
        QCOMPARE(w.text1().Text(), commandLine ? QString() : QStringLiteral("mine"));
        QCOMPARE(w.caption(), untitled);
    }

    // Hidden groups past the cap are cut: a save would lose them, so the
    // window says so once, and only then.
    void cutHiddenGroupsAreTold_data()
    {
        QTest::addColumn<int>("headers");
        QTest::addColumn<int>("messages");
        QTest::newRow("within the cap") << 1 << 0;
        QTest::newRow("past the cap") << 3 << 1;
    }
    void cutHiddenGroupsAreTold()
    {
        QFETCH(int, headers);
        QFETCH(int, messages);
        const qsizetype big = Rtf::Kept::maxBytes / 2 + 1024;
        QByteArray rtf = "{\\rtf1\\ansi ";
        for (int i = 0; i < headers; ++i)
            rtf += "{\\header \\bin" + QByteArray::number(big) + " " + QByteArray(big, 'h') + "}";
        rtf += "\\pard Body\\par}";
        QVERIFY(writeBytes(path(QStringLiteral("big.rtf")), rtf));
        TestWindow w(path(QStringLiteral("big.rtf")));
        QCOMPARE(w.text1().Text(), QStringLiteral("Body"));
        QCOMPARE(int(w.messages.shown.size()), messages);
        if (messages)
            QCOMPARE(w.messages.shown[0].text,
                     QStringLiteral("文档中未显示的内容（页眉、页脚、脚注等）过多，超出部分保存时不会保留。"));
    }

    void oversizeFileRefused()
    {
        const QString source = path(QStringLiteral("big.txt"));
        QVERIFY(writeBytes(source, QByteArray(3000, 'b')));
        TestWindow w;
        w.form->document().setReadLimit(2048);
        w.type(QStringLiteral("mine"));
        w.messages.answers.enqueue(MessageAnswer::No);
        w.dialogs.script.enqueue(ScriptedDialogHost::choose(source));
        w.trigger("open");
        QCOMPARE(
            w.messages.texts().last(),
            QStringLiteral("无法打开文件“%1”：文件太大（2.9 kB），Inkwell 最多能打开 2.0 kB 的文件")
                .arg(source));
        QCOMPARE(w.text1().Text(), QStringLiteral("mine"));
        QCOMPARE(w.caption(), untitled);
    }

    // The save is killed at a known moment: after the first megabyte of the
    // new bytes, when all are written, when they are synced, and when the
    // temporary file has its name but is not yet renamed. The child tells
    // the parent through a pipe that it has reached the moment and waits.
    void killDuringSaveLeavesOldFileWhole_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("stage");
        QTest::addColumn<int>("megabytes");
        const int written = int(SaveStage::Written), synced = int(SaveStage::Synced),
                  linked = int(SaveStage::Linked);
        for (const char *name : {"k.txt", "k.stx"}) {
            const QByteArray row = name;
            QTest::newRow(row + ": 1 of 3 MB written") << name << written << 1;
            QTest::newRow(row + ": 2 of 3 MB written") << name << written << 2;
            QTest::newRow(row + ": written, not synced") << name << written << 3;
            QTest::newRow(row + ": synced") << name << synced << 3;
            QTest::newRow(row + ": named, not renamed") << name << linked << 3;
        }
    }
    void killDuringSaveLeavesOldFileWhole()
    {
        QFETCH(QString, name);
        QFETCH(int, stage);
        QFETCH(int, megabytes);
        const bool scrambled = name.endsWith(u"stx");
        const QString target = path(name);
        const QByteArray oldBytes(1 << 20, scrambled ? char('o' ^ scrambleKey) : 'o');
        QVERIFY(writeBytes(target, oldBytes));
        TestWindow w;
        w.text1().setText((QString(63, u'n') + u'\n').repeated(3 << 14));
        int handshake[2];
        QVERIFY(::pipe(handshake) == 0);
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            ::close(handshake[0]);
            killStage = stage;
            killAfter = qint64(megabytes) << 20;
            killPipe = handshake[1];
            setSaveStageHook([](SaveStage reached, qint64 written) {
                if (int(reached) != killStage || written < killAfter)
                    return;
                const char ready = 'k';
                (void)!::write(killPipe, &ready, 1);
                for (;;)
                    ::pause();
            });
            w.dialogs.script.enqueue(ScriptedDialogHost::choose(target));
            w.form->commands().save();
            ::_exit(3); // the moment never came
        }
        ::close(handshake[1]);
        char ready = 0;
        const ssize_t got = ::read(handshake[0], &ready, 1);
        ::close(handshake[0]);
        ::kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        QVERIFY2(got == 1, "the save never reached the moment to kill it");
        QVERIFY(WIFSIGNALED(status));

        QCOMPARE(readBytes(target), oldBytes);
        // Whatever the kill left behind (a half-written temporary file
        // included) never holds the plain text of a scrambled document.
        for (const QFileInfo &left : QDir(dirPath()).entryInfoList(QDir::Files | QDir::Hidden)) {
            if (scrambled)
                QVERIFY2(!readBytes(left.filePath()).contains("nnnnnnnn"),
                         qPrintable(left.fileName()));
        }
    }

    // The encrypted text format.
    void scrambleIsItsOwnInverse()
    {
        for (int b = 0; b < 256; ++b) {
            QCOMPARE(int(ByteScramble(ByteScramble(static_cast<unsigned char>(b)))), b);
            QVERIFY(ByteScramble(static_cast<unsigned char>(b)) != b);
        }
    }

    void scrambledKnownVector()
    {
        // "中文a\r\n" in GBK is D6 D0 CE C4 61 0D 0A; each byte xor 5E.
        QTextDocument document;
        document.setPlainText(QStringLiteral("中文a\n"));
        const TextEncoding crlf{TextEncoding::Kind::Ansi, false, TextEncoding::LineEnding::CRLF, 0};
        QCOMPARE(serialize(document, crlf, FileFormat::Scrambled).bytes,
                 QByteArray("\x88\x8e\x90\x9a\x3f\x53\x54"));
    }

    void encryptedRoundTrip_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QString();
        QTest::newRow("chinese lines") << QStringLiteral("第一行\n第二行 with ASCII\n");
        QTest::newRow("outside 936") << QString::fromUcs4(U"emoji \U0001F600 é");
    }
    void encryptedRoundTrip()
    {
        QFETCH(QString, text);
        const QString file = path(QStringLiteral("e.stx"));
        TestWindow w;
        w.type(text);
        w.dialogs.script.enqueue(ScriptedDialogHost::choose(file));
        w.trigger("save");
        const QByteArray onDisk = readBytes(file);
        QCOMPARE(onDisk.size(), w.bytesOf(FileFormat::PlainText).size());
        if (!text.isEmpty())
            QVERIFY(!onDisk.contains(QByteArray("\xb5\xda")) && !onDisk.contains("ASCII"));

        TestWindow reader;
        reader.dialogs.script.enqueue(ScriptedDialogHost::choose(file));
        reader.trigger("opensafe");
        QCOMPARE(reader.text1().Text(), text);
        QCOMPARE(reader.caption(), QStringLiteral("e.stx - Inkwell"));
        QVERIFY(!reader.form->document().DocumentChanged());
        // Opening only reads: the file and the folder are as they were.
        QCOMPARE(readBytes(file), onDisk);
        QCOMPARE(QDir(dirPath()).entryList(QDir::Files), QStringList{QStringLiteral("e.stx")});
        // The save dialog still offers the name chosen last in it, not the encrypted file.
        QCOMPARE(reader.form->openuse.FileName, QStringLiteral("*.txt"));
    }

    void opensafeMissingFileCreatesEmpty()
    {
        const QString file = path(QStringLiteral("none.stx"));
        TestWindow w;
        w.dialogs.script.enqueue(ScriptedDialogHost::choose(file));
        w.trigger("opensafe");
        QVERIFY(QFile::exists(file));
        QCOMPARE(QFileInfo(file).size(), 0);
        QCOMPARE(w.caption(), QStringLiteral("none.stx - Inkwell"));
    }

    void openShowsScrambledBytesAsText()
    {
        const QString file = path(QStringLiteral("s.stx"));
        QByteArray bytes("abc");
        scrambleInPlace(bytes);
        QVERIFY(writeBytes(file, bytes));
        TestWindow w;
        w.dialogs.script.enqueue(ScriptedDialogHost::choose(file));
        w.trigger("open");
        QCOMPARE(w.text1().Text(), QStringLiteral("?<="));
    }
};

QTEST_MAIN(TestDocument)
#include "tst_document.moc"
