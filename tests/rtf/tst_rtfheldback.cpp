// Pictures the reader does not decode: past the limits of one picture, or
// bytes the decoder refuses. Each is held back as a framed placeholder of the
// size the file gives it, its bytes written back by a save as they came, and
// the load says why.
#include "oversizepictures.h"
#include "picturebomb.h"
#include "rtftesthelpers.h"

#include "core/documentimages.h"
#include "rtf/rtfreader.h"
#include "rtf/rtfwriter.h"

#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextImageFormat>

using namespace Inkwell;
using namespace Inkwell::RtfTest;
using namespace Inkwell::Testing;

namespace {

// The words of the first \pict group, before its data.
QByteArray pictWords(const QByteArray &rtf)
{
    const qsizetype start = rtf.indexOf("{\\pict");
    if (start < 0)
        return {};
    const qsizetype end = rtf.indexOf('\n', start);
    return rtf.mid(start, end - start);
}

QByteArray wrap(const QByteArray &words, const QByteArray &data)
{
    return "{\\rtf1\\ansi Before.\\par {\\pict" + words + " " + data.toHex() +
           "}\\par After.\\par}";
}

} // namespace

class TestRtfHeldBack : public QObject {
    Q_OBJECT

private slots:
    void heldBack_data()
    {
        QTest::addColumn<QByteArray>("words");   // of the \pict group, after \pict
        QTest::addColumn<QByteArray>("data");    // the picture's bytes
        QTest::addColumn<QString>("reason");     // "too large" or "undecodable"
        QTest::addColumn<QSize>("frame");        // the placeholder's size in the document
        QTest::addColumn<QByteArray>("written"); // the words a save writes
        QTest::addColumn<QString>("message");    // part of the load's message

        const QByteArray big = jpegStating(QSize(12000, 9000));
        QTest::newRow("JPEG of 12000 × 9000")
            << QByteArray("\\jpegblip\\picw12000\\pich9000") << big << "too large"
            << QSize(12000, 9000) << QByteArray("{\\pict\\jpegblip\\picw12000\\pich9000")
            << "1 张图片过大（12000×9000）";
        QTest::newRow("JPEG of 12000 × 9000 at a goal size")
            << QByteArray("\\jpegblip\\picw12000\\pich9000\\picwgoal7200\\pichgoal5400") << big
            << "too large" << QSize(480, 360)
            << QByteArray("{\\pict\\jpegblip\\picw12000\\pich9000\\picwgoal7200\\pichgoal5400")
            << "图片过大（12000×9000）";
        QTest::newRow("JPEG without \\picw: the header's size")
            << QByteArray("\\jpegblip") << big << "too large" << QSize(12000, 9000)
            << QByteArray("{\\pict\\jpegblip\\picw12000\\pich9000") << "图片过大（12000×9000）";
        QTest::newRow("PNG panorama of 40000 × 600: frame fitted, shape kept")
            << QByteArray("\\pngblip\\picw40000\\pich600") << pngOf(QSize(40000, 600))
            << "too large" << QSize(32767, 492)
            << QByteArray("{\\pict\\pngblip\\picw40000\\pich600") << "图片过大（40000×600）";
        QTest::newRow("PNG past the pixel limit, each side allowed")
            << QByteArray("\\pngblip\\picw9000\\pich9000") << pngOf(QSize(9000, 9000))
            << "too large" << QSize(9000, 9000)
            << QByteArray("{\\pict\\pngblip\\picw9000\\pich9000") << "图片过大（9000×9000）";
        const QByteArray png = encoded(testImage(6, 4, 3), "PNG");
        QTest::newRow("PNG cut short: the decoder refuses it")
            << QByteArray("\\pngblip\\picw6\\pich4") << png.left(png.size() - 20) << "undecodable"
            << QSize(6, 4) << QByteArray("{\\pict\\pngblip\\picw6\\pich4") << "1 张图片数据损坏";
        QTest::newRow("bytes of no picture under \\pngblip")
            << QByteArray("\\pngblip\\picw30\\pich20") << QByteArray("no picture at all")
            << "undecodable" << QSize(30, 20) << QByteArray("{\\pict\\pngblip\\picw30\\pich20")
            << "图片数据损坏";
        QTest::newRow("no size anywhere: a default frame")
            << QByteArray("\\jpegblip") << QByteArray("\xff\xd8\xff garbage") << "undecodable"
            << QSize(96, 96) << QByteArray("{\\pict\\jpegblip\\picw96\\pich96") << "图片数据损坏";
        QTest::newRow("a negative \\picw is not a size")
            << QByteArray("\\pngblip\\picw-5\\pich20") << QByteArray("no picture") << "undecodable"
            << QSize(96, 96) << QByteArray("{\\pict\\pngblip\\picw96\\pich96") << "图片数据损坏";
        QTest::newRow("DIB with a lying header")
            << QByteArray("\\dibitmap0\\picw2\\pich2")
            << QByteArray::fromHex("ffffff7f0100000001000000010018") << "undecodable" << QSize(2, 2)
            << QByteArray("{\\pict\\dibitmap0\\picw2\\pich2") << "图片数据损坏";
    }
    void heldBack()
    {
        QFETCH(QByteArray, words);
        QFETCH(QByteArray, data);
        QFETCH(QString, reason);
        QFETCH(QSize, frame);
        QFETCH(QByteArray, written);
        QFETCH(QString, message);
        QVERIFY(!data.isEmpty());
        const QByteArray rtf = wrap(words, data);
        QTextDocument document;
        QTextCursor cursor(&document);
        const Rtf::ReadResult read = Rtf::read(rtf, cursor, 936);
        QVERIFY(read.ok);

        // Shown between the paragraphs, as a frame of its size.
        QCOMPARE(document.toPlainText(), QStringLiteral("Before.\n\uFFFC\nAfter."));
        const QList<FoundPicture> pictures = picturesIn(document);
        QCOMPARE(pictures.size(), 1);
        QCOMPARE(QSize(int(pictures[0].format.width()), int(pictures[0].format.height())), frame);
        QVERIFY(pictures[0].picture);
        QVERIFY(pictures[0].picture->image.isNull()); // not decoded
        QCOMPARE(pictures[0].picture->encoded, data);

        // Counted with its reason; the load's one message names it.
        QCOMPARE(read.pictures.heldBack, 1);
        QCOMPARE(read.pictures.decoded, 0);
        QCOMPARE(read.pictures.bytes, 0);
        QCOMPARE(read.pictures.tooLarge, reason == u"too large" ? 1 : 0);
        QCOMPARE(read.pictures.undecodable, reason == u"undecodable" ? 1 : 0);
        const QString told = DocumentImages::heldBackMessage(read.pictures);
        QVERIFY2(told.contains(message), qPrintable(told));
        QVERIFY2(told.contains(QStringLiteral("保存时图片会原样保留")), qPrintable(told));

        // A save writes the bytes back as they came, under their own words.
        const QByteArray saved = Rtf::write(document, 936);
        QVERIFY(holdsPicture(saved, data));
        QCOMPARE(pictWords(saved).left(written.size()), written);
        QVERIFY(saved.indexOf("Before.") < saved.indexOf("{\\pict"));
        QVERIFY(saved.indexOf("{\\pict") < saved.indexOf("After."));
        // Read again, it is the same placeholder, and a second save the same bytes.
        QTextDocument again;
        QTextCursor againCursor(&again);
        const Rtf::ReadResult reread = Rtf::read(saved, againCursor, 936);
        QCOMPARE(reread.pictures.heldBack, 1);
        QCOMPARE(picturesIn(again).size(), 1);
        QCOMPARE(picturesIn(again)[0].picture->encoded, data);
        QCOMPARE(Rtf::write(again, 936), saved);
    }

    // Past 64 MiB of file bytes the picture is not decoded, but its bytes
    // are still all kept.
    void hugePictureFileKept()
    {
        QByteArray png = withTextChunk(encoded(testImage(3, 2, 1), "PNG"),
                                       QByteArray(DocumentImages::maxEncodedBytes, 'x'));
        const QByteArray rtf = "{\\rtf1 a{\\pict\\pngblip\\picw3\\pich2\\bin" +
                               QByteArray::number(png.size()) + " " + png + "}b}";
        QTextDocument document;
        QTextCursor cursor(&document);
        const Rtf::ReadResult read = Rtf::read(rtf, cursor, 936);
        QCOMPARE(read.pictures.heldBack, 1);
        QCOMPARE(read.pictures.tooLarge, 1);
        QVERIFY2(read.pictures.tooLargeExample.contains(QStringLiteral("MB")),
                 qPrintable(read.pictures.tooLargeExample));
        const QList<FoundPicture> pictures = picturesIn(document);
        QCOMPARE(pictures.size(), 1);
        QCOMPARE(QSize(int(pictures[0].format.width()), int(pictures[0].format.height())),
                 QSize(3, 2));
        QVERIFY(pictures[0].picture->encoded == png);
        QVERIFY(holdsPicture(Rtf::write(document, 936), png));
    }

    // Held back with the pictures past the budget, one message for all.
    void messageNamesEveryReason_data()
    {
        QTest::addColumn<int>("overBudget");
        QTest::addColumn<int>("tooLarge");
        QTest::addColumn<int>("undecodable");
        QTest::addColumn<QString>("message");
        QTest::newRow("none") << 0 << 0 << 0 << QString();
        QTest::newRow("the budget only: as before")
            << 4 << 0 << 0 << "文档中的图片太多，部分图片以占位框显示；保存时图片会原样保留。";
        QTest::newRow("one too large")
            << 0 << 1 << 0
            << "文档中有图片无法显示，以占位框代替：1 张图片过大（12000×9000）。"
               "保存时图片会原样保留。";
        QTest::newRow("all three")
            << 2 << 3 << 1
            << "文档中有图片无法显示，以占位框代替：3 张图片过大（12000×9000）；"
               "1 张图片数据损坏，无法解码；2 张图片超出了文档图片的总量。保存时图片会原样保留。";
    }
    void messageNamesEveryReason()
    {
        QFETCH(int, overBudget);
        QFETCH(int, tooLarge);
        QFETCH(int, undecodable);
        QFETCH(QString, message);
        DocumentImages::BudgetUse use;
        use.heldBack = overBudget + tooLarge + undecodable;
        use.tooLarge = tooLarge;
        use.undecodable = undecodable;
        use.tooLargeExample = QStringLiteral("12000×9000");
        QCOMPARE(DocumentImages::heldBackMessage(use), message);
    }

    // Both kinds of holding back in one document, beside pictures that fit.
    void mixedWithTheBudget()
    {
        QList<QByteArray> bombs = bombPictures(3, 1);
        QByteArray rtf = bombRtf(bombs);
        rtf.chop(4); // "end}"
        rtf += "{\\pict\\jpegblip\\picw12000\\pich9000 " + jpegStating(QSize(12000, 9000)).toHex() +
               "}{\\pict\\pngblip\\picw5\\pich5 0102}end}";
        QTextDocument document;
        QTextCursor cursor(&document);
        // Room for two of the three bombs.
        const Rtf::ReadResult read =
            Rtf::read(rtf, cursor, 936, 2 * DocumentImages::decodedBytes(QSize(4000, 4000)));
        QCOMPARE(read.pictures.decoded, 2);
        QCOMPARE(read.pictures.heldBack, 3);
        QCOMPARE(read.pictures.tooLarge, 1);
        QCOMPARE(read.pictures.undecodable, 1);
        QCOMPARE(picturesIn(document).size(), 5);
        QCOMPARE(Rtf::write(document, 936).count("{\\pict"), 5);
    }

    // What a picture file says about why it is not shown.
    void decodeSaysWhy_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("why"); // empty: decoded
        QTest::newRow("a small PNG") << encoded(testImage(5, 3, 2), "PNG") << QString();
        QTest::newRow("a JPEG of 12000 × 9000")
            << jpegStating(QSize(12000, 9000))
            << "图片过大（12000×9000），Inkwell 只能显示每边不超过 32767 像素、总共不超过 6710 "
               "万像素的图片";
        QTest::newRow("a PNG of 40000 × 600")
            << pngOf(QSize(40000, 600)) << "图片过大（40000×600）";
        QTest::newRow("a PNG cut short")
            << encoded(testImage(5, 3, 2), "PNG").left(40) << "图片数据已损坏，无法解码";
        QTest::newRow("text") << QByteArray("hello") << "不是 JPEG、PNG 或 BMP 图片";
        QTest::newRow("GIF") << QByteArray("GIF89a\x01\0\x01\0") << "不是 JPEG、PNG 或 BMP 图片";
        QTest::newRow("nothing") << QByteArray() << "不是 JPEG、PNG 或 BMP 图片";
    }
    void decodeSaysWhy()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, why);
        const DocumentImages::Decoded decoded = DocumentImages::decode(bytes);
        if (why.isEmpty()) {
            QVERIFY(decoded.picture);
            QVERIFY(decoded.why.isEmpty());
            return;
        }
        QVERIFY(!decoded.picture);
        QVERIFY2(decoded.why.startsWith(why), qPrintable(decoded.why));
    }
};

QTEST_MAIN(TestRtfHeldBack)
#include "tst_rtfheldback.moc"
