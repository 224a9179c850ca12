// Saving and reading files: what a save keeps of a file, which files a read
// refuses, and the Chinese reasons a failure gives.
#include "core/atomicfile.h"
#include "core/localpath.h"
#include "core/regularfile.h"
#include "core/systemerror.h"
#include "support/files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace Inkwell;
using namespace Inkwell::Testing;

namespace {

struct stat statOf(const QString &path)
{
    struct stat st {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st;
}

QString run(const QString &program, const QStringList &arguments, bool *ok)
{
    QProcess p;
    p.start(program, arguments);
    *ok = p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    return QString::fromLocal8Bit(p.readAllStandardOutput() + p.readAllStandardError());
}

// A Chinese reason holds no Latin word ("Permission denied", "Unknown error").
bool hasLatinWord(const QString &text)
{
    return text.contains(QRegularExpression(QStringLiteral("[A-Za-z]{3,}")));
}

bool rootWithAllPowers()
{
    // Root under setpriv without CAP_DAC_OVERRIDE cannot write a 0444 file.
    if (::geteuid() != 0)
        return false;
    QTemporaryDir dir;
    const QString probe = dir.filePath(QStringLiteral("probe"));
    writeBytes(probe, "x");
    ::chmod(QFile::encodeName(probe).constData(), 0444);
    return ::access(QFile::encodeName(probe).constData(), W_OK) == 0;
}

// The folder's files named like a save's temporary file.
QStringList tempFilesIn(const QString &folder)
{
    return QDir(folder)
        .entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
        .filter(QStringLiteral(".inkwell-"));
}

// The mode of the temporary file a save has linked, seen at that moment.
QString stageFolder;
int linkedTempMode = -1;
void recordLinkedTemp(SaveStage stage, qint64)
{
    if (stage != SaveStage::Linked)
        return;
    const QStringList temps = tempFilesIn(stageFolder);
    if (temps.size() == 1)
        linkedTempMode = int(statOf(stageFolder + u'/' + temps[0]).st_mode & 07777);
}

// The save as another user: tst_files --save-as-child PATH BYTES, run under
// setpriv, saves and prints the reason of a failure.
constexpr char childSwitch[] = "--save-as-child";

struct ChildSave {
    bool ran = false;
    bool saved = false;
    QString why;
};

ChildSave saveAsUser(uid_t uid, gid_t gid, const QList<gid_t> &groups, const QString &file,
                     const QByteArray &bytes)
{
    QStringList groupList;
    for (const gid_t g : groups)
        groupList << QString::number(g);
    QStringList arguments{QStringLiteral("--reuid=%1").arg(uid),
                          QStringLiteral("--regid=%1").arg(gid)};
    arguments << (groups.isEmpty() ? QStringLiteral("--clear-groups")
                                   : QStringLiteral("--groups=") + groupList.join(u','));
    arguments << QCoreApplication::applicationFilePath() << QString::fromLatin1(childSwitch) << file
              << QString::fromUtf8(bytes);
    QProcess p;
    p.start(QStringLiteral("setpriv"), arguments);
    ChildSave out;
    out.ran = p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit &&
              (p.exitCode() == 0 || p.exitCode() == 1);
    out.saved = out.ran && p.exitCode() == 0;
    out.why = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
    return out;
}

// Runs the read in a child process so that a read that blocks (a FIFO
// without a writer) fails the test instead of hanging it.
// The reason the read gave ("" when it worked), or none when it never returned.
std::optional<QString> readWithWatchdog(const QString &path)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return std::nullopt;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        const Result<FileContent> content = readRegularFile(path, qint64(1) << 20, false);
        const QByteArray why = content.ok() ? QByteArray("OK") : content.error().why.toUtf8();
        if (::write(fds[1], why.constData(), why.size()) < 0)
            ::_exit(2);
        ::_exit(0);
    }
    ::close(fds[1]);
    // Generous on a busy machine: this only catches a read that never returns.
    bool done = false;
    for (int i = 0; i < 300 && !done; ++i) {
        int status = 0;
        done = ::waitpid(child, &status, WNOHANG) == child;
        if (!done)
            QTest::qWait(100);
    }
    if (!done) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    char buffer[1024];
    const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    ::close(fds[0]);
    if (!done)
        return std::nullopt;
    const QString why = QString::fromUtf8(buffer, n > 0 ? n : 0);
    return why == u"OK" ? QString() : why;
}

} // namespace

// Bytes made on demand: `pieces` in order, then the end, or a stop after
// `stopAfter` of them (-1: never).
class ScriptedPieces : public FilePieces {
public:
    ScriptedPieces(QList<QByteArray> pieces, int stopAfter)
        : m_pieces(std::move(pieces)), m_stopAfter(stopAfter)
    {
    }
    Step next(QByteArray &piece) override
    {
        if (m_given == m_stopAfter)
            return Step::Stop;
        if (m_given == m_pieces.size())
            return Step::End;
        piece = m_pieces.at(m_given++);
        return Step::Piece;
    }
    int given() const { return m_given; }

private:
    QList<QByteArray> m_pieces;
    int m_stopAfter;
    int m_given = 0;
};

class TestFiles : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_tmp;
    QString path(const QString &name) const { return m_tmp->filePath(name); }

private slots:
    void init()
    {
        m_tmp = std::make_unique<QTemporaryDir>();
        QVERIFY(m_tmp->isValid());
    }

    // A file written from pieces made on demand holds them all, in order;
    // a maker that stops leaves the file as it was (or absent) and no
    // temporary file, whichever way the file would have been written.
    void piecesWrittenOrStopped_data()
    {
        QTest::addColumn<QString>("existing"); // "", "file", "hard link"
        QTest::addColumn<int>("stopAfter");
        for (const QString &existing :
             {QString(), QStringLiteral("file"), QStringLiteral("hard link")}) {
            const QString name = existing.isEmpty() ? QStringLiteral("new file") : existing;
            QTest::newRow(qPrintable(name + QStringLiteral(": all pieces"))) << existing << -1;
            QTest::newRow(qPrintable(name + QStringLiteral(": stopped at once"))) << existing << 0;
            QTest::newRow(qPrintable(name + QStringLiteral(": stopped after two")))
                << existing << 2;
        }
    }
    void piecesWrittenOrStopped()
    {
        QFETCH(QString, existing);
        QFETCH(int, stopAfter);
        const QString file = path(QStringLiteral("f.txt"));
        const QByteArray old("old content\n");
        if (!existing.isEmpty())
            QVERIFY(writeBytes(file, old));
        if (existing == u"hard link")
            QVERIFY(::link(QFile::encodeName(file).constData(),
                           QFile::encodeName(path(QStringLiteral("g.txt"))).constData()) == 0);
        const QList<QByteArray> pieces{"first ", QByteArray(3 << 20, 'x'), "", "\nlast"};
        ScriptedPieces maker(pieces, stopAfter);
        const Result<bool> written = writeFileAtomically(file, maker);
        QVERIFY2(written.ok(), written.ok() ? "" : qPrintable(written.error().why));
        QCOMPARE(written.value(), stopAfter < 0);
        QVERIFY(tempFilesIn(m_tmp->path()).isEmpty());
        if (stopAfter < 0) {
            QCOMPARE(readBytes(file), pieces.join());
            if (existing == u"hard link")
                QCOMPARE(readBytes(path(QStringLiteral("g.txt"))), pieces.join());
        } else if (existing.isEmpty()) {
            QVERIFY(!QFileInfo::exists(file));
        } else {
            QCOMPARE(readBytes(file), old);
        }
    }
    void cleanup()
    {
        // A test may leave a folder read-only.
        QProcess::execute(QStringLiteral("chmod"),
                          {QStringLiteral("-R"), QStringLiteral("u+rwx"), m_tmp->path()});
        // QDir does not list names that are not UTF-8, so QTemporaryDir
        // cannot remove them.
        const QByteArray folder = QFile::encodeName(m_tmp->path());
        for (const QByteArray &name : entryBytes(folder)) {
            if (hasForeignBytes(pathFromLocalBytes(name)))
                ::unlink((folder + '/' + name).constData());
        }
    }

    void reasonIsChinese_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<bool>("reading");
        QTest::addColumn<QString>("expected");
        QTest::newRow("ENOSPC") << ENOSPC << false << "磁盘空间不足";
        QTest::newRow("EACCES writing") << EACCES << false << "没有写入权限";
        QTest::newRow("EACCES reading") << EACCES << true << "没有读取权限";
        QTest::newRow("EPERM writing") << EPERM << false << "没有写入权限";
        QTest::newRow("ENAMETOOLONG") << ENAMETOOLONG << false << "文件名太长";
        QTest::newRow("EROFS") << EROFS << false << "只读文件系统";
        QTest::newRow("EDQUOT") << EDQUOT << false << "磁盘配额已满";
        QTest::newRow("ENOENT") << ENOENT << true << "不存在";
        QTest::newRow("EISDIR") << EISDIR << true << "文件夹";
        QTest::newRow("EIO") << EIO << false << "读写出错";
        QTest::newRow("EMFILE") << EMFILE << true << "打开的文件太多";
        QTest::newRow("ETXTBSY") << ETXTBSY << false << "正被运行";
        QTest::newRow("EFBIG") << EFBIG << false << "文件太大";
        QTest::newRow("ELOOP") << ELOOP << true << "符号链接";
        QTest::newRow("ENOTDIR") << ENOTDIR << true << "不是文件夹";
        QTest::newRow("EXDEV") << EXDEV << false << "跨磁盘";
        QTest::newRow("unknown number") << 4242 << false << "错误 4242";
    }
    void reasonIsChinese()
    {
        QFETCH(int, number);
        QFETCH(bool, reading);
        QFETCH(QString, expected);
        const QString why = reasonFor(number, reading ? FileAccess::Read : FileAccess::Write);
        QVERIFY2(why.contains(expected), qPrintable(why));
    }

    void noErrorNumberReadsEnglish()
    {
        for (int number = 0; number < 200; ++number) {
            for (const FileAccess access : {FileAccess::Read, FileAccess::Write}) {
                const QString why = reasonFor(number, access);
                QVERIFY2(!why.isEmpty() && !hasLatinWord(why),
                         qPrintable(QStringLiteral("%1: %2").arg(number).arg(why)));
            }
        }
    }

    void longPathShortenedInTheMiddle_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        QTest::newRow("5000 characters of folders")
            << QStringLiteral("/home/user/") + QString(5000, u'd') + QStringLiteral("/笔记.txt")
            << QStringLiteral("笔记.txt");
        QTest::newRow("many short folders")
            << QStringLiteral("/a").repeated(400) + QStringLiteral("/report-2024.txt")
            << QStringLiteral("report-2024.txt");
        QTest::newRow("the name alone is long")
            << QStringLiteral("/tmp/") + QString(300, u'n') << QString();
    }
    void longPathShortenedInTheMiddle()
    {
        QFETCH(QString, path);
        QFETCH(QString, name);
        const QString shown = shortenedPath(path);
        QVERIFY2(shown.size() <= 120, qPrintable(shown));
        QVERIFY(shown.contains(u'…'));
        QCOMPARE(shown.left(5), path.left(5));
        QCOMPARE(shown.right(10), path.right(10));
        if (!name.isEmpty())
            QVERIFY2(shown.endsWith(u'/' + name), qPrintable(shown));
        const QString shortPath = QStringLiteral("/home/user/a.txt");
        QCOMPARE(shortenedPath(shortPath), shortPath);
    }

    // Every row saves "new" over "old" and checks what the file kept.
    void saveKeepsIdentity_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::newRow("hard link seen by the other name") << "link";
        QTest::newRow("nobody:nogroup 664") << "nobody";
        QTest::newRow("root:nogroup 640") << "rootgroup";
        QTest::newRow("setgid 2755") << "2755";
        QTest::newRow("sticky and setuid 5744") << "5744";
        QTest::newRow("extended attribute user.tag") << "xattr";
        QTest::newRow("ACL entry for nobody") << "acl";
        QTest::newRow("symlink: the target is saved") << "symlink";
        QTest::newRow("read-only 0444: root may replace it") << "0444";
    }
    void saveKeepsIdentity()
    {
        QFETCH(QString, setup);
        const QString file = path(QStringLiteral("h1.txt"));
        const QByteArray name = QFile::encodeName(file);
        QVERIFY(writeBytes(file, "old"));
        const bool asRoot = rootWithAllPowers();
        if (setup == u"0444" && !asRoot)
            QSKIP("only root may write a read-only file");
        if ((setup == u"nobody" || setup == u"rootgroup") && !asRoot)
            QSKIP("giving a file to another owner needs root");
        const passwd *nobody = ::getpwnam("nobody");
        const group *nogroup = ::getgrnam("nogroup");
        if ((setup == u"nobody" || setup == u"rootgroup") && (!nobody || !nogroup))
            QSKIP("no user nobody or group nogroup on this system");
        bool ok = false;
        QString saveAs = file;
        if (setup == u"link") {
            QVERIFY(::link(name.constData(), QFile::encodeName(path("h2.txt")).constData()) == 0);
        } else if (setup == u"nobody") {
            QVERIFY(::chown(name.constData(), nobody->pw_uid, nogroup->gr_gid) == 0);
            QVERIFY(::chmod(name.constData(), 0664) == 0);
        } else if (setup == u"rootgroup") {
            QVERIFY(::chown(name.constData(), 0, nogroup->gr_gid) == 0);
            QVERIFY(::chmod(name.constData(), 0640) == 0);
        } else if (setup == u"2755") {
            QVERIFY(::chmod(name.constData(), 02755) == 0);
        } else if (setup == u"5744") {
            QVERIFY(::chmod(name.constData(), 05744) == 0);
        } else if (setup == u"0444") {
            QVERIFY(::chmod(name.constData(), 0444) == 0);
        } else if (setup == u"xattr") {
            if (::setxattr(name.constData(), "user.tag", "1", 1, 0) != 0)
                QSKIP("this file system takes no user attributes");
        } else if (setup == u"acl") {
            const QString setfacl = QStandardPaths::findExecutable(QStringLiteral("setfacl"));
            if (setfacl.isEmpty())
                QSKIP("setfacl is not installed (Debian package acl)");
            const QString out =
                run(setfacl, {QStringLiteral("-m"), QStringLiteral("u:nobody:rw"), file}, &ok);
            if (!ok)
                QSKIP(qPrintable(QStringLiteral("no ACLs on this file system: ") + out));
        } else if (setup == u"symlink") {
            saveAs = path(QStringLiteral("link.txt"));
            QVERIFY(::symlink("h1.txt", QFile::encodeName(saveAs).constData()) == 0);
        }
        const struct stat before = statOf(file);
        QString acl;
        if (setup == u"acl")
            acl = run(QStringLiteral("getfacl"), {QStringLiteral("-c"), file}, &ok);

        const auto error = writeFileAtomically(saveAs, "new");
        QVERIFY2(!error, error ? qPrintable(error->why) : "");

        QCOMPARE(readBytes(file), QByteArray("new"));
        const struct stat after = statOf(file);
        QCOMPARE(after.st_uid, before.st_uid);
        QCOMPARE(after.st_gid, before.st_gid);
        QCOMPARE(after.st_mode, before.st_mode);
        QCOMPARE(after.st_nlink, before.st_nlink);
        if (setup == u"link") {
            QCOMPARE(after.st_ino, before.st_ino);
            QCOMPARE(readBytes(path(QStringLiteral("h2.txt"))), QByteArray("new"));
        } else {
            // One link: replaced through a temporary file, never in place.
            QVERIFY(after.st_ino != before.st_ino);
        }
        if (setup == u"xattr") {
            char value[8] = {};
            QCOMPARE(int(::getxattr(name.constData(), "user.tag", value, sizeof value)), 1);
            QCOMPARE(value[0], '1');
        }
        if (setup == u"acl") {
            const QString now = run(QStringLiteral("getfacl"), {QStringLiteral("-c"), file}, &ok);
            QVERIFY2(now.contains(QStringLiteral("user:nobody:rw-")), qPrintable(now));
            QCOMPARE(now, acl);
        }
        if (setup == u"symlink")
            QVERIFY(S_ISLNK(statOf(saveAs).st_mode));
        // Nothing is left beside the file.
        const QStringList left =
            QDir(m_tmp->path())
                .entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QString &entry : left)
            QVERIFY2(!entry.contains(QStringLiteral("inkwell")), qPrintable(entry));
    }

    void newFileFollowsUmaskOrStaysPrivate_data()
    {
        QTest::addColumn<NewFileAccess>("access");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("existingBecomes");
        QTest::newRow("a document: what the umask allows, an existing file keeps its mode")
            << NewFileAccess::Shared << 0664 << 0644;
        QTest::newRow("a private note: the owner only, an existing file keeps its mode")
            << NewFileAccess::Private << 0600 << 0644;
        // An existing draft that somehow became readable is private again.
        QTest::newRow("a draft: the owner only, always")
            << NewFileAccess::OwnerOnly << 0600 << 0600;
    }
    void newFileFollowsUmaskOrStaysPrivate()
    {
        QFETCH(NewFileAccess, access);
        QFETCH(int, mode);
        QFETCH(int, existingBecomes);
        const mode_t previous = ::umask(002);
        const QString file = path(QStringLiteral("n.txt"));
        stageFolder = m_tmp->path();
        linkedTempMode = -1;
        setSaveStageHook(recordLinkedTemp);
        const auto error = writeFileAtomically(file, "x", access);
        setSaveStageHook(nullptr);
        ::umask(previous);
        QVERIFY(!error);
        QCOMPARE(int(statOf(file).st_mode & 07777), mode);
        // Already so the moment the new file first has a name: never wider.
        QCOMPARE(linkedTempMode, mode);
        QVERIFY(::chmod(QFile::encodeName(file).constData(), 0644) == 0);
        QVERIFY(!writeFileAtomically(file, "y", access));
        QCOMPARE(readBytes(file), QByteArray("y"));
        QCOMPARE(int(statOf(file).st_mode & 07777), existingBecomes);
    }

    // As a user who is not root (nobody, through setpriv), every row saves
    // "new" over "old" in a folder that user may write.
    void protectionsKeptForOtherUsers_data()
    {
        QTest::addColumn<QString>("owner");     // "saver" or "root"
        QTest::addColumn<QString>("fileGroup"); // "saver", "shared" (the saver is in it) or "other"
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("outcome"); // "replaced", "in place" or "refused"
        QTest::newRow("own file: replaced through a temporary file")
            << "saver"
            << "saver" << 0644 << "replaced";
        QTest::newRow("own read-only file: refused, kept") << "saver"
                                                           << "saver" << 0444 << "refused";
        QTest::newRow("another user's file the saver may not write: refused")
            << "root"
            << "other" << 0644 << "refused";
        QTest::newRow("another user's group-writable file: in place, owner kept")
            << "root"
            << "shared" << 0664 << "in place";
        QTest::newRow("another user's world-writable file: in place, owner kept")
            << "root"
            << "other" << 0666 << "in place";
        QTest::newRow("own file of a group the saver is not in: in place, group kept")
            << "saver"
            << "other" << 0644 << "in place";
        QTest::newRow("own file, group the saver is in: replaced, group kept")
            << "saver"
            << "shared" << 0640 << "replaced";
    }
    void protectionsKeptForOtherUsers()
    {
        QFETCH(QString, owner);
        QFETCH(QString, fileGroup);
        QFETCH(int, mode);
        QFETCH(QString, outcome);
        if (!rootWithAllPowers())
            QSKIP("setting up another user's files needs root");
        if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
            QSKIP("setpriv is not installed");
        const passwd *nobody = ::getpwnam("nobody");
        const struct group *nogroup = ::getgrnam("nogroup");
        const struct group *users = ::getgrnam("users");
        if (!nobody || !nogroup || !users)
            QSKIP("no user nobody or group nogroup or users on this system");
        const uid_t saverUid = nobody->pw_uid;
        const gid_t saverGid = nogroup->gr_gid, sharedGid = users->gr_gid, otherGid = 0;

        // A folder the saver owns, reachable through the test's own.
        QVERIFY(::chmod(QFile::encodeName(m_tmp->path()).constData(), 0755) == 0);
        const QString folder = path(QStringLiteral("home"));
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(::chown(QFile::encodeName(folder).constData(), saverUid, saverGid) == 0);
        const QString file = folder + QStringLiteral("/f.txt");
        const QByteArray name = QFile::encodeName(file);
        QVERIFY(writeBytes(file, "old"));
        const uid_t uid = owner == u"root" ? 0 : saverUid;
        const gid_t gid = fileGroup == u"saver"    ? saverGid
                          : fileGroup == u"shared" ? sharedGid
                                                   : otherGid;
        QVERIFY(::chown(name.constData(), uid, gid) == 0);
        QVERIFY(::chmod(name.constData(), mode_t(mode)) == 0);
        const struct stat before = statOf(file);

        const ChildSave child =
            saveAsUser(saverUid, saverGid, QList<gid_t>{sharedGid}, file, "new");
        QVERIFY2(child.ran, qPrintable(child.why));
        const struct stat after = statOf(file);
        if (outcome == u"refused") {
            QVERIFY2(!child.saved, qPrintable(child.why));
            QVERIFY2(child.why.contains(QStringLiteral("没有写入权限")), qPrintable(child.why));
            QCOMPARE(readBytes(file), QByteArray("old"));
            QCOMPARE(after.st_ino, before.st_ino);
        } else {
            QVERIFY2(child.saved, qPrintable(child.why));
            QCOMPARE(readBytes(file), QByteArray("new"));
            if (outcome == u"in place")
                QCOMPARE(after.st_ino, before.st_ino);
            else
                QVERIFY(after.st_ino != before.st_ino);
        }
        QCOMPARE(after.st_uid, before.st_uid);
        QCOMPARE(after.st_gid, before.st_gid);
        QCOMPARE(after.st_mode, before.st_mode);
        QCOMPARE(tempFilesIn(folder), QStringList());
    }

    // A temporary file that a save left when it died before renaming it is
    // removed by the next save into the folder; nothing else is.
    // A save killed between linking its temporary file and renaming it
    // leaves that file; the next save into the folder, a minute on, removes
    // it (and not while it is younger: it may be another window's save).
    void tempOfAKilledSaveRemoved_data()
    {
        QTest::addColumn<int>("age"); // seconds, when the next save comes
        QTest::addColumn<bool>("removed");
        QTest::newRow("a minute later: removed") << 61 << true;
        QTest::newRow("moments later: kept") << 0 << false;
    }
    void tempOfAKilledSaveRemoved()
    {
        QFETCH(int, age);
        QFETCH(bool, removed);
        const QString file = path(QStringLiteral("f.txt"));
        QVERIFY(writeBytes(file, "old"));
        const pid_t child = ::fork();
        if (child == 0) {
            setSaveStageHook([](SaveStage stage, qint64) {
                if (stage == SaveStage::Linked)
                    ::_exit(0);
            });
            writeFileAtomically(file, "new text");
            ::_exit(1);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0); // died at the rename
        QCOMPARE(readBytes(file), QByteArray("old"));
        const QStringList left = tempFilesIn(m_tmp->path());
        QCOMPARE(left.size(), 1);
        const QString temp = path(left[0]);
        QCOMPARE(readBytes(temp), QByteArray("new text"));
        if (age > 0) {
            const timespec when[2] = {{::time(nullptr) - age, 0}, {::time(nullptr) - age, 0}};
            QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(temp).constData(), when, 0) == 0);
        }

        QVERIFY(!writeFileAtomically(path(QStringLiteral("other.txt")), "x"));
        QCOMPARE(QFileInfo::exists(temp), !removed);
        QCOMPARE(readBytes(file), QByteArray("old"));
    }

    void abandonedTempFilesRemoved_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("age");      // seconds
        QTest::addColumn<QString>("kind"); // "file", "locked", "folder", "nobody's"
        QTest::addColumn<bool>("removed");
        QTest::newRow("ours, an hour old") << ".a.txt.inkwell-1x2y3z" << 3600 << "file" << true;
        QTest::newRow("ours, 61 seconds old") << ".笔记.txt.inkwell-0" << 61 << "file" << true;
        QTest::newRow("ours, 10 seconds old: maybe a save under way")
            << ".a.txt.inkwell-1x2y3z" << 10 << "file" << false;
        QTest::newRow("ours, old, but a save still holds it")
            << ".a.txt.inkwell-1x2y3z" << 3600 << "locked" << false;
        QTest::newRow("not hidden") << "a.txt.inkwell-1x2y3z" << 3600 << "file" << false;
        QTest::newRow("capital letters in the tag")
            << ".a.txt.inkwell-1X2Y3Z" << 3600 << "file" << false;
        QTest::newRow("something after the tag")
            << ".a.txt.inkwell-1x2y3z.bak" << 3600 << "file" << false;
        QTest::newRow("tag too long for ours")
            << ".a.txt.inkwell-123456789" << 3600 << "file" << false;
        QTest::newRow("another program's pattern") << ".a.txt.kate-swp" << 3600 << "file" << false;
        QTest::newRow("no name before the mark") << ".inkwell-1x2y3z" << 3600 << "file" << false;
        QTest::newRow("a folder named like one")
            << ".d.txt.inkwell-1x2y3z" << 3600 << "folder" << false;
        QTest::newRow("another user's") << ".a.txt.inkwell-1x2y3z" << 3600 << "nobody's" << false;
    }
    void abandonedTempFilesRemoved()
    {
        QFETCH(QString, name);
        QFETCH(int, age);
        QFETCH(QString, kind);
        QFETCH(bool, removed);
        const QString planted = path(name);
        const QByteArray plantedName = QFile::encodeName(planted);
        if (kind == u"folder") {
            QVERIFY(QDir().mkdir(planted));
        } else {
            QVERIFY(writeBytes(planted, "half-saved text"));
        }
        if (kind == u"nobody's") {
            const passwd *nobody = ::getpwnam("nobody");
            if (!rootWithAllPowers() || !nobody)
                QSKIP("giving a file to another user needs root and the user nobody");
            QVERIFY(::chown(plantedName.constData(), nobody->pw_uid, nobody->pw_gid) == 0);
        }
        const timespec when[2] = {{::time(nullptr) - age, 0}, {::time(nullptr) - age, 0}};
        QVERIFY(::utimensat(AT_FDCWD, plantedName.constData(), when, AT_SYMLINK_NOFOLLOW) == 0);
        int holder = -1;
        if (kind == u"locked") {
            holder = ::open(plantedName.constData(), O_RDONLY | O_CLOEXEC);
            QVERIFY(holder >= 0 && ::flock(holder, LOCK_EX) == 0);
        }

        const auto error = writeFileAtomically(path(QStringLiteral("b.txt")), "saved");
        if (holder >= 0)
            ::close(holder);
        QVERIFY2(!error, error ? qPrintable(error->why) : "");
        QCOMPARE(readBytes(path(QStringLiteral("b.txt"))), QByteArray("saved"));
        QCOMPARE(QFileInfo::exists(planted), !removed);
        if (!removed && kind != u"folder")
            QCOMPARE(readBytes(planted), QByteArray("half-saved text"));
    }

    // Run without the capabilities that let root ignore modes (see
    // CMakeLists.txt): a folder that takes no new file.
    void readOnlyFolder_data()
    {
        QTest::addColumn<int>("fileMode");
        QTest::addColumn<bool>("saved");
        QTest::newRow("writable file: rewritten in place") << 0644 << true;
        QTest::newRow("read-only file: refused, kept") << 0444 << false;
    }
    void readOnlyFolder()
    {
        QFETCH(int, fileMode);
        QFETCH(bool, saved);
        if (rootWithAllPowers())
            QSKIP("permissions are not enforced for this user (root); the nocaps run covers this");
        const QString folder = path(QStringLiteral("ro"));
        QVERIFY(QDir().mkpath(folder));
        const QString file = folder + QStringLiteral("/x.txt");
        QVERIFY(writeBytes(file, "old text that is longer"));
        QVERIFY(::chmod(QFile::encodeName(file).constData(), mode_t(fileMode)) == 0);
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0555) == 0);
        const struct stat before = statOf(file);
        const auto error = writeFileAtomically(file, "new");
        if (saved) {
            QVERIFY2(!error, error ? qPrintable(error->why) : "");
            QCOMPARE(readBytes(file), QByteArray("new"));
            QCOMPARE(statOf(file).st_ino, before.st_ino);
        } else {
            QVERIFY(error);
            QVERIFY2(error->why.contains(QStringLiteral("没有写入权限")), qPrintable(error->why));
            QCOMPARE(readBytes(file), QByteArray("old text that is longer"));
        }
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"x.txt"});
    }

    // Run on a 64 KiB tmpfs (see CMakeLists.txt).
    void fullDisk_data()
    {
        QTest::addColumn<bool>("hardLinked");
        QTest::newRow("one link: through a temporary file") << false;
        QTest::newRow("hard link: free space checked before writing in place") << true;
    }
    void fullDisk()
    {
        QFETCH(bool, hardLinked);
        const QString dir = qEnvironmentVariable("INKWELL_FULL_DIR");
        if (dir.isEmpty())
            QSKIP("needs the 64 KiB tmpfs of the fulldisk run");
        const QString file = dir + QStringLiteral("/full.txt");
        const QString other = dir + QStringLiteral("/other.txt");
        QFile::remove(file);
        QFile::remove(other);
        QVERIFY(writeBytes(file, "old"));
        if (hardLinked)
            QVERIFY(::link(QFile::encodeName(file).constData(),
                           QFile::encodeName(other).constData()) == 0);
        const auto error = writeFileAtomically(file, QByteArray(1 << 20, 'n'));
        QVERIFY(error);
        QVERIFY2(error->why.contains(QStringLiteral("磁盘空间不足")), qPrintable(error->why));
        QCOMPARE(readBytes(file), QByteArray("old"));
        QStringList expected{QStringLiteral("full.txt")};
        if (hardLinked)
            expected << QStringLiteral("other.txt");
        QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden), expected);
    }

    void failureReasons_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("a name of 300 characters") << QString(300, u'长') + ".txt"
                                                  << "文件名太长";
        QTest::newRow("a missing folder") << "no/such/f.txt"
                                          << "不存在";
        QTest::newRow("a folder") << "."
                                  << "文件夹";
    }
    void failureReasons()
    {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        const auto error = writeFileAtomically(path(name), "x");
        QVERIFY(error);
        QVERIFY2(error->why.contains(expected), qPrintable(error->why));
    }

    void onlyRegularFilesAreRead_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("expected");
        QTest::newRow("FIFO without a writer") << "fifo"
                                               << "不是普通文件";
        QTest::newRow("/dev/zero") << "zero"
                                   << "不是普通文件";
        QTest::newRow("socket") << "socket"
                                << "不是普通文件";
        QTest::newRow("folder") << "folder"
                                << "文件夹";
        QTest::newRow("regular file") << "file"
                                      << "";
    }
    void onlyRegularFilesAreRead()
    {
        QFETCH(QString, kind);
        QFETCH(QString, expected);
        QString target = path(kind);
        const QByteArray name = QFile::encodeName(target);
        int listener = -1;
        if (kind == u"fifo") {
            QVERIFY(::mkfifo(name.constData(), 0600) == 0);
        } else if (kind == u"zero") {
            target = QStringLiteral("/dev/zero");
        } else if (kind == u"socket") {
            listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            QVERIFY(size_t(name.size()) < sizeof address.sun_path);
            std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
            QVERIFY(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
            QVERIFY(::listen(listener, 1) == 0);
        } else if (kind == u"folder") {
            QVERIFY(QDir().mkpath(target));
        } else {
            QVERIFY(writeBytes(target, "text"));
        }
        const std::optional<QString> why = readWithWatchdog(target);
        if (listener >= 0)
            ::close(listener);
        QVERIFY2(why, "the read did not return");
        if (expected.isEmpty())
            QVERIFY2(why->isEmpty(), qPrintable(*why));
        else
            QVERIFY2(why->contains(expected), qPrintable(*why));
    }

    void oversizeFileRefusedWithItsSize_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("why");
        QTest::newRow("one byte over")
            << 1001 << 1000 << "文件太大（1001 字节），Inkwell 最多能打开 1000 字节 的文件";
        QTest::newRow("kilobytes")
            << 5000 << 2048 << "文件太大（4.9 kB），Inkwell 最多能打开 2.0 kB 的文件";
        QTest::newRow("at the limit: read") << 1000 << 1000 << "";
    }
    void oversizeFileRefusedWithItsSize()
    {
        QFETCH(int, size);
        QFETCH(int, limit);
        QFETCH(QString, why);
        const QString file = path(QStringLiteral("big.txt"));
        QVERIFY(writeBytes(file, QByteArray(size, 'b')));
        const Result<FileContent> content = readRegularFile(file, limit, false);
        if (why.isEmpty()) {
            QVERIFY(content.ok());
            QCOMPARE(content.value().bytes.size(), size);
        } else {
            QVERIFY(!content.ok());
            QCOMPARE(content.error().why, why);
        }
    }

    void readLimitFitsTheMachine()
    {
        const qint64 limit = defaultReadLimit();
        QVERIFY(limit > 0 && limit <= (qint64(1) << 30));
        const qint64 memory = qint64(::sysconf(_SC_PHYS_PAGES)) * ::sysconf(_SC_PAGE_SIZE);
        QVERIFY(limit <= memory / 2);
    }

    // Names are bytes: every one turns into a path and back into the same
    // bytes, and one that is UTF-8 is the QString Qt itself would give.
    void localPathRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("foreign");
        QTest::newRow("ASCII") << QByteArray("/tmp/a b.txt") << false;
        QTest::newRow("UTF-8") << QByteArray("/tmp/\xe4\xb8\xad\xe6\x96\x87.txt") << false;
        QTest::newRow("UTF-8, four bytes")
            << QByteArray("/tmp/\xf0\x9f\x98\x80\xf0\xa0\x80\x80") << false;
        QTest::newRow("GBK") << QByteArray("/tmp/\xd6\xd0\xce\xc4.txt") << true;
        QTest::newRow("lone 0x80") << QByteArray("a\x80") << true;
        QTest::newRow("lone 0xFF") << QByteArray("\xff") << true;
        QTest::newRow("UTF-8 folder, GBK name")
            << QByteArray("/\xe4\xb8\xad/\xb5\xda\xb6\xfe.txt") << true;
        QTest::newRow("four-byte character then a stray byte")
            << QByteArray("\xf0\x9f\x98\x80\x80") << true;
        // The UTF-8 form of a surrogate is not UTF-8: it must not become the
        // surrogate a stray byte is kept as.
        QTest::newRow("encoded surrogate") << QByteArray("\xed\xb2\x80") << true;
        QTest::newRow("overlong slash") << QByteArray("\xc0\xaf") << true;
        QTest::newRow("cut short at the end") << QByteArray("x\xe4\xb8") << true;
        QTest::newRow("past U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << true;
    }
    void localPathRoundTrip()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, foreign);
        const QString path = pathFromLocalBytes(bytes);
        QCOMPARE(localBytesOfPath(path), bytes);
        QCOMPARE(hasForeignBytes(path), foreign);
        if (!foreign)
            QCOMPARE(path, QString::fromUtf8(bytes));
        else // Qt's own reading loses the bytes: that is why these exist
            QVERIFY(QFile::encodeName(QFile::decodeName(bytes)) != bytes);
        // The file name part is what QFileInfo takes it to be.
        QCOMPARE(localBytesOfPath(QFileInfo(path).fileName()),
                 bytes.mid(bytes.lastIndexOf('/') + 1));
    }

    // What the user reads: a name that is not UTF-8 is shown as GBK.
    void displayPathDecodesGbk_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("shown");
        QTest::newRow("UTF-8 unchanged")
            << QByteArray("/tmp/\xe4\xb8\xad\xe6\x96\x87.txt") << QStringLiteral("/tmp/中文.txt");
        QTest::newRow("GBK") << QByteArray("/tmp/\xd6\xd0\xce\xc4.txt")
                             << QStringLiteral("/tmp/中文.txt");
        QTest::newRow("GBK with an ASCII trail byte")
            << QByteArray("\xb5\x5a.txt") << QString::fromUtf8("\xe7\xa4\xaa.txt"); // 礪
        QTest::newRow("UTF-8 folder, GBK name")
            << QByteArray("/\xe4\xb8\xad/\xb5\xda\xb6\xfe.txt") << QStringLiteral("/中/第二.txt");
        QTest::newRow("not GBK either") << QByteArray("\xff.txt") << QStringLiteral("\uFFFD.txt");
    }
    void displayPathDecodesGbk()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, shown);
        QCOMPARE(displayPath(pathFromLocalBytes(bytes)), shown);
        QVERIFY(!hasForeignBytes(displayPath(pathFromLocalBytes(bytes))));
        QCOMPARE(shortenedPath(pathFromLocalBytes(bytes)), shown);
    }

    // The arguments and a dropped file's URL keep the bytes Qt's own
    // readings replace.
    void namesFromOutsideKeepTheirBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("GBK") << QByteArray("/tmp/\xd6\xd0\xce\xc4 x.txt");
        QTest::newRow("UTF-8") << QByteArray("/tmp/\xe4\xb8\xad%.txt");
        QTest::newRow("mixed") << QByteArray("/\xe4\xb8\xad/\xff\x80#1.txt");
    }
    void namesFromOutsideKeepTheirBytes()
    {
        QFETCH(QByteArray, bytes);
        const char *argv[] = {"inkwell", bytes.constData(), "--x"};
        const QStringList arguments = argumentsFromLocalBytes(3, argv);
        QCOMPARE(arguments.size(), 2);
        QCOMPARE(localBytesOfPath(arguments.at(0)), bytes);
        QCOMPARE(arguments.at(1), QStringLiteral("--x"));
        // A file manager's drag: text/uri-list, the bytes percent-encoded.
        const QByteArray uri = "file://" + bytes.toPercentEncoding("/") + "\r\n";
        QMimeData data;
        data.setData(QStringLiteral("text/uri-list"), uri);
        QCOMPARE(data.urls().size(), 1);
        QCOMPARE(localBytesOfPath(pathFromFileUrl(data.urls().constFirst())), bytes);
        QCOMPARE(localBytesOfPath(pathFromFileUrl(QUrl::fromEncoded(uri.trimmed()))), bytes);
        QVERIFY(pathFromFileUrl(QUrl(QStringLiteral("https://example.com/a.txt"))).isEmpty());
    }

    // A file whose name is GBK bytes is read, and saved over atomically,
    // under exactly that name: no second file with a replaced name.
    void foreignNameReadAndSaved_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("GBK") << QByteArray("\xd6\xd0\xce\xc4.txt");
        QTest::newRow("lone bytes") << QByteArray("\x80-\xff");
        QTest::newRow("mixed") << QByteArray("\xe4\xb8\xad\xd6\xd0");
    }
    void foreignNameReadAndSaved()
    {
        QFETCH(QByteArray, name);
        const QByteArray folder = QFile::encodeName(m_tmp->path());
        QVERIFY(writeBytesNamed(folder + '/' + name, "old"));
        const QString file = pathFromLocalBytes(folder + '/' + name);
        QVERIFY(pathExists(file));
        const Result<FileContent> read = readRegularFile(file, 100, true);
        QVERIFY2(read.ok(), qPrintable(read.ok() ? QString() : read.error().why));
        QCOMPARE(read.value().bytes, QByteArray("old"));
        QVERIFY(!read.value().created);
        const std::optional<Error> error = writeFileAtomically(file, "new");
        QVERIFY2(!error, qPrintable(error ? error->why : QString()));
        QCOMPARE(entryBytes(folder), QList<QByteArray>{name});
        QCOMPARE(readBytesNamed(folder + '/' + name), QByteArray("new"));
    }

    // A name that is not UTF-8 and names nothing was most likely mangled on
    // the way: no file is made under it, and the reason says why.
    void missingForeignNameNotCreated()
    {
        const QByteArray folder = QFile::encodeName(m_tmp->path());
        const QString file = pathFromLocalBytes(folder + "/\xd6\xd0\xce\xc4.txt");
        QVERIFY(!pathExists(file));
        const Result<FileContent> refused = readRegularFile(file, 100, true);
        QVERIFY(!refused.ok());
        QCOMPARE(refused.error().what, file);
        QVERIFY2(refused.error().why.contains(QStringLiteral("不存在")) &&
                     refused.error().why.contains(QStringLiteral("UTF-8")),
                 qPrintable(refused.error().why));
        QCOMPARE(entryBytes(folder), QList<QByteArray>{});
    }

    void missingFileCreatedOnlyWhenAsked()
    {
        const QString file = path(QStringLiteral("new.txt"));
        const Result<FileContent> refused = readRegularFile(file, 100, false);
        QVERIFY(!refused.ok() && refused.error().why.contains(QStringLiteral("不存在")));
        QVERIFY(!QFile::exists(file));
        const Result<FileContent> created = readRegularFile(file, 100, true);
        QVERIFY(created.ok() && created.value().created);
        QVERIFY(QFile::exists(file));
    }
};

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], childSwitch) == 0) {
        const auto error = writeFileAtomically(QString::fromLocal8Bit(argv[2]), argv[3]);
        if (!error)
            return 0;
        const QByteArray why = error->why.toUtf8();
        std::fwrite(why.constData(), 1, size_t(why.size()), stdout);
        return 1;
    }
    QCoreApplication app(argc, argv);
    TestFiles test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_files.moc"
