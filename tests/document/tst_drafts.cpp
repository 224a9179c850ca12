#include "../rtf/picturebomb.h"
#include "document/bytescramble.h"
#include "document/documentshadow.h"
#include "document/draftfile.h"
#include "document/draftkeeper.h"
#include "platform/codepage.h"
#include "core/documentimages.h"
#include "core/localpath.h"
#include "rtf/rtfwriter.h"
#include "support/testwindow.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <QTextTable>
#include <QTextBlock>
#include <QTextDocument>
#include <QThread>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Inkwell;
using namespace Inkwell::Testing;
using namespace std::chrono_literals;

namespace {

// Clock time: the tests move their clock and give the keeper its tick; a
// burst of edits in one test step counts as one.
const DraftTiming fast{20ms, 10s};

QTextImageFormat addPicture(QTextDocument *document, QColor colour)
{
    QImage image(6, 4, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return DocumentImages::add(document, image, png, "png");
}

// Typed text with bold, colour, a size and a picture in it.
void typeRichDocument(TestWindow &w)
{
    w.type(QStringLiteral("第一行 plain\n粗体 bold "));
    w.text1().setSelStart(9);
    w.text1().setSelLength(2);
    w.text1().setSelBold(true);
    w.text1().setSelColor(0x0000FF);
    w.text1().moveCursor(QTextCursor::End);
    w.text1().setSelFontSize(20);
    w.type(QStringLiteral("big "));
    QTextCursor cursor = w.text1().textCursor();
    cursor.insertImage(addPicture(w.text1().document(), Qt::green));
    w.text1().setTextCursor(cursor);
    w.type(QStringLiteral(" after the picture"));
}

// The draft in the file; an empty one, and a failure, when it is damaged.
DecodedDraft readDraft(const QString &path)
{
    const Result<DecodedDraft> draft = decodeDraft(readBytes(path));
    if (!draft.ok()) {
        qWarning("draft %s: %s", qPrintable(path), qPrintable(draft.error().why));
        return {};
    }
    return draft.value();
}

QString errorText(const std::optional<Error> &error)
{
    return error ? error->what + QStringLiteral("：") + error->why : QString();
}

// The window's draft keeper, made as the program makes it.
struct Keeper {
    TestWindow &window;
    DraftKeeper *keeper;
    Keeper(TestWindow &w, const QString &dir, DraftTiming timing = fast) : window(w)
    {
        w.form->keepDrafts(dir, timing);
        keeper = w.form->drafts();
    }
    DraftKeeper *operator->() { return keeper; }
    // Start-up's offer of orphaned drafts, questions and reports by the window.
    bool recover() { return window.form->recoverDrafts(); }
    // Lets `time` pass on the window's clock and gives the keeper its tick:
    // true when a draft was due.
    bool pass(std::chrono::milliseconds time)
    {
        window.clock.moment = window.clock.moment.addMSecs(time.count());
        return keeper->tick();
    }
};

} // namespace

class TestDrafts : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_tmp;
    QString dir() const { return m_tmp->filePath(QStringLiteral("drafts")); }
    QString path(const QString &name) const { return m_tmp->filePath(name); }
    QStringList draftFiles() const
    {
        return QDir(dir()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    // The draft a window of `source` leaves behind when it dies after "!" is
    // typed at the end; empty when `opened` finds the window not as expected.
    QString orphanAfterTyping(const QString &source,
                              const std::function<bool(TestWindow &)> &opened)
    {
        TestWindow dead(source);
        if (!opened(dead))
            return {};
        Keeper k(dead, dir());
        dead.text1().moveCursor(QTextCursor::End);
        dead.type(QStringLiteral("!"));
        k->flush();
        return k->draftPath();
    }

private slots:
    void init()
    {
        m_tmp = std::make_unique<QTemporaryDir>();
        QVERIFY(m_tmp->isValid());
    }

    void idleWriteHoldsTextFormattingAndPicture()
    {
        TestWindow w;
        Keeper k(w, dir());
        QSignalSpy written(k.keeper, &DraftKeeper::draftWritten);
        typeRichDocument(w);
        QVERIFY(!k.pass(fast.idle - 1ms)); // not before the document has been idle
        QVERIFY(k.pass(1ms));
        QTRY_COMPARE(written.count(), 1); // the write, on the worker thread

        const Result<DecodedDraft> decoded = decodeDraft(readBytes(k->draftPath()));
        QVERIFY2(decoded.ok(), qPrintable(decoded.failure().value_or(Error{}).why));
        const DecodedDraft &draft = decoded.value();
        QCOMPARE(draft.rtf, w.bytesOf(FileFormat::Rtf));
        QVERIFY(draft.rtf.contains("\\pict"));
        QCOMPARE(draft.header.title, QStringLiteral("无标题"));
        QCOMPARE(draft.header.saved.toSecsSinceEpoch(), w.clock.moment.toSecsSinceEpoch());
        QVERIFY(!draft.header.encrypted);
        QCOMPARE(QFileInfo(k->draftPath()).permissions() & 0x0777,
                 QFileDevice::ReadUser | QFileDevice::WriteUser);
        QCOMPARE(QFileInfo(dir()).permissions() & 0x0077, QFileDevice::Permissions());
        QVERIFY(QFile::exists(k->draftPath() + QStringLiteral(".lock")));

        // Saving makes the draft needless.
        QSignalSpy deleted(k.keeper, &DraftKeeper::draftDeleted);
        w.dialogs.script.enqueue(ScriptedDialogHost::choose(path(QStringLiteral("saved.rtf"))));
        w.trigger("save");
        QTRY_COMPARE(deleted.count(), 1);
        QVERIFY(!QFile::exists(k->draftPath()));
        QCOMPARE(draftFiles(), QStringList{QFileInfo(k->draftPath()).fileName() + ".lock"});
    }

    // The draft holds the user's unsaved text and its lock names the process:
    // both are the owner's alone even where the umask would share them.
    void orphanOffered_data()
    {
        QTest::addColumn<int>("answer");
        QTest::newRow("yes restores") << int(MessageAnswer::Yes);
        QTest::newRow("no sets it aside") << int(MessageAnswer::No);
    }
    void orphanOffered()
    {
        QFETCH(int, answer);
        const QString source = path(QStringLiteral("notes.txt"));
        QVERIFY(writeBytes(source, "\xe4\xb8\xad\xe6\x96\x87 utf-8\nline two\n"));
        QByteArray expectedRtf;
        TextEncoding expectedEncoding;
        QString orphan;
        {
            TestWindow dead(source);
            Keeper k(dead, dir());
            dead.text1().moveCursor(QTextCursor::End);
            typeRichDocument(dead);
            k->flush();
            expectedRtf = dead.bytesOf(FileFormat::Rtf);
            expectedEncoding = dead.form->document().encoding();
            orphan = k->draftPath();
            // The window dies here without a normal close: the draft stays.
        }
        QVERIFY(QFile::exists(orphan));
        QVERIFY(!QFile::exists(orphan + QStringLiteral(".lock")));

        TestWindow w;
        Keeper k(w, dir());
        w.messages.answers.enqueue(MessageAnswer(answer));
        const bool restored = k.recover();
        QCOMPARE(restored, MessageAnswer(answer) == MessageAnswer::Yes);
        QCOMPARE(w.messages.shown.size(), 1);
        QCOMPARE(w.messages.shown[0].kind, ShownMessage::YesNo);
        QCOMPARE(
            w.messages.shown[0].text,
            QStringLiteral("发现上次未保存的文档“notes.txt”（2012年9月5日 16:07）。是否恢复？"));
        QCOMPARE(w.messages.shown[0].title, QStringLiteral("Inkwell"));
        QCOMPARE(w.messages.shown[0].icon, MessageIcon::Information);
        // Enter keeps the work.
        QCOMPARE(w.messages.shown[0].defaultButton, MessageAnswer::Yes);
        if (restored) {
            QCOMPARE(w.bytesOf(FileFormat::Rtf), expectedRtf);
            QCOMPARE(w.form->document().encoding(), expectedEncoding);
            QCOMPARE(w.caption(), QStringLiteral("notes.txt - Inkwell"));
            QVERIFY(w.form->document().DocumentChanged());
            QCOMPARE(w.form->document().lastPath(), source);
            // The recovered draft is now this window's own, locked, until a normal close.
            QCOMPARE(k->draftPath(), orphan);
            QVERIFY(QFile::exists(orphan));
            QVERIFY(QFile::exists(orphan + QStringLiteral(".lock")));
            QCOMPARE(draftFiles().size(), 2);
            w.messages.answers.enqueue(MessageAnswer::No);
            QVERIFY(w.close());
            k->discard();
            QVERIFY(draftFiles().isEmpty());
        } else {
            QCOMPARE(w.text1().Text(), QString());
            QCOMPARE(w.caption(), QStringLiteral("无标题 - Inkwell"));
            QVERIFY(!QFile::exists(orphan));
            QVERIFY(!QFile::exists(orphan + QStringLiteral(".lock")));
            // Refused, not lost: kept aside, whole, for a while.
            const QString aside =
                dir() + QStringLiteral("/discarded/") + QFileInfo(orphan).fileName();
            QCOMPARE(k->discardedDirectory(), dir() + QStringLiteral("/discarded"));
            const Result<DecodedDraft> decoded = decodeDraft(readBytes(aside));
            QVERIFY2(decoded.ok(), qPrintable(decoded.failure().value_or(Error{}).why));
            const DecodedDraft &kept = decoded.value();
            QCOMPARE(kept.rtf, expectedRtf);
            QCOMPARE(QFileInfo(k->discardedDirectory()).permissions() & 0x0777,
                     QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
            // ... and never offered again.
            TestWindow again;
            Keeper k2(again, dir());
            QVERIFY(!k2.recover());
            QVERIFY(again.messages.shown.isEmpty());
        }
    }

    // A draft is read back through the same reader as a file: a draft of a
    // picture bomb recovers within the picture budget, keeps every picture
    // for the next save, and the user is told once.
    void recoveredPictureBombKeepsBudget()
    {
        const QList<QByteArray> pictures = bombPictures(12, 1);
        const QString source = path(QStringLiteral("bomb.rtf"));
        QVERIFY(writeBytes(source, bombRtf(pictures)));
        const QString orphan = orphanAfterTyping(
            source, [](TestWindow &dead) { return dead.messages.shown.size() == 1; });
        QVERIFY(QFile::exists(orphan));

        TestWindow w;
        Keeper k(w, dir());
        w.messages.answers.enqueue(MessageAnswer::Yes);
        QVERIFY(k.recover());
        QCOMPARE(w.form->document().pictureUse().decoded, 8);
        QCOMPARE(w.form->document().pictureUse().heldBack, 4);
        QVERIFY(w.form->document().pictureUse().bytes <= DocumentImages::pictureBudget);
        QCOMPARE(w.messages.shown.size(), 2); // the question, then the one message
        QCOMPARE(w.messages.shown[1].kind, ShownMessage::Inform);
        QCOMPARE(w.messages.shown[1].text,
                 QStringLiteral("文档中的图片太多，部分图片以占位框显示；保存时图片会原样保留。"));
        QCOMPARE(w.messages.shown[1].icon, MessageIcon::Exclamation);
        QVERIFY(w.text1().Text().endsWith(u'!'));
        const QByteArray saved = w.bytesOf(FileFormat::Rtf);
        for (const QByteArray &png : pictures)
            QVERIFY(holdsPicture(saved, png));
        w.messages.answers.enqueue(MessageAnswer::No);
        QVERIFY(w.close());
        k->discard();
    }

    // A document in the rich view comes back from its draft with what only
    // that view shows: alignment, a list, a table.
    void recoveredRichDocumentKeepsStructure()
    {
        const QString source = path(QStringLiteral("rich.rtf"));
        QVERIFY(writeBytes(source, "{\\rtf1\\ansi{\\pard\\qc Title\\par}"
                                   "\\trowd\\cellx1000\\cellx2000\\intbl a\\cell b\\cell\\row"
                                   "\\pard after\\par}"));
        const QString orphan = orphanAfterTyping(source, [](TestWindow &dead) {
            return dead.text1().view() == RichTextBox::View::Rich;
        });
        QVERIFY(QFile::exists(orphan));

        TestWindow w;
        Keeper k(w, dir());
        w.messages.answers.enqueue(MessageAnswer::Yes);
        QVERIFY(k.recover());
        QCOMPARE(w.text1().view(), RichTextBox::View::Rich);
        const QTextDocument &document = *w.text1().document();
        QCOMPARE(document.begin().blockFormat().alignment(), Qt::AlignHCenter);
        QTextTable *table = nullptr;
        for (QTextFrame *frame : document.rootFrame()->childFrames())
            if ((table = qobject_cast<QTextTable *>(frame)))
                break;
        QVERIFY(table);
        QCOMPARE(table->rows(), 1);
        QCOMPARE(table->columns(), 2);
        QVERIFY(w.text1().Text().endsWith(QStringLiteral("after!")));
        w.messages.answers.enqueue(MessageAnswer::No);
        QVERIFY(w.close());
        k->discard();
    }

    // A rich document's draft is written a slice at a time between events
    // (here a paragraph or table a slice), so that keys typed meanwhile are
    // not held up; an edit between slices starts it again, and edits that
    // keep coming cannot put it off for ever.
    void richDraftInSlices_data()
    {
        QTest::addColumn<QString>("between"); // what happens between the slices
        QTest::newRow("nothing") << "nothing";
        QTest::newRow("one key") << "one key";
        QTest::newRow("a key after every slice") << "keys";
    }
    void richDraftInSlices()
    {
        QFETCH(QString, between);
        QByteArray rtf = "{\\rtf1\\ansi{\\pard\\qc Title\\par}"
                         "\\trowd\\cellx1000\\cellx2000\\intbl a\\cell b\\cell\\row";
        for (int i = 0; i < 40; ++i)
            rtf += "\\pard paragraph " + QByteArray::number(i) + "\\par";
        const QString source = path(QStringLiteral("rich.rtf"));
        QVERIFY(writeBytes(source, rtf + "}"));
        TestWindow w(source);
        QCOMPARE(w.text1().view(), RichTextBox::View::Rich);
        DraftTiming timing = fast;
        timing.slice = 0ms;
        Keeper k(w, dir(), timing);
        QSignalSpy written(k.keeper, &DraftKeeper::draftWritten);
        w.text1().moveCursor(QTextCursor::End);
        w.type(QStringLiteral("x"));
        QVERIFY(k.pass(fast.idle));
        // One slice so far: the rest comes after the events waiting, so
        // however long they wait, no draft is on its way meanwhile.
        QVERIFY(!k->isWriting());
        QVERIFY(!QFile::exists(k->draftPath()));
        if (between == u"one key") {
            w.type(QStringLiteral("y"));
        } else if (between == u"keys") {
            // Keys that never stop; the draft still comes.
            QElapsedTimer waited;
            waited.start();
            for (int i = 0; i < 500 && written.isEmpty() && waited.elapsed() < 5000; ++i) {
                QCoreApplication::processEvents();
                w.type(QStringLiteral("k"));
            }
            QVERIFY(!written.isEmpty());
        }
        QTRY_COMPARE(written.count(), 1);
        const QByteArray draft = readDraft(k->draftPath()).rtf;
        if (between == u"keys") {
            // Written whole once the keys had stopped it a few times; the
            // keys after it are for the next draft.
            QVERIFY(draft.contains("paragraph 39xkkk"));
        } else {
            QCOMPARE(draft, w.bytesOf(FileFormat::Rtf));
            QVERIFY(draft.contains(between == u"one key" ? "paragraph 39xy" : "paragraph 39x}"));
        }
        QVERIFY(draft.contains("\\trowd"));
        k->discard();
    }

    // A refused draft is removed at the first start-up more than seven days
    // after it was refused, by the program's clock.
    void discardedDraftsExpire_data()
    {
        QTest::addColumn<int>("days");
        QTest::addColumn<bool>("kept");
        QTest::newRow("a start the same day") << 0 << true;
        QTest::newRow("a start 6 days later") << 6 << true;
        QTest::newRow("a start 8 days later") << 8 << false;
    }
    void discardedDraftsExpire()
    {
        QFETCH(int, days);
        QFETCH(bool, kept);
        QString orphan;
        {
            TestWindow dead;
            Keeper k(dead, dir());
            dead.type(QStringLiteral("not wanted"));
            k->flush();
            orphan = k->draftPath();
        }
        TestWindow refusing;
        Keeper k(refusing, dir());
        refusing.messages.answers << MessageAnswer::No;
        QVERIFY(!k.recover());
        const QString aside = k->discardedDirectory() + u'/' + QFileInfo(orphan).fileName();
        QVERIFY(QFile::exists(aside));

        TestWindow later;
        later.clock.moment = refusing.clock.moment.addDays(days);
        Keeper k2(later, dir());
        QVERIFY(!k2.recover());
        QCOMPARE(QFile::exists(aside), kept);
        QVERIFY(later.messages.shown.isEmpty());
    }

    // Formatting alone is an edit worth a draft, and the window does not
    // close on it without asking.
    void formatChangeKeepsDraft()
    {
        const QString source = path(QStringLiteral("plain.txt"));
        QVERIFY(writeBytes(source, "some plain words"));
        TestWindow w(source);
        w.form->keepDrafts(dir());
        w.text1().setSelStart(5);
        w.text1().setSelLength(5);
        w.text1().setSelFontSize(20);
        w.form->drafts()->flush();
        const QString draft = w.form->drafts()->draftPath();
        QVERIFY(QFile::exists(draft));
        QCOMPARE(readDraft(draft).rtf, w.bytesOf(FileFormat::Rtf));
        w.messages.answers.enqueue(MessageAnswer::Cancel);
        QVERIFY(!w.close());
        QVERIFY(QFile::exists(draft));
        w.messages.answers.enqueue(MessageAnswer::No);
        QVERIFY(w.close());
    }

    void severalOrphansStopAfterYes()
    {
        QStringList orphans; // oldest first
        for (int i = 0; i < 3; ++i) {
            TestWindow dead;
            Keeper k(dead, dir());
            dead.type(QStringLiteral("document %1").arg(i));
            k->flush();
            orphans << k->draftPath();
        }
        for (int i = 0; i < 3; ++i) {
            QFile f(orphans[i]);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(QDateTime::currentDateTime().addSecs(-600 + 60 * i),
                                  QFileDevice::FileModificationTime));
        }
        TestWindow w;
        Keeper k(w, dir());
        w.messages.answers << MessageAnswer::No << MessageAnswer::Yes;
        QVERIFY(k.recover());
        QCOMPARE(w.messages.shown.size(), 2); // no third question after the Yes
        QVERIFY(!w.messages.unexpectedQuestion);
        QCOMPARE(w.text1().Text(), QStringLiteral("document 1"));
        QVERIFY(!QFile::exists(orphans[2])); // newest, answered No
        QCOMPARE(k->draftPath(), orphans[1]);
        QVERIFY(QFile::exists(orphans[0])); // kept for the next start

        TestWindow next;
        Keeper nextKeeper(next, dir());
        next.messages.answers << MessageAnswer::Yes;
        QVERIFY(nextKeeper.recover());
        QCOMPARE(next.text1().Text(), QStringLiteral("document 0"));
        QCOMPARE(next.messages.shown.size(), 1); // the first window's draft is live
    }

    void killedWindowsLocksAreStale()
    {
        QString orphan;
        {
            TestWindow dead;
            Keeper k(dead, dir());
            dead.type(QStringLiteral("killed mid-sentence"));
            k->flush();
            orphan = k->draftPath();
        }
        // A process that dies holding locks, as a killed window does: one on
        // the draft, one of a window that never wrote a draft.
        const QString lonelyLock = dir() + QStringLiteral("/never-written.draft.lock");
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            QLockFile a(orphan + QStringLiteral(".lock"));
            QLockFile b(lonelyLock);
            _exit(a.tryLock(0) && b.tryLock(0) ? 0 : 1);
        }
        int status = -1;
        waitpid(child, &status, 0);
        QCOMPARE(status, 0);
        QVERIFY(QFile::exists(orphan + QStringLiteral(".lock")));

        TestWindow w;
        Keeper k(w, dir());
        w.messages.answers << MessageAnswer::Yes;
        QVERIFY(k.recover());
        QCOMPARE(w.text1().Text(), QStringLiteral("killed mid-sentence"));
        QVERIFY(!QFile::exists(lonelyLock));
    }

    void liveDraftsAreNeverOffered()
    {
        TestWindow one;
        TestWindow two;
        Keeper first(one, dir());
        Keeper second(two, dir());
        one.type(QStringLiteral("window one"));
        two.type(QStringLiteral("window two"));
        first->flush();
        second->flush();
        QVERIFY(first->draftPath() != second->draftPath());
        QCOMPARE(readDraft(first->draftPath()).rtf, one.bytesOf(FileFormat::Rtf));
        QCOMPARE(readDraft(second->draftPath()).rtf, two.bytesOf(FileFormat::Rtf));
        // A window open for long: the age of its lock does not make it stale.
        for (const QString &draft : {first->draftPath(), second->draftPath()}) {
            QFile lock(draft + QStringLiteral(".lock"));
            QVERIFY(lock.open(QIODevice::ReadWrite));
            QVERIFY(lock.setFileTime(QDateTime::currentDateTime().addDays(-2),
                                     QFileDevice::FileModificationTime));
        }
        TestWindow third;
        Keeper k(third, dir());
        QVERIFY(!k.recover());
        QVERIFY(third.messages.shown.isEmpty());
        QVERIFY(QFile::exists(first->draftPath()) && QFile::exists(second->draftPath()));
    }

    void encryptedDocumentDraftHidesText_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("hidden");
        QTest::newRow("opened encrypted") << "opensafe" << true;
        QTest::newRow("saved encrypted") << "save stx" << true;
        QTest::newRow("saved plain (control)") << "save txt" << false;
    }
    void encryptedDocumentDraftHidesText()
    {
        QFETCH(QString, how);
        QFETCH(bool, hidden);
        const QString phrase = QStringLiteral("机密文字 secret phrase");
        TestWindow w;
        Keeper k(w, dir());
        if (how == u"opensafe") {
            QByteArray scrambled("\xb5\xda\xd2\xbb"); // 第一 in GBK
            scrambleInPlace(scrambled);
            QVERIFY(writeBytes(path(QStringLiteral("s.stx")), scrambled));
            w.dialogs.script.enqueue(ScriptedDialogHost::choose(path(QStringLiteral("s.stx"))));
            w.trigger("opensafe");
            QCOMPARE(w.text1().Text(), QStringLiteral("第一"));
            w.text1().moveCursor(QTextCursor::End);
            w.type(phrase);
        } else {
            w.type(QStringLiteral("first "));
            const QString name =
                how == u"save stx" ? QStringLiteral("e.stx") : QStringLiteral("e.txt");
            w.dialogs.script.enqueue(ScriptedDialogHost::choose(path(name)));
            w.trigger("save");
            w.type(phrase);
        }
        k->flush();
        const QByteArray bytes = readBytes(k->draftPath());
        const Result<DecodedDraft> decoded = decodeDraft(bytes);
        QVERIFY2(decoded.ok(), qPrintable(decoded.failure().value_or(Error{}).why));
        const DecodedDraft &draft = decoded.value();
        QCOMPARE(draft.header.encrypted, hidden);
        QCOMPARE(draft.rtf, w.bytesOf(FileFormat::Rtf));

        const QString secret = QStringLiteral("机密文字");
        QByteArray gbk = QByteArray::fromStdString(
            CodePage::encode(std::u16string(reinterpret_cast<const char16_t *>(secret.utf16()),
                                            size_t(secret.size())),
                             936)
                .bytes);
        QByteArray rtfEscaped; // how RTF writes GBK bytes: \'bb\'fa...
        for (char c : gbk)
            rtfEscaped += "\\'" + QByteArray(1, c).toHex();
        const QList<QByteArray> forms = {gbk,
                                         rtfEscaped,
                                         secret.toUtf8(),
                                         QStringEncoder(QStringEncoder::Utf16LE)(secret),
                                         QStringEncoder(QStringEncoder::Utf16BE)(secret),
                                         QByteArray("secret phrase")};
        bool anyFound = false;
        for (const QByteArray &form : forms)
            anyFound = anyFound || bytes.contains(form);
        QCOMPARE(anyFound, !hidden);
    }

    // A draft names its document's file by the file's bytes: one whose name
    // is not UTF-8 comes back as the same name, not one with U+FFFD in it.
    void draftKeepsThePathsBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("UTF-8") << QByteArray("/home/u/\xe4\xb8\xad 100%.txt");
        QTest::newRow("GBK") << QByteArray("/home/u/\xd6\xd0\xce\xc4.txt");
    }
    void draftKeepsThePathsBytes()
    {
        QFETCH(QByteArray, bytes);
        DraftHeader header;
        header.title = QStringLiteral("中文.txt");
        header.path = pathFromLocalBytes(bytes);
        const Result<DecodedDraft> decoded = decodeDraft(encodeDraft(header, "{\\rtf1 x}"));
        QVERIFY(decoded.ok());
        QCOMPARE(localBytesOfPath(decoded.value().header.path), bytes);
        QCOMPARE(decoded.value().header.title, header.title);
    }

    void damagedDraftSetAside_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("reason");
        QTest::newRow("truncated") << "truncate"
                                   << "草稿文件不完整";
        QTest::newRow("a byte changed") << "flip"
                                        << "草稿文件的内容已损坏（校验不符）";
        QTest::newRow("not RTF") << "notrtf"
                                 << "草稿中的文档不是 RTF 格式";
        QTest::newRow("not a draft") << "garbage"
                                     << "不是 Inkwell 的草稿文件";
        QTest::newRow("header only") << "header"
                                     << "草稿文件不完整";
    }
    void damagedDraftSetAside()
    {
        QFETCH(QString, damage);
        QFETCH(QString, reason);
        QString orphan;
        {
            TestWindow dead;
            Keeper k(dead, dir());
            typeRichDocument(dead);
            k->flush();
            orphan = k->draftPath();
        }
        QByteArray bytes = readBytes(orphan);
        if (damage == u"truncate")
            bytes.chop(25);
        else if (damage == u"flip")
            bytes[bytes.size() - 40] = bytes[bytes.size() - 40] ^ 0x20;
        else if (damage == u"notrtf")
            bytes = encodeDraft(DraftHeader{}, "plain words, no markup");
        else if (damage == u"garbage")
            bytes = QByteArray(300, '\x07');
        else
            bytes = bytes.left(bytes.indexOf("\n\n"));
        QVERIFY(writeBytes(orphan, bytes));

        TestWindow w;
        Keeper k(w, dir());
        QVERIFY(!k.recover());
        QCOMPARE(w.messages.shown.size(), 1);
        QCOMPARE(w.messages.shown[0].kind, ShownMessage::Inform);
        QCOMPARE(w.messages.shown[0].icon, MessageIcon::Exclamation);
        QVERIFY2(w.messages.shown[0].text.startsWith(
                     QStringLiteral("上次未保存的文档草稿已损坏，无法恢复：") + reason),
                 qPrintable(w.messages.shown[0].text));
        QVERIFY(w.messages.shown[0].text.contains(orphan + QStringLiteral(".damaged")));
        QCOMPARE(w.text1().Text(), QString()); // nothing loaded, not even a part
        QVERIFY(!QFile::exists(orphan));
        QCOMPARE(readBytes(orphan + QStringLiteral(".damaged")), bytes);
        // Set aside for good: the next start does not ask again.
        TestWindow again;
        Keeper k2(again, dir());
        QVERIFY(!k2.recover());
        QVERIFY(again.messages.shown.isEmpty());
    }

    void shadowFollowsEdits_data()
    {
        QTest::addColumn<quint32>("seed");
        QTest::addColumn<int>("pieceSize");
        QTest::newRow("pieces of 1") << 1u << 1;
        QTest::newRow("pieces of 7") << 7u << 7;
        QTest::newRow("pieces of 64") << 64u << 64;
        QTest::newRow("pieces of 7, other seed") << 99u << 7;
    }
    // A draft of a document in the fast view (a long RTF) is copied through
    // the shadow: the copy keeps what the file held that is not shown.
    void shadowCopyKeepsHiddenGroups()
    {
        QTextDocument doc;
        parseRtf("{\\rtf1\\ansi{\\header \\pard Hospital\\par}"
                 "{\\pict\\wmetafile8\\picw100\\pich100\\picwgoal300\\pichgoal300 "
                 "0100090000030a00}text\\par}",
                 doc);
        DocumentShadow shadow(&doc);
        const std::unique_ptr<QTextDocument> copy = buildDocument(shadow.snapshot());
        const QByteArray rtf =
            serialize(*copy, TextEncoding::forNewDocument(), FileFormat::Rtf).bytes;
        QVERIFY2(rtf.contains("{\\header \\pard Hospital\\par}"), rtf.constData());
        QVERIFY2(rtf.contains("\\wmetafile8") && rtf.contains("0100090000030a00"),
                 rtf.constData());
        QCOMPARE(rtf, serialize(doc, TextEncoding::forNewDocument(), FileFormat::Rtf).bytes);
    }

    void shadowFollowsEdits()
    {
        QFETCH(quint32, seed);
        QFETCH(int, pieceSize);
        QRandomGenerator rng(seed);
        QTextDocument doc;
        DocumentShadow shadow(&doc, pieceSize);
        const QStringList words = {
            QStringLiteral("abc"),  QStringLiteral("中文"),           QStringLiteral("\n"),
            QStringLiteral("x\ny"), QString::fromUcs4(U"\U0001F600"), QStringLiteral("  ")};
        QTextCursor cursor(&doc);
        for (int step = 0; step < 300; ++step) {
            const int end = doc.characterCount() - 1;
            const int a = int(rng.bounded(end + 1));
            const int b = int(rng.bounded(end + 1));
            cursor.setPosition(std::min(a, b));
            cursor.setPosition(std::max(a, b), QTextCursor::KeepAnchor);
            switch (rng.bounded(7)) {
            case 0:
            case 1:
                cursor.insertText(words[int(rng.bounded(words.size()))]);
                break;
            case 2:
                cursor.removeSelectedText();
                break;
            case 3: {
                QTextCharFormat f;
                f.setFontWeight(rng.bounded(2) ? QFont::Bold : QFont::Normal);
                f.setForeground(QColor::fromRgb(rng.bounded(0x1000000u)));
                cursor.mergeCharFormat(f);
                break;
            }
            case 4:
                cursor.insertImage(addPicture(&doc, QColor::fromRgb(rng.bounded(0x1000000u))));
                break;
            case 5:
                doc.undo();
                break;
            default:
                if (rng.bounded(20) == 0)
                    doc.setPlainText(QStringLiteral("replaced\nwhole"));
                break;
            }
            if (step % 3 == 0 || step > 290) {
                const auto copy = buildDocument(shadow.snapshot());
                QCOMPARE(copy->toRawText(), doc.toRawText());
                QCOMPARE(Rtf::write(*copy, 936), Rtf::write(doc, 936));
            }
        }
    }

    void fullDiskKeepsPreviousDraft()
    {
        // Run by the tst_drafts_fulldisk entry inside a private mount
        // namespace, with a 64 KiB tmpfs mounted at this folder.
        const QString full = qEnvironmentVariable("INKWELL_FULL_DIR");
        if (full.isEmpty())
            QSKIP("needs a small tmpfs; run through the tst_drafts_fulldisk test");
        TestWindow w;
        Keeper k(w, full + QStringLiteral("/drafts"));
        w.type(QStringLiteral("small and safe"));
        const std::optional<Error> small = k->flush();
        QVERIFY2(!small, qPrintable(errorText(small)));
        const QByteArray before = readBytes(k->draftPath());
        QVERIFY(decodeDraft(before).ok());

        // Text that does not compress into 64 KiB, in RTF well over it.
        QString big;
        QRandomGenerator rng(5);
        for (int i = 0; i < 120000; ++i)
            big += QChar(u'a' + rng.bounded(26));
        w.text1().moveCursor(QTextCursor::End);
        w.type(big);
        const std::optional<Error> tooBig = k->flush();
        QVERIFY(tooBig);
        QVERIFY(!tooBig->why.isEmpty());
        QCOMPARE(readBytes(k->draftPath()), before);
        QVERIFY(w.messages.shown.isEmpty()); // typing is not interrupted by boxes
        // Editing goes on untouched, and the next write that fits succeeds.
        w.text1().selectAll();
        w.type(QStringLiteral("shorter now"));
        QCOMPARE(w.text1().Text(), QStringLiteral("shorter now"));
        const std::optional<Error> fits = k->flush();
        QVERIFY2(!fits, qPrintable(errorText(fits)));
        QCOMPARE(readDraft(k->draftPath()).rtf, w.bytesOf(FileFormat::Rtf));
        QCOMPARE(QDir(full + QStringLiteral("/drafts")).entryList(QDir::Files).size(), 2);
    }

    void snapshotCost_data()
    {
        QTest::addColumn<int>("megabytes");
        QTest::newRow("1 MB") << 1;
        QTest::newRow("10 MB") << 10;
        QTest::newRow("50 MB") << 50;
    }
    void snapshotCost()
    {
        // Prints what the GUI thread pays; timings vary by machine, so they
        // are reported, not asserted.
        if (qEnvironmentVariableIsEmpty("INKWELL_DRAFT_TIMING"))
            QSKIP("set INKWELL_DRAFT_TIMING=1 to measure snapshot costs");
        QFETCH(int, megabytes);
        const QString line = QString(30, QChar(0x4E2D)) + QStringLiteral("abcdefghijklmnopqr\n");
        const qsizetype lines = qsizetype(megabytes) * 1000 * 1000 / 80; // 80 bytes in GBK
        QString text;
        text.reserve(line.size() * lines);
        for (qsizetype i = 0; i < lines; ++i)
            text += line;
        TestWindow w;
        w.text1().setText(text);
        w.text1().document()->setModified(false);
        Keeper k(w, dir());
        QSignalSpy written(k.keeper, &DraftKeeper::draftWritten);
        QElapsedTimer all;
        all.start();
        w.text1().moveCursor(QTextCursor::End);
        w.type(QStringLiteral("x"));
        QVERIFY(k.pass(fast.idle));
        QTRY_COMPARE_WITH_TIMEOUT(written.count(), 1, 120000);
        const qint64 first = k->lastSnapshotCost();
        const qint64 firstDraft = all.elapsed();
        w.text1().setSelStart(int(text.size() / 2));
        w.type(QStringLiteral("y"));
        QVERIFY(k.pass(fast.idle));
        QTRY_COMPARE_WITH_TIMEOUT(written.count(), 2, 120000);
        const qint64 second = k->lastSnapshotCost();
        qInfo("%d MB: first draft after %lld ms (copied in slices of <= 8 ms); GUI-thread snapshot "
              "%.2f ms then, %.2f ms after one more keystroke; draft %lld bytes",
              megabytes, firstDraft, first / 1e6, second / 1e6,
              qint64(QFileInfo(k->draftPath()).size()));
        QCOMPARE(readDraft(k->draftPath()).rtf.size(),
                 w.bytesOf(FileFormat::Rtf).size());
    }
};

QTEST_MAIN(TestDrafts)
#include "tst_drafts.moc"
