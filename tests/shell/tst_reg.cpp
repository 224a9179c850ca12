// The registry value routines over the file-backed registry, and the file
// registry's own contract: return codes, case, persistence, locking, damage.
#include "shell/reg.h"
#include "shell/regfileformat.h"
#include "shell/registry_file.h"

#include "platform/codepage.h"
#include "support/files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <thread>

using namespace Inkwell;
using namespace Inkwell::Testing;

namespace {

std::u16string u(const QString &s)
{
    return s.toStdU16String();
}

// The raw bytes and type the registry holds for a value.
struct Raw {
    long rc = -1;
    std::uint32_t type = 0;
    QByteArray bytes;
};

Raw rawValue(Registry &registry, RegKey key, const std::u16string &name)
{
    Raw raw;
    std::uint32_t size = 0;
    raw.rc = registry.queryValue(key, name, &raw.type, nullptr, &size);
    if (raw.rc != RegCode::Success)
        return raw;
    raw.bytes.resize(size);
    raw.rc = registry.queryValue(key, name, &raw.type, raw.bytes.data(), &size);
    return raw;
}

RegKey create(Registry &registry, const std::u16string &path)
{
    RegKey key = 0;
    if (registry.createKey(HKEY_CLASSES_ROOT_KEY, path, &key) != RegCode::Success)
        return 0;
    return key;
}

} // namespace

class TestReg : public QObject {
    Q_OBJECT
private slots:
    void init();

    void setStringValue_storesAnsiAndOneNul_data();
    void setStringValue_storesAnsiAndOneNul();
    void setStringValue_failsThroughBadHandle_data();
    void setStringValue_failsThroughBadHandle();
    void queryStringValue_roundTrip_data();
    void queryStringValue_roundTrip();
    void queryStringValue_failureKeepsText_data();
    void queryStringValue_failureKeepsText();
    void trimNull_data();
    void trimNull();

    void fresh_registryLooksLikeWindows();
    void keys_compareWithoutCase();
    void openKey_results_data();
    void openKey_results();
    void queryValue_smallBufferAsksForMore();
    void closeKey_closedHandleFails();
    void rootValues_keepOneRootEntry();
    void file_persistsAsRegExport();
    void file_leavesNoTemporaryFiles();
    void file_twoRegistriesKeepEachOthersWrites();
    void file_twoThreadsWritingAtOnceLoseNothing();
    void file_damagedIsKeptAsideAndReported_data();
    void file_damagedIsKeptAsideAndReported();

    void format_roundTrip_data();
    void format_roundTrip();
    void format_refusesDamage_data();
    void format_refusesDamage();
    void format_readsHandEditedUtf8();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FileRegistry> m_registry;
};

void TestReg::init()
{
    qunsetenv("INKWELL_CODEPAGE");
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_registry = std::make_unique<FileRegistry>(m_dir->path().toStdString());
}

void TestReg::setStringValue_storesAnsiAndOneNul_data()
{
    QTest::addColumn<QString>("data");
    QTest::addColumn<QByteArray>("stored");
    QTest::newRow("five Chinese characters: 10 bytes and the NUL")
        << QStringLiteral("自定义类型")
        << QByteArray("\xD7\xD4\xB6\xA8\xD2\xE5\xC0\xE0\xD0\xCD", 10) + '\0';
    QTest::newRow("seven ASCII letters: 8")
        << QStringLiteral("txtfile") << QByteArray("txtfile\0", 8);
    QTest::newRow("empty: the NUL alone") << QString() << QByteArray("\0", 1);
    QTest::newRow("path with Chinese and blanks")
        << QStringLiteral("C:\\我的 程序\\inkwell.exe %1")
        << QByteArray("C:\\\xCE\xD2\xB5\xC4 \xB3\xCC\xD0\xF2\\inkwell.exe %1\0", 28);
}

void TestReg::setStringValue_storesAnsiAndOneNul()
{
    QFETCH(QString, data);
    QFETCH(QByteArray, stored);
    const RegKey key = create(*m_registry, u".txt");
    QVERIFY(key != 0);
    QVERIFY(SetStringValue(*m_registry, key, u"", u(data)));
    const Raw raw = rawValue(*m_registry, key, u"");
    QCOMPARE(raw.rc, RegCode::Success);
    QCOMPARE(raw.type, RegType::Sz);
    QCOMPARE(raw.bytes.size(), stored.size());
    QCOMPARE(raw.bytes, stored);
}

void TestReg::setStringValue_failsThroughBadHandle_data()
{
    QTest::addColumn<int>("which");
    QTest::newRow("handle 0, as a failed open leaves") << 0;
    QTest::newRow("a handle already closed") << 1;
    QTest::newRow("a handle never given out") << 2;
}

void TestReg::setStringValue_failsThroughBadHandle()
{
    QFETCH(int, which);
    RegKey key = 0;
    if (which == 1) {
        key = create(*m_registry, u"Closed");
        QCOMPARE(m_registry->closeKey(key), RegCode::Success);
    } else if (which == 2) {
        key = 0x12345;
    }
    QVERIFY(!SetStringValue(*m_registry, key, u"", u"value"));
    std::u16string text = u"keep";
    QVERIFY(!QueryStringValue(*m_registry, key, u"", text));
    QCOMPARE(QString::fromStdU16String(text), QStringLiteral("keep"));
}

void TestReg::queryStringValue_roundTrip_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("data");
    QTest::newRow("default value, Chinese") << QString() << QStringLiteral("自定义类型");
    QTest::newRow("named value") << QStringLiteral("Content Type") << QStringLiteral("text/plain");
    QTest::newRow("empty string") << QString() << QString();
    QTest::newRow("quotes and backslashes")
        << QString() << QStringLiteral("\"C:\\a b\\inkwell.exe\" \"%1\"");
    QTest::newRow("outside GBK, kept by GB18030") << QString() << QStringLiteral("emoji 😀");
}

void TestReg::queryStringValue_roundTrip()
{
    QFETCH(QString, name);
    QFETCH(QString, data);
    const RegKey key = create(*m_registry, u"RoundTrip");
    QVERIFY(SetStringValue(*m_registry, key, u(name), u(data)));
    std::u16string text = u"old";
    QVERIFY(QueryStringValue(*m_registry, key, u(name), text));
    QCOMPARE(QString::fromStdU16String(text), data);
    // A second registry object reads what the file holds, not a cache.
    FileRegistry other(m_dir->path().toStdString());
    RegKey again = 0;
    QCOMPARE(other.openKey(HKEY_CLASSES_ROOT_KEY, u"roundtrip", &again), RegCode::Success);
    std::u16string fromFile;
    QVERIFY(QueryStringValue(other, again, u(name), fromFile));
    QCOMPARE(QString::fromStdU16String(fromFile), data);
}

void TestReg::queryStringValue_failureKeepsText_data()
{
    QTest::addColumn<QString>("keyPath");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("nullHandle");
    QTest::newRow("default value that does not exist")
        << QStringLiteral("txtfile\\shell") << QString() << false;
    QTest::newRow("named value that does not exist")
        << QStringLiteral(".txt") << QStringLiteral("Nothing") << false;
    QTest::newRow("expandable string (type 2)")
        << QStringLiteral("txtfile\\DefaultIcon") << QString() << false;
    QTest::newRow("DWORD value") << QStringLiteral("Numbers") << QStringLiteral("count") << false;
    QTest::newRow("key handle 0") << QStringLiteral(".txt") << QString() << true;
}

void TestReg::queryStringValue_failureKeepsText()
{
    QFETCH(QString, keyPath);
    QFETCH(QString, name);
    QFETCH(bool, nullHandle);
    const RegKey key = create(*m_registry, u(keyPath));
    QVERIFY(key != 0);
    const char dword[4] = {7, 0, 0, 0};
    QCOMPARE(
        m_registry->setValue(create(*m_registry, u"Numbers"), u"count", RegType::Dword, dword, 4),
        RegCode::Success);
    std::u16string text = u"unchanged";
    QVERIFY(!QueryStringValue(*m_registry, nullHandle ? 0 : key, u(name), text));
    QCOMPARE(QString::fromStdU16String(text), QStringLiteral("unchanged"));
}

void TestReg::trimNull_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("trimmed");
    QTest::newRow("NUL after the third character")
        << QString::fromUtf16(u"abc\0def", 7) << QStringLiteral("abc");
    QTest::newRow("no NUL") << QStringLiteral("abc def") << QStringLiteral("abc def");
    QTest::newRow("begins with NUL") << QString::fromUtf16(u"\0abc", 4) << QString();
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("two NULs: the first counts")
        << QString::fromUtf16(u"C:\\Windows\0x\0", 13) << QStringLiteral("C:\\Windows");
    QTest::newRow("spaces after the NUL, as a filled buffer")
        << QString::fromUtf16(u"系统\0   ", 6) << QStringLiteral("系统");
}

void TestReg::trimNull()
{
    QFETCH(QString, text);
    QFETCH(QString, trimmed);
    QCOMPARE(QString::fromStdU16String(TrimNull(u(text))), trimmed);
}

void TestReg::fresh_registryLooksLikeWindows()
{
    QVERIFY(!QFile::exists(QString::fromStdString(m_registry->filePath())));
    RegKey txt = 0;
    QCOMPARE(m_registry->openKey(HKEY_CLASSES_ROOT_KEY, u".txt", &txt), RegCode::Success);
    std::u16string cls;
    QVERIFY(QueryStringValue(*m_registry, txt, u"", cls));
    QCOMPARE(QString::fromStdU16String(cls), QStringLiteral("txtfile"));
    for (const char16_t *path : {u"txtfile\\shell\\open\\command", u"txtfile\\DefaultIcon"}) {
        RegKey key = 0;
        QCOMPARE(m_registry->openKey(HKEY_CLASSES_ROOT_KEY, path, &key), RegCode::Success);
        QCOMPARE(rawValue(*m_registry, key, u"").type, RegType::ExpandSz);
    }
    // Reading alone writes nothing.
    QVERIFY(!QFile::exists(QString::fromStdString(m_registry->filePath())));
}

void TestReg::keys_compareWithoutCase()
{
    RegKey cls = create(*m_registry, u"MyClass");
    RegKey shell = 0, open = 0, command = 0;
    QCOMPARE(m_registry->createKey(cls, u"Shell", &shell), RegCode::Success);
    QCOMPARE(m_registry->createKey(shell, u"Open", &open), RegCode::Success);
    QCOMPARE(m_registry->createKey(open, u"command", &command), RegCode::Success);
    QVERIFY(SetStringValue(*m_registry, command, u"", u"x.exe %1"));

    RegKey again = 0;
    QCOMPARE(m_registry->openKey(HKEY_CLASSES_ROOT_KEY, u"MYCLASS\\shell\\open\\COMMAND", &again),
             RegCode::Success);
    std::u16string text;
    QVERIFY(QueryStringValue(*m_registry, again, u"", text));
    QCOMPARE(QString::fromStdU16String(text), QStringLiteral("x.exe %1"));
    // Creating it again in other case reuses the key instead of adding one.
    RegKey same = 0;
    QCOMPARE(m_registry->createKey(HKEY_CLASSES_ROOT_KEY, u"myclass\\SHELL", &same),
             RegCode::Success);
    const QString file = QString::fromUtf16(reinterpret_cast<const char16_t *>(
        fileBytes(QString::fromStdString(m_registry->filePath())).constData() + 2));
    QCOMPARE(file.count(QStringLiteral("[HKEY_CLASSES_ROOT\\MyClass\\Shell]"), Qt::CaseInsensitive),
             1);
}

void TestReg::openKey_results_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<long>("rc");
    QTest::newRow("existing key") << QStringLiteral("txtfile\\shell\\open") << RegCode::Success;
    QTest::newRow("missing key") << QStringLiteral("nofile\\shell") << RegCode::FileNotFound;
    QTest::newRow("empty class name before the path")
        << QStringLiteral("\\shell\\open\\command") << RegCode::BadPathName;
    QTest::newRow("doubled backslash")
        << QStringLiteral("txtfile\\\\shell") << RegCode::BadPathName;
    QTest::newRow("empty path opens the root again") << QString() << RegCode::Success;
}

void TestReg::openKey_results()
{
    QFETCH(QString, path);
    QFETCH(long, rc);
    RegKey key = 0x777;
    QCOMPARE(m_registry->openKey(HKEY_CLASSES_ROOT_KEY, u(path), &key), rc);
    QCOMPARE(key != 0, rc == RegCode::Success);
    // Opening never creates.
    RegKey again = 0;
    QCOMPARE(m_registry->openKey(HKEY_CLASSES_ROOT_KEY, u(path), &again), rc);
    RegKey viaZero = 1;
    QCOMPARE(m_registry->openKey(0, u(path), &viaZero), RegCode::InvalidHandle);
    QCOMPARE(viaZero, RegKey(0));
}

void TestReg::queryValue_smallBufferAsksForMore()
{
    const RegKey key = create(*m_registry, u"Buffer");
    QVERIFY(SetStringValue(*m_registry, key, u"", u"abcdef"));
    char small[3] = {'x', 'x', 'x'};
    std::uint32_t size = sizeof small;
    std::uint32_t type = 0;
    QCOMPARE(m_registry->queryValue(key, u"", &type, small, &size), RegCode::MoreData);
    QCOMPARE(size, 7u);
    QCOMPARE(QByteArray(small, 3), QByteArray("xxx"));
}

void TestReg::closeKey_closedHandleFails()
{
    const RegKey key = create(*m_registry, u"Twice");
    QCOMPARE(m_registry->closeKey(key), RegCode::Success);
    QCOMPARE(m_registry->closeKey(key), RegCode::InvalidHandle);
    QCOMPARE(m_registry->closeKey(HKEY_CLASSES_ROOT_KEY), RegCode::Success);
}

void TestReg::rootValues_keepOneRootEntry()
{
    for (int pass = 0; pass < 3; ++pass) {
        FileRegistry registry(m_dir->path().toStdString());
        QVERIFY(SetStringValue(registry, HKEY_CLASSES_ROOT_KEY, u"Pass", u(QString::number(pass))));
    }
    std::u16string text;
    QVERIFY(QueryStringValue(*m_registry, HKEY_CLASSES_ROOT_KEY, u"pass", text));
    QCOMPARE(text, std::u16string(u"2"));
    const auto parsed = RegFileFormat::parse(
        fileBytes(QString::fromStdString(m_registry->filePath())).toStdString());
    QVERIFY(parsed.ok);
    int roots = 0;
    for (const auto &key : parsed.keys)
        roots += key.path == u"HKEY_CLASSES_ROOT";
    QCOMPARE(roots, 1);
}

void TestReg::file_persistsAsRegExport()
{
    const RegKey key = create(*m_registry, u"txtfile\\DefaultIcon");
    QVERIFY(SetStringValue(*m_registry, key, u"", u"D:\\程序\\txtfile.ico"));
    const QByteArray bytes = fileBytes(QString::fromStdString(m_registry->filePath()));
    QVERIFY(bytes.startsWith("\xFF\xFE"));
    QCOMPARE(bytes.size() % 2, 0);
    const QString text = QString::fromUtf16(
        reinterpret_cast<const char16_t *>(bytes.constData() + 2), (bytes.size() - 2) / 2);
    QVERIFY(text.startsWith(QStringLiteral("Windows Registry Editor Version 5.00\r\n")));
    QVERIFY(text.contains(QStringLiteral(
        "[HKEY_CLASSES_ROOT\\txtfile\\DefaultIcon]\r\n@=\"D:\\\\程序\\\\txtfile.ico\"\r\n")));
    // The untouched fresh entries are written along with it.
    QVERIFY(text.contains(QStringLiteral("[HKEY_CLASSES_ROOT\\.txt]\r\n@=\"txtfile\"\r\n")));
}

void TestReg::file_leavesNoTemporaryFiles()
{
    const RegKey key = create(*m_registry, u"Many");
    for (int i = 0; i < 20; ++i)
        QVERIFY(SetStringValue(*m_registry, key, u(QString::number(i)), u"v"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden),
             QStringList({QStringLiteral("registry.lock"), QStringLiteral("registry.reg")}));
}

void TestReg::file_twoRegistriesKeepEachOthersWrites()
{
    FileRegistry first(m_dir->path().toStdString());
    FileRegistry second(m_dir->path().toStdString());
    const RegKey a = create(first, u"Shared");
    const RegKey b = create(second, u"Shared");
    QVERIFY(SetStringValue(first, a, u"one", u"1"));
    QVERIFY(SetStringValue(second, b, u"two", u"2"));
    QVERIFY(SetStringValue(first, a, u"three", u"3"));
    const RegKey other = create(second, u"Other");
    QVERIFY(SetStringValue(second, other, u"", u"x"));
    QVERIFY(SetStringValue(first, a, u"", u"default"));

    FileRegistry reader(m_dir->path().toStdString());
    const RegKey r = create(reader, u"shared");
    for (const auto &[name, value] :
         {std::pair{u"one", u"1"}, {u"two", u"2"}, {u"three", u"3"}, {u"", u"default"}}) {
        std::u16string text;
        QVERIFY(QueryStringValue(reader, r, name, text));
        QCOMPARE(text, std::u16string(value));
    }
    std::u16string text;
    QVERIFY(QueryStringValue(reader, create(reader, u"Other"), u"", text));
}

void TestReg::file_twoThreadsWritingAtOnceLoseNothing()
{
    const std::string dir = m_dir->path().toStdString();
    constexpr int perThread = 40;
    bool allStored[2] = {true, true};
    auto writer = [&](int id) {
        FileRegistry registry(dir);
        RegKey key = 0;
        registry.createKey(HKEY_CLASSES_ROOT_KEY, u"Race", &key);
        for (int i = 0; i < perThread; ++i)
            allStored[id] &=
                SetStringValue(registry, key, u(QStringLiteral("t%1-%2").arg(id).arg(i)), u"value");
    };
    std::thread t0(writer, 0), t1(writer, 1);
    t0.join();
    t1.join();
    QVERIFY(allStored[0] && allStored[1]);
    FileRegistry reader(dir);
    const RegKey key = create(reader, u"Race");
    for (int id = 0; id < 2; ++id) {
        for (int i = 0; i < perThread; ++i) {
            std::u16string text;
            QVERIFY2(
                QueryStringValue(reader, key, u(QStringLiteral("t%1-%2").arg(id).arg(i)), text),
                qPrintable(QStringLiteral("t%1-%2 lost").arg(id).arg(i)));
        }
    }
}

void TestReg::file_damagedIsKeptAsideAndReported_data()
{
    QTest::addColumn<QByteArray>("damaged");
    QTest::newRow("binary garbage") << QByteArray("\x00\x01\x02garbage\xFF", 11);
    QTest::newRow("cut off in a quoted string") << QByteArray(
        "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\.txt]\n@=\"txtf");
    QTest::newRow("no header") << QByteArray("[HKEY_CLASSES_ROOT\\.txt]\n@=\"txtfile\"\n");
    QTest::newRow("empty file") << QByteArray();
}

void TestReg::file_damagedIsKeptAsideAndReported()
{
    QFETCH(QByteArray, damaged);
    const QString path = QString::fromStdString(m_registry->filePath());
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(damaged);
    }
    RegKey key = 0;
    QCOMPARE(m_registry->createKey(HKEY_CLASSES_ROOT_KEY, u".txt", &key), RegCode::BadDatabase);
    QCOMPARE(key, RegKey(0));
    const QStringList aside =
        QDir(m_dir->path()).entryList({QStringLiteral("registry.reg.damaged-*")}, QDir::Files);
    QCOMPARE(aside.size(), 1);
    QCOMPARE(fileBytes(m_dir->filePath(aside.first())), damaged);
    const QString report = QString::fromStdU16String(m_registry->describe(RegCode::BadDatabase));
    QVERIFY2(report.contains(aside.first()) && report.contains(QStringLiteral("损坏")),
             qPrintable(report));

    // The next call starts from a fresh registry and writes a new file.
    QCOMPARE(m_registry->createKey(HKEY_CLASSES_ROOT_KEY, u"After", &key), RegCode::Success);
    QVERIFY(SetStringValue(*m_registry, key, u"", u"ok"));
    QCOMPARE(fileBytes(m_dir->filePath(aside.first())), damaged);
    QVERIFY(fileBytes(path).startsWith("\xFF\xFE"));
}

void TestReg::format_roundTrip_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("REG_SZ Chinese") << 1 << QByteArray("\xD7\xD4\xB6\xA8\0", 5);
    QTest::newRow("REG_SZ quotes and backslashes") << 1 << QByteArray("\"a\\b\"\0", 6);
    QTest::newRow("REG_SZ without its NUL") << 1 << QByteArray("abc");
    QTest::newRow("REG_SZ with a line break") << 1 << QByteArray("a\r\nb\0", 5);
    QTest::newRow("REG_SZ empty data") << 1 << QByteArray();
    QTest::newRow("REG_EXPAND_SZ") << 2 << QByteArray("%SystemRoot%\\x\0", 15);
    QTest::newRow("REG_BINARY") << 3 << QByteArray("\x00\xFF\x10", 3);
    QTest::newRow("REG_DWORD") << 4 << QByteArray("\x78\x56\x34\x12", 4);
    QTest::newRow("REG_MULTI_SZ kept as bytes") << 7 << QByteArray("a\0b\0\0", 5);
}

void TestReg::format_roundTrip()
{
    QFETCH(int, type);
    QFETCH(QByteArray, data);
    const std::vector<RegKeyNode> keys = {
        {u"HKEY_CLASSES_ROOT\\A", {{u"", std::uint32_t(type), data.toStdString()}}},
        {u"HKEY_CLASSES_ROOT\\A\\B", {{u"Name \"q\"", 1, std::string("v\0", 2)}}},
    };
    const auto parsed = RegFileFormat::parse(RegFileFormat::write(keys));
    QVERIFY2(parsed.ok, parsed.error.c_str());
    QCOMPARE(parsed.keys.size(), keys.size() + 1); // the root itself is added as an ancestor
    QCOMPARE(parsed.keys[1].path, keys[0].path);
    QCOMPARE(parsed.keys[1].values.size(), size_t(1));
    QCOMPARE(int(parsed.keys[1].values[0].type), type);
    QCOMPARE(QByteArray::fromStdString(parsed.keys[1].values[0].data), data);
    QCOMPARE(parsed.keys[2].values[0].name, std::u16string(u"Name \"q\""));
}

void TestReg::format_refusesDamage_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("line");
    const QByteArray head = "Windows Registry Editor Version 5.00\n";
    QTest::newRow("value before any key") << head + "@=\"x\"\n" << 2;
    QTest::newRow("unterminated name") << head + "[HKEY_CLASSES_ROOT\\A]\n\"abc=\"x\n" << 3;
    QTest::newRow("bad hex digit") << head + "[HKEY_CLASSES_ROOT\\A]\n@=hex:0g\n" << 3;
    QTest::newRow("short dword") << head + "\n[HKEY_CLASSES_ROOT\\A]\n@=dword:12\n" << 4;
    QTest::newRow("key path with empty part") << head + "[HKEY_CLASSES_ROOT\\\\A]\n" << 2;
    QTest::newRow("unknown escape") << head + "[HKEY_CLASSES_ROOT\\A]\n@=\"a\\nb\"\n" << 3;
    QTest::newRow("not UTF-8") << head + "[HKEY_CLASSES_ROOT\\\xD7\xD4]\n" << 0;
}

void TestReg::format_refusesDamage()
{
    QFETCH(QByteArray, text);
    QFETCH(int, line);
    const auto parsed = RegFileFormat::parse(text.toStdString());
    QVERIFY(!parsed.ok);
    QVERIFY(!parsed.error.empty());
    QCOMPARE(parsed.errorLine, line);
}

void TestReg::format_readsHandEditedUtf8()
{
    const std::string text = "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
                             "; edited by hand\r\n"
                             "[HKEY_CLASSES_ROOT\\txtfile\\shell\\open\\command]\r\n"
                             "@=\"编辑器.exe %1\"\r\n"
                             "\"Bin\"=hex:01,02,\\\r\n"
                             "  03,04\r\n"
                             "[hkey_classes_root\\TXTFILE]\r\n"
                             "@=\"txt\"\r\n";
    const auto parsed = RegFileFormat::parse(text);
    QVERIFY2(parsed.ok, parsed.error.c_str());
    // The ancestors are there, and the second section reuses the key of the first case.
    QCOMPARE(parsed.keys.size(), size_t(5));
    QCOMPARE(parsed.keys[1].path, std::u16string(u"HKEY_CLASSES_ROOT\\txtfile"));
    QCOMPARE(parsed.keys[1].values.size(), size_t(1));
    const auto &command = parsed.keys[4];
    QCOMPARE(command.values.size(), size_t(2));
    QCOMPARE(QByteArray::fromStdString(command.values[0].data),
             QByteArray("\xB1\xE0\xBC\xAD\xC6\xF7.exe %1\0", 14));
    QCOMPARE(QByteArray::fromStdString(command.values[1].data), QByteArray("\x01\x02\x03\x04"));
}

QTEST_GUILESS_MAIN(TestReg)
#include "tst_reg.moc"
