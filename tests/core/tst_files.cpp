// Saving and reading files: what a save keeps of a file, which files a read
// refuses, and the Chinese reasons a failure gives.
#include "core/atomicfile.h"
#include "core/regularfile.h"
#include "core/systemerror.h"
#include "support/files.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
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
    void cleanup()
    {
        // A test may leave a folder read-only.
        QProcess::execute(QStringLiteral("chmod"),
                          {QStringLiteral("-R"), QStringLiteral("u+rwx"), m_tmp->path()});
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
    }
    void saveKeepsIdentity()
    {
        QFETCH(QString, setup);
        const QString file = path(QStringLiteral("h1.txt"));
        const QByteArray name = QFile::encodeName(file);
        QVERIFY(writeBytes(file, "old"));
        const bool asRoot = rootWithAllPowers();
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
        QTest::addColumn<bool>("ownerOnly");
        QTest::addColumn<int>("mode");
        QTest::newRow("a document: what the umask allows") << false << 0664;
        QTest::newRow("a draft: the owner only") << true << 0600;
    }
    void newFileFollowsUmaskOrStaysPrivate()
    {
        QFETCH(bool, ownerOnly);
        QFETCH(int, mode);
        const mode_t previous = ::umask(002);
        const QString file = path(QStringLiteral("n.txt"));
        const auto error = writeFileAtomically(
            file, "x", ownerOnly ? NewFileAccess::OwnerOnly : NewFileAccess::Shared);
        ::umask(previous);
        QVERIFY(!error);
        QCOMPARE(int(statOf(file).st_mode & 07777), mode);
        // An existing draft that somehow became readable is private again.
        if (ownerOnly) {
            QVERIFY(::chmod(QFile::encodeName(file).constData(), 0644) == 0);
            QVERIFY(!writeFileAtomically(file, "y", NewFileAccess::OwnerOnly));
            QCOMPARE(int(statOf(file).st_mode & 07777), 0600);
        }
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

QTEST_MAIN(TestFiles)
#include "tst_files.moc"
