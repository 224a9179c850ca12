// The association dialog against the file-backed registry: values written,
// messages in order with their texts, titles and icons, the dialog closing.
#include "shell/desktopassociation.h"
#include "shell/frmmain.h"
#include "shell/reg.h"
#include "shell/registry_file.h"
#include "shell/systemdirectory.h"

#include "platform/twips.h"
#include "support/scriptedmessagehost.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <set>

using namespace Inkwell;
using Inkwell::Testing::ScriptedMessageHost;
using Inkwell::Testing::ShownMessage;

namespace {

// The file registry seen through what a test wants to change: a .txt that
// maps to another class (as a per-user mapping overrides the machine's), a
// create that fails, and a count of the handles still open.
class ObservedRegistry : public Registry {
public:
    explicit ObservedRegistry(const QString &dir) : m_file(dir.toStdString()) {}

    std::optional<std::u16string> txtClass; // what reading .txt's default gives
    bool txtUnreadable = false;
    std::u16string failCreate; // a key name whose create fails
    std::set<RegKey> open;
    std::function<void()> onSet;

    long createKey(RegKey parent, const std::u16string &subKey, RegKey *result) override
    {
        if (!failCreate.empty() && subKey == failCreate) {
            *result = 0;
            return RegCode::AccessDenied;
        }
        const long rc = m_file.createKey(parent, subKey, result);
        if (rc == RegCode::Success)
            open.insert(*result);
        return rc;
    }
    long openKey(RegKey parent, const std::u16string &subPath, RegKey *result) override
    {
        const long rc = m_file.openKey(parent, subPath, result);
        if (rc == RegCode::Success) {
            open.insert(*result);
            if (RegFileFormat::fold(subPath) == u".TXT")
                m_txtHandles.insert(*result);
        }
        return rc;
    }
    long setValue(RegKey key, const std::u16string &name, std::uint32_t type, const char *data,
                  std::uint32_t size) override
    {
        if (onSet)
            onSet();
        return m_file.setValue(key, name, type, data, size);
    }
    long queryValue(RegKey key, const std::u16string &name, std::uint32_t *type, char *data,
                    std::uint32_t *size) override
    {
        if (m_txtHandles.count(key) && name.empty()) {
            if (txtUnreadable)
                return RegCode::FileNotFound;
            if (txtClass) {
                const std::string bytes =
                    QString::fromStdU16String(*txtClass).toLatin1().toStdString() + '\0';
                *type = RegType::Sz;
                if (data) {
                    if (*size < bytes.size())
                        return RegCode::MoreData;
                    std::copy(bytes.begin(), bytes.end(), data);
                }
                *size = std::uint32_t(bytes.size());
                return RegCode::Success;
            }
        }
        return m_file.queryValue(key, name, type, data, size);
    }
    long closeKey(RegKey key) override
    {
        open.erase(key);
        m_txtHandles.erase(key);
        return m_file.closeKey(key);
    }
    std::u16string describe(long code) const override { return m_file.describe(code); }

    FileRegistry &file() { return m_file; }

private:
    FileRegistry m_file;
    std::set<RegKey> m_txtHandles;
};

class FixedSystemDirectory : public SystemDirectory {
public:
    explicit FixedSystemDirectory(std::u16string path) : m_path(std::move(path)) {}
    unsigned sizeAsked = 0;
    unsigned GetSystemDirectoryW(char16_t *buffer, unsigned size) override
    {
        sizeAsked = size;
        std::copy(m_path.begin(), m_path.end(), buffer);
        buffer[m_path.size()] = u'\0';
        return unsigned(m_path.size());
    }

private:
    std::u16string m_path;
};

class CountingDesktop : public DesktopAssociation {
public:
    int installs = 0;
    int restores = 0;
    std::optional<Error> failure; // what both calls answer
    std::optional<Error> install() override
    {
        ++installs;
        return failure;
    }
    std::optional<Error> restore() override
    {
        ++restores;
        return failure;
    }
};

struct Expected {
    QString text;
    QString title;
    MessageIcon icon;
};

const Expected phase1Ok{QStringLiteral("创建自定义类型后缀名成功。"), QStringLiteral("系统提示"),
                        MessageIcon::Information};
const Expected phase1Failed{QStringLiteral("创建自定义类型后缀名失败。"),
                            QStringLiteral("系统提示"), MessageIcon::Exclamation};
const Expected commandOk{QStringLiteral("改变文件打开方式成功！"), QStringLiteral("请注意"),
                         MessageIcon::Information};
const Expected commandFailed{QStringLiteral("改变文件打开方式失败！"), QStringLiteral("请注意"),
                             MessageIcon::Exclamation};
const Expected iconOk{QStringLiteral("改变图标成功"), QStringLiteral("提示"),
                      MessageIcon::Information};
const Expected iconFailed{QStringLiteral("改变图标失败"), QStringLiteral("提示"),
                          MessageIcon::Exclamation};

// Reads a default value through a fresh registry object: what is on disk.
std::optional<QString> stored(const QString &dir, const QString &path, int *size = nullptr)
{
    FileRegistry registry(dir.toStdString());
    RegKey key = 0;
    if (registry.openKey(HKEY_CLASSES_ROOT_KEY, path.toStdU16String(), &key) != RegCode::Success)
        return std::nullopt;
    std::uint32_t type = 0, bytes = 0;
    if (registry.queryValue(key, u"", &type, nullptr, &bytes) != RegCode::Success)
        return std::nullopt;
    if (size)
        *size = int(bytes);
    std::u16string text;
    if (!QueryStringValue(registry, key, u"", text))
        return std::nullopt;
    return QString::fromStdU16String(text);
}

bool keyExists(const QString &dir, const QString &path)
{
    FileRegistry registry(dir.toStdString());
    RegKey key = 0;
    return registry.openKey(HKEY_CLASSES_ROOT_KEY, path.toStdU16String(), &key) == RegCode::Success;
}

// Bytes of a string in code page 936, counted by hand: one for ASCII, two
// for each Chinese character.
int gbkLength(const QString &s)
{
    int n = 0;
    for (const QChar c : s)
        n += c.unicode() < 0x80 ? 1 : 2;
    return n;
}

void createClass(FileRegistry &registry, const std::u16string &name, bool withCommand,
                 bool withIcon)
{
    RegKey key = 0;
    registry.createKey(HKEY_CLASSES_ROOT_KEY, name, &key);
    if (withCommand)
        registry.createKey(key, u"shell\\open\\command", &key);
    registry.createKey(HKEY_CLASSES_ROOT_KEY, name, &key);
    if (withIcon)
        registry.createKey(key, u"DefaultIcon", &key);
}

} // namespace

class TestFrmMain : public QObject {
    Q_OBJECT
private slots:
    void init();

    void dialog_lookAndTabOrder();
    void buttons_writeTheirValues_data();
    void buttons_writeTheirValues();
    void keyboard_pressesTheFocusedButton_data();
    void keyboard_pressesTheFocusedButton();
    void buttons_twiceInTwoVisits_data();
    void buttons_twiceInTwoVisits();
    void phase2_writesUnderTheClassTxtMapsTo_data();
    void phase2_writesUnderTheClassTxtMapsTo();
    void phase2_unreadableTxtFailsBoth();
    void phase1_failureIsReported_data();
    void phase1_failureIsReported();
    void messages_waitForTheUserBeforeTheNextStep();
    void damagedRegistryFile_isKeptAndTheProcedureGoesOn();
    void closeBox_changesNothing();
    void desktop_followsTheButton_data();
    void desktop_followsTheButton();
    void notepadValues_useA125CharacterBuffer();

private:
    void compareMessages(const QList<Expected> &expected);

    std::unique_ptr<QTemporaryDir> m_dir;
    ScriptedMessageHost m_messages;
};

void TestFrmMain::init()
{
    qunsetenv("INKWELL_CODEPAGE");
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_messages = ScriptedMessageHost();
}

void TestFrmMain::compareMessages(const QList<Expected> &expected)
{
    QCOMPARE(m_messages.shown.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        const ShownMessage &m = m_messages.shown[i];
        QCOMPARE(m.kind, ShownMessage::Inform);
        QCOMPARE(m.text, expected[i].text);
        QCOMPARE(m.title, expected[i].title);
        QCOMPARE(m.icon, expected[i].icon);
    }
}

void TestFrmMain::dialog_lookAndTabOrder()
{
    ObservedRegistry registry(m_dir->path());
    FixedSystemDirectory system(u"C:\\Windows\\system32");
    FrmMain dialog(registry, m_messages, QStringLiteral("C:\\Inkwell"), system);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("注册txt关联"));
    QVERIFY(dialog.isModal());
    QCOMPARE(dialog.Command1->text(), QStringLiteral("注册"));
    QCOMPARE(dialog.Command2->text(), QStringLiteral("反注册"));
    QVERIFY(dialog.Label1->text().startsWith(QStringLiteral("注册/反注册txt关联可能会导致")));
    QVERIFY(dialog.Label1->text().endsWith(QStringLiteral("在提示警报是允许程序的操作。")));
    QVERIFY(dialog.Label1->wordWrap());

    const double dx = dialog.logicalDpiX(), dy = dialog.logicalDpiY();
    QCOMPARE(dialog.size(), QSize(twipsToPixels(3015, dx), twipsToPixels(2925, dy)));
    QCOMPARE(dialog.Command1->geometry(), QRect(twipsToPixels(240, dx), twipsToPixels(2400, dy),
                                                twipsToPixels(1215, dx), twipsToPixels(375, dy)));
    QCOMPARE(dialog.Command2->geometry().topLeft(),
             QPoint(twipsToPixels(1680, dx), twipsToPixels(2400, dy)));
    QCOMPARE(dialog.Label1->geometry().size(),
             QSize(twipsToPixels(2535, dx), twipsToPixels(2055, dy)));
    // The buttons sit side by side inside the client area.
    QVERIFY(dialog.rect().contains(dialog.Command2->geometry()));
    QVERIFY(!dialog.Command1->geometry().intersects(dialog.Command2->geometry()));

    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.activateWindow();
    QTRY_COMPARE(QApplication::focusWidget(), dialog.Command1);
    QTest::keyClick(&dialog, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), dialog.Command2);
    QVERIFY(m_messages.shown.isEmpty());
}

void TestFrmMain::buttons_writeTheirValues_data()
{
    QTest::addColumn<bool>("register_");
    QTest::addColumn<QString>("directory");
    QTest::addColumn<QString>("icon");
    QTest::addColumn<QString>("command");
    QTest::newRow("注册") << true << QStringLiteral("C:\\Program Files\\Inkwell")
                          << QStringLiteral("C:\\Program Files\\Inkwell\\txtfile.ico")
                          << QStringLiteral("C:\\Program Files\\Inkwell\\inkwell.exe %1");
    QTest::newRow("注册 from a Chinese directory")
        << true << QStringLiteral("D:\\工具\\文本编辑器")
        << QStringLiteral("D:\\工具\\文本编辑器\\txtfile.ico")
        << QStringLiteral("D:\\工具\\文本编辑器\\inkwell.exe %1");
    QTest::newRow("反注册") << false << QStringLiteral("C:\\Windows\\system32")
                            << QStringLiteral("C:\\Windows\\system32\\shell32.dll,-152")
                            << QStringLiteral("C:\\Windows\\system32\\notepad.exe %1");
    QTest::newRow("反注册 with a Chinese system directory")
        << false << QStringLiteral("C:\\视窗\\system32")
        << QStringLiteral("C:\\视窗\\system32\\shell32.dll,-152")
        << QStringLiteral("C:\\视窗\\system32\\notepad.exe %1");
}

void TestFrmMain::buttons_writeTheirValues()
{
    QFETCH(bool, register_);
    QFETCH(QString, directory);
    QFETCH(QString, icon);
    QFETCH(QString, command);
    ObservedRegistry registry(m_dir->path());
    FixedSystemDirectory system(register_ ? u"C:\\unused" : directory.toStdU16String());
    FrmMain dialog(registry, m_messages,
                   register_ ? directory : QStringLiteral("C:\\Program Files\\Inkwell"), system);
    dialog.show();
    QTest::mouseClick(register_ ? dialog.Command1 : dialog.Command2, Qt::LeftButton);

    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    compareMessages({phase1Ok, commandOk, iconOk});
    int commandSize = 0, iconSize = 0;
    QCOMPARE(stored(m_dir->path(), QStringLiteral("txtfile\\shell\\open\\command"), &commandSize),
             command);
    QCOMPARE(stored(m_dir->path(), QStringLiteral("txtfile\\DefaultIcon"), &iconSize), icon);
    QCOMPARE(commandSize, gbkLength(command) + 1);
    QCOMPARE(iconSize, gbkLength(icon) + 1);
    QCOMPARE(stored(m_dir->path(), QStringLiteral(".txt")), QStringLiteral("txtfile"));
    QCOMPARE(stored(m_dir->path(), QStringLiteral("txtfile")), QStringLiteral("自定义类型"));
    QVERIFY(registry.open.empty());
}

void TestFrmMain::keyboard_pressesTheFocusedButton_data()
{
    QTest::addColumn<int>("tabs");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("command");
    const QString ours = QStringLiteral("C:\\Inkwell\\inkwell.exe %1");
    const QString notepad = QStringLiteral("C:\\Windows\\system32\\notepad.exe %1");
    QTest::newRow("Enter on 注册") << 0 << int(Qt::Key_Return) << ours;
    QTest::newRow("keypad Enter on 注册") << 0 << int(Qt::Key_Enter) << ours;
    QTest::newRow("Space on 注册") << 0 << int(Qt::Key_Space) << ours;
    QTest::newRow("Tab, Enter on 反注册") << 1 << int(Qt::Key_Return) << notepad;
    QTest::newRow("Tab, Tab, Enter back on 注册") << 2 << int(Qt::Key_Return) << ours;
}

void TestFrmMain::keyboard_pressesTheFocusedButton()
{
    QFETCH(int, tabs);
    QFETCH(int, key);
    QFETCH(QString, command);
    ObservedRegistry registry(m_dir->path());
    FixedSystemDirectory system(u"C:\\Windows\\system32");
    FrmMain dialog(registry, m_messages, QStringLiteral("C:\\Inkwell"), system);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.activateWindow();
    QTRY_COMPARE(QApplication::focusWidget(), dialog.Command1);
    for (int i = 0; i < tabs; ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));

    QTRY_VERIFY(!dialog.isVisible());
    QCOMPARE(stored(m_dir->path(), QStringLiteral("txtfile\\shell\\open\\command")), command);
}

void TestFrmMain::buttons_twiceInTwoVisits_data()
{
    QTest::addColumn<QList<bool>>("presses"); // true: 注册
    QTest::newRow("注册 twice") << QList<bool>{true, true};
    QTest::newRow("反注册 twice") << QList<bool>{false, false};
    QTest::newRow("注册 then 反注册") << QList<bool>{true, false};
    QTest::newRow("反注册 then 注册") << QList<bool>{false, true};
}

void TestFrmMain::buttons_twiceInTwoVisits()
{
    QFETCH(QList<bool>, presses);
    FixedSystemDirectory system(u"C:\\Windows\\system32");
    for (const bool register_ : presses) {
        ObservedRegistry registry(m_dir->path());
        FrmMain dialog(registry, m_messages, QStringLiteral("E:\\Inkwell"), system);
        dialog.show();
        (register_ ? dialog.Command1 : dialog.Command2)->click();
        QVERIFY(!dialog.isVisible());
    }
    compareMessages({phase1Ok, commandOk, iconOk, phase1Ok, commandOk, iconOk});
    const bool last = presses.last();
    QCOMPARE(stored(m_dir->path(), QStringLiteral("txtfile\\shell\\open\\command")),
             last ? QStringLiteral("E:\\Inkwell\\inkwell.exe %1")
                  : QStringLiteral("C:\\Windows\\system32\\notepad.exe %1"));
    QCOMPARE(stored(m_dir->path(), QStringLiteral("TXTFILE\\defaulticon")),
             last ? QStringLiteral("E:\\Inkwell\\txtfile.ico")
                  : QStringLiteral("C:\\Windows\\system32\\shell32.dll,-152"));
}

void TestFrmMain::phase2_writesUnderTheClassTxtMapsTo_data()
{
    QTest::addColumn<bool>("withCommand");
    QTest::addColumn<bool>("withIcon");
    QTest::newRow("class with both keys") << true << true;
    QTest::newRow("class without shell\\open\\command") << false << true;
    QTest::newRow("class without DefaultIcon") << true << false;
    QTest::newRow("class with neither") << false << false;
}

void TestFrmMain::phase2_writesUnderTheClassTxtMapsTo()
{
    QFETCH(bool, withCommand);
    QFETCH(bool, withIcon);
    ObservedRegistry registry(m_dir->path());
    createClass(registry.file(), u"OtherText", withCommand, withIcon);
    registry.txtClass = u"OtherText";
    FixedSystemDirectory system(u"C:\\Windows\\system32");
    FrmMain dialog(registry, m_messages, QStringLiteral("C:\\Inkwell"), system);
    dialog.show();
    dialog.Command1->click();

    compareMessages(
        {phase1Ok, withCommand ? commandOk : commandFailed, withIcon ? iconOk : iconFailed});
    QCOMPARE(stored(m_dir->path(), QStringLiteral("OtherText\\shell\\open\\command")),
             withCommand ? std::optional(QStringLiteral("C:\\Inkwell\\inkwell.exe %1"))
                         : std::nullopt);
    QCOMPARE(stored(m_dir->path(), QStringLiteral("OtherText\\DefaultIcon")),
             withIcon ? std::optional(QStringLiteral("C:\\Inkwell\\txtfile.ico")) : std::nullopt);
    // Phase 2 opens, it never creates.
    QCOMPARE(keyExists(m_dir->path(), QStringLiteral("OtherText\\shell\\open\\command")),
             withCommand);
    QCOMPARE(keyExists(m_dir->path(), QStringLiteral("OtherText\\DefaultIcon")), withIcon);
    // Phase 1 still wrote txtfile.
    QCOMPARE(stored(m_dir->path(), QStringLiteral("txtfile\\shell\\open\\command")),
             QStringLiteral("C:\\Inkwell\\inkwell.exe %1"));
    QVERIFY(!dialog.isVisible());
    QVERIFY(registry.open.empty());
}

void TestFrmMain::phase2_unreadableTxtFailsBoth()
{
    ObservedRegistry registry(m_dir->path());
    registry.txtUnreadable = true;
    FixedSystemDirectory system(u"C:\\Windows\\system32");
    FrmMain dialog(registry, m_messages, QStringLiteral("C:\\Inkwell"), system);
    dialog.show();
    dialog.Command2->click();
    compareMessages({phase1Ok, commandFailed, iconFailed});
    QVERIFY(!keyExists(m_dir->path(), QStringLiteral("shell\\open\\command")));
    QVERIFY(!dialog.isVisible());
}

void TestFrmMain::phase1_failureIsReported_data()
{
    QTest::addColumn<QString>("failing");
    // The fresh registry already has txtfile's keys, so phase 2 still opens them.
    QTest::newRow(".txt") << QStringLiteral(".txt");
    QTest::newRow("txtfile") << QStringLiteral("txtfile");
    QTest::newRow("DefaultIcon") << QStringLiteral("DefaultIcon");
    QTest::newRow("Shell") << QStringLiteral("Shell");
    QTest::newRow("command") << QStringLiteral("command");
}

void TestFrmMain::phase1_failureIsReported()
{
    QFETCH(QString, failing);
    ObservedRegistry registry(m_dir->path());
    registry.failCreate = failing.toStdU16String();
    FixedSystemDirectory system(u"C:\\Windows\\system32");
    FrmMain dialog(registry, m_messages, QStringLiteral("C:\\Inkwell"), system);
    dialog.show();
    dialog.Command1->click();
    compareMessages({phase1Failed, commandOk, iconOk});
    QCOMPARE(stored(m_dir->path(), QStringLiteral("txtfile\\shell\\open\\command")),
             QStringLiteral("C:\\Inkwell\\inkwell.exe %1"));
    QVERIFY(!dialog.isVisible());
    QVERIFY(registry.open.empty());
}

// Each message is shown when its step is done and before the next step
// writes anything: a message box waits for OK.
void TestFrmMain::messages_waitForTheUserBeforeTheNextStep()
{
    ObservedRegistry registry(m_dir->path());
    createClass(registry.file(), u"OtherText", true, true);
    registry.txtClass = u"OtherText";
    QList<int> messagesAtEachWrite;
    registry.onSet = [&] { messagesAtEachWrite << int(m_messages.shown.size()); };
    FixedSystemDirectory system(u"C:\\Windows\\system32");
    FrmMain dialog(registry, m_messages, QStringLiteral("C:\\Inkwell"), system);
    dialog.show();
    dialog.Command1->click();
    // Four writes in phase 1 before its message, then one write per message.
    QCOMPARE(messagesAtEachWrite, (QList<int>{0, 0, 0, 0, 1, 2}));
    QCOMPARE(m_messages.shown.size(), 3);
}

void TestFrmMain::damagedRegistryFile_isKeptAndTheProcedureGoesOn()
{
    const QString file = m_dir->filePath(QStringLiteral("registry.reg"));
    const QByteArray damaged("Windows Registry Editor Version 5.00\n[HKEY_CLASSES_ROOT\\.txt\n");
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(damaged);
    }
    ObservedRegistry registry(m_dir->path());
    FixedSystemDirectory system(u"C:\\Windows\\system32");
    FrmMain dialog(registry, m_messages, QStringLiteral("C:\\Inkwell"), system);
    dialog.show();
    dialog.Command1->click();
    // The first create found the damage; the rest ran on a fresh registry.
    compareMessages({phase1Failed, commandOk, iconOk});
    const QStringList aside =
        QDir(m_dir->path()).entryList({QStringLiteral("registry.reg.damaged-*")}, QDir::Files);
    QCOMPARE(aside.size(), 1);
    QFile kept(m_dir->filePath(aside.first()));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), damaged);
    QVERIFY(!registry.file().damageReport().empty());
    QCOMPARE(stored(m_dir->path(), QStringLiteral("txtfile\\DefaultIcon")),
             QStringLiteral("C:\\Inkwell\\txtfile.ico"));
}

void TestFrmMain::closeBox_changesNothing()
{
    ObservedRegistry registry(m_dir->path());
    FixedSystemDirectory system(u"C:\\Windows\\system32");
    CountingDesktop desktop;
    FrmMain dialog(registry, m_messages, QStringLiteral("C:\\Inkwell"), system, &desktop);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(dialog.close());
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QVERIFY(m_messages.shown.isEmpty());
    QVERIFY(!QFile::exists(m_dir->filePath(QStringLiteral("registry.reg"))));
    QCOMPARE(desktop.installs + desktop.restores, 0);
}

void TestFrmMain::desktop_followsTheButton_data()
{
    QTest::addColumn<bool>("register_");
    QTest::addColumn<bool>("fails");
    QTest::newRow("注册 installs") << true << false;
    QTest::newRow("反注册 restores") << false << false;
    QTest::newRow("注册: the desktop refuses, and says why") << true << true;
    QTest::newRow("反注册: the desktop refuses, and says why") << false << true;
}

void TestFrmMain::desktop_followsTheButton()
{
    QFETCH(bool, register_);
    QFETCH(bool, fails);
    ObservedRegistry registry(m_dir->path());
    FixedSystemDirectory system(u"C:\\Windows\\system32");
    CountingDesktop desktop;
    if (fails)
        desktop.failure = Error{QStringLiteral("无法写入“mimeapps.list”"), QStringLiteral("没有写入权限")};
    FrmMain dialog(registry, m_messages, QStringLiteral("C:\\Inkwell"), system, &desktop);
    dialog.show();
    (register_ ? dialog.Command1 : dialog.Command2)->click();
    QCOMPARE(desktop.installs, register_ ? 1 : 0);
    QCOMPARE(desktop.restores, register_ ? 0 : 1);
    QCOMPARE(m_messages.shown.size(), fails ? 4 : 3);
    if (fails) {
        QCOMPARE(m_messages.shown.last().text, QStringLiteral("无法写入“mimeapps.list”：没有写入权限"));
        QCOMPARE(m_messages.shown.last().icon, MessageIcon::Exclamation);
    }
}

void TestFrmMain::notepadValues_useA125CharacterBuffer()
{
    FixedSystemDirectory system(u"C:\\WINNT\\System32");
    const AssociationValues values = AssociationProcedure::forNotepad(system);
    QCOMPARE(system.sizeAsked, 125u);
    QCOMPARE(QString::fromStdU16String(values.command),
             QStringLiteral("C:\\WINNT\\System32\\notepad.exe %1"));
    // The stand-in for systems without Windows names the directory its fresh entries use.
    const auto standIn = makeSystemDirectory();
    QCOMPARE(QString::fromStdU16String(AssociationProcedure::forNotepad(*standIn).icon),
             QStringLiteral("C:\\Windows\\system32\\shell32.dll,-152"));
}

QTEST_MAIN(TestFrmMain)
#include "tst_frmmain.moc"
