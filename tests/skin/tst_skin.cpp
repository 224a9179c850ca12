// The skin command and the built-in engine: the chosen skin is copied whole
// before the engine reads it, success and failure are told truthfully, and a
// refused skin leaves the previous "skinH.she" and the look as they were.
#include "skin/builtinskinengine.h"
#include "skin/skincommand.h"
#include "skin/skinlocations.h"

#include "controls/commondialog.h"
#include "support/scripteddialoghost.h"

#include "support/files.h"
#include "support/recordingskinengine.h"
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace Inkwell;
using namespace Inkwell::Testing;
using Inkwell::Testing::RecordingEngine;
using Inkwell::Testing::ScriptedDialogHost;

namespace {

// The reason a skin change gives, for a failed check's message.
QString reasonOf(const Result<bool> &change)
{
    return change.ok() ? QString() : change.error().why;
}

QString shippedSkin(const QString &name)
{
    return QStringLiteral(INKWELL_SKINS_DIR "/") + name;
}


} // namespace

class TestSkin : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void choosingAShippedSkin_appliesIt_data();
    void choosingAShippedSkin_appliesIt();
    void pathWithBlanksAndAmpersand_works();
    void refusedSource_keepsTheOldSkin_data();
    void refusedSource_keepsTheOldSkin();
    void refusedSource_withNoOldSkin_leavesNone();
    void cancel_changesNothing();
    void preset_isBackAfterEachChoice();
    void readOnlyProgramDirectory_usesTheUserDirectory();
    void installedProgram_keepsTheUserCopy();
    void startup_callsInOrder();
    void startup_attachPrefersTheUserCopy_data();
    void startup_attachPrefersTheUserCopy();
    void builtin_keepsWhatChangesNothingVisible();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_program;
    QString m_user;
    CommonDialog m_dialog;
    ScriptedDialogHost m_dialogs;
};

void TestSkin::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_program = m_dir->filePath(QStringLiteral("program"));
    m_user = m_dir->filePath(QStringLiteral("user/inkwell"));
    QVERIFY(QDir().mkpath(m_program));
    m_dialogs = ScriptedDialogHost();
    m_dialog = CommonDialog(&m_dialogs);
    SkinCommand::presetDialog(m_dialog);
    qApp->setStyleSheet(QString());
}

void TestSkin::cleanup()
{
    qApp->setStyleSheet(QString());
}

void TestSkin::choosingAShippedSkin_appliesIt_data()
{
    QTest::addColumn<QString>("skin");
    QTest::addColumn<QColor>("ground"); // a plain widget's background under the skin
    QTest::newRow("light") << QStringLiteral("light.she") << QColor(0xf7, 0xf4, 0xec);
    QTest::newRow("dark") << QStringLiteral("dark.she") << QColor(0x1e, 0x21, 0x28);
    QTest::newRow("high contrast") << QStringLiteral("contrast.she") << QColor(Qt::black);
}

void TestSkin::choosingAShippedSkin_appliesIt()
{
    QFETCH(QString, skin);
    QFETCH(QColor, ground);
    const SkinLocations locations(m_program, m_user);
    BuiltinSkinEngine engine(locations.startupCandidates());
    SkinCommand command(m_dialog, engine, locations);
    m_dialogs.script.enqueue(ScriptedDialogHost::choose(shippedSkin(skin)));
    const Result<bool> change = command.run();

    QCOMPARE(m_dialogs.shown.size(), 1);
    QCOMPARE(m_dialogs.shown[0].fileName, SkinCommand::preset);
    QCOMPARE(m_dialog.DialogTitle, QStringLiteral("更换皮肤"));
    QCOMPARE(m_dialog.Filter, QStringLiteral("SHE皮肤文件(*.she)|*.she"));
    QCOMPARE(readBytes(locations.programSkin()), readBytes(shippedSkin(skin)));
    QCOMPARE(qApp->styleSheet(), QString::fromUtf8(readBytes(shippedSkin(skin))));
    QCOMPARE(engine.attachedFile(), locations.programSkin());
    QVERIFY2(change.ok() && change.value(), qPrintable(reasonOf(change)));

    // A widget picks the look up: the sheet is one Qt can parse and use.
    QWidget widget;
    widget.ensurePolished();
    QCOMPARE(widget.palette().color(QPalette::Window), ground);
}

void TestSkin::pathWithBlanksAndAmpersand_works()
{
    const QString source = m_dir->filePath(QStringLiteral("my skins & more/a b&c;'x'.she"));
    const QByteArray sheet = "QWidget { color: #123456; }\n";
    QVERIFY(writeBytes(source, sheet));
    const SkinLocations locations(m_program, m_user);
    BuiltinSkinEngine engine(locations.startupCandidates());
    SkinCommand command(m_dialog, engine, locations);
    m_dialogs.script.enqueue(ScriptedDialogHost::choose(source));
    const Result<bool> change = command.run();
    QVERIFY2(change.ok() && change.value(), qPrintable(reasonOf(change)));
    QCOMPARE(readBytes(locations.programSkin()), sheet);
    QCOMPARE(qApp->styleSheet(), QString::fromUtf8(sheet));
    // Nothing was run: no file appeared beside the source or the destination.
    QCOMPARE(QDir(m_program).entryList(QDir::Files), QStringList{QStringLiteral("skinH.she")});
    QCOMPARE(QDir(QFileInfo(source).absolutePath()).entryList(QDir::Files).size(), 1);
}

void TestSkin::refusedSource_keepsTheOldSkin_data()
{
    QTest::addColumn<QString>("name"); // empty: the source does not exist
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason"); // a part of the reason given
    QTest::newRow("missing file") << QString() << QByteArray() << QStringLiteral("无法读取");
    QTest::newRow("a directory") << QStringLiteral("dir.she") << QByteArray()
                                 << QStringLiteral("无法读取");
    QTest::newRow("binary, a PNG")
        << QStringLiteral("png.she") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)
        << QStringLiteral("不是文本文件");
    QTest::newRow("GBK text, not UTF-8")
        << QStringLiteral("gbk.she") << QByteArray("QWidget { font-family: \"\xCB\xCE\xCC\xE5\"; }")
        << QStringLiteral("UTF-8");
    QTest::newRow("cut off") << QStringLiteral("cut.she") << QByteArray("QWidget { color: red;")
                             << QStringLiteral("缺少");
    QTest::newRow("open comment") << QStringLiteral("comment.she")
                                  << QByteArray("QWidget { color: red; } /* ")
                                  << QStringLiteral("注释");
}

void TestSkin::refusedSource_keepsTheOldSkin()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    const SkinLocations locations(m_program, m_user);
    const QByteArray old = readBytes(shippedSkin(QStringLiteral("dark.she")));
    QVERIFY(writeBytes(locations.programSkin(), old));
    BuiltinSkinEngine engine(locations.startupCandidates());
    QVERIFY(!engine.SkinH_Attach());
    const QString lookBefore = qApp->styleSheet();
    QCOMPARE(lookBefore, QString::fromUtf8(old));

    QString source = m_dir->filePath(name.isEmpty() ? QStringLiteral("nothing.she") : name);
    if (name == u"dir.she")
        QVERIFY(QDir().mkpath(source));
    else if (!name.isEmpty())
        QVERIFY(writeBytes(source, bytes));
    SkinCommand command(m_dialog, engine, locations);
    m_dialogs.script.enqueue(ScriptedDialogHost::choose(source));
    const Result<bool> change = command.run();

    QVERIFY(!change.ok());
    QVERIFY2(change.error().why.contains(reason), qPrintable(change.error().why));
    QCOMPARE(readBytes(locations.programSkin()), old);
    QCOMPARE(qApp->styleSheet(), lookBefore);
    QCOMPARE(m_dialog.FileName, SkinCommand::preset);
    QCOMPARE(QDir(m_program).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("skinH.she")});
}

void TestSkin::refusedSource_withNoOldSkin_leavesNone()
{
    const SkinLocations locations(m_program, m_user);
    BuiltinSkinEngine engine(locations.startupCandidates());
    const QString source = m_dir->filePath(QStringLiteral("bin.she"));
    QVERIFY(writeBytes(source, QByteArray("\0\1\2\3", 4)));
    SkinCommand command(m_dialog, engine, locations);
    m_dialogs.script.enqueue(ScriptedDialogHost::choose(source));
    const Result<bool> change = command.run();
    QVERIFY(!QFile::exists(locations.programSkin()));
    QVERIFY(!QFile::exists(locations.userSkin()));
    QVERIFY(!change.ok());
}

void TestSkin::cancel_changesNothing()
{
    const SkinLocations locations(m_program, m_user);
    const QByteArray old = "QWidget { color: #010203; }";
    QVERIFY(writeBytes(locations.programSkin(), old));
    RecordingEngine engine;
    SkinCommand command(m_dialog, engine, locations);
    m_dialogs.script.enqueue(ScriptedDialogHost::cancel());
    const Result<bool> change = command.run();
    QCOMPARE(m_dialogs.shown.size(), 1);
    QVERIFY(change.ok() && !change.value());
    QVERIFY(change.ok());
    QVERIFY(engine.calls.isEmpty());
    QCOMPARE(readBytes(locations.programSkin()), old);
    QCOMPARE(m_dialog.FileName, SkinCommand::preset);
}

void TestSkin::preset_isBackAfterEachChoice()
{
    const SkinLocations locations(m_program, m_user);
    BuiltinSkinEngine engine(locations.startupCandidates());
    SkinCommand command(m_dialog, engine, locations);
    m_dialogs.script.enqueue(ScriptedDialogHost::choose(shippedSkin(QStringLiteral("light.she"))));
    m_dialogs.script.enqueue(
        ScriptedDialogHost::choose(m_dir->filePath(QStringLiteral("gone.she"))));
    m_dialogs.script.enqueue(ScriptedDialogHost::cancel());
    const Result<bool> worked = command.run();
    QCOMPARE(m_dialog.FileName, SkinCommand::preset);
    const Result<bool> failed = command.run();
    QCOMPARE(m_dialog.FileName, SkinCommand::preset);
    const Result<bool> cancelled = command.run();
    QCOMPARE(m_dialogs.shown.size(), 3);
    for (const auto &shown : m_dialogs.shown)
        QCOMPARE(shown.fileName, SkinCommand::preset);
    QVERIFY(worked.ok() && worked.value());
    QVERIFY(!failed.ok());
    QVERIFY(cancelled.ok() && !cancelled.value());
}

void TestSkin::readOnlyProgramDirectory_usesTheUserDirectory()
{
    // A program directory that cannot take the file, whoever runs the test.
    const QString blocked = m_dir->filePath(QStringLiteral("not-a-dir"));
    QVERIFY(writeBytes(blocked, "a file, not a directory"));
    const SkinLocations locations(blocked, m_user);
    BuiltinSkinEngine engine(locations.startupCandidates());
    SkinCommand command(m_dialog, engine, locations);
    m_dialogs.script.enqueue(ScriptedDialogHost::choose(shippedSkin(QStringLiteral("dark.she"))));
    const Result<bool> change = command.run();
    QVERIFY2(change.ok() && change.value(), qPrintable(reasonOf(change)));
    QCOMPARE(readBytes(locations.userSkin()), readBytes(shippedSkin(QStringLiteral("dark.she"))));
    QCOMPARE(command.lastDestination(), locations.userSkin());
    QCOMPARE(readBytes(blocked), QByteArray("a file, not a directory"));

    // The next start finds it there.
    qApp->setStyleSheet(QString());
    BuiltinSkinEngine next(locations.startupCandidates());
    bindSkinEngine(next);
    QCOMPARE(next.attachedFile(), locations.userSkin());
    QCOMPARE(qApp->styleSheet(),
             QString::fromUtf8(readBytes(shippedSkin(QStringLiteral("dark.she")))));
}

void TestSkin::startup_callsInOrder()
{
    RecordingEngine engine;
    bindSkinEngine(engine); // every call fails here, and each next one still runs
    QCOMPARE(engine.calls,
             (QStringList{QStringLiteral("SkinH_Attach()"), QStringLiteral("SkinHme()"),
                          QStringLiteral("SkinH_AdjustAero(204,36,12,9,0,0,0,0,0)")}));
}

void TestSkin::startup_attachPrefersTheUserCopy_data()
{
    QTest::addColumn<bool>("inProgram");
    QTest::addColumn<bool>("inUser");
    QTest::newRow("neither") << false << false;
    QTest::newRow("program only") << true << false;
    QTest::newRow("user only") << false << true;
    QTest::newRow("both: the user's wins") << true << true;
}

void TestSkin::startup_attachPrefersTheUserCopy()
{
    QFETCH(bool, inProgram);
    QFETCH(bool, inUser);
    const SkinLocations locations(m_program, m_user);
    const QByteArray programSheet = "QWidget { color: #111111; }";
    const QByteArray userSheet = "QWidget { color: #222222; }";
    if (inProgram)
        QVERIFY(writeBytes(locations.programSkin(), programSheet));
    if (inUser)
        QVERIFY(writeBytes(locations.userSkin(), userSheet));
    BuiltinSkinEngine engine(locations.startupCandidates());
    QVERIFY(!engine.SkinH_Attach());
    const QByteArray expected = inUser ? userSheet : inProgram ? programSheet : QByteArray();
    QCOMPARE(qApp->styleSheet(), QString::fromUtf8(expected));
    QCOMPARE(engine.attachedFile(), inUser      ? locations.userSkin()
                                    : inProgram ? locations.programSkin()
                                                : QString());
}

void TestSkin::builtin_keepsWhatChangesNothingVisible()
{
    BuiltinSkinEngine engine({});
    qApp->setStyleSheet(QStringLiteral("QWidget { color: blue; }"));
    QVERIFY(!engine.SkinH_AdjustAero(1, 2, 3, 4, 5, 6, 7, 8, 9));
    QVERIFY(!engine.SkinHme());
    QVERIFY(!engine.SkinHme());
    QCOMPARE(engine.aeroSettings(), (std::array<int, 9>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    QCOMPARE(engine.hmeCalls(), 2);
    QCOMPARE(qApp->styleSheet(), QStringLiteral("QWidget { color: blue; }"));
}

void TestSkin::installedProgram_keepsTheUserCopy()
{
    // An installed program keeps its skin in the user's folder only: both
    // places are that one file, and the copy must survive the choice.
    const SkinLocations locations(m_user, m_user);
    QVERIFY(QDir().mkpath(m_user));
    BuiltinSkinEngine engine(locations.startupCandidates());
    SkinCommand command(m_dialog, engine, locations);
    m_dialogs.script.enqueue(ScriptedDialogHost::choose(shippedSkin(QStringLiteral("dark.she"))));
    const Result<bool> change = command.run();
    QCOMPARE(readBytes(locations.userSkin()), readBytes(shippedSkin(QStringLiteral("dark.she"))));
    QVERIFY2(change.ok() && change.value(), qPrintable(reasonOf(change)));
}

QTEST_MAIN(TestSkin)
#include "tst_skin.moc"
