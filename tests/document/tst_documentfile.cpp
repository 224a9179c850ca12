// The file layer on its own, with no window and no editing widget: bytes in,
// a QTextDocument, bytes out.
#include "core/contenthash.h"
#include "core/documenttext.h"
#include "core/filestamp.h"
#include "document/bytescramble.h"
#include "document/documentfile.h"
#include "document/plaintextwriter.h"
#include "document/textloader.h"
#include "rtf/rtfreader.h"
#include "support/files.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>
#include <QTextTable>
#include <sys/stat.h>

using namespace Inkwell;
using namespace Inkwell::Testing;

namespace {

// Loads the bytes into the document as a file open does, all slices in.
TextLoader::Loaded load(const QByteArray &bytes, QTextDocument &document)
{
    TextLoader loader;
    loader.start(bytes, document, QTextCharFormat());
    loader.finish();
    return loader.take();
}

QByteArray utf16le(const QString &text)
{
    return QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
}

QByteArray utf16be(const QString &text)
{
    QByteArray out;
    for (QChar c : text)
        out += char(c.unicode() >> 8), out += char(c.unicode() & 0xFF);
    return out;
}

// Rich documents for the plain-text export, as a rich view holds them.
enum class Rich { LineBreak, Lists, NestedLists, Table, MergedAndNested, ListInCell };

QTextList *listOf(QTextCursor &cursor, const QStringList &items, QTextListFormat::Style style,
                  int indent = 1)
{
    QTextListFormat format;
    format.setStyle(style);
    format.setIndent(indent);
    QTextList *list = nullptr;
    for (const QString &item : items) {
        cursor.insertBlock();
        cursor.insertText(item);
        if (list)
            list->add(cursor.block());
        else
            list = cursor.createList(format);
    }
    return list;
}

void buildRich(Rich kind, QTextDocument &document)
{
    QTextCursor cursor(&document);
    switch (kind) {
    case Rich::LineBreak:
        cursor.insertText(QStringLiteral("第一\u2028第二"));
        cursor.insertBlock();
        cursor.insertText(QStringLiteral("end"));
        break;
    case Rich::Lists: {
        cursor.insertText(QStringLiteral("Before"));
        listOf(cursor, {QStringLiteral("one"), QStringLiteral("two")},
               QTextListFormat::ListDecimal);
        QTextListFormat alpha;
        alpha.setStyle(QTextListFormat::ListLowerAlpha);
        alpha.setNumberSuffix(QStringLiteral(")"));
        alpha.setProperty(listStartProperty, 3);
        cursor.insertBlock();
        cursor.insertText(QStringLiteral("c"));
        cursor.createList(alpha);
        listOf(cursor, {QStringLiteral("点")}, QTextListFormat::ListDisc);
        cursor.insertBlock(QTextBlockFormat());
        cursor.insertText(QStringLiteral("After"));
        break;
    }
    case Rich::NestedLists: {
        QTextList *top = listOf(cursor, {QStringLiteral("one")}, QTextListFormat::ListDecimal);
        listOf(cursor, {QStringLiteral("i"), QStringLiteral("ii")}, QTextListFormat::ListLowerRoman,
               2);
        cursor.insertBlock();
        cursor.insertText(QStringLiteral("two"));
        top->add(cursor.block());
        break;
    }
    case Rich::Table: {
        cursor.insertText(QStringLiteral("Before"));
        QTextTable *table = cursor.insertTable(2, 2);
        table->cellAt(0, 0).firstCursorPosition().insertText(QStringLiteral("名称"));
        table->cellAt(0, 1).firstCursorPosition().insertText(QStringLiteral("数量"));
        table->cellAt(1, 0).firstCursorPosition().insertText(QStringLiteral("a\u2028b"));
        QTextCursor end(&document);
        end.movePosition(QTextCursor::End);
        end.insertText(QStringLiteral("After"));
        break;
    }
    case Rich::MergedAndNested: {
        QTextTable *table = cursor.insertTable(2, 3);
        table->cellAt(0, 0).firstCursorPosition().insertText(QStringLiteral("wide"));
        table->cellAt(0, 2).firstCursorPosition().insertText(QStringLiteral("C"));
        table->mergeCells(0, 0, 1, 2);
        QTextCursor in = table->cellAt(1, 1).firstCursorPosition();
        in.insertText(QStringLiteral("x"));
        QTextTable *nested = in.insertTable(1, 2);
        nested->cellAt(0, 0).firstCursorPosition().insertText(QStringLiteral("n1"));
        nested->cellAt(0, 1).firstCursorPosition().insertText(QStringLiteral("n2"));
        break;
    }
    case Rich::ListInCell: {
        QTextTable *table = cursor.insertTable(1, 2);
        QTextCursor in = table->cellAt(0, 0).firstCursorPosition();
        in.insertText(QStringLiteral("first"));
        QTextListFormat format;
        format.setStyle(QTextListFormat::ListDecimal);
        QTextList *list = in.createList(format);
        in.insertBlock();
        in.insertText(QStringLiteral("second"));
        list->add(in.block());
        table->cellAt(0, 1).firstCursorPosition().insertText(QStringLiteral("right"));
        break;
    }
    }
}

} // namespace

class TestDocumentFile : public QObject {
    Q_OBJECT
private slots:
    // Every encoding and line ending a text file can have comes back byte for
    // byte through a load and a plain-text save; the text is what a reader
    // of the file sees.
    void plainTextRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("lineEnding");
        const int ansi = int(TextEncoding::Kind::Ansi), utf8 = int(TextEncoding::Kind::Utf8),
                  le = int(TextEncoding::Kind::Utf16LE), be = int(TextEncoding::Kind::Utf16BE);
        const int crlf = int(TextEncoding::LineEnding::CRLF),
                  lf = int(TextEncoding::LineEnding::LF), cr = int(TextEncoding::LineEnding::CR);
        const QString two = QStringLiteral("第一行 one\n第二行 two\n");
        QTest::newRow("GBK, CRLF")
            << QByteArray("\xb5\xda\xd2\xbb\xd0\xd0 one\r\n\xb5\xda\xb6\xfe\xd0\xd0 two\r\n") << two
            << ansi << crlf;
        QTest::newRow("GBK, LF")
            << QByteArray("\xb5\xda\xd2\xbb\xd0\xd0 one\n\xb5\xda\xb6\xfe\xd0\xd0 two\n") << two
            << ansi << lf;
        QTest::newRow("GBK, CR")
            << QByteArray("\xb5\xda\xd2\xbb\xd0\xd0 one\r\xb5\xda\xb6\xfe\xd0\xd0 two\r") << two
            << ansi << cr;
        QTest::newRow("GB18030 four-byte forms")
            << QByteArray("\x94\x39\xfc\x36 \x81\x32\xce\x39\r\n")
            << QString::fromUcs4(U"\U0001F600 \u0E01\n") << ansi << crlf;
        QTest::newRow("UTF-8 without BOM") << two.toUtf8() << two << utf8 << lf;
        QTest::newRow("UTF-8 with BOM")
            << "\xef\xbb\xbf" +
                   QString(two).replace(QStringLiteral("\n"), QStringLiteral("\r\n")).toUtf8()
            << two << utf8 << crlf;
        QTest::newRow("UTF-16 LE")
            << "\xff\xfe" +
                   utf16le(QString(two).replace(QStringLiteral("\n"), QStringLiteral("\r\n")))
            << two << le << crlf;
        QTest::newRow("UTF-16 BE") << "\xfe\xff" + utf16be(two) << two << be << lf;
        QTest::newRow("UTF-16 LE without BOM")
            << utf16le(QString(two).replace(QStringLiteral("\n"), QStringLiteral("\r\n"))) << two
            << le << crlf;
        QTest::newRow("UTF-16 BE without BOM") << utf16be(two) << two << be << lf;
        QTest::newRow("NUL bytes")
            << QByteArray("a\0b\r\n", 5) << QString::fromUtf16(u"a\0b\n", 4) << ansi << crlf;
        QTest::newRow("empty") << QByteArray() << QString() << ansi << -1;
        QTest::newRow("no line break")
            << QByteArray("\xd6\xd0") << QStringLiteral("中") << ansi << -1;
        QString big;
        QByteArray bigBytes;
        for (int i = 0; bigBytes.size() < 3 * TextLoader::sliceBytes; ++i) {
            big += QStringLiteral("第%1行\n").arg(i);
            bigBytes += "\xb5\xda" + QByteArray::number(i) + "\xd0\xd0\r\n";
        }
        QTest::newRow("GBK in slices") << bigBytes << big << ansi << crlf;
    }
    void plainTextRoundTrip()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QFETCH(int, kind);
        QFETCH(int, lineEnding);
        QTextDocument document;
        const TextLoader::Loaded loaded = load(bytes, document);
        QVERIFY(loaded.clean);
        QCOMPARE(plainTextOf(document), text);
        QVERIFY(loaded.baseline.matches(text));
        QCOMPARE(int(loaded.encoding.kind), kind);
        if (lineEnding >= 0)
            QCOMPARE(int(loaded.encoding.lineEnding), lineEnding);
        const Serialized saved = serialize(document, loaded.encoding, FileFormat::PlainText);
        QVERIFY(saved.lossless);
        QVERIFY(saved.bytes == bytes);
        // The scrambled format is the same bytes, each exclusive-or'ed.
        QByteArray scrambled = bytes;
        scrambleInPlace(scrambled);
        QVERIFY(serialize(document, loaded.encoding, FileFormat::Scrambled).bytes == scrambled);
    }

    // UTF-16 without a byte-order mark is taken only when the text proves
    // it; nothing else a user opens may be taken for it.
    void unmarkedUtf16_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("kind");
        const int ansi = int(TextEncoding::Kind::Ansi), utf8 = int(TextEncoding::Kind::Utf8),
                  le = int(TextEncoding::Kind::Utf16LE), be = int(TextEncoding::Kind::Utf16BE);
        const QString mixed = QStringLiteral("会议纪要 2024-05-06\r\n出席：张三, 李四\r\n");
        QTest::newRow("LE: Chinese with ASCII") << utf16le(mixed) << le;
        QTest::newRow("BE: Chinese with ASCII") << utf16be(mixed) << be;
        QTest::newRow("LE: English") << utf16le(QStringLiteral("Hello, world.\n")) << le;
        QTest::newRow("LE: one short word") << utf16le(QStringLiteral("ok")) << le;
        QTest::newRow("LE: 一 (U+4E00) has a NUL on the other side")
            << utf16le(QStringLiteral("一二三 one two three\n")) << le;
        QTest::newRow("LE: a surrogate pair")
            << utf16le(QString::fromUcs4(U"smile \U0001F600 done\n")) << le;
        QTest::newRow("LE: only the first 4 KB are sampled")
            << utf16le(QStringLiteral("abcd\n").repeated(2000) + QStringLiteral("中文")) << le;
        // Negative rows: each must stay what it is.
        QTest::newRow("GBK") << QByteArray("\xbb\xe1\xd2\xe9\xbc\xcd\xd2\xaa 2024\r\n") << ansi;
        QTest::newRow("ASCII") << QByteArray("plain ascii text\n") << ansi;
        QTest::newRow("UTF-8") << mixed.toUtf8() << utf8;
        QTest::newRow("LE, odd length (cut)") << utf16le(mixed) + 'x' << ansi;
        QTest::newRow("LE, a lone high surrogate at the end")
            << utf16le(QStringLiteral("text\n")) + QByteArray("\x3d\xd8", 2) << ansi;
        QTest::newRow("LE, a lone surrogate past the sample")
            << utf16le(QStringLiteral("abcd\n").repeated(1000)) + QByteArray("\x00\xde", 2) +
                   utf16le(QStringLiteral("x"))
            << ansi;
        QTest::newRow("LE, a NUL character past the sample")
            << utf16le(QStringLiteral("abcd\n").repeated(1000)) + QByteArray(2, '\0') << ansi;
        QTest::newRow("ASCII with a NUL at the end") << QByteArray("hello\0", 6) << ansi;
        QTest::newRow("ASCII with NULs here and there")
            << QByteArray("ab\0c de\0fgh\0\0ij", 16) << ansi;
        QTest::newRow("all NUL bytes") << QByteArray(64, '\0') << ansi;
        QTest::newRow("UTF-32 LE") << QByteArray("a\0\0\0b\0\0\0c\0\0\0d\0\0\0", 16) << ansi;
        QTest::newRow("control characters with NULs")
            << QByteArray("\x01\0\x02\0\x03\0\x04\0\x05\0\x06\0", 12) << ansi;
        QByteArray png;
        {
            QImage image(16, 16, QImage::Format_RGB32);
            image.fill(Qt::white);
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            image.save(&buffer, "PNG");
            if (png.size() % 2)
                png.chop(1);
        }
        QTest::newRow("PNG file") << png << ansi;
        QByteArray elf("\x7f"
                       "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0\x03\0\x3e\0\x01\0\0\0",
                       24);
        elf += QByteArray(40, '\0');
        QTest::newRow("ELF header") << elf << ansi;
        // Random bytes with a NUL every other byte where ASCII would be.
        QByteArray noise;
        quint32 seed = 12345;
        for (int i = 0; i < 2048; ++i) {
            seed = seed * 1103515245 + 12345;
            noise += char((seed >> 16) & 0xFF);
            noise += char(i % 8 == 0 ? 0 : (seed >> 24) & 0xFF);
        }
        QTest::newRow("noise with some NULs in place") << noise << ansi;
    }
    void unmarkedUtf16()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, kind);
        QTextDocument document;
        const TextLoader::Loaded loaded = load(bytes, document);
        QCOMPARE(int(loaded.encoding.kind), kind);
        QVERIFY(!loaded.encoding.bom);
        // Saved again without edits: the same bytes, no mark added.
        if (loaded.clean)
            QVERIFY(serialize(document, loaded.encoding, FileFormat::PlainText).bytes == bytes);
    }

    // A big file goes in slices from the event loop: the first screen at
    // once, undo history empty at the end, progress to the last byte.
    void bigFileArrivesInSlices()
    {
        const QByteArray bytes =
            QByteArray("line of text\r\n").repeated(3 * TextLoader::sliceBytes / 14);
        QTextDocument document;
        TextLoader loader;
        QSignalSpy progress(&loader, &TextLoader::progress);
        QSignalSpy finished(&loader, &TextLoader::finished);
        loader.start(bytes, document, QTextCharFormat());
        QVERIFY(loader.isLoading());
        QVERIFY(document.characterCount() > 1);                // the first slice is in
        QVERIFY(document.characterCount() < bytes.size() / 2); // the rest is not
        QTRY_COMPARE(finished.size(), 1);
        QVERIFY(!loader.isLoading());
        QVERIFY(progress.size() >= 3);
        QVERIFY(progress.first().at(2).toBool());
        QVERIFY(!progress.last().at(2).toBool());
        QCOMPARE(progress.last().at(0).toLongLong(), qint64(bytes.size()));
        QVERIFY(!document.isUndoAvailable());
        QCOMPARE(plainTextOf(document).size(), bytes.size() / 14 * 13);
    }

    void cancelledLoadStops()
    {
        QTextDocument document;
        TextLoader loader;
        loader.start(QByteArray("xxxxxxxxxxxxxxx\n").repeated(TextLoader::sliceBytes / 4), document,
                     QTextCharFormat());
        const int first = document.characterCount();
        loader.cancel();
        // A slice already asked for would arrive with the posted events.
        QCoreApplication::sendPostedEvents();
        QCOMPARE(document.characterCount(), first);
        QVERIFY(!loader.isLoading());
    }

    // Slices are cut where no character and no CRLF is split.
    void slicesNeverSplitCharactersOrBreaks_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        const QByteArray gbk("\xd6\xd0\xce\xc4");
        QTest::newRow("GBK without breaks")
            << gbk.repeated(600000) << QStringLiteral("中文").repeated(600000);
        QTest::newRow("GBK with CR only")
            << (gbk + "\r").repeated(300000) << QStringLiteral("中文\n").repeated(300000);
        QTest::newRow("GB18030 four-byte runs")
            << QByteArray("\x94\x39\xfc\x36 1").repeated(400000)
            << (QString::fromUcs4(U"\U0001F600") + QStringLiteral(" 1")).repeated(400000);
        QByteArray utf16("\xff\xfe");
        for (int i = 0; i < 400000; ++i)
            utf16 += QByteArray("\x3d\xd8\x00\xde\x0d\x00\x0a\x00", 8); // U+1F600 CRLF
        QTest::newRow("UTF-16 surrogates and CRLF")
            << utf16 << (QString::fromUcs4(U"\U0001F600") + u'\n').repeated(400000);
    }
    void slicesNeverSplitCharactersOrBreaks()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QTextDocument document;
        const TextLoader::Loaded loaded = load(bytes, document);
        QVERIFY(loaded.clean);
        QVERIFY(plainTextOf(document) == text);
        QVERIFY(serialize(document, loaded.encoding, FileFormat::PlainText).bytes == bytes);
    }

    void bigFileEncodingDecidedByAllOfIt_data()
    {
        QTest::addColumn<int>("badAt"); // -1: none; else the offset of a byte invalid in UTF-8
        QTest::addColumn<int>("kind");
        const int size = 9 << 20; // checked in two halves at once
        QTest::newRow("valid UTF-8") << -1 << int(TextEncoding::Kind::Utf8);
        QTest::newRow("bad byte in the first half") << size / 4 << int(TextEncoding::Kind::Ansi);
        QTest::newRow("bad byte in the second half") << size - 10 << int(TextEncoding::Kind::Ansi);
        QTest::newRow("bad byte at the middle") << size / 2 << int(TextEncoding::Kind::Ansi);
    }
    void bigFileEncodingDecidedByAllOfIt()
    {
        QFETCH(int, badAt);
        QFETCH(int, kind);
        QByteArray bytes = QByteArray("\xe4\xb8\xad\n").repeated((9 << 20) / 4);
        if (badAt >= 0)
            bytes[badAt] = '\xff';
        TextFileDecoder decoder(bytes);
        QCOMPARE(int(decoder.encoding().kind), kind);
    }

    // Bytes that do not decode are reported, so a save can ask first.
    void undecodableBytesAreReported()
    {
        QTextDocument document;
        const TextLoader::Loaded loaded = load(QByteArray("a\xff"
                                                          "b\xd6"),
                                               document);
        QVERIFY(!loaded.clean);
        QCOMPARE(plainTextOf(document), QStringLiteral("a\uFFFDb\uFFFD"));
    }

    // A character the code page cannot hold is reported, not silently lost.
    void lossySaveIsReported()
    {
        QTextDocument document;
        document.setPlainText(QStringLiteral("a中b"));
        const TextEncoding cp1252{TextEncoding::Kind::Ansi, false, TextEncoding::LineEnding::LF,
                                  1252};
        const Serialized saved = serialize(document, cp1252, FileFormat::PlainText);
        QVERIFY(!saved.lossless);
        QCOMPARE(saved.bytes, QByteArray("a?b"));
        QVERIFY(serialize(document, TextEncoding{}, FileFormat::PlainText).lossless);
    }

    // A rich document saved as text: list labels, table cells and rows,
    // line breaks as line ends, and none of the table frame marks.
    void plainTextExport_data()
    {
        QTest::addColumn<int>("rich");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("lineEnding");
        QTest::addColumn<QByteArray>("bytes");
        const int ansi = int(TextEncoding::Kind::Ansi), utf8 = int(TextEncoding::Kind::Utf8);
        const int crlf = int(TextEncoding::LineEnding::CRLF),
                  lf = int(TextEncoding::LineEnding::LF);
        QTest::newRow("line break, GBK")
            << int(Rich::LineBreak) << ansi << crlf
            << QByteArray("\xb5\xda\xd2\xbb\r\n\xb5\xda\xb6\xfe\r\nend");
        QTest::newRow("line break, UTF-8")
            << int(Rich::LineBreak) << utf8 << lf << QStringLiteral("第一\n第二\nend").toUtf8();
        QTest::newRow("lists, UTF-8")
            << int(Rich::Lists) << utf8 << lf
            << QStringLiteral("Before\n    1. one\n    2. two\n    c) c\n    ● 点\nAfter").toUtf8();
        QTest::newRow("lists, GBK: the bullet is a GBK character")
            << int(Rich::Lists) << ansi << crlf
            << QByteArray("Before\r\n    1. one\r\n    2. two\r\n    c) c\r\n    \xa1\xf1 "
                          "\xb5\xe3\r\nAfter");
        QTest::newRow("nested lists")
            << int(Rich::NestedLists) << utf8 << lf
            << QByteArray("\n    1. one\n        i. i\n        ii. ii\n    2. two");
        QTest::newRow("table, GBK")
            << int(Rich::Table) << ansi << crlf
            << QByteArray("Before\r\n\xc3\xfb\xb3\xc6\t\xca\xfd\xc1\xbf\r\na b\t\r\nAfter");
        QTest::newRow("merged and nested cells")
            << int(Rich::MergedAndNested) << utf8 << lf << QByteArray("\nwide\t\tC\n\tx n1 n2\t\n");
        QTest::newRow("list in a cell") << int(Rich::ListInCell) << utf8 << lf
                                        << QByteArray("\n    1. first     2. second\tright\n");
    }
    void plainTextExport()
    {
        QFETCH(int, rich);
        QFETCH(int, kind);
        QFETCH(int, lineEnding);
        QFETCH(QByteArray, bytes);
        QTextDocument document;
        buildRich(Rich(rich), document);
        const TextEncoding encoding{TextEncoding::Kind(kind), false,
                                    TextEncoding::LineEnding(lineEnding), 936};
        const Serialized saved = serialize(document, encoding, FileFormat::PlainText);
        QCOMPARE(saved.bytes, bytes);
        QVERIFY(saved.lossless);
        // The scrambled format holds the same text.
        QByteArray scrambled = serialize(document, encoding, FileFormat::Scrambled).bytes;
        scrambleInPlace(scrambled);
        QCOMPARE(scrambled, bytes);
    }

    // A save streamed from the paragraphs, in pieces as small as one
    // paragraph, writes the bytes serialize() makes of the whole document,
    // says the same about characters the encoding lacks, and takes the
    // baseline the whole text gives, and the hash and checksum of its bytes.
    void streamedSaveMatchesWhole_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("softPiece"); // 0: no soft breaks
        QTest::addColumn<int>("rich");      // -1: plain text
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("bom");
        QTest::addColumn<int>("lineEnding");
        QTest::addColumn<int>("codePage");
        QTest::addColumn<bool>("lossless");
        const int ansi = int(TextEncoding::Kind::Ansi), utf8 = int(TextEncoding::Kind::Utf8),
                  le = int(TextEncoding::Kind::Utf16LE), be = int(TextEncoding::Kind::Utf16BE);
        const int crlf = int(TextEncoding::LineEnding::CRLF),
                  lf = int(TextEncoding::LineEnding::LF), cr = int(TextEncoding::LineEnding::CR);
        const QString chinese = QStringLiteral("中文 text\n第二行，标点。\nlast");
        const QString astral = QStringLiteral("😀😀\n𠀀字𠀁\n😀");
        QTest::newRow("GBK, CRLF") << chinese << 0 << -1 << ansi << false << crlf << 936 << true;
        QTest::newRow("GBK, LF, trailing newline")
            << chinese + u'\n' << 0 << -1 << ansi << false << lf << 936 << true;
        QTest::newRow("GBK, CR") << chinese << 0 << -1 << ansi << false << cr << 936 << true;
        QTest::newRow("GBK, four-byte forms of astral characters")
            << astral << 0 << -1 << ansi << false << crlf << 936 << true;
        QTest::newRow("UTF-8 with BOM") << astral << 0 << -1 << utf8 << true << lf << 0 << true;
        QTest::newRow("UTF-8, CRLF") << chinese << 0 << -1 << utf8 << false << crlf << 0 << true;
        QTest::newRow("UTF-16LE with BOM") << astral << 0 << -1 << le << true << crlf << 0 << true;
        QTest::newRow("UTF-16BE") << astral << 0 << -1 << be << false << lf << 0 << true;
        QTest::newRow("UTF-16BE with BOM, CR")
            << chinese << 0 << -1 << be << true << cr << 0 << true;
        QTest::newRow("soft-broken long lines, GBK")
            << QStringLiteral("一行很长的中文文字没有空格\nshort\nwords and words and more words")
            << 4 << -1 << ansi << false << crlf << 936 << true;
        QTest::newRow("soft-broken astral characters, UTF-16LE")
            << QStringLiteral("😀😀😀😀😀😀😀\n😀") << 3 << -1 << le << false << lf << 0 << true;
        QTest::newRow("soft-broken, UTF-8 with BOM")
            << QStringLiteral("abcdefghijklmnopqrstuvwxyz\n0123456789\n") << 5 << -1 << utf8 << true
            << crlf << 0 << true;
        QTest::newRow("unencodable in 1252")
            << QStringLiteral("é中\nü😀") << 0 << -1 << ansi << false << lf << 1252 << false;
        QTest::newRow("empty, GBK") << QString() << 0 << -1 << ansi << false << crlf << 936 << true;
        QTest::newRow("empty, UTF-8 with BOM")
            << QString() << 0 << -1 << utf8 << true << lf << 0 << true;
        QTest::newRow("empty, UTF-16LE with BOM")
            << QString() << 0 << -1 << le << true << lf << 0 << true;
        QTest::newRow("only line breaks")
            << QStringLiteral("\n\n\n") << 0 << -1 << ansi << false << crlf << 936 << true;
        QTest::newRow("line breaks inside a paragraph")
            << QString() << 0 << int(Rich::LineBreak) << ansi << false << crlf << 936 << true;
        QTest::newRow("lists: exported whole")
            << QString() << 0 << int(Rich::Lists) << utf8 << false << lf << 0 << true;
        QTest::newRow("table: exported whole")
            << QString() << 0 << int(Rich::Table) << ansi << false << crlf << 936 << true;
    }
    void streamedSaveMatchesWhole()
    {
        QFETCH(QString, text);
        QFETCH(int, softPiece);
        QFETCH(int, rich);
        QFETCH(int, kind);
        QFETCH(bool, bom);
        QFETCH(int, lineEnding);
        QFETCH(int, codePage);
        QFETCH(bool, lossless);
        QTextDocument document;
        if (rich >= 0) {
            buildRich(Rich(rich), document);
        } else {
            QTextCursor cursor(&document);
            cursor.insertText(text);
            // A picture is no text: left out of the file, kept in the baseline.
            if (!text.isEmpty()) {
                cursor.setPosition(1);
                cursor.insertText(QString(QChar::ObjectReplacementCharacter));
            }
        }
        if (softPiece > 0)
            QVERIFY(breakLongParagraphs(document, softPiece));
        const TextEncoding encoding{TextEncoding::Kind(kind), bom,
                                    TextEncoding::LineEnding(lineEnding), codePage};
        for (const FileFormat format : {FileFormat::PlainText, FileFormat::Scrambled}) {
            const Serialized whole = serialize(document, encoding, format);
            QCOMPARE(whole.lossless, lossless);
            for (const qsizetype pieceChars : {qsizetype(1), qsizetype(2), qsizetype(3),
                                               qsizetype(7), PlainTextWriter::defaultPieceChars}) {
                const QString row = QStringLiteral("pieces of %1 characters").arg(pieceChars);
                PlainTextWriter writer(document, encoding, format);
                writer.setPieceChars(pieceChars);
                const QByteArray streamed = writer.all();
                QVERIFY2(streamed == whole.bytes, qPrintable(row));
                QCOMPARE(writer.lossless(), lossless);
                QCOMPARE(writer.access(), whole.access);
                QCOMPARE(writer.written().size(), whole.bytes.size());
                QCOMPARE(writer.written().value(), contentHash(whole.bytes));
                QCOMPARE(writer.checksum(), fileChecksum(whole.bytes));
                // The baseline markUnchanged() took from the whole text.
                const TextBaseline baseline = writer.takeBaseline();
                QCOMPARE(baseline.text(), plainTextOf(document));
                QVERIFY(baseline.matches(document));
            }
        }
    }

    // A big document: the baseline past what it keeps whole, pieces of the
    // default size.
    void streamedSaveOfABigDocument()
    {
        QTextDocument document;
        QString text;
        for (int i = 0; text.size() <= TextBaseline::keptWhole; ++i)
            text += QStringLiteral("第%1行 of a long file, 中文和English\n").arg(i);
        QTextCursor(&document).insertText(text);
        const TextEncoding encoding{TextEncoding::Kind::Ansi, false, TextEncoding::LineEnding::CRLF,
                                    936};
        const Serialized whole = serialize(document, encoding, FileFormat::PlainText);
        PlainTextWriter writer(document, encoding, FileFormat::PlainText);
        QList<qint64> progress;
        writer.setProgress([&](qint64 done, qint64) { progress << done; });
        QCOMPARE(writer.all(), whole.bytes);
        QVERIFY(progress.size() > 1);
        QCOMPARE(progress.last(), qint64(document.characterCount())); // all of it
        QCOMPARE(writer.checksum(), fileChecksum(whole.bytes));
        const TextBaseline baseline = writer.takeBaseline();
        QVERIFY(baseline.text().isEmpty()); // kept as a digest
        QVERIFY(baseline.matches(plainTextOf(document)));
        QVERIFY(baseline.matches(document));
        QTextCursor(&document).insertText(QStringLiteral("x"));
        QVERIFY(!baseline.matches(document));
    }

    // The position map Find and the caret use keeps one character per
    // document position, frame marks and line breaks included.
    void plainTextOfKeepsPositions()
    {
        QTextDocument document;
        buildRich(Rich::Table, document);
        QCOMPARE(plainTextOf(document).size(), document.characterCount() - 1);
        QVERIFY(plainTextOf(document).contains(QChar(0xFDD0)));
        QVERIFY(plainTextOf(document).contains(QChar(0x2028)));
    }

    // RTF out and in: text and formats survive, the output is the same
    // bytes every time, and parsing replaces what the document held.
    void rtfRoundTrip()
    {
        QTextDocument document;
        QTextCursor cursor(&document);
        QTextCharFormat bold;
        bold.setFontWeight(QFont::Bold);
        cursor.insertText(QStringLiteral("中文 "), bold);
        cursor.insertText(QStringLiteral("plain\nsecond"), QTextCharFormat());
        const QByteArray rtf = serialize(document, TextEncoding{}, FileFormat::Rtf).bytes;
        QVERIFY(Rtf::looksLikeRtf(rtf));
        QCOMPARE(serialize(document, TextEncoding{}, FileFormat::Rtf).bytes, rtf);

        QTextDocument reread;
        reread.setPlainText(QStringLiteral("old content"));
        parseRtf(rtf, reread);
        QCOMPARE(plainTextOf(reread), QStringLiteral("中文 plain\nsecond"));
        QTextCursor probe(&reread);
        probe.setPosition(1);
        QVERIFY(probe.charFormat().font().bold());
        probe.setPosition(5);
        QVERIFY(!probe.charFormat().font().bold());
    }

    void saveFormatFromTheName_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("format");
        const int plain = int(FileFormat::PlainText), scrambled = int(FileFormat::Scrambled),
                  rtf = int(FileFormat::Rtf);
        QTest::newRow("a.txt") << "a.txt" << plain;
        QTest::newRow("A.TXT") << "A.TXT" << plain;
        QTest::newRow("notes.mtxt") << "notes.mtxt" << plain;
        QTest::newRow("x.stx") << "x.stx" << scrambled;
        QTest::newRow("x.sstx") << "x.sstx" << scrambled;
        QTest::newRow("a.rtf") << "a.rtf" << rtf;
        QTest::newRow("readme") << "readme" << rtf;
        QTest::newRow("a.doc") << "a.doc" << rtf;
        QTest::newRow("a.tx") << "a.tx" << rtf;
        QTest::newRow("txt (the whole title)") << "txt" << plain;
    }
    void saveFormatFromTheName()
    {
        QFETCH(QString, title);
        QFETCH(int, format);
        QCOMPARE(int(saveFormatFor(title)), format);
    }

    // What a read finds: text or RTF, unscrambled for a scrambled file,
    // refusals with the reason in Chinese and the path in the frame.
    void readingFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("rich");
        QTest::addColumn<QString>("why"); // empty: read
        const int text = int(ReadMode::Text), scrambled = int(ReadMode::Scrambled);
        QTest::newRow("text") << "text" << text << false << QString();
        QTest::newRow("rtf") << "rtf" << text << true << QString();
        QTest::newRow("rtf read as scrambled is not rtf")
            << "rtf" << scrambled << false << QString();
        QTest::newRow("scrambled") << "scrambled" << scrambled << false << QString();
        QTest::newRow("missing: created empty") << "missing" << text << false << QString();
        QTest::newRow("missing scrambled: created empty, owner only")
            << "missing" << scrambled << false << QString();
        QTest::newRow("a folder") << "folder" << text << false
                                  << QStringLiteral("这是一个文件夹，不是文件");
        QTest::newRow("a FIFO") << "fifo" << text << false << QStringLiteral("不是普通文件");
        QTest::newRow("in a missing folder") << "nofolder" << text << false << QString("?");
        QTest::newRow("too big") << "big" << text << false << QString("?");
    }
    void readingFiles()
    {
        QFETCH(QString, kind);
        QFETCH(int, mode);
        QFETCH(bool, rich);
        QFETCH(QString, why);
        QTemporaryDir dir;
        QString path = dir.filePath(QStringLiteral("f"));
        QByteArray expected = "plain";
        if (kind == u"text") {
            QVERIFY(writeBytes(path, expected));
        } else if (kind == u"rtf") {
            expected = "{\\rtf1 x}";
            QVERIFY(writeBytes(path, expected));
            if (mode == int(ReadMode::Scrambled))
                scrambleInPlace(expected);
        } else if (kind == u"scrambled") {
            QByteArray onDisk = expected;
            scrambleInPlace(onDisk);
            QVERIFY(writeBytes(path, onDisk));
        } else if (kind == u"missing") {
            expected.clear();
        } else if (kind == u"folder") {
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("f")));
        } else if (kind == u"fifo") {
            QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        } else if (kind == u"nofolder") {
            path = dir.filePath(QStringLiteral("no/such/f"));
        } else if (kind == u"big") {
            QVERIFY(writeBytes(path, QByteArray(2048, 'x')));
        }
        const int scrambledMode = int(ReadMode::Scrambled);
        const mode_t previousMask = ::umask(022);
        const Result<DocumentBytes> read = readDocumentFile(path, ReadMode(mode), 1024);
        ::umask(previousMask);
        if (why.isEmpty()) {
            QVERIFY2(read.ok(), qPrintable(read.ok() ? QString() : read.error().why));
            QCOMPARE(read.value().bytes, expected);
            QCOMPARE(read.value().rich, rich);
            if (kind == u"missing") {
                QVERIFY(QFile::exists(path));
                // Under umask 022: what it allows for text, the owner only
                // for a scrambled note, which a save then keeps.
                struct stat st {};
                QVERIFY(::stat(QFile::encodeName(path).constData(), &st) == 0);
                QCOMPARE(int(st.st_mode & 0777), mode == scrambledMode ? 0600 : 0644);
            }
            return;
        }
        QVERIFY(!read.ok());
        QCOMPARE(read.error().what, QStringLiteral("无法打开文件“%1”").arg(path));
        if (why != u"?")
            QCOMPARE(read.error().why, why);
        bool chinese = false;
        for (QChar c : read.error().why)
            chinese = chinese || (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF);
        QVERIFY2(chinese, qPrintable(read.error().why));
    }

    // A scrambled note is nobody else's to read: a new one is its owner's
    // alone; an existing file of any format keeps the mode it has.
    void savedFileMode_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("existing"); // -1: a new file
        QTest::addColumn<int>("mode");
        QTest::newRow("new x.stx: owner only") << "x.stx" << -1 << 0600;
        QTest::newRow("new a.txt: what the umask allows") << "a.txt" << -1 << 0644;
        QTest::newRow("new a.rtf: what the umask allows") << "a.rtf" << -1 << 0644;
        QTest::newRow("existing x.stx keeps 0640") << "x.stx" << 0640 << 0640;
        QTest::newRow("existing x.stx keeps 0664") << "x.stx" << 0664 << 0664;
        QTest::newRow("existing a.txt keeps 0600") << "a.txt" << 0600 << 0600;
    }
    void savedFileMode()
    {
        QFETCH(QString, title);
        QFETCH(int, existing);
        QFETCH(int, mode);
        QTemporaryDir dir;
        const QString path = dir.filePath(title);
        const QByteArray name = QFile::encodeName(path);
        if (existing >= 0) {
            QVERIFY(writeBytes(path, "old"));
            QVERIFY(::chmod(name.constData(), mode_t(existing)) == 0);
        }
        QTextDocument document;
        document.setPlainText(QStringLiteral("私人笔记"));
        const Serialized file =
            serialize(document, TextEncoding::forNewDocument(), saveFormatFor(title));
        const mode_t previous = ::umask(022);
        const auto error = writeDocument(path, file);
        ::umask(previous);
        QVERIFY2(!error, error ? qPrintable(error->why) : "");
        QFile written(path);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), file.bytes);
        struct stat st {};
        QVERIFY(::stat(name.constData(), &st) == 0);
        QCOMPARE(int(st.st_mode & 07777), mode);
    }

    void saveErrorFrame()
    {
        const Error error =
            saveError(QStringLiteral("/tmp/a.txt"), Error{{}, QStringLiteral("磁盘空间不足")});
        QCOMPARE(error.what, QStringLiteral("无法保存文件“/tmp/a.txt”"));
        QCOMPARE(error.why, QStringLiteral("磁盘空间不足"));
    }
};

QTEST_MAIN(TestDocumentFile)
#include "tst_documentfile.moc"
