#include "platform/codepage.h"
#include "platform/twips.h"
#include "platform/codepagecases.h"

#include <QTest>
#include <iconv.h>

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
        for (const Testing::CodePageCase &row : Testing::roundTripCases())
            QTest::newRow(row.name) << row.codePage << toQ(row.bytes) << fromU16(row.text);
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
        for (const Testing::CodePageCase &row : Testing::badInputCases())
            QTest::newRow(row.name) << toQ(row.bytes) << fromU16(row.text);
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

    // Every four-byte form code page 936 writes and reads is the one glibc's
    // GB18030 converter gives, over the whole BMP and a sample of the planes.
    void fourByteFormsMatchGb18030()
    {
        iconv_t reference = iconv_open("GB18030", "UTF-32LE");
        QVERIFY(reference != reinterpret_cast<iconv_t>(-1));
        int fourByte = 0;
        for (char32_t c = 0x80; c <= 0x10FFFF; c += c < 0x10000 ? 1 : 997) {
            if (c >= 0xD800 && c <= 0xDFFF)
                continue;
            const QString text = QString::fromUcs4(&c, 1);
            const auto ours = CodePage::encode(text.toStdU16String(), 936);
            if (ours.bytes.size() != 4)
                continue;
            ++fourByte;
            char expected[8];
            char *in = reinterpret_cast<char *>(&c);
            size_t inLeft = sizeof(c);
            char *out = expected;
            size_t outLeft = sizeof(expected);
            iconv(reference, nullptr, nullptr, nullptr, nullptr);
            QVERIFY(iconv(reference, &in, &inLeft, &out, &outLeft) != size_t(-1));
            QCOMPARE(toQ(ours.bytes), QByteArray(expected, qsizetype(sizeof(expected) - outLeft)));
            const auto back = CodePage::decode(ours.bytes, 936);
            QVERIFY2(back.clean && back.text == text.toStdU16String(),
                     qPrintable(QString::number(uint(c), 16)));
        }
        iconv_close(reference);
        QVERIFY2(fourByte > 30000, qPrintable(QString::number(fourByte)));
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
