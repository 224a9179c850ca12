// The document model with no window and no widget: what it reads, the
// questions a save returns before it writes, what a save leaves behind,
// and drafts kept of it. Linked against document/ only, so a Qt Widgets
// dependency would not even link.
#include "core/atomicfile.h"
#include "core/contenthash.h"
#include "core/documenttext.h"
#include "document/bytescramble.h"
#include "document/documentstate.h"
#include "document/draftfile.h"
#include "document/draftjournal.h"
#include "document/draftkeeper.h"
#include "support/diskchange.h"
#include "support/files.h"
#include "support/fixedclock.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Inkwell;
using namespace Inkwell::Testing;
using namespace std::chrono_literals;

namespace {

using Topic = Question::Topic;

const QByteArray gbk("\xd6\xd0\xce\xc4 text\r\n"); // 中文 text
const TextEncoding cp1252{TextEncoding::Kind::Ansi, false, TextEncoding::LineEnding::LF, 1252};

// An unformatted document (recovered from a draft) whose text file is in
// code page 1252, where Chinese characters have no form.
void adoptWestern(DocumentState &model, const QString &title)
{
    QVERIFY(!model.adoptRecovered("{\\rtf1\\ansi a}", title, QString(), false, cp1252));
    QTextCursor all(model.document());
    all.select(QTextCursor::Document);
    all.setCharFormat(QTextCharFormat());
}

void type(DocumentState &model, const QString &text, const QTextCharFormat &format = {})
{
    QTextCursor cursor(model.document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text, format);
}

// Saves as a window would: each question is answered from `answers` (Yes
// or No, in order) and recorded; true when the file was written.
struct SaveRun {
    QList<Topic> asked;
    QStringList texts;
    QList<MessageAnswer> defaults;
    std::optional<Error> failure;
    bool written = false;
};
SaveRun saveAnswering(DocumentState &model, const QString &path, QList<bool> answers)
{
    SaveRun run;
    SaveRequest request(path, QFileInfo(path).fileName());
    for (int guard = 0; guard < 10; ++guard) {
        Result<std::optional<Question>> step = model.save(request);
        if (!step.ok()) {
            run.failure = step.error();
            return run;
        }
        if (!step.value()) {
            run.written = true;
            return run;
        }
        const Question &question = *step.value();
        run.asked << question.topic;
        run.texts << question.text;
        run.defaults << question.defaultAnswer;
        if (answers.isEmpty() || !answers.takeFirst())
            return run;
        request.agree(question.topic);
    }
    return run;
}

} // namespace

class TestDocumentModel : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_tmp;
    QString path(const QString &name) const { return m_tmp->filePath(name); }

private slots:
    void init()
    {
        m_tmp = std::make_unique<QTemporaryDir>();
        QVERIFY(m_tmp->isValid());
    }

    void openNamesTheDocument()
    {
        QVERIFY(writeBytes(path(QStringLiteral("in.txt")), gbk));
        DocumentState model;
        QSignalSpy captions(&model, &DocumentState::captionChanged);
        QSignalSpy loading(&model, &DocumentState::loadingChanged);
        QVERIFY(!model.openFile(path(QStringLiteral("in.txt")), ReadMode::Text));
        QCOMPARE(plainTextOf(*model.document()), QStringLiteral("中文 text\n"));
        QCOMPARE(model.title(), QStringLiteral("in.txt"));
        QCOMPARE(model.lastPath(), path(QStringLiteral("in.txt")));
        QVERIFY(!model.isEncrypted());
        QCOMPARE(model.kind(), DocumentKind::Plain);
        QCOMPARE(captions.size(), 1);
        QCOMPARE(captions.first().first().toString(), QStringLiteral("in.txt - Inkwell"));
        // The document is read-only for the length of the load, then free.
        QCOMPARE(loading.size(), 2);
        QCOMPARE(loading.at(0).first().toBool(), true);
        QCOMPARE(loading.at(1).first().toBool(), false);
        QVERIFY(!model.DocumentChanged());
        type(model, QStringLiteral("x"));
        QVERIFY(model.DocumentChanged());
    }

    void openScrambledIsEncrypted()
    {
        QByteArray bytes = gbk;
        scrambleInPlace(bytes);
        QVERIFY(writeBytes(path(QStringLiteral("s.stx")), bytes));
        DocumentState model;
        QVERIFY(!model.openFile(path(QStringLiteral("s.stx")), ReadMode::Scrambled));
        QCOMPARE(plainTextOf(*model.document()), QStringLiteral("中文 text\n"));
        QVERIFY(model.isEncrypted());
    }

    void failedOpenChangesNothing()
    {
        DocumentState model;
        type(model, QStringLiteral("kept"));
        QVERIFY(model.openFile(m_tmp->path(), ReadMode::Text)); // a folder
        QCOMPARE(plainTextOf(*model.document()), QStringLiteral("kept"));
        QCOMPARE(model.caption(), QStringLiteral("无标题 - Inkwell"));
    }

    // An RTF is read while nothing lays the document out, and then has the
    // kind its content asks for.
    void rtfIsReadDetached_data()
    {
        QTest::addColumn<QByteArray>("rtf");
        QTest::addColumn<bool>("rich");
        QTest::newRow("characters") << QByteArray("{\\rtf1\\ansi {\\b bold} plain}") << true;
        QTest::newRow("long paragraph")
            << "{\\rtf1\\ansi " + QByteArray(longLineChars + 1, 'y') + "}" << false;
    }
    void rtfIsReadDetached()
    {
        QFETCH(QByteArray, rtf);
        QFETCH(bool, rich);
        QVERIFY(writeBytes(path(QStringLiteral("a.rtf")), rtf));
        DocumentState model;
        QStringList events;
        connect(&model, &DocumentState::aboutToReplace, this, [&] { events << "detach"; });
        connect(model.document(), &QTextDocument::contentsChange, this, [&](int, int, int added) {
            if (added > 1 && !events.contains("read"))
                events << "read";
        });
        connect(&model, &DocumentState::replaced, this, [&](DocumentKind kind) {
            events << (kind == DocumentKind::Rich ? "rich" : "plain");
        });
        QVERIFY(!model.openFile(path(QStringLiteral("a.rtf")), ReadMode::Text));
        QCOMPARE(events, (QStringList{"detach", "read", rich ? "rich" : "plain"}));
        QCOMPARE(model.kind() == DocumentKind::Rich, rich);
        QVERIFY(!model.DocumentChanged());
        model.new_();
        QCOMPARE(model.kind(), DocumentKind::Plain);
    }

    // The questions a save returns, in the order asked; each must be agreed
    // to before the file is written, and a No writes nothing.
    void saveQuestions_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<bool>("unencodable");
        QTest::addColumn<QList<bool>>("answers");
        QTest::addColumn<QList<Topic>>("asked");
        QTest::addColumn<bool>("written");
        const QList<bool> yes{true, true};
        QTest::newRow("plain text to txt: no question")
            << "a.txt" << false << false << QList<bool>{} << QList<Topic>{} << true;
        QTest::newRow("formatted to rtf: no question")
            << "a.rtf" << true << true << QList<bool>{} << QList<Topic>{} << true;
        QTest::newRow("formatted to txt, yes")
            << "a.txt" << true << false << yes << QList<Topic>{Topic::FormatLoss} << true;
        QTest::newRow("formatted to stx, no") << "a.stx" << true << false << QList<bool>{false}
                                              << QList<Topic>{Topic::FormatLoss} << false;
        QTest::newRow("unencodable to txt, yes")
            << "a.txt" << false << true << yes << QList<Topic>{Topic::UnencodableCharacters}
            << true;
        QTest::newRow("both, yes to both")
            << "a.txt" << true << true << yes
            << QList<Topic>{Topic::FormatLoss, Topic::UnencodableCharacters} << true;
        QTest::newRow("both, no to the second")
            << "a.txt" << true << true << QList<bool>{true, false}
            << QList<Topic>{Topic::FormatLoss, Topic::UnencodableCharacters} << false;
    }
    void saveQuestions()
    {
        QFETCH(QString, name);
        QFETCH(bool, bold);
        QFETCH(bool, unencodable);
        QFETCH(QList<bool>, answers);
        QFETCH(QList<Topic>, asked);
        QFETCH(bool, written);
        DocumentState model;
        if (unencodable)
            adoptWestern(model, QStringLiteral("r.txt"));
        QTextCharFormat format;
        if (bold)
            format.setFontWeight(QFont::Bold);
        type(model, QStringLiteral("中文"), format);
        const SaveRun run = saveAnswering(model, path(name), answers);
        QVERIFY(!run.failure);
        QCOMPARE(run.asked, asked);
        QCOMPARE(run.written, written);
        QCOMPARE(QFileInfo::exists(path(name)), written);
        QCOMPARE(model.DocumentChanged(), !written);
        const QString unsaved = unencodable ? QStringLiteral("r.txt") : QStringLiteral("无标题");
        QCOMPARE(model.caption(), (written ? name : unsaved) + QStringLiteral(" - Inkwell"));
        if (unencodable && run.asked.contains(Topic::UnencodableCharacters))
            QVERIFY(run.texts.last().contains(QStringLiteral("“%1”").arg(name)));
    }

    // The encrypted and the RTF questions follow where the document came
    // from: each save of the steps answers yes, and the last save's
    // questions are compared.
    void questionsFollowTheSource_data()
    {
        QTest::addColumn<QString>("read");      // "", or the file opened first
        QTest::addColumn<QStringList>("saves"); // names saved under in turn
        QTest::addColumn<QList<Topic>>("lastAsks");
        QTest::newRow("saved as .stx, then in the clear: not read encrypted")
            << "" << QStringList{"a.stx", "b.txt"} << QList<Topic>{};
        QTest::newRow("read encrypted, saved in the clear twice: asked once")
            << "s.stx" << QStringList{"c.txt", "d.txt"} << QList<Topic>{};
        QTest::newRow("read encrypted, saved scrambled, then in the clear")
            << "s.stx" << QStringList{"e.stx", "f.txt"} << QList<Topic>{Topic::EncryptedToClear};
        QTest::newRow("read as RTF, saved as text, then as .log")
            << "r.rtf" << QStringList{"g.txt", "h.log"} << QList<Topic>{};
        QTest::newRow("new, saved as text, then as .log")
            << "" << QStringList{"i.txt", "j.log"} << QList<Topic>{Topic::PlainBecomesRtf};
        QTest::newRow("new, saved as .rtf, then as .log")
            << "" << QStringList{"k.rtf", "l.log"} << QList<Topic>{};
        QTest::newRow("read as text, saved as .rtf, then as .log")
            << "t.txt" << QStringList{"m.rtf", "n.log"} << QList<Topic>{Topic::PlainBecomesRtf};
    }
    void questionsFollowTheSource()
    {
        QFETCH(QString, read);
        QFETCH(QStringList, saves);
        QFETCH(QList<Topic>, lastAsks);
        QByteArray scrambled("secret");
        scrambleInPlace(scrambled);
        QVERIFY(writeBytes(path(QStringLiteral("s.stx")), scrambled));
        QVERIFY(writeBytes(path(QStringLiteral("r.rtf")), "{\\rtf1\\ansi rich}"));
        QVERIFY(writeBytes(path(QStringLiteral("t.txt")), "text"));
        DocumentState model;
        if (!read.isEmpty())
            QVERIFY(!model.openFile(path(read),
                                    read.endsWith(u"stx") ? ReadMode::Scrambled : ReadMode::Text));
        type(model, QStringLiteral(" typed"));
        SaveRun run;
        for (const QString &name : saves) {
            run = saveAnswering(model, path(name), {true, true, true});
            QVERIFY(run.written);
        }
        QCOMPARE(run.asked, lastAsks);
    }

    // A file read with bytes its encoding has no character for names the
    // file read in its question.
    void undecodableBytesAsk()
    {
        QVERIFY(writeBytes(path(QStringLiteral("odd.txt")), QByteArray("a\xff"
                                                                       "b")));
        DocumentState model;
        QVERIFY(!model.openFile(path(QStringLiteral("odd.txt")), ReadMode::Text));
        const SaveRun refused = saveAnswering(model, path(QStringLiteral("new.txt")), {false});
        QCOMPARE(refused.asked, QList<Topic>{Topic::UndecodableBytes});
        QVERIFY(refused.texts.first().contains(QStringLiteral("“odd.txt”")));
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("new.txt"))));
        const SaveRun agreed = saveAnswering(model, path(QStringLiteral("new.txt")), {true});
        QVERIFY(agreed.written);
        // Saved, the bytes are what they now are: no question again.
        QCOMPARE(saveAnswering(model, path(QStringLiteral("new.txt")), {}).asked, QList<Topic>{});
    }

    // Bytes made for a question are not written if the document changed
    // while the question was open.
    void editDuringQuestionIsSaved()
    {
        DocumentState model;
        adoptWestern(model, QStringLiteral("w.txt"));
        type(model, QStringLiteral("中"));
        SaveRequest request(path(QStringLiteral("e.txt")), QStringLiteral("e.txt"));
        Result<std::optional<Question>> step = model.save(request);
        QVERIFY(step.ok() && step.value());
        type(model, QStringLiteral("z"));
        request.agree(step.value()->topic);
        step = model.save(request);
        QVERIFY(step.ok() && !step.value());
        QCOMPARE(readBytes(path(QStringLiteral("e.txt"))), QByteArray("a?z"));
    }

    void failedSaveIsAnError()
    {
        DocumentState model;
        type(model, QStringLiteral("text"));
        const SaveRun run = saveAnswering(model, path(QStringLiteral("missing/a.txt")), {});
        QVERIFY(run.failure);
        QVERIFY(run.failure->what.contains(QStringLiteral("无法保存文件")));
        QVERIFY(!run.failure->why.isEmpty());
        QVERIFY(model.DocumentChanged());
        QCOMPARE(model.title(), QString());
    }

    // A character the encoding lacks is found while the save writes: a No
    // leaves the old file byte for byte and no temporary file behind; a Yes
    // writes the document again.
    void refusedUnencodableLeavesFileAlone_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("plain text") << "old.txt";
        QTest::newRow("scrambled") << "old.stx";
    }
    void refusedUnencodableLeavesFileAlone()
    {
        QFETCH(QString, name);
        const QString file = path(name);
        const QByteArray old("old bytes\n");
        QVERIFY(writeBytes(file, old));
        DocumentState model;
        adoptWestern(model, QStringLiteral("w.txt"));
        // Past the first pieces: the write stops when it meets the character.
        QString text;
        for (int i = 0; i < 40000; ++i)
            text += QStringLiteral("line %1 of plain text\n").arg(i);
        ::type(model, text + QStringLiteral("中"));
        QSignalSpy progress(&model, &DocumentState::saveProgress);
        const SaveRun refused = saveAnswering(model, file, {false});
        QCOMPARE(refused.asked, QList<Topic>{Topic::UnencodableCharacters});
        QVERIFY(!refused.written);
        QCOMPARE(readBytes(file), old);
        QCOMPARE(QDir(m_tmp->path()).entryList(QDir::Files | QDir::Hidden), QStringList{name});
        QVERIFY(model.DocumentChanged());
        QVERIFY(!model.writtenFile());
        QVERIFY(!model.isSaving());

        const SaveRun agreed = saveAnswering(model, file, {true});
        QVERIFY(agreed.written);
        QByteArray expected = QByteArray("a") + text.toLatin1() + '?';
        if (name.endsWith(u"stx"))
            scrambleInPlace(expected);
        QCOMPARE(readBytes(file), expected);
        QVERIFY(!model.DocumentChanged());
        QVERIFY(progress.size() > 1);
    }

    // What a save wrote is known without reading it back: the baseline of
    // the change test and the identity (size, hash) of the file's bytes.
    void saveTakesBaselineAndIdentity_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("lines");
        QTest::newRow("small text") << "a.txt" << 3;
        QTest::newRow("text past the whole baseline") << "big.txt" << 60000;
        QTest::newRow("scrambled: the bytes on disk") << "s.stx" << 3;
        QTest::newRow("rtf") << "r.rtf" << 3;
    }
    void saveTakesBaselineAndIdentity()
    {
        QFETCH(QString, name);
        QFETCH(int, lines);
        DocumentState model;
        QString text;
        for (int i = 0; i < lines; ++i)
            text += QStringLiteral("第%1行 text\n").arg(i);
        ::type(model, text + QString(10000, u'长')); // a line held in pieces
        QVERIFY(breakLongParagraphs(*model.document()));
        QVERIFY(model.DocumentChanged());
        QVERIFY(saveAnswering(model, path(name), {true}).written);
        const QByteArray bytes = readBytes(path(name));
        QVERIFY(model.writtenFile());
        QCOMPARE(model.writtenFile()->path, path(name));
        QCOMPARE(model.writtenFile()->size, bytes.size());
        QCOMPARE(model.writtenFile()->hash, contentHash(bytes));
        QVERIFY(model.loadedText().matches(plainTextOf(*model.document())));
        QVERIFY(!model.DocumentChanged());
        // An edit, and the same edit undone, are told apart by the text.
        QTextCursor cursor(model.document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(QStringLiteral("x"));
        QVERIFY(model.DocumentChanged());
        cursor.deletePreviousChar();
        model.document()->setModified(true);
        QVERIFY(!model.DocumentChanged());
        // A new document has no file written.
        model.new_();
        QVERIFY(!model.writtenFile());
    }

    // While a save writes, the model says so, and reports its pieces.
    void saveReportsItsPieces()
    {
        DocumentState model;
        QString text;
        for (int i = 0; i < 100000; ++i)
            text += QStringLiteral("第%1行\n").arg(i);
        ::type(model, text);
        QList<bool> savingSeen;
        QList<qint64> done;
        connect(&model, &DocumentState::savingChanged, this,
                [&](bool saving) { savingSeen << saving; });
        connect(&model, &DocumentState::saveProgress, this, [&](qint64 at, qint64 total) {
            QVERIFY(model.isSaving());
            QCOMPARE(total, qint64(model.document()->characterCount()));
            done << at;
        });
        QVERIFY(saveAnswering(model, path(QStringLiteral("p.txt")), {}).written);
        QCOMPARE(savingSeen, (QList<bool>{true, false}));
        QVERIFY(done.size() > 1);
        QVERIFY(std::is_sorted(done.begin(), done.end()));
        QCOMPARE(done.last(), qint64(model.document()->characterCount()));
        QVERIFY(!model.isSaving());
    }

    // A save killed at any moment of its streamed write leaves the old file
    // whole; the new one is complete once renamed.
    void killedStreamedSaveLeavesOldFile_data()
    {
        QTest::addColumn<int>("stage");
        QTest::addColumn<int>("piece"); // the Written report to die at
        QTest::newRow("after the first piece") << int(SaveStage::Written) << 1;
        QTest::newRow("flushed") << int(SaveStage::Synced) << 0;
        QTest::newRow("linked, before the rename") << int(SaveStage::Linked) << 0;
    }
    void killedStreamedSaveLeavesOldFile()
    {
        QFETCH(int, stage);
        QFETCH(int, piece);
        const QString file = path(QStringLiteral("k.txt"));
        const QByteArray old("the old file\n");
        QVERIFY(writeBytes(file, old));
        DocumentState model;
        QString text;
        // Two pieces and more: long lines, since what costs here is Qt's
        // layout of each paragraph typed.
        const QString words = QStringLiteral("新的文字 and words of the new text, ").repeated(3);
        for (int i = 0; i < 8000; ++i)
            text += QStringLiteral("第%1行 ").arg(i) + words + u'\n';
        ::type(model, text);
        static int dieAt;
        static int dieAtPiece;
        static int pieces;
        static qint64 writtenAtDeath;
        dieAt = stage;
        dieAtPiece = piece;
        pieces = 0;
        int fds[2];
        QVERIFY(::pipe(fds) == 0);
        static int report;
        report = fds[1];
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(fds[0]);
            setSaveStageHook([](SaveStage reached, qint64 written) {
                if (reached == SaveStage::Written)
                    ++pieces;
                if (int(reached) != dieAt ||
                    (reached == SaveStage::Written && pieces != dieAtPiece))
                    return;
                writtenAtDeath = written;
                if (::write(report, &writtenAtDeath, sizeof writtenAtDeath) < 0)
                    ::_exit(3);
                ::_exit(0);
            });
            SaveRequest request(file, QStringLiteral("k.txt"));
            model.save(request);
            ::_exit(1);
        }
        ::close(fds[1]);
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0); // died at the moment asked
        qint64 written = -1;
        QCOMPARE(::read(fds[0], &written, sizeof written), ssize_t(sizeof written));
        ::close(fds[0]);
        QCOMPARE(readBytes(file), old);
        const qint64 whole = QStringLiteral("a").size() + text.toUtf8().size(); // bound only
        if (stage == int(SaveStage::Written))
            QVERIFY(written > 0 && written < whole); // mid-write: streamed in pieces
        // The next save completes and writes the new text whole.
        QVERIFY(saveAnswering(model, file, {}).written);
        QCOMPARE(readBytes(file),
                 serialize(*model.document(), model.encoding(), FileFormat::PlainText).bytes);
    }

    void saveChangesQuestion()
    {
        const Question question = DocumentState::saveChangesQuestion();
        QCOMPARE(question.text, QStringLiteral("文件内容已经改变，是否保存？"));
        QVERIFY(question.withCancel);
        QCOMPARE(question.defaultAnswer, MessageAnswer::Yes);
    }

    // A file another program changed since it was read is not overwritten
    // unasked; No writes nothing, Yes writes. A file removed since loses
    // nothing by the save, which puts it back without a question.
    void saveOverChangedFile_data()
    {
        QTest::addColumn<DiskChange>("change");
        QTest::addColumn<bool>("asks");
        QTest::newRow("unchanged") << DiskChange::None << false;
        QTest::newRow("appended") << DiskChange::Append << true;
        QTest::newRow("rewritten, same size") << DiskChange::Rewrite << true;
        QTest::newRow("touched, new time") << DiskChange::Touch << true;
        QTest::newRow("renamed over, same size and time") << DiskChange::RenameOver << true;
        QTest::newRow("rewritten, time put back") << DiskChange::SameStatRewrite << true;
        QTest::newRow("deleted") << DiskChange::Delete << false;
    }
    void saveOverChangedFile()
    {
        QFETCH(DiskChange, change);
        QFETCH(bool, asks);
        const QString file = path(QStringLiteral("f.txt"));
        QVERIFY(writeStartFile(file));
        DocumentState model;
        QVERIFY(!model.openFile(file, ReadMode::Text));
        model.finishLoading();
        ::type(model, QStringLiteral("typed"));
        QVERIFY(changeOnDisk(file, change));
        const QByteArray theirs = fileBytes(file);
        QCOMPARE(model.diskState(), change == DiskChange::None     ? DiskState::Unchanged
                                    : change == DiskChange::Delete ? DiskState::Missing
                                                                   : DiskState::Changed);

        const SaveRun no = saveAnswering(model, file, {false});
        QVERIFY(!no.failure);
        const QList<Topic> asked = asks ? QList<Topic>{Topic::ChangedOnDisk} : QList<Topic>{};
        QCOMPARE(no.asked, asked);
        if (asks) {
            QCOMPARE(no.texts.first(), QStringLiteral("文件“f.txt”在打开后已被其他程序修改。"
                                                      "覆盖将丢失那些修改。仍要保存吗？"));
            QCOMPARE(no.defaults.first(), MessageAnswer::No);
            QVERIFY(!no.written);
            QCOMPARE(readBytes(file), theirs);
            QVERIFY(model.DocumentChanged());
            const SaveRun yes = saveAnswering(model, file, {true});
            QCOMPARE(yes.asked, asked);
            QVERIFY(yes.written);
        } else {
            QVERIFY(no.written);
        }
        QCOMPARE(readBytes(file), QByteArray("hello\ntyped"));
        QVERIFY(!model.DocumentChanged());
        QCOMPARE(model.diskState(), DiskState::Unchanged);
    }
    // The document's own saves move the file's stamp with them: only a
    // change made after the last one asks. A save under another name asks
    // nothing, whatever happened to the file first read.
    void ownSaveIsTheNewStamp()
    {
        const QString file = path(QStringLiteral("f.txt"));
        const QString other = path(QStringLiteral("g.txt"));
        QVERIFY(writeStartFile(file));
        DocumentState model;
        QVERIFY(!model.openFile(file, ReadMode::Text));
        model.finishLoading();
        ::type(model, QStringLiteral("1"));
        QCOMPARE(saveAnswering(model, file, {}).asked, QList<Topic>{});
        ::type(model, QStringLiteral("2"));
        QCOMPARE(saveAnswering(model, file, {}).asked, QList<Topic>{});
        QCOMPARE(readBytes(file), QByteArray("hello\n12"));
        QVERIFY(changeOnDisk(file, DiskChange::Append));
        ::type(model, QStringLiteral("3"));
        QCOMPARE(saveAnswering(model, file, {false}).asked, QList<Topic>{Topic::ChangedOnDisk});
        const SaveRun elsewhere = saveAnswering(model, other, {});
        QCOMPARE(elsewhere.asked, QList<Topic>{});
        QVERIFY(elsewhere.written);
        QCOMPARE(readBytes(file), QByteArray("hello\n12more\n"));
        // The document is now g.txt's: f.txt is another file.
        ::type(model, QStringLiteral("4"));
        QCOMPARE(saveAnswering(model, file, {}).asked, QList<Topic>{});
    }

    // A scrambled file's stamp is of the bytes on disk, not of the text
    // they hide: saving it unchanged on disk asks nothing, read or saved.
    void scrambledFileStampIsOfItsBytes()
    {
        const QString file = path(QStringLiteral("s.stx"));
        QByteArray bytes("hello\n");
        scrambleInPlace(bytes);
        QVERIFY(writeBytes(file, bytes) && setModified(file, startTime));
        DocumentState model;
        QVERIFY(!model.openFile(file, ReadMode::Scrambled));
        model.finishLoading();
        QCOMPARE(model.diskState(), DiskState::Unchanged);
        ::type(model, QStringLiteral("1"));
        QCOMPARE(saveAnswering(model, file, {}).asked, QList<Topic>{});
        QCOMPARE(model.diskState(), DiskState::Unchanged);
        ::type(model, QStringLiteral("2"));
        QCOMPARE(saveAnswering(model, file, {}).asked, QList<Topic>{});
        QVERIFY(changeOnDisk(file, DiskChange::SameStatRewrite));
        QCOMPARE(model.diskState(), DiskState::Changed);
    }

    // The file changed on disk is asked about under any name it has.
    void otherNameOfTheFileAsks_data()
    {
        QTest::addColumn<bool>("symlink");
        QTest::newRow("symlink") << true;
        QTest::newRow("hard link") << false;
    }
    void otherNameOfTheFileAsks()
    {
        QFETCH(bool, symlink);
        const QString file = path(QStringLiteral("f.txt"));
        const QString alias = path(QStringLiteral("alias.txt"));
        QVERIFY(writeStartFile(file));
        QVERIFY(symlink ? QFile::link(file, alias)
                        : ::link(QFile::encodeName(file).constData(),
                                 QFile::encodeName(alias).constData()) == 0);
        DocumentState model;
        QVERIFY(!model.openFile(file, ReadMode::Text));
        model.finishLoading();
        ::type(model, QStringLiteral("typed"));
        QVERIFY(changeOnDisk(file, DiskChange::Append));
        const SaveRun run = saveAnswering(model, alias, {false});
        QCOMPARE(run.asked, QList<Topic>{Topic::ChangedOnDisk});
        QCOMPARE(readBytes(file), QByteArray("hello\nmore\n"));
    }

    // When the window comes back: a change on disk is offered for reading
    // again once, Enter keeping what was typed; the save's own question
    // about a change tells it as well.
    void reloadOfferedOncePerChange()
    {
        const QString file = path(QStringLiteral("f.txt"));
        QVERIFY(writeStartFile(file));
        DocumentState model;
        QVERIFY(!model.openFile(file, ReadMode::Text));
        model.finishLoading();
        QVERIFY(!model.reloadQuestion());

        QVERIFY(changeOnDisk(file, DiskChange::Append));
        std::optional<Question> question = model.reloadQuestion();
        QVERIFY(question);
        QCOMPARE(question->topic, Topic::ReloadChanged);
        QCOMPARE(question->text, QStringLiteral("文件“f.txt”已被其他程序修改。要重新载入吗？"));
        QCOMPARE(question->defaultAnswer, MessageAnswer::Yes); // nothing typed to lose
        QVERIFY(!model.reloadQuestion());

        ::type(model, QStringLiteral("typed"));
        QVERIFY(setModified(file, {startTime.tv_sec + 5, 0}));
        question = model.reloadQuestion();
        QVERIFY(question);
        QCOMPARE(question->defaultAnswer, MessageAnswer::No);
        QVERIFY(!model.reloadQuestion());

        QVERIFY(!model.reload());
        model.finishLoading();
        QCOMPARE(model.document()->toPlainText(), QStringLiteral("hello\nmore\n"));
        QVERIFY(!model.DocumentChanged());
        QCOMPARE(model.diskState(), DiskState::Unchanged);
        QVERIFY(!model.reloadQuestion());

        QVERIFY(setModified(file, {startTime.tv_sec + 9, 0}));
        ::type(model, QStringLiteral("x"));
        QCOMPARE(saveAnswering(model, file, {false}).asked, QList<Topic>{Topic::ChangedOnDisk});
        QVERIFY(!model.reloadQuestion());
    }

    // A draft is of the model: its title, file and encryption, with no
    // window and no caption to cut it from.
    void draftTakesTheModel_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("title");
        QTest::newRow("untitled") << ""
                                  << "无标题";
        QTest::newRow("text file") << "notes.txt"
                                   << "notes.txt";
        QTest::newRow("scrambled file") << "secret.stx"
                                        << "secret.stx";
    }
    void draftTakesTheModel()
    {
        QFETCH(QString, file);
        QFETCH(QString, title);
        DocumentState model;
        const bool scrambled = file.endsWith(u"stx");
        if (!file.isEmpty()) {
            QVERIFY(writeBytes(path(file), QByteArray("x")));
            QVERIFY(!model.openFile(path(file), scrambled ? ReadMode::Scrambled : ReadMode::Text));
        }
        FixedClock clock;
        DraftKeeper keeper(model, clock, path(QStringLiteral("drafts")));
        type(model, QStringLiteral("草稿"));
        QVERIFY(!keeper.flush());
        const Result<DecodedDraft> decoded = decodeDraft(readBytes(keeper.draftPath()));
        QVERIFY(decoded.ok());
        const DecodedDraft &draft = decoded.value();
        QCOMPARE(draft.header.title, title);
        QCOMPARE(draft.header.path, file.isEmpty() ? QString() : path(file));
        QCOMPARE(draft.header.encrypted, scrambled);
        QCOMPARE(draft.header.saved, clock.moment);
        // A new document's draft starts from nothing; a small file's from a
        // snapshot, so that it needs no other file.
        QCOMPARE(draft.version, 2);
        QVERIFY(!draft.records.empty());
        const std::optional<DraftBase> base = DraftBase::decode(draft.records.front().payload);
        QVERIFY(base);
        QCOMPARE(base->kind, file.isEmpty() ? DraftBase::Kind::Empty : DraftBase::Kind::PlainText);
    }
};

// A draft keeper of a bare model, on a clock the test moves.
struct Drafting {
    DocumentState model;
    FixedClock clock;
    DraftKeeper keeper;
    Drafting(const QString &directory, DraftTiming timing = DraftTiming{20ms, 10s})
        : keeper(model, clock, directory, timing)
    {
    }
    DraftKeeper *operator->() { return &keeper; }
    void type(const QString &text) { ::type(model, text); }
    QByteArray bytesOf(FileFormat format)
    {
        return serialize(*model.document(), model.encoding(), format).bytes;
    }
    // Lets `time` pass on the clock and gives the keeper its tick: true when
    // a draft was due.
    bool pass(std::chrono::milliseconds time)
    {
        clock.moment = clock.moment.addMSecs(time.count());
        return keeper.tick();
    }
};

// The keeper's own rules (timing, privacy, giving up), with no window.
class TestDraftsAlone : public QObject {
    Q_OBJECT

    const DraftTiming fast{20ms, 10s};
    std::unique_ptr<QTemporaryDir> m_tmp;
    QString dir() const { return m_tmp->filePath(QStringLiteral("drafts")); }
    QStringList draftFiles() const { return QDir(dir()).entryList(QDir::Files | QDir::Hidden); }
    // The text another model brings back from a copy of the draft at `path`.
    static QString recoveredText(const QString &path)
    {
        QTemporaryDir other;
        const QString dir = other.filePath(QStringLiteral("drafts"));
        if (!QDir().mkpath(dir) ||
            !QFile::copy(path, dir + QStringLiteral("/") + QFileInfo(path).fileName()))
            return QStringLiteral("(no copy)");
        DocumentState model;
        FixedClock clock;
        DraftKeeper keeper(model, clock, dir);
        QString why;
        if (!keeper.recoverOrphans([](const OrphanDraft &) { return true; },
                                   [&why](const DamagedDraft &damaged) { why = damaged.why; }))
            return QStringLiteral("(not restored: %1)").arg(why);
        keeper.discard();
        return plainTextOf(*model.document());
    }

private slots:
    void init()
    {
        m_tmp = std::make_unique<QTemporaryDir>();
        QVERIFY(m_tmp->isValid());
    }

    void draftAndLockPrivateWhateverTheUmask()
    {
        const mode_t previous = ::umask(0);
        Drafting k(dir());
        QSignalSpy written(&k.keeper, &DraftKeeper::draftWritten);
        k.type(QStringLiteral("private"));
        QVERIFY(k.pass(fast.idle));
        QTRY_COMPARE(written.count(), 1);
        ::umask(previous);
        const QFileDevice::Permissions ownerOnly = QFileDevice::ReadUser | QFileDevice::WriteUser;
        QCOMPARE(QFileInfo(k->draftPath()).permissions() & 0x0777, ownerOnly);
        QCOMPARE(QFileInfo(k->draftPath() + QStringLiteral(".lock")).permissions() & 0x0777,
                 ownerOnly);
        QCOMPARE(QFileInfo(dir()).permissions() & 0x0077, QFileDevice::Permissions());
    }

    // The program's timing, on the clock: a draft a second after the first
    // unsaved change, and then every second while the typing goes on, so
    // that a kill loses at most about a second of it.
    void draftTimingOnTheClock_data()
    {
        QTest::addColumn<int>("typingEvery");     // ms of clock time between keystrokes
        QTest::addColumn<int>("typingFor");       // ms of clock time
        QTest::addColumn<QList<int>>("draftsAt"); // ms after the first keystroke
        QTest::newRow("3.5 s of typing") << 20 << 3500 << QList<int>{1000, 2020, 3040, 4060};
        QTest::newRow("keys 2.5 s apart") << 2500 << 6000 << QList<int>{1000, 3500, 6000};
        QTest::newRow("one key") << 20 << 1 << QList<int>{1000};
    }
    void draftTimingOnTheClock()
    {
        QFETCH(int, typingEvery);
        QFETCH(int, typingFor);
        QFETCH(QList<int>, draftsAt);
        Drafting k(dir(), DraftTiming());
        QSignalSpy written(&k.keeper, &DraftKeeper::draftWritten);
        QList<int> drafts;
        const QDateTime start = k.clock.moment;
        for (int t = 0; t <= 10000; t += 20) {
            k.clock.moment = start.addMSecs(t);
            if (t < typingFor && t % typingEvery == 0)
                k.type(QStringLiteral("x"));
            if (k->tick()) {
                drafts << t;
                QTRY_COMPARE(written.count(), drafts.size());
            }
        }
        QCOMPARE(drafts, draftsAt);
        QCOMPARE(recoveredText(k->draftPath()), plainTextOf(*k.model.document()));
    }

    // The clock set back (by the user, or a time server) must not put the
    // draft off by the time it went back.
    void clockSetBackKeepsDraftComing()
    {
        Drafting k(dir());
        k.type(QStringLiteral("typed before the clock went back"));
        QVERIFY(!k.pass(0ms));
        QVERIFY(k.pass(-1h));
    }

    void noDraftWithoutChanges_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("fresh document") << "fresh";
        QTest::newRow("file just read") << "read";
        QTest::newRow("typed and undone") << "undone";
        QTest::newRow("typed and saved") << "saved";
    }
    void noDraftWithoutChanges()
    {
        QFETCH(QString, how);
        const QString source = m_tmp->filePath(QStringLiteral("in.txt"));
        QVERIFY(writeBytes(source, "from disk"));
        Drafting k(dir());
        if (how == u"read") {
            QVERIFY(!k.model.openFile(source, ReadMode::Text));
        } else if (how == u"undone") {
            k.type(QStringLiteral("abc"));
            k->flush();
            QVERIFY(QFile::exists(k->draftPath()));
            k.model.document()->undo();
        } else if (how == u"saved") {
            k.type(QStringLiteral("abc"));
            SaveRequest request(m_tmp->filePath(QStringLiteral("s.txt")), QStringLiteral("s.txt"));
            const Result<std::optional<Question>> saved = k.model.save(request);
            QVERIFY(saved.ok() && !saved.value());
        }
        QVERIFY(!k->flush());
        QVERIFY(!QFile::exists(k->draftPath()));
    }

    void discardOnNormalClose()
    {
        Drafting k(dir());
        k.type(QStringLiteral("given up"));
        k->flush();
        QVERIFY(QFile::exists(k->draftPath()));
        k->discard();
        QVERIFY(draftFiles().isEmpty()); // draft and lock
    }
};

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    int status = 0;
    TestDocumentModel model;
    status |= QTest::qExec(&model, argc, argv);
    TestDraftsAlone drafts;
    status |= QTest::qExec(&drafts, argc, argv);
    return status;
}

#include "tst_documentmodel.moc"
