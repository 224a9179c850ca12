#include "platform/codepage.h"
#include "platform/twips.h"

#include <QTest>

using namespace Inkwell;

namespace {
QString fromU16(const std::u16string &s) { return QString::fromStdU16String(s); }
std::string bytes(const QByteArray &b) { return std::string(b.constData(), size_t(b.size())); }
QByteArray toQ(const std::string &s) { return QByteArray(s.data(), qsizetype(s.size())); }
} // namespace

class TestCodePage : public QObject {
    Q_OBJECT
private slots:
    void roundTrip_data()
    {
        QTest::addColumn<int>("codePage");
        QTest::addColumn<QByteArray>("encoded");
        QTest::addColumn<QString>("text");
        QTest::newRow("936: ascii") << 936 << QByteArray("abc\r\n") << QStringLiteral("abc\r\n");
        QTest::newRow("936: 中文") << 936 << QByteArray("\xd6\xd0\xce\xc4") << QStringLiteral("中文");
        QTest::newRow("936: euro is 0x80") << 936 << QByteArray("\x80") << QStringLiteral("€");
        QTest::newRow("936: outside GBK as GB18030")
            << 936 << QByteArray("\x94\x39\xfc\x36") << QString::fromUcs4(U"\U0001F600");
        QTest::newRow("936: U+0080 as GB18030") << 936 << QByteArray("\x81\x30\x81\x30")
                                               << QString(QChar(0x80));
        QTest::newRow("1252: é") << 1252 << QByteArray("caf\xe9") << QStringLiteral("café");
        QTest::newRow("1250: č") << 1250 << QByteArray("\xe8") << QStringLiteral("č");
        QTest::newRow("932: 日本") << 932 << QByteArray("\x93\xfa\x96\x7b") << QStringLiteral("日本");
        QTest::newRow("65001: 中") << 65001 << QByteArray("\xe4\xb8\xad") << QStringLiteral("中");
        QTest::newRow("936: empty") << 936 << QByteArray() << QString();
        QTest::newRow("936: NUL kept") << 936 << QByteArray("a\0b", 3) << QString::fromUtf16(u"a\0b", 3);
    }
    void roundTrip()
    {
        QFETCH(int, codePage);
        QFETCH(QByteArray, encoded);
        QFETCH(QString, text);
        const auto decoded = CodePage::decode(bytes(encoded), codePage);
        QCOMPARE(fromU16(decoded.text), text);
        QVERIFY(decoded.clean);
        const auto back = CodePage::encode(text.toStdU16String(), codePage);
        QCOMPARE(toQ(back.bytes), encoded);
        QVERIFY(back.lossless);
    }

    void badInput_data()
    {
        QTest::addColumn<QByteArray>("encoded");
        QTest::addColumn<QString>("text");
        QTest::newRow("lone FF") << QByteArray("a\xff" "b") << QStringLiteral("a\uFFFDb");
        QTest::newRow("trailing lead byte") << QByteArray("ab\xd6") << QStringLiteral("ab\uFFFD");
        QTest::newRow("lead then blank") << QByteArray("\xd6 a") << QStringLiteral("\uFFFD a");
    }
    void badInput()
    {
        QFETCH(QByteArray, encoded);
        QFETCH(QString, text);
        const auto decoded = CodePage::decode(bytes(encoded), 936);
        QVERIFY(!decoded.clean);
        QCOMPARE(fromU16(decoded.text), text);
    }

    void unencodable()
    {
        const auto enc = CodePage::encode(u"a中b", 1252);
        QVERIFY(!enc.lossless);
        QCOMPARE(toQ(enc.bytes), QByteArray("a?b"));
        const auto lone = CodePage::encode(std::u16string(1, char16_t(0xD800)), 936);
        QVERIFY(!lone.lossless);
    }

    void fourByteFormsBeforeTableCharacters()
    {
        // Characters outside 936 grow to four bytes; what follows must still fit.
        const QString text = QStringLiteral("กกก") + QString(40, QChar(0x4E2D)) + QString::fromUcs4(U"\U0001F600");
        const auto enc = CodePage::encode(text.toStdU16String(), 936);
        QVERIFY(enc.lossless);
        QCOMPARE(enc.bytes.size(), size_t(3 * 4 + 40 * 2 + 4));
        QCOMPARE(fromU16(CodePage::decode(enc.bytes, 936).text), text);
    }

    void largeInputKeepsEveryCharacter()
    {
        QString text;
        for (int i = 0; i < 100000; ++i)
            text += QStringLiteral("第%1行，中文 text\n").arg(i);
        const auto enc = CodePage::encode(text.toStdU16String(), 936);
        QVERIFY(enc.lossless);
        const auto dec = CodePage::decode(enc.bytes, 936);
        QVERIFY(dec.clean);
        QCOMPARE(fromU16(dec.text), text);
    }

    void charsets_data()
    {
        QTest::addColumn<int>("charset");
        QTest::addColumn<int>("codePage");
        QTest::newRow("GB2312") << 134 << 936;
        QTest::newRow("ANSI") << 0 << 1252;
        QTest::newRow("East Europe") << 238 << 1250;
        QTest::newRow("Shift-JIS") << 128 << 932;
        QTest::newRow("default keeps caller's") << 1 << 0;
        QTest::newRow("symbol") << 2 << 0;
    }
    void charsets()
    {
        QFETCH(int, charset);
        QFETCH(int, codePage);
        QCOMPARE(CodePage::fromCharset(charset), codePage);
    }

    void environmentOverride()
    {
        qputenv("INKWELL_CODEPAGE", "1252");
        QCOMPARE(CodePage::systemAnsi(), 1252);
        qputenv("INKWELL_CODEPAGE", "nonsense");
        QCOMPARE(CodePage::systemAnsi(), 936);
        qunsetenv("INKWELL_CODEPAGE");
        QCOMPARE(CodePage::systemAnsi(), 936);
    }

    void twips()
    {
        QCOMPARE(twipsToPixels(3000, 96), 200);
        QCOMPARE(twipsToPixels(1440, 144), 144);
        QCOMPARE(pixelsToTwips(200, 96), 3000.0);
    }
};

QTEST_APPLESS_MAIN(TestCodePage)
#include "tst_codepage.moc"
