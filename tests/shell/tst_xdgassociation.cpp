// The freedesktop side of "注册"/"反注册": the desktop entry, the icon, and
// the text/plain default in mimeapps.list, checked with xdg-mime itself.
#include "shell/xdgdesktopassociation.h"
#include "support/files.h"

#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Inkwell;
using namespace Inkwell::Testing;

namespace {

QString readText(const QString &path)
{
    return QString::fromUtf8(fileBytes(path));
}

// What a step that failed says; empty when it worked.
QString failure(const std::optional<Error> &error)
{
    return error ? error->what + QStringLiteral("：") + error->why : QString();
}

void writeText(const QString &path, const QString &text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text.toUtf8());
}

} // namespace

class TestXdgAssociation : public QObject {
    Q_OBJECT
private slots:
    void init();

    void execValue_data();
    void execValue();
    void withDefault_data();
    void withDefault();
    void install_writesEntryAndIcons();
    void installRestore_asXdgMimeSeesIt_data();
    void installRestore_asXdgMimeSeesIt();
    void restore_leavesAnotherChoiceAlone();
    void install_failureSaysWhat_data();
    void install_failureSaysWhat();

private:
    QString xdgMimeDefault();

    std::unique_ptr<QTemporaryDir> m_home;
    QString m_data;
    QString m_config;
};

void TestXdgAssociation::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
    m_data = m_home->filePath(QStringLiteral("data"));
    m_config = m_home->filePath(QStringLiteral("config"));
}

QString TestXdgAssociation::xdgMimeDefault()
{
    QProcess xdg;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_home->path());
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_data);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config);
    env.insert(QStringLiteral("XDG_CONFIG_DIRS"), m_home->filePath(QStringLiteral("etc")));
    env.insert(QStringLiteral("XDG_DATA_DIRS"), m_home->filePath(QStringLiteral("share")));
    for (const char *name : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION",
                             "GNOME_DESKTOP_SESSION_ID", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(QString::fromLatin1(name));
    xdg.setProcessEnvironment(env);
    xdg.start(QStringLiteral("xdg-mime"),
              {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("text/plain")});
    if (!xdg.waitForFinished(20000))
        return QStringLiteral("<xdg-mime did not finish>");
    return QString::fromUtf8(xdg.readAllStandardOutput()).trimmed();
}

void TestXdgAssociation::execValue_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("exec");
    QTest::newRow("plain") << QStringLiteral("/usr/bin/inkwell")
                           << QStringLiteral("/usr/bin/inkwell %f");
    QTest::newRow("blank") << QStringLiteral("/opt/my apps/inkwell")
                           << QStringLiteral("\"/opt/my apps/inkwell\" %f");
    QTest::newRow("dollar and quote") << QStringLiteral("/opt/a$b\"c/inkwell")
                                      << QStringLiteral("\"/opt/a\\\\$b\\\\\"c/inkwell\" %f");
    QTest::newRow("percent") << QStringLiteral("/opt/100%/inkwell")
                             << QStringLiteral("/opt/100%%/inkwell %f");
    QTest::newRow("Chinese") << QStringLiteral("/home/用户/inkwell")
                             << QStringLiteral("/home/用户/inkwell %f");
}

void TestXdgAssociation::execValue()
{
    QFETCH(QString, path);
    QFETCH(QString, exec);
    QCOMPARE(XdgDesktopAssociation::execValue(path), exec);
}

void TestXdgAssociation::withDefault_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("value"); // "-" removes the line
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("previous"); // "-" when there was none
    QTest::newRow("empty file") << QString() << QStringLiteral("inkwell.desktop;")
                                << QStringLiteral(
                                       "[Default Applications]\ntext/plain=inkwell.desktop;\n")
                                << QStringLiteral("-");
    QTest::newRow("replace, others kept")
        << QStringLiteral(
               "# mine\n[Default Applications]\ntext/html=firefox.desktop\n"
               "text/plain=gedit.desktop;\n\n[Added Associations]\ntext/plain=vim.desktop;\n")
        << QStringLiteral("inkwell.desktop;")
        << QStringLiteral(
               "# mine\n[Default Applications]\ntext/html=firefox.desktop\n"
               "text/plain=inkwell.desktop;\n\n[Added Associations]\ntext/plain=vim.desktop;\n")
        << QStringLiteral("gedit.desktop;");
    QTest::newRow("only in another section: added to ours")
        << QStringLiteral("[Added Associations]\ntext/plain=vim.desktop;\n[Default Applications]\n"
                          "image/png=eog.desktop\n\n[Removed Associations]\nx/y=z\n")
        << QStringLiteral("inkwell.desktop;")
        << QStringLiteral("[Added Associations]\ntext/plain=vim.desktop;\n[Default Applications]\n"
                          "image/png=eog.desktop\ntext/plain=inkwell.desktop;\n\n"
                          "[Removed Associations]\nx/y=z\n")
        << QStringLiteral("-");
    QTest::newRow("no section yet, no final newline")
        << QStringLiteral("[Added Associations]\nimage/png=eog.desktop")
        << QStringLiteral("inkwell.desktop;")
        << QStringLiteral("[Added Associations]\nimage/png=eog.desktop\n\n[Default Applications]\n"
                          "text/plain=inkwell.desktop;\n")
        << QStringLiteral("-");
    QTest::newRow("remove our line")
        << QStringLiteral(
               "[Default Applications]\ntext/plain=inkwell.desktop;\nimage/png=eog.desktop\n")
        << QStringLiteral("-") << QStringLiteral("[Default Applications]\nimage/png=eog.desktop\n")
        << QStringLiteral("inkwell.desktop;");
    QTest::newRow("CRLF kept")
        << QStringLiteral("[Default Applications]\r\ntext/plain=gedit.desktop\r\n")
        << QStringLiteral("inkwell.desktop;")
        << QStringLiteral("[Default Applications]\r\ntext/plain=inkwell.desktop;\r\n")
        << QStringLiteral("gedit.desktop");
    QTest::newRow("similar type left alone")
        << QStringLiteral("[Default Applications]\ntext/plain-x=a.desktop\n")
        << QStringLiteral("inkwell.desktop;")
        << QStringLiteral(
               "[Default Applications]\ntext/plain-x=a.desktop\ntext/plain=inkwell.desktop;\n")
        << QStringLiteral("-");
}

void TestXdgAssociation::withDefault()
{
    QFETCH(QString, text);
    QFETCH(QString, value);
    QFETCH(QString, result);
    QFETCH(QString, previous);
    std::optional<QString> was = QStringLiteral("stale");
    const std::optional<QString> v = value == u"-" ? std::nullopt : std::optional(value);
    QCOMPARE(XdgDesktopAssociation::withDefault(text, QStringLiteral("text/plain"), v, &was),
             result);
    QCOMPARE(was.value_or(QStringLiteral("-")), previous);
}

void TestXdgAssociation::install_writesEntryAndIcons()
{
    XdgDesktopAssociation association(QStringLiteral("/opt/ink well/inkwell"), m_data, m_config);
    QCOMPARE(failure(association.install()), QString());
    const QString entry = readText(association.desktopFilePath());
    QVERIFY(entry.startsWith(QStringLiteral("[Desktop Entry]\n")));
    QVERIFY(entry.contains(QStringLiteral("\nExec=\"/opt/ink well/inkwell\" %f\n")));
    QVERIFY(entry.contains(QStringLiteral("\nMimeType=text/plain;\n")));
    QVERIFY(entry.contains(QStringLiteral("\nIcon=") + association.iconPath(256) + u'\n'));
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        QCOMPARE(QImage(association.iconPath(size)).size(), QSize(size, size));
    if (const QString validate =
            QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        !validate.isEmpty()) {
        QProcess check;
        check.start(validate, {association.desktopFilePath()});
        QVERIFY(check.waitForFinished());
        QCOMPARE(QString::fromUtf8(check.readAllStandardOutput()), QString());
    }
}

void TestXdgAssociation::installRestore_asXdgMimeSeesIt_data()
{
    QTest::addColumn<QString>("before"); // the user's mimeapps.list, empty: none
    QTest::addColumn<QString>("previous");
    QTest::newRow("no mimeapps.list") << QString() << QString();
    QTest::newRow("another editor was the default")
        << QStringLiteral("[Default Applications]\ntext/plain=other-editor.desktop;\n"
                          "image/png=viewer.desktop\n")
        << QStringLiteral("other-editor.desktop");
}

void TestXdgAssociation::installRestore_asXdgMimeSeesIt()
{
    QFETCH(QString, before);
    QFETCH(QString, previous);
    if (QStandardPaths::findExecutable(QStringLiteral("xdg-mime")).isEmpty())
        QSKIP("xdg-mime (package xdg-utils) is not installed");
    // xdg-mime names a default only when its desktop entry runs an existing program.
    if (!previous.isEmpty())
        writeText(m_data + QStringLiteral("/applications/other-editor.desktop"),
                  QStringLiteral("[Desktop Entry]\nType=Application\nName=Other\nExec=%1 %f\n"
                                 "MimeType=text/plain;\n")
                      .arg(QStandardPaths::findExecutable(QStringLiteral("sh"))));
    if (!before.isEmpty())
        writeText(m_config + QStringLiteral("/mimeapps.list"), before);
    QCOMPARE(xdgMimeDefault(), previous);

    XdgDesktopAssociation association(QCoreApplication::applicationFilePath(), m_data, m_config);
    QCOMPARE(failure(association.install()), QString());
    QCOMPARE(xdgMimeDefault(), XdgDesktopAssociation::desktopId);
    // Registering twice keeps the first handler as the one to give back.
    QCOMPARE(failure(association.install()), QString());
    QCOMPARE(xdgMimeDefault(), XdgDesktopAssociation::desktopId);
    if (!before.isEmpty())
        QVERIFY(readText(association.mimeAppsPath())
                    .contains(QStringLiteral("image/png=viewer.desktop\n")));

    QCOMPARE(failure(association.restore()), QString());
    // With no default before, xdg-mime falls back to any entry that lists
    // text/plain, and Inkwell's entry stays for "Open with": only the file tells.
    if (!previous.isEmpty())
        QCOMPARE(xdgMimeDefault(), previous);
    QCOMPARE(readText(association.mimeAppsPath()),
             before.isEmpty() ? QStringLiteral("[Default Applications]\n") : before);
}

void TestXdgAssociation::restore_leavesAnotherChoiceAlone()
{
    XdgDesktopAssociation association(QCoreApplication::applicationFilePath(), m_data, m_config);
    QCOMPARE(failure(association.install()), QString());
    // The user picked another handler since.
    const QString chosen = QStringLiteral("[Default Applications]\ntext/plain=vim.desktop;\n");
    writeText(association.mimeAppsPath(), chosen);
    QCOMPARE(failure(association.restore()), QString());
    QCOMPARE(readText(association.mimeAppsPath()), chosen);
}

void TestXdgAssociation::install_failureSaysWhat_data()
{
    QTest::addColumn<QString>("blocked"); // a file where a folder must be, or the reverse
    QTest::addColumn<QString>("what");    // the start of what could not be done
    QTest::newRow("no applications folder")
        << QStringLiteral("data/applications") << QStringLiteral("无法创建文件夹 ");
    QTest::newRow("mimeapps.list is a folder")
        << QStringLiteral("config/mimeapps.list/") << QStringLiteral("无法读取 ");
}

void TestXdgAssociation::install_failureSaysWhat()
{
    QFETCH(QString, blocked);
    QFETCH(QString, what);
    const QString path = m_home->filePath(blocked);
    if (blocked.endsWith(u'/'))
        QVERIFY(QDir().mkpath(path));
    else
        writeText(path, QStringLiteral("in the way"));
    XdgDesktopAssociation association(QCoreApplication::applicationFilePath(), m_data, m_config);
    const std::optional<Error> error = association.install();
    QVERIFY(error);
    QVERIFY2(error->what.startsWith(what), qPrintable(error->what));
    QVERIFY2(error->what.contains(QFileInfo(path).absolutePath()) ||
                 error->what.contains(QDir::cleanPath(path)),
             qPrintable(error->what));
}

QTEST_MAIN(TestXdgAssociation)
#include "tst_xdgassociation.moc"
