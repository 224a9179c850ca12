#include "picturebomb.h"
#include "rtftesthelpers.h"

#include "core/documentimages.h"
#include "core/formatproperties.h"
#include "rtf/rtfreader.h"
#include "rtf/rtfwriter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextImageFormat>

using namespace Inkwell;
using namespace Inkwell::RtfTest;

class TestRtf : public QObject {
    Q_OBJECT

private slots:
    void corpus_data();
    void corpus();
    void readText_data();
    void readText();
    void readLineBreak();
    void readFormats_data();
    void readFormats();
    void readPictures_data();
    void readPictures();
    void pictureBudget_data();
    void pictureBudget();
    void robustness_data();
    void robustness();
    void readAtCursorIsOneUndoStep();
    void looksLikeRtf_data();
    void looksLikeRtf();
    void writerOutput_data();
    void writerOutput();
    void superAndSubscript_data();
    void superAndSubscript();
    void raisedAndScaled_data();
    void raisedAndScaled();
    void fontNamesComeBack_data();
    void fontNamesComeBack();
    void roundTrip_data();
    void roundTrip();
    void writeIsDeterministic();
    void fontTableAsRead_data();
    void fontTableAsRead();
    void pageOfTheDocument_data();
    void pageOfTheDocument();
    void writeRange_data();
    void writeRange();
    void documentImages();
};

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// LibreOffice prints list labels with 4 spaces of indentation per level;
// the reader, like RichEdit, gives the item text alone.
QString withoutListLabels(const QString &text)
{
    static const QRegularExpression label(
        QStringLiteral("^(?:    )+(?:[\\x{2022}\\x{25CF}\\x{25E6}\\x{25AA}\\x{2013}o-]|[0-9]+[.)]"
                       "|[a-zA-Z][.)]|[ivxIVX]+[.)]) "),
        QRegularExpression::MultilineOption);
    QString result = text;
    result.replace(label, QString());
    return result;
}

} // namespace

void TestRtf::corpus_data()
{
    QTest::addColumn<QString>("path");
    const QString shared = sharedDir();
    if (shared.isEmpty())
        QSKIP("INKWELL_SHARED_DIR is not set or missing: the shared RTF corpus is not available");
    const QDir dir(shared + QStringLiteral("/corpus/rtf"));
    const QStringList files = dir.entryList({QStringLiteral("*.rtf")}, QDir::Files, QDir::Name);
    if (files.isEmpty())
        QSKIP("the shared RTF corpus folder holds no .rtf files");
    for (const QString &file : files)
        QTest::newRow(qPrintable(file.chopped(4))) << dir.filePath(file);
}

void TestRtf::corpus()
{
    QFETCH(QString, path);
    const QByteArray rtf = readFile(path);
    QVERIFY2(!rtf.isEmpty(), qPrintable(path));
    const QString expectedPath = path.chopped(4) + QStringLiteral(".expected.txt");
    QVERIFY2(QFile::exists(expectedPath), qPrintable(expectedPath));
    QString expected = QString::fromUtf8(readFile(expectedPath));

    QTextDocument document;
    QTextCursor cursor(&document);
    const Rtf::ReadResult result = Rtf::read(rtf, cursor, 936);
    QVERIFY2(result.ok, qPrintable(result.error));
    QString actual = tableText(document);
    if (rtf.contains("\\cell")) {
        // LibreOffice ends every table cell with a line end; the text here
        // puts the cells of a row on one line, separated by tabs.
        expected.replace(u'\t', u'\n');
        actual.replace(u'\t', u'\n');
    }
    // LibreOffice's text export prints every space of a run of two or more
    // as U+2006 + space.
    expected.replace(QStringLiteral("\u2006 "), QStringLiteral(" "));
    expected = withoutListLabels(normaliseText(expected));
    actual = normaliseText(actual);

    static const QHash<QString, QString> knownDifferences = {
        {QStringLiteral("pandoc-table_simple"),
         QStringLiteral("LibreOffice keeps only as many cells per row as the row has \\cellx; "
                        "the reader keeps every cell")},
        {QStringLiteral("pandoc-formatting"),
         QStringLiteral("LibreOffice's text export prints hidden text (\\v); the reader keeps it "
                        "hidden")},
    };
    const QString name = QFileInfo(path).completeBaseName();
    if (knownDifferences.contains(name))
        QEXPECT_FAIL("", qPrintable(knownDifferences.value(name)), Continue);
    QCOMPARE(actual, expected);
}

// ---------------------------------------------------------------- reader: text

void TestRtf::readText_data()
{
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<int>("codePage");
    QTest::addColumn<QString>("expected");

    auto row = [](const char *name, const QByteArray &rtf, const QString &expected,
                  int codePage = 936) { QTest::newRow(name) << rtf << codePage << expected; };

    row("plain", "{\\rtf1\\ansi Hello world}", QStringLiteral("Hello world"));
    row("delimiter space eaten", "{\\rtf1\\b Bold\\b0  two}", QStringLiteral("Bold two"));
    row("control symbols", "{\\rtf1 a\\~b\\-c\\_d\\{e\\}f\\\\g}",
        QStringLiteral("a\u00A0b\u00ADc\u2011d{e}f\\g"));
    row("special words", "{\\rtf1 \\emdash\\endash\\bullet\\lquote\\rquote\\ldblquote\\rdblquote}",
        QStringLiteral("\u2014\u2013\u2022\u2018\u2019\u201C\u201D"));
    row("uc1 skips one", "{\\rtf1\\uc1\\u20013?X}", QStringLiteral("\u4E2DX"));
    row("uc2 skips two hex bytes", "{\\rtf1\\uc2\\u20013\\'d6\\'d0X}", QStringLiteral("\u4E2DX"));
    row("uc0 skips nothing", "{\\rtf1\\uc0\\u20013X}", QStringLiteral("\u4E2DX"));
    row("default uc is 1", "{\\rtf1\\u20013?X}", QStringLiteral("\u4E2DX"));
    // iconv holds back the last letter of CP1258 text for a combining mark.
    row("vietnamese code page text read whole",
        "{\\rtf1{\\fonttbl{\\f0\\fcharset163 A;}}\\f0 ab\\'e0c}", QStringLiteral("ab\u00E0c"));
    // LibreOffice takes the two characters of a bad escape and shows nothing.
    row("bad hex escape shows nothing", "{\\rtf1 a\\'3xb}", QStringLiteral("ab"));
    row("negative u", "{\\rtf1\\u-29739?\\u-230?}", QStringLiteral("\u8BD5\uFF1A"));
    row("surrogate pair", "{\\rtf1\\u-10179?\\u-9047?}", QStringLiteral("\U0001F4A9"));
    row("space then fallback", "{\\rtf1 a\\u382 ?b}", QStringLiteral("a\u017Eb"));
    row("digit after u fallback", "{\\rtf1\\uc1\\u48 00}", QStringLiteral("00"));
    row("fallback ends at group end", "{\\rtf1{\\uc3\\u20013?}Y}", QStringLiteral("\u4E2DY"));
    row("uc is scoped by groups", "{\\rtf1{\\uc2 x}\\u20013?Y}", QStringLiteral("x\u4E2DY"));
    row("gbk by ansicpg936",
        "{\\rtf1\\ansi\\ansicpg936{\\fonttbl{\\f0\\fcharset134 x;}}\\f0 \\'d6\\'d0\\'ce\\'c4}",
        QStringLiteral("\u4E2D\u6587"));
    row("gbk by fcharset in 1252 document",
        "{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0\\fcharset0 Arial;}{\\f1\\fcharset134 S;}}"
        "\\f0 caf\\'e9 \\f1\\'d6\\'d0}",
        QStringLiteral("caf\u00E9 \u4E2D"));
    row("font charset 0 beats ansicpg936",
        "{\\rtf1\\ansi\\ansicpg936{\\fonttbl{\\f0\\fcharset0 Arial;}}\\f0 caf\\'e9}",
        QStringLiteral("caf\u00E9"));
    row("font without charset uses ansicpg",
        "{\\rtf1\\ansi\\ansicpg936{\\fonttbl{\\f0 Arial;}}\\f0\\'d6\\'d0}",
        QStringLiteral("\u4E2D"));
    row("default code page when none given", "{\\rtf1 \\'d6\\'d0}", QStringLiteral("\u4E2D"));
    row("default code page 1252", "{\\rtf1 \\'e9}", QStringLiteral("\u00E9"), 1252);
    row("ansi without ansicpg is 1252", "{\\rtf1\\ansi Se\\'f1or}", QStringLiteral("Se\u00F1or"));
    row("ansicpg wins over ansi", "{\\rtf1\\ansi\\ansicpg1251 \\'e4}", QStringLiteral("\u0434"),
        1252);
    row("mac character set", "{\\rtf1\\mac caf\\'8e}", QStringLiteral("caf\u00E9"));
    row("pc character set", "{\\rtf1\\pc \\'82}", QStringLiteral("\u00E9"));
    row("czech fcharset238",
        "{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0\\fcharset238 Calibri;}}\\f0 \\'e8\\'9a}",
        QStringLiteral("\u010D\u0161"));
    row("dbch af picks the east asian font",
        "{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0\\fcharset0 Arial;}{\\f1\\fcharset134 S;}}"
        "\\f0\\dbch\\af1 \\'d6\\'d0\\loch x}",
        QStringLiteral("\u4E2Dx"));
    row("same bytes in different code pages",
        "{\\rtf1\\ansi{\\fonttbl{\\f0\\fcharset134 A;}{\\f1\\fcharset136 B;}{\\f2\\fcharset238 C;}"
        "{\\f3\\fcharset0 D;}}\\f0\\'a4\\'a4\\f1\\'a4\\'a4\\f2\\'e8\\f3\\'e8\\f0\\'a4\\'a4}",
        QStringLiteral("\u3044\u4E2D\u010D\u00E8\u3044"));
    row("accents between letters",
        "{\\rtf1\\ansi\\ansicpg1250 P\\'f8\\'edli\\'9a \\'9elu\\'9dou\\'e8k\\'fd}",
        QStringLiteral("P\u0159\u00EDli\u0161 \u017Elu\u0165ou\u010Dk\u00FD"));
    row("dbcs lead byte without trail", "{\\rtf1\\ansi\\ansicpg936 a\\'d6b}",
        QStringLiteral("a\uFFFDb"));
    row("raw 8-bit bytes", "{\\rtf1\\ansi\\ansicpg936 \xd6\xd0\xce\xc4}",
        QStringLiteral("\u4E2D\u6587"));
    row("gbk pair split by a control word keeps the bytes together",
        "{\\rtf1\\ansi\\ansicpg936 \\'d6\\'d0\\'ce\\'c4\\'b2\\'e2}",
        QStringLiteral("\u4E2D\u6587\u6D4B"));
    row("paragraphs", "{\\rtf1 a\\par b\\par}", QStringLiteral("a\nb"));
    row("empty paragraph", "{\\rtf1 a\\par\\par b}", QStringLiteral("a\n\nb"));
    row("leading empty paragraph", "{\\rtf1\\par a}", QStringLiteral("\na"));
    row("backslash newline is par", "{\\rtf1 a\\\nb}", QStringLiteral("a\nb"));
    row("sect after par adds no line", "{\\rtf1 a\\par\\sect b\\sect}", QStringLiteral("a\nb"));
    row("page ends a paragraph with text", "{\\rtf1 a\\page b}", QStringLiteral("a\nb"));
    row("crlf ignored", "{\\rtf1 a\r\nb\r\n}", QStringLiteral("ab"));
    row("tab", "{\\rtf1 a\\tab b}", QStringLiteral("a\tb"));
    row("table row", "{\\rtf1\\trowd\\cellx1\\cellx2\\intbl A\\cell B\\cell\\row after}",
        QStringLiteral("A\tB\nafter"));
    row("empty cells keep their place", "{\\rtf1\\intbl\\cell\\cell C\\cell\\row}",
        QStringLiteral("\t\tC"));
    row("nested tables drop the fallback",
        "{\\rtf1\\intbl\\itap2 X\\nestcell{\\*\\nesttableprops\\nestrow}{\\nonesttables NO\\par}"
        "\\cell\\row}",
        QStringLiteral("X"));
    row("font table hidden", "{\\rtf1{\\fonttbl{\\f0\\fswiss Arial;}{\\f1 Times;}}x}",
        QStringLiteral("x"));
    row("font table without groups", "{\\rtf1{\\fonttbl\\f0\\fswiss Arial;\\f1 Times;}x}",
        QStringLiteral("x"));
    row("colour table hidden", "{\\rtf1{\\colortbl;\\red1\\green2\\blue3;}x}", QStringLiteral("x"));
    row("stylesheet info header footer footnote hidden",
        "{\\rtf1{\\stylesheet{\\s0 Normal;}}{\\info{\\title T}{\\author A}}{\\header H}"
        "{\\footer F}{\\headerl L}a{\\footnote body}b}",
        QStringLiteral("ab"));
    row("footnote anchor printed", "{\\rtf1 a{\\super\\chftn}{\\footnote\\chftn body}b}",
        QStringLiteral("a1b"));
    row("unknown starred destination hidden", "{\\rtf1 a{\\*\\whatever b{c}}d}",
        QStringLiteral("ad"));
    row("unknown word skipped", "{\\rtf1 a\\foo b\\bar12 c}", QStringLiteral("abc"));
    row("field result shown, instruction hidden",
        "{\\rtf1{\\field{\\*\\fldinst HYPERLINK \"x\"}{\\fldrslt link}}}", QStringLiteral("link"));
    // Word and LibreOffice do not show it (LibreOffice's text export prints it).
    row("hidden text not shown", "{\\rtf1 a{\\v secret}b}", QStringLiteral("ab"));
    row("list labels kept when no list is defined",
        "{\\rtf1{\\pntext\\u8226?\\tab}item\\par{\\listtext 1.\\tab}two}",
        QStringLiteral("\u2022\titem\n1.\ttwo"));
    row("bin skipped by count", "{\\rtf1 a{\\*\\shprslt\\bin4 }\\pa}b}", QStringLiteral("ab"));
    row("bin in unknown destination", "{\\rtf1 a{\\foo\\bin3 {{{}b}", QStringLiteral("ab"));
    row("bin without number", "{\\rtf1 a\\bin b}", QStringLiteral("ab"));
    row("negative bin", "{\\rtf1 a\\bin-5 b}", QStringLiteral("ab"));
    row("bin counts as one fallback character", "{\\rtf1\\uc1\\u20013\\bin2 xyz}",
        QStringLiteral("\u4E2Dz"));
    row("text after the document ignored", "{\\rtf1 a}b{c}", QStringLiteral("a"));
    row("truncated keeps what was read", "{\\rtf1 abc{\\b def", QStringLiteral("abcdef"));
    row("truncated inside a picture", "{\\rtf1 abc{\\pict\\pngblip 89504e47",
        QStringLiteral("abc"));
    row("shppict picture text", "{\\rtf1{\\*\\shppict{\\pict\\pngblip 00}}{\\nonshppict X}ok}",
        QStringLiteral("ok"));
    row("header without version", "{\\rtf\\ansi text}", QStringLiteral("text"));
    row("control characters dropped", "{\\rtf1 a\\u10?b\\'01c}", QStringLiteral("abc"));
    row("frame markers are not text", "{\\rtf1 a\\u-560?b}", QStringLiteral("a\uFFFDb"));
    row("lone surrogate replaced", "{\\rtf1 a\\u-10179?b}", QStringLiteral("a\uFFFDb"));
}

void TestRtf::readText()
{
    QFETCH(QByteArray, rtf);
    QFETCH(int, codePage);
    QFETCH(QString, expected);
    QTextDocument document;
    QTextCursor cursor(&document);
    const Rtf::ReadResult result = Rtf::read(rtf, cursor, codePage);
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(plainText(document), expected);
}

void TestRtf::readLineBreak()
{
    // \line is a line break inside the paragraph, not a new paragraph.
    QTextDocument document;
    QVERIFY(readInto(document, "{\\rtf1 a\\line b\\par c}"));
    QCOMPARE(document.blockCount(), 2);
    QCOMPARE(document.firstBlock().text(), QStringLiteral("a\u2028b"));
}

// ------------------------------------------------------------- reader: formats

void TestRtf::readFormats_data()
{
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<QString>("marker"); // the character whose format is checked
    QTest::addColumn<QString>("family");
    QTest::addColumn<double>("points");
    QTest::addColumn<QString>("flags"); // letters b i u s
    QTest::addColumn<QString>("color");

    const QByteArray head = "{\\rtf1\\ansi\\ansicpg936\\deff0{\\fonttbl{\\f0\\fswiss Arial;}"
                            "{\\f1\\fnil\\fcharset134 \\'cb\\'ce\\'cc\\'e5;}{\\f2 Courier New;}}"
                            "{\\colortbl;\\red255\\green0\\blue0;\\red0\\green128\\blue0;}";
    auto row = [&](const char *name, const QByteArray &body, const char *marker,
                   const QString &family, double points, const char *flags, const char *color) {
        QTest::newRow(name) << head + body + "}" << QString::fromUtf8(marker) << family << points
                            << QString::fromLatin1(flags) << QString::fromLatin1(color);
    };
    const QString arial = QStringLiteral("Arial");
    const QString song = QStringLiteral("\u5B8B\u4F53");
    row("default font and size", "X", "X", arial, 12, "", "");
    row("bold", "a\\b X", "X", arial, 12, "b", "");
    row("b0 ends bold", "\\b a\\b0 X", "X", arial, 12, "", "");
    row("italic underline strike", "\\i\\ul\\strike X", "X", arial, 12, "ius", "");
    row("ulnone", "\\ul a\\ulnone X", "X", arial, 12, "", "");
    row("ul0", "\\ul a\\ul0 X", "X", arial, 12, "", "");
    row("underline variants", "\\uldb X", "X", arial, 12, "u", "");
    row("size in half points", "\\fs36 X", "X", arial, 18, "", "");
    row("colour", "\\cf1 X", "X", arial, 12, "", "#ff0000");
    row("second colour", "\\cf2 X", "X", arial, 12, "", "#008000");
    row("cf0 is automatic", "\\cf1 a\\cf0 X", "X", arial, 12, "", "");
    row("a later colour table replaces the first",
        "\\cf1 a{\\colortbl;\\red0\\green0\\blue255;}\\cf1 X", "X", arial, 12, "", "#0000ff");
    row("an empty later colour table", "\\cf1 a{\\colortbl}\\cf1 X", "X", arial, 12, "", "");
    row("a later font entry replaces the first", "\\f2 a{\\fonttbl{\\f2 Georgia;}}X", "X",
        QStringLiteral("Georgia"), 12, "", "");
    row("text before a later colour table keeps its colour",
        "\\cf1 a{\\colortbl;\\red0\\green0\\blue255;}\\cf1 X", "a", arial, 12, "", "#ff0000");
    row("colour out of range", "\\cf9 X", "X", arial, 12, "", "");
    row("font by number", "\\f2 X", "X", QStringLiteral("Courier New"), 12, "", "");
    row("gbk font name", "\\f1 X", "X", song, 12, "", "");
    // LibreOffice states a Chinese heading's size and bold for \dbch text only.
    row("associated size and bold of double-byte text",
        "{\\dbch\\afs32\\ab\\ai\\af1\\dbch \\u20851?}", "\u5173", song, 16, "bi", "");
    row("associated size outside double-byte text", "{\\rtlch\\afs32\\ab X}", "X", arial, 12, "",
        "");
    row("group restores", "{\\b\\i\\f2\\fs40\\cf1 a}X", "X", arial, 12, "", "");
    row("plain resets", "\\b\\i\\f2\\fs40\\cf1 a\\plain X", "X", arial, 12, "", "");
    row("pard keeps character formatting", "\\f1\\b\\cf2 a\\par\\pard X", "X", song, 12, "b",
        "#008000");
    row("font stays after pntext group", "\\f1 a\\par{\\pntext\\f2 x}\\pard X", "X", song, 12, "",
        "");
    row("dbch font for gbk bytes", "\\f0\\dbch\\af1 \\'d6\\'d0", "\u4E2D", song, 12, "", "");
    row("latin text keeps the latin font", "\\f0\\dbch\\af1 \\'d6\\'d0X", "X", arial, 12, "", "");
    row("east asian font after loch", "\\dbch\\af1\\loch\\f0\\b\\u20013\\'3fX", "\u4E2D", song, 12,
        "b", "");
    row("latin font after loch", "\\dbch\\af1\\loch\\f0\\b\\u20013\\'3fX", "X", arial, 12, "b", "");
    row("af outside dbch is not east asian", "\\hich\\af1\\loch\\f0 \\u20013\\'3f", "\u4E2D", arial,
        12, "", "");
    row("plain forgets the east asian font", "\\dbch\\af1 a\\plain\\u20013\\'3f", "\u4E2D", arial,
        12, "", "");
    row("gbk text in its font", "\\f1\\b \\'d6\\'d0", "\u4E2D", song, 12, "b", "");
}

void TestRtf::readFormats()
{
    QFETCH(QByteArray, rtf);
    QFETCH(QString, marker);
    QFETCH(QString, family);
    QFETCH(double, points);
    QFETCH(QString, flags);
    QFETCH(QString, color);
    QTextDocument document;
    QVERIFY(readInto(document, rtf));
    const int position = document.toRawText().lastIndexOf(marker);
    QVERIFY2(position >= 0, qPrintable(document.toRawText()));
    CharLook expected;
    expected.family = family;
    expected.points = points;
    expected.bold = flags.contains(u'b');
    expected.italic = flags.contains(u'i');
    expected.underline = flags.contains(u'u');
    expected.strike = flags.contains(u's');
    if (!color.isEmpty())
        expected.color = QColor(color);
    const CharLook actual = lookAt(document, position);
    QCOMPARE(describe(actual), describe(expected));
}

// ------------------------------------------------------------ reader: pictures

namespace {

QByteArray hex(const QByteArray &bytes)
{
    return bytes.toHex();
}

// A packed DIB (what \dibitmap holds): the BMP file without its 14-byte header.
QByteArray dibOf(const QImage &image)
{
    return encodeImage(image.convertToFormat(QImage::Format_RGB32), "BMP").mid(14);
}

} // namespace

void TestRtf::readPictures_data()
{
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<int>("count");
    QTest::addColumn<QSize>("size");         // of the first picture, in the document
    QTest::addColumn<QByteArray>("encoded"); // the first picture's stored bytes, if checked
    QTest::addColumn<QImage>("image");       // the first picture's pixels, if checked

    const QImage small = testImage(4, 2, 1);
    const QByteArray png = encodeImage(small, "PNG");
    const QByteArray jpeg = encodeImage(testImage(16, 8, 2), "JPEG");
    const QByteArray pngHex = hex(png);

    QTest::newRow("png with goal size")
        << "{\\rtf1{\\pict\\pngblip\\picw4\\pich2\\picwgoal240\\pichgoal120 " + pngHex + "}}" << 1
        << QSize(16, 8) << png << small;
    QTest::newRow("png natural size")
        << "{\\rtf1{\\pict\\pngblip " + pngHex + "}}" << 1 << QSize(4, 2) << png << small;
    QTest::newRow("png scaled")
        << "{\\rtf1{\\pict\\pngblip\\picwgoal60\\pichgoal30\\picscalex200\\picscaley50 " + pngHex +
               "}}"
        << 1 << QSize(8, 1) << png << small;
    QTest::newRow("hex split over lines and spaces")
        << "{\\rtf1{\\pict\\pngblip\r\n" + pngHex.left(10) + "\r\n " + pngHex.mid(10) + "}}" << 1
        << QSize(4, 2) << png << small;
    QTest::newRow("png as binary")
        << "{\\rtf1{\\pict\\pngblip\\bin" + QByteArray::number(png.size()) + " " + png + "}}" << 1
        << QSize(4, 2) << png << small;
    QTest::newRow("jpeg kept byte for byte")
        << "{\\rtf1{\\pict\\jpegblip\\picwgoal240\\pichgoal120 " + hex(jpeg) + "}}" << 1
        << QSize(16, 8) << jpeg << QImage();
    QTest::newRow("dibitmap") << "{\\rtf1{\\pict\\dibitmap0\\picw4\\pich2 " + hex(dibOf(small)) +
                                     "}}"
                              << 1 << QSize(4, 2) << QByteArray() << small;
    QTest::newRow("shppict wins over nonshppict")
        << "{\\rtf1{\\*\\shppict{\\pict\\pngblip " + pngHex + "}}{\\nonshppict{\\pict\\pngblip " +
               pngHex + "}}}"
        << 1 << QSize(4, 2) << png << small;
    QTest::newRow("metafile kept, shown as a placeholder")
        << QByteArray("{\\rtf1{\\pict\\wmetafile8\\picw2540\\pich1270 0100090000}x}") << 1
        << QSize(96, 48) << QByteArray::fromHex("0100090000") << QImage();
    QTest::newRow("emf without a size kept")
        << QByteArray("{\\rtf1{\\pict\\emfblip 01000000}x}") << 1 << QSize(96, 96)
        << QByteArray::fromHex("01000000") << QImage();
    QTest::newRow("corrupt png held back, its bytes kept")
        << "{\\rtf1{\\pict\\pngblip " + pngHex.left(40) + "}x}" << 1 << QSize(96, 96)
        << png.left(20) << QImage();
    QTest::newRow("picture in a skipped destination")
        << "{\\rtf1{\\*\\unknown{\\pict\\pngblip " + pngHex + "}}x}" << 0 << QSize() << QByteArray()
        << QImage();
    QTest::newRow("picture property group ignored")
        << "{\\rtf1{\\pict{\\*\\picprop{\\sp{\\sn x}{\\sv 1}}}\\pngblip " + pngHex + "}}" << 1
        << QSize(4, 2) << png << small;
    QTest::newRow("two pictures") << "{\\rtf1{\\pict\\pngblip " + pngHex + "}a{\\pict\\jpegblip " +
                                         hex(jpeg) + "}}"
                                  << 2 << QSize(4, 2) << png << small;
}

void TestRtf::readPictures()
{
    QFETCH(QByteArray, rtf);
    QFETCH(int, count);
    QFETCH(QSize, size);
    QFETCH(QByteArray, encoded);
    QFETCH(QImage, image);
    QTextDocument document;
    QVERIFY(readInto(document, rtf));
    const QList<FoundPicture> pictures = picturesIn(document);
    QCOMPARE(pictures.size(), count);
    QCOMPARE(document.toRawText().count(QChar::ObjectReplacementCharacter), count);
    if (count == 0)
        return;
    const FoundPicture &first = pictures.first();
    QVERIFY(first.picture.has_value());
    QCOMPARE(QSize(int(first.format.width()), int(first.format.height())), size);
    if (!encoded.isEmpty())
        QCOMPARE(first.picture->encoded, encoded);
    if (!image.isNull())
        QCOMPARE(first.picture->image.convertToFormat(QImage::Format_RGB32),
                 image.convertToFormat(QImage::Format_RGB32));
}

// ---------------------------------------------------------- reader: robustness

void TestRtf::robustness_data()
{
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("expected");

    QTest::newRow("not rtf") << QByteArray("hello") << false << QString();
    QTest::newRow("empty") << QByteArray() << false << QString();
    QTest::newRow("rtf in the middle") << QByteArray(" {\\rtf1 x}") << false << QString();
    QTest::newRow("header only") << QByteArray("{\\rtf") << true << QString();
    QTest::newRow("backslash at the end")
        << QByteArray("{\\rtf1 a\\") << true << QStringLiteral("a");
    QTest::newRow("hex cut short") << QByteArray("{\\rtf1 a\\'d") << true << QStringLiteral("a");
    QTest::newRow("bad hex") << QByteArray("{\\rtf1 a\\'zzb}") << true << QStringLiteral("ab");
    QTest::newRow("huge parameter")
        << QByteArray("{\\rtf1\\fs99999999999999999999 a\\u99999999999?b}") << true
        << QStringLiteral("a\uFFFFb");
    QTest::newRow("negative uc") << QByteArray("{\\rtf1\\uc-5\\u20013 x}") << true
                                 << QStringLiteral("\u4E2Dx");
    QTest::newRow("huge uc") << QByteArray("{\\rtf1\\uc99999\\u20013 abc}def") << true
                             << QStringLiteral("\u4E2D");
    QTest::newRow("bin beyond the end")
        << QByteArray("{\\rtf1 a\\bin999999999 b}") << true << QStringLiteral("a");
    QTest::newRow("long control word")
        << "{\\rtf1 a\\" + QByteArray(5000, 'x') + " b}" << true << QStringLiteral("ab");
    QTest::newRow("deep nesting is capped")
        << "{\\rtf1 a" + QByteArray(5000, '{') + "hidden" + QByteArray(5000, '}') + "b}" << true
        << QStringLiteral("ab");
    QTest::newRow("text just inside the depth limit")
        << "{\\rtf1 " + QByteArray(Rtf::maxGroupDepth - 1, '{') + "in" +
               QByteArray(Rtf::maxGroupDepth - 1, '}') + "}"
        << true << QStringLiteral("in");
    QTest::newRow("deep unclosed groups")
        << "{\\rtf1 a" + QByteArray(200000, '{') << true << QStringLiteral("a");
    QTest::newRow("escaped braces in a too deep group")
        << "{\\rtf1 " + QByteArray(1200, '{') + "\\}\\{" + QByteArray(1200, '}') + "ok}" << true
        << QStringLiteral("ok");
    QTest::newRow("bin with braces in a too deep group")
        << "{\\rtf1 " + QByteArray(1200, '{') + "\\bin2 }}" + QByteArray(1200, '}') + "ok}" << true
        << QStringLiteral("ok");
    QTest::newRow("too many closing braces")
        << QByteArray("{\\rtf1 a}}}}b") << true << QStringLiteral("a");
    QTest::newRow("picture claiming a huge size")
        << "{\\rtf1{\\pict\\pngblip " +
               QByteArray::fromHex("89504e470d0a1a0a0000000d49484452000186a0000186a00802000000")
                   .toHex() +
               "}x}"
        << true << QStringLiteral("x");
    QTest::newRow("wbitmap with a short buffer")
        << QByteArray(
               "{\\rtf1{\\pict\\wbitmap0\\picw100\\pich100\\wbmbitspixel24\\wbmwidthbytes300 "
               "0102}x}")
        << true << QStringLiteral("x");
    QTest::newRow("dib with a lying header")
        << QByteArray("{\\rtf1{\\pict\\dibitmap0 ffffff7f0100000001000000010018}x}") << true
        << QStringLiteral("x");
    QTest::newRow("nul bytes") << QByteArray("{\\rtf1 a\0b\0}", 12) << true << QStringLiteral("ab");
    // Inputs the fuzzer found (fuzz_rtfreader); each broke an invariant once.
    QTest::newRow("fuzz: font name overrunning the encoder")
        << QByteArray::fromBase64("e1xydGZ7XGZvbnR0YmxcZv/MM6OEo9DQ//9gAzJzYmMnfdA=") << true
        << QStringLiteral("\uFFFD");
    QTest::newRow("fuzz: picture read from bin data")
        << QByteArray::fromBase64("e1xydGYxe1xwaWN0XHBuZ2JsaXBcYmluNjkgiVBORw0KGgoAAAANSUhEUgAAAAEA"
                                  "AAABCAIAAACQd1PeAAAADE"
                                  "lEQVR4nGNgYEgBAABoAGXKCwsOAAAAAElFTkSuQmCCfXh9")
        << true << QStringLiteral("x");
    QTest::newRow("fuzz: dib wider than a png can be")
        << QByteArray::fromBase64(
               "e1xydGYxe1xwaWN0XGRpYml0bWFwMFxwaWN3MlxwaWNoMiAyODAwMDAwMDAyMDA4MDAwMDIwMDAwMDAwMTA"
               "wMT"
               "gwMDAwMDAwMDAwMTAwMDAwMDAwMDAwMDAwMDAwMDAwMDAwMAAAANIAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"
               "AAA"
               "AAAAAAAAADAwMDAwMDAwMDAwMDAwMDAwMDBmeTAwZmYwMDAwMDBmZjAwMDBmZmZmZmYwMDAwfVxwYXJ9")
        << true << QString();
}

void TestRtf::robustness()
{
    QFETCH(QByteArray, rtf);
    QFETCH(bool, ok);
    QFETCH(QString, expected);
    QTextDocument document;
    QTextCursor cursor(&document);
    QElapsedTimer timer;
    timer.start();
    const Rtf::ReadResult result = Rtf::read(rtf, cursor, 936);
    QCOMPARE(result.ok, ok);
    QVERIFY(timer.elapsed() < 5000);
    if (!ok) {
        QCOMPARE(result.error, QStringLiteral("\u4E0D\u662F RTF \u6587\u6863"));
        QVERIFY(document.isEmpty());
        return;
    }
    QVERIFY(result.error.isEmpty());
    QCOMPARE(plainText(document), expected);
    // Whatever was read can be written and read again to the same text.
    QTextDocument again;
    QVERIFY(readInto(again, Rtf::write(document, 936)));
    QCOMPARE(again.toRawText(), document.toRawText());
}

void TestRtf::superAndSubscript_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("position"); // of the character checked
    QTest::addColumn<int>("alignment");
    const int super = QTextCharFormat::AlignSuperScript;
    const int sub = QTextCharFormat::AlignSubScript;
    const int normal = QTextCharFormat::AlignNormal;
    QTest::newRow("superscript") << QByteArray("m{\\super 2}") << 1 << super;
    QTest::newRow("subscript") << QByteArray("H{\\sub 2}O") << 1 << sub;
    QTest::newRow("a group ends it") << QByteArray("H{\\sub 2}O") << 2 << normal;
    QTest::newRow("nosupersub ends it") << QByteArray("\\super a\\nosupersub b") << 1 << normal;
    QTest::newRow("plain ends it") << QByteArray("\\sub a\\plain b") << 1 << normal;
}

// Raised and lowered text (a footnote number, m², H₂O) is read, and a save
// writes it back.
void TestRtf::superAndSubscript()
{
    QFETCH(QByteArray, body);
    QFETCH(int, position);
    QFETCH(int, alignment);
    QTextDocument document;
    QVERIFY(readInto(document, "{\\rtf1\\ansi " + body + "}"));
    QTextDocument again;
    QVERIFY(readInto(again, Rtf::write(document, 936)));
    for (QTextDocument *read : {&document, &again}) {
        QTextCursor at(read);
        at.setPosition(position + 1);
        QCOMPARE(int(at.charFormat().verticalAlignment()), alignment);
    }
}

void TestRtf::raisedAndScaled_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("position"); // of the character checked
    QTest::addColumn<int>("raise");    // half-points, < 0 lowered
    QTest::addColumn<int>("scale");    // percent
    QTest::addColumn<QByteArray>("written");
    QTest::newRow("raised") << QByteArray("a{\\up6 b}c") << 1 << 6 << 100 << QByteArray("\\up6 b}");
    QTest::newRow("lowered") << QByteArray("a{\\dn4 b}c") << 1 << -4 << 100
                             << QByteArray("\\dn4 b}");
    QTest::newRow("raised without a number")
        << QByteArray("a\\up b") << 1 << 6 << 100 << QByteArray("\\up6 b}");
    QTest::newRow("a group ends it") << QByteArray("a{\\up6 b}c") << 2 << 0 << 100 << QByteArray();
    QTest::newRow("plain ends it") << QByteArray("\\up6\\charscalex80 a\\plain b") << 1 << 0 << 100
                                   << QByteArray("\\up6\\charscalex80 a}");
    QTest::newRow("up 0 ends it") << QByteArray("\\dn6 a\\up0 b") << 1 << 0 << 100 << QByteArray();
    QTest::newRow("narrow") << QByteArray("a{\\charscalex66 b}") << 1 << 0 << 66
                            << QByteArray("\\charscalex66 b}");
    QTest::newRow("wide and lowered") << QByteArray("{\\dn3\\charscalex200 a}") << 0 << -3 << 200
                                      << QByteArray("\\dn3\\charscalex200 a}");
    // Past a page's height, and a scale Word does not write.
    QTest::newRow("hostile raise and scale")
        << QByteArray("{\\up99999999\\charscalex99999999 a}{\\dn-5\\charscalex-3 b}") << 0 << 1700
        << 600 << QByteArray("\\up1700\\charscalex600 a}");
    QTest::newRow("hostile lowering taken as none")
        << QByteArray("{\\dn-5\\charscalex0 b}") << 0 << 0 << 100 << QByteArray();
}

// Raised and lowered text (\up, \dn) and narrowed or widened text
// (\charscalex) are shown as the window can, and a save writes them back as
// read.
void TestRtf::raisedAndScaled()
{
    QFETCH(QByteArray, body);
    QFETCH(int, position);
    QFETCH(int, raise);
    QFETCH(int, scale);
    QFETCH(QByteArray, written);
    QTextDocument document;
    QVERIFY(readInto(document, "{\\rtf1\\ansi " + body + "}"));
    const QByteArray first = Rtf::write(document, 936);
    if (!written.isEmpty())
        QVERIFY2(first.contains(written), first.constData());
    QTextDocument again;
    QVERIFY(readInto(again, first));
    for (QTextDocument *read : {&document, &again}) {
        QTextCursor at(read);
        at.setPosition(position + 1);
        const QTextCharFormat format = at.charFormat();
        QCOMPARE(format.intProperty(charRaiseProperty), raise);
        // Shown as an offset of the baseline, up or down.
        QCOMPARE(format.baselineOffset() > 0, raise > 0);
        QCOMPARE(format.baselineOffset() < 0, raise < 0);
        QCOMPARE(format.hasProperty(QTextFormat::FontStretch) ? format.fontStretch() : 100, scale);
    }
    QCOMPARE(Rtf::write(again, 936), first);
}

void TestRtf::fontNamesComeBack_data()
{
    QTest::addColumn<QString>("family");
    QTest::newRow("Chinese") << QStringLiteral("宋体");
    QTest::newRow("Thai in a GBK document") << QStringLiteral("\u0E01\u4E2D");
    QTest::newRow("accent and separators") << QStringLiteral("Caf\u00E9 \u0E01;{x}");
    QTest::newRow("outside the BMP") << QStringLiteral("A\U0001F600B");
}

// A font keeps its name through a save and a read, whatever the code page
// can hold of it.
void TestRtf::fontNamesComeBack()
{
    QFETCH(QString, family);
    QTextDocument document;
    QTextCursor cursor(&document);
    QTextCharFormat format;
    format.setFontFamilies({family});
    cursor.insertText(QStringLiteral("x"), format);
    QTextDocument again;
    QVERIFY(readInto(again, Rtf::write(document, 936)));
    QTextCursor at(&again);
    at.setPosition(1);
    QCOMPARE(at.charFormat().fontFamilies().toStringList().value(0), family);
}

void TestRtf::readAtCursorIsOneUndoStep()
{
    QTextDocument document;
    document.setPlainText(QStringLiteral("abcdef"));
    QTextCursor cursor(&document);
    cursor.setPosition(3);
    QVERIFY(Rtf::read("{\\rtf1 X\\par Y{\\b Z}\\par}", cursor, 936).ok);
    QCOMPARE(plainText(document), QStringLiteral("abcX\nYZdef"));
    QCOMPARE(cursor.position(), 7); // after the inserted text
    document.undo();
    QCOMPARE(document.toPlainText(), QStringLiteral("abcdef"));
    // A selection is replaced.
    cursor.setPosition(1);
    cursor.setPosition(5, QTextCursor::KeepAnchor);
    QVERIFY(Rtf::read("{\\rtf1 Q}", cursor, 936).ok);
    QCOMPARE(document.toPlainText(), QStringLiteral("aQf"));
}

void TestRtf::looksLikeRtf_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("expected");
    QTest::newRow("rtf1") << QByteArray("{\\rtf1\\ansi}") << true;
    QTest::newRow("no version") << QByteArray("{\\rtf") << true;
    QTest::newRow("short") << QByteArray("{\\rt") << false;
    QTest::newRow("leading space") << QByteArray(" {\\rtf1") << false;
    QTest::newRow("upper case") << QByteArray("{\\RTF1") << false;
    QTest::newRow("text") << QByteArray("rtf") << false;
}

void TestRtf::looksLikeRtf()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, expected);
    QCOMPARE(Rtf::looksLikeRtf(bytes), expected);
}

// --------------------------------------------------------------------- writer

namespace {

struct Run {
    QString text;
    QString family; // empty: the document's default font
    double points = 0;
    QString flags; // b i u s
    QColor color;
};

void appendRun(QTextCursor &cursor, const Run &run)
{
    QTextCharFormat format;
    if (!run.family.isEmpty())
        format.setFontFamilies({run.family});
    if (run.points > 0)
        format.setFontPointSize(run.points);
    if (run.flags.contains(u'b'))
        format.setFontWeight(QFont::Bold);
    format.setFontItalic(run.flags.contains(u'i'));
    format.setFontUnderline(run.flags.contains(u'u'));
    format.setFontStrikeOut(run.flags.contains(u's'));
    if (run.color.isValid())
        format.setForeground(run.color);
    cursor.insertText(run.text, format);
}

const QString song = QStringLiteral("\u5B8B\u4F53");

QImage pictureImage(int seed)
{
    return testImage(5 + seed, 3 + seed, seed);
}

// Documents the writer tests share, by name.
void build(QTextDocument &document, const QString &name)
{
    QTextCursor cursor(&document);
    if (name == u"ascii formats") {
        appendRun(cursor, {QStringLiteral("Plain "), {}, 0, {}, {}});
        appendRun(cursor,
                  {QStringLiteral("bold "), QStringLiteral("Arial"), 0, QStringLiteral("b"), {}});
        appendRun(
            cursor,
            {QStringLiteral("italic "), QStringLiteral("Arial"), 14, QStringLiteral("i"), {}});
        appendRun(cursor, {QStringLiteral("under "),
                           QStringLiteral("Times New Roman"),
                           10.5,
                           QStringLiteral("u"),
                           {}});
        appendRun(cursor,
                  {QStringLiteral("strike "), {}, 8, QStringLiteral("s"), QColor(0, 0, 255)});
        appendRun(cursor, {QStringLiteral("all"), QStringLiteral("Arial"), 36,
                           QStringLiteral("bius"), QColor(255, 0, 0)});
    } else if (name == u"chinese") {
        appendRun(cursor, {QStringLiteral("\u4E2D\u6587\u6D4B\u8BD5"), song, 12, {}, {}});
        appendRun(cursor, {QStringLiteral("\u7C97\u4F53"), song, 12, QStringLiteral("b"),
                           QColor(200, 0, 0)});
        appendRun(cursor, {QStringLiteral(" Latin in Song "), song, 12, {}, {}});
        cursor.insertBlock();
        appendRun(cursor, {QStringLiteral("\u5FAE\u8F6F\u96C5\u9ED1\u5B57\uFF1A\u3002"),
                           QStringLiteral("\u5FAE\u8F6F\u96C5\u9ED1"),
                           16,
                           QStringLiteral("iu"),
                           {}});
        appendRun(cursor, {QStringLiteral("Noto \u601D\u6E90"),
                           QStringLiteral("Noto Sans CJK SC"),
                           9,
                           {},
                           QColor(0, 128, 0)});
        appendRun(cursor, {QStringLiteral("\u4E2D in Arial"), QStringLiteral("Arial"), 11, {}, {}});
    } else if (name == u"fonts sizes colours") {
        const QStringList families = {QStringLiteral("Arial"), song, QStringLiteral("Courier New"),
                                      QStringLiteral("SimHei"), QStringLiteral("Caf\u00E9 Sans")};
        const double sizes[] = {6, 7.5, 9, 10.5, 12, 16, 22, 48, 72};
        for (int i = 0; i < 27; ++i)
            appendRun(cursor, {QStringLiteral("r%1\u5B57 ").arg(i),
                               families[i % families.size()],
                               sizes[i % 9],
                               {},
                               QColor::fromHsv((i * 40) % 360, 255, 200 - i)});
    } else if (name == u"empty paragraphs") {
        cursor.insertText(QStringLiteral("first"));
        cursor.insertBlock();
        cursor.insertBlock();
        cursor.insertText(QStringLiteral("fourth"));
        cursor.insertBlock();
    } else if (name == u"odd font names") {
        appendRun(cursor,
                  {QStringLiteral("a"), QStringLiteral("\u0E01\u4E2D\u4E2D\u4E2D"), 0, {}, {}});
        appendRun(cursor, {QStringLiteral("b"), QStringLiteral("Caf\u00E9 \u0E01;{x}"), 0, {}, {}});
    } else if (name == u"tabs and lines") {
        cursor.insertText(QStringLiteral("a\tb\t\tc"));
        cursor.insertText(QString(QChar::LineSeparator) + QStringLiteral("same paragraph\t"));
        cursor.insertBlock();
        cursor.insertText(QStringLiteral("\tindented"));
    } else if (name == u"outside gbk") {
        appendRun(
            cursor,
            {QStringLiteral("\U0001F600 caf\u00E9 \u0E01 \u00DF \u20AC \u010D"), song, 12, {}, {}});
        appendRun(cursor, {QStringLiteral(" \U0001F600 caf\u00E9 \u0E01 \u4E2D"),
                           QStringLiteral("Arial"),
                           12,
                           QStringLiteral("b"),
                           {}});
        appendRun(cursor, {QStringLiteral("\U0001F4A9\U0001F600"), {}, 0, {}, {}});
    } else if (name == u"escapes") {
        appendRun(cursor, {QStringLiteral("{braces} back\\slash \\par \\'41 "), {}, 0, {}, {}});
        appendRun(cursor, {QStringLiteral("123"), {}, 0, QStringLiteral("b"), {}});
        appendRun(cursor, {QStringLiteral("-dash"), {}, 0, QStringLiteral("i"), {}});
        appendRun(cursor, {QStringLiteral(" lead"), {}, 0, QStringLiteral("u"), {}});
        appendRun(cursor, {QStringLiteral("?x"), {}, 0, {}, {}});
        appendRun(cursor, {QStringLiteral("\u4E2D9"), song, 0, {}, {}});
    } else if (name == u"pictures") {
        cursor.insertText(QStringLiteral("png:"));
        appendPicture(document, encodeImage(pictureImage(1), "PNG"));
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(QStringLiteral(" jpeg:"));
        appendPicture(document, encodeImage(pictureImage(2), "JPEG"));
        cursor.movePosition(QTextCursor::End);
        cursor.insertBlock();
        cursor.insertText(QStringLiteral("bmp:"));
        appendPicture(document, encodeImage(pictureImage(3), "BMP"));
        cursor.movePosition(QTextCursor::End);
        // The same picture again, shown larger.
        const auto again = DocumentImages::fromBytes(encodeImage(pictureImage(4), "PNG"));
        QTextImageFormat format =
            DocumentImages::add(&document, again->image, again->encoded, again->format);
        cursor.insertImage(format);
        format.setWidth(format.width() * 3);
        format.setHeight(format.height() * 2);
        cursor.insertImage(format);
        cursor.insertText(QStringLiteral("\u56FE"));
    } else if (name.startsWith(u"random ")) {
        // Mixed runs from a fixed seed: every attribute, Chinese, symbols,
        // characters outside GBK, paragraph ends and tabs.
        quint32 state = name.mid(7).toUInt() * 2654435761u + 1;
        auto next = [&state](quint32 bound) {
            state = state * 1664525u + 1013904223u;
            return (state >> 8) % bound;
        };
        const QString pool = QStringLiteral(
            "abcXYZ 019{}\\;-?\t\u4E2D\u6587\u5B57\u3002\uFF0C\u00E9\u00FC\u0E01\u20AC");
        const QStringList families = {QString(), QStringLiteral("Arial"), song,
                                      QStringLiteral("Noto Serif CJK SC")};
        for (int r = 0; r < 60; ++r) {
            Run run;
            const int length = int(next(12)) + 1;
            for (int i = 0; i < length; ++i) {
                if (next(40) == 0)
                    run.text += QStringLiteral("\U0001F600");
                else
                    run.text += pool.at(int(next(quint32(pool.size()))));
            }
            run.family = families[int(next(4))];
            run.points = next(3) == 0 ? 0 : 6 + next(40) / 2.0;
            const char *flagSets[] = {"", "b", "i", "u", "s", "bi", "us", "bius"};
            run.flags = QString::fromLatin1(flagSets[next(8)]);
            if (next(3) == 0)
                run.color = QColor(int(next(256)), int(next(256)), int(next(256)));
            appendRun(cursor, run);
            if (next(6) == 0)
                cursor.insertBlock();
        }
    }
}

void compareDocuments(const QTextDocument &actual, const QTextDocument &expected)
{
    const QString text = expected.toRawText();
    QCOMPARE(actual.toRawText(), text);
    for (int position = 0; position < text.size(); ++position) {
        const QChar c = text.at(position);
        if (c == QChar::ParagraphSeparator)
            continue;
        if (c == QChar::ObjectReplacementCharacter) {
            auto imageAt = [position](const QTextDocument &document) {
                QTextCursor cursor(const_cast<QTextDocument *>(&document));
                cursor.setPosition(position + 1);
                return cursor.charFormat().toImageFormat();
            };
            const QTextImageFormat want = imageAt(expected);
            const QTextImageFormat got = imageAt(actual);
            QCOMPARE(got.width(), want.width());
            QCOMPARE(got.height(), want.height());
            const auto wantPicture = DocumentImages::find(&expected, want.name());
            const auto gotPicture = DocumentImages::find(&actual, got.name());
            QVERIFY(wantPicture && gotPicture);
            if (wantPicture->format == "png" || wantPicture->format == "jpeg") {
                // Kept byte for byte.
                QCOMPARE(gotPicture->encoded, wantPicture->encoded);
            } else {
                QCOMPARE(gotPicture->format, QByteArray("png"));
                QCOMPARE(gotPicture->image.convertToFormat(QImage::Format_RGB32),
                         wantPicture->image.convertToFormat(QImage::Format_RGB32));
            }
            continue;
        }
        const QString got = describe(lookAt(actual, position));
        const QString want = describe(lookAt(expected, position));
        if (got != want)
            QFAIL(qPrintable(QStringLiteral("format at %1 ('%2'): %3, expected %4")
                                 .arg(position)
                                 .arg(c)
                                 .arg(got, want)));
    }
}

} // namespace

void TestRtf::writerOutput_data()
{
    QTest::addColumn<QString>("document");
    QTest::addColumn<int>("codePage");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("absent");

    auto row = [](const char *name, const char *document, int codePage, QStringList present,
                  QStringList absent = {}) {
        QTest::newRow(name) << QString::fromLatin1(document) << codePage << present << absent;
    };
    row("header", "ascii formats", 936,
        {"{\\rtf1\\ansi\\ansicpg936\\deff0", "\\uc1", "\\fonttbl", "{\\colortbl ;"});
    row("header 1252", "ascii formats", 1252, {"{\\rtf1\\ansi\\ansicpg1252\\deff0"});
    row("attributes", "ascii formats", 936,
        {"\\b bold", "\\i italic", "\\ul under", "\\strike", "\\fs72", "\\fs21\\ul under",
         "\\red255\\green0\\blue0;", "\\red0\\green0\\blue255;", "\\fcharset0 Arial;}"},
        {"\\b0"});
    row("chinese font and text", "chinese", 936,
        {"\\fcharset134 \\'cb\\'ce\\'cc\\'e5;}", "\\dbch\\af1", "\\uc2\\u20013\\'d6\\'d0",
         "\\u-230\\'a3\\'ba", "\\fcharset134 Noto Sans CJK SC;}"});
    row("chinese in a latin font falls back to ?", "chinese", 936,
        {"\\fcharset0 Arial;}", "{\\f4\\fs22\\u20013\\'3f in Arial}"});
    row("outside gbk", "outside gbk", 936,
        {"\\u-10179\\'3f\\u-8704\\'3f", "caf\\uc2\\u233\\'a8\\'a6", "\\uc1\\u3585\\'3f",
         "\\b  \\u-10179\\'3f\\u-8704\\'3f caf\\u233\\'e9"},
        {"\\'81\\'30"});
    row("outside the 1252 code page", "outside gbk", 1252,
        {"\\ansicpg1252", " caf\\u233\\'e9", "\\u8364\\'80"});
    row("escapes", "escapes", 936,
        {"\\{braces\\} back\\\\slash \\\\par \\\\'41 ", "\\b 123", "\\i -dash", "\\ul  lead",
         "\\uc2\\u20013\\'d6\\'d09"});
    row("tabs and lines", "tabs and lines", 936,
        {"a\\tab b\\tab\\tab c\\line same paragraph\\tab", "\\par\n", "\\tab indented"});
    row("pictures", "pictures", 936,
        {"{\\pict\\pngblip\\picw6\\pich4\\picwgoal90\\pichgoal60\n89504e47",
         "{\\pict\\jpegblip\\picw7\\pich5\\picwgoal105\\pichgoal75\nffd8ff",
         "{\\pict\\pngblip\\picw8\\pich6\\picwgoal120\\pichgoal90\n89504e47",
         "\\picwgoal405\\pichgoal210"},
        {"\\dibitmap", "424d"});
    // Characters outside the font's code page go as \uN with "?" for old
    // readers; the rest is escaped. (A font name of this kind overran the
    // code-page encoder once.)
    row("odd font names", "odd font names", 936,
        {"{\\f1\\fnil\\fcharset134 \\u3585?\\'d6\\'d0\\'d6\\'d0\\'d6\\'d0;}",
         "{\\f2\\fnil\\fcharset0 Caf\\'e9 \\u3585?\\'3b\\'7bx\\'7d;}"});
    row("empty paragraphs", "empty paragraphs", 936,
        {"first}\\par\n\\par\n{", "fourth}\\par\n\\par\n}"});
}

void TestRtf::writerOutput()
{
    QFETCH(QString, document);
    QFETCH(int, codePage);
    QFETCH(QStringList, present);
    QFETCH(QStringList, absent);
    QTextDocument source;
    build(source, document);
    const QByteArray rtf = Rtf::write(source, codePage);
    for (const QString &text : present)
        QVERIFY2(rtf.contains(text.toLatin1()),
                 qPrintable(text + QStringLiteral(" in:\n") + QString::fromLatin1(rtf.left(4000))));
    for (const QString &text : absent)
        QVERIFY2(!rtf.contains(text.toLatin1()), qPrintable(text));
    // Nothing but 7-bit bytes: every other byte is escaped.
    for (char byte : rtf)
        QVERIFY(static_cast<unsigned char>(byte) < 0x80);
}

void TestRtf::roundTrip_data()
{
    QTest::addColumn<QString>("document");
    QTest::addColumn<int>("codePage");
    for (const char *name :
         {"ascii formats", "chinese", "fonts sizes colours", "empty paragraphs", "tabs and lines",
          "outside gbk", "escapes", "pictures", "random 1", "random 2", "random 3", "random 4"}) {
        for (int codePage : {936, 1252})
            QTest::newRow(
                qPrintable(QStringLiteral("%1 / %2").arg(QLatin1String(name)).arg(codePage)))
                << QString::fromLatin1(name) << codePage;
    }
}

void TestRtf::roundTrip()
{
    QFETCH(QString, document);
    QFETCH(int, codePage);
    QTextDocument source;
    build(source, document);
    QVERIFY(!source.isEmpty());
    const QByteArray rtf = Rtf::write(source, codePage);
    QTextDocument copy;
    QVERIFY(readInto(copy, rtf, codePage == 936 ? 1252 : 936));
    compareDocuments(copy, source);
    // The copy writes the same bytes again.
    QCOMPARE(Rtf::write(copy, codePage), rtf);
}

void TestRtf::writeIsDeterministic()
{
    QTextDocument first;
    build(first, QStringLiteral("random 7"));
    build(first, QStringLiteral("pictures"));
    QTextDocument second;
    build(second, QStringLiteral("random 7"));
    build(second, QStringLiteral("pictures"));
    const QByteArray once = Rtf::write(first, 936);
    QCOMPARE(Rtf::write(first, 936), once);
    QCOMPARE(Rtf::write(second, 936), once);
}

void TestRtf::writeRange_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<QString>("expected");
    // Document: "ab\u4E2Dcd" ¶ "ef" ¶ "" ¶ "gh"
    QTest::newRow("inside one paragraph") << 1 << 4 << QStringLiteral("b\u4E2Dc");
    QTest::newRow("across a paragraph end") << 3 << 8 << QStringLiteral("cd\nef");
    QTest::newRow("ends on the paragraph mark") << 6 << 9 << QStringLiteral("ef\n");
    QTest::newRow("empty range") << 2 << 2 << QString();
    QTest::newRow("everything") << 0 << 100 << QStringLiteral("ab\u4E2Dcd\nef\n\ngh");
    QTest::newRow("reversed") << 5 << 1 << QString();
}

void TestRtf::writeRange()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(QString, expected);
    QTextDocument source;
    QTextCursor cursor(&source);
    appendRun(cursor, {QStringLiteral("ab"), {}, 0, QStringLiteral("b"), {}});
    appendRun(cursor, {QStringLiteral("\u4E2Dcd"), song, 0, {}, {}});
    cursor.insertText(QStringLiteral("\nef\n\ngh"));
    const QByteArray rtf = Rtf::write(source, from, to, 936);
    QTextDocument copy;
    QVERIFY(readInto(copy, rtf));
    // Keep a trailing paragraph end visible: compare raw text.
    QString text = copy.toRawText();
    text.replace(QChar::ParagraphSeparator, u'\n');
    if (expected.endsWith(u'\n')) {
        // A paragraph end at the end of a fragment is its last \par, which a
        // reader drops: the text is the same with or without it.
        QVERIFY(rtf.contains("ef}\\par"));
        expected.chop(1);
    }
    QCOMPARE(text, expected);
    if (from < to && from < 2)
        QVERIFY(lookAt(copy, 0).bold);
}

void TestRtf::documentImages()
{
    QTextDocument document;
    const QImage image = testImage(7, 5, 9);
    const QByteArray png = encodeImage(image, "PNG");
    const QByteArray bmp = encodeImage(image, "BMP");
    const QByteArray jpeg = encodeImage(image, "JPEG");
    QCOMPARE(DocumentImages::fromBytes(png)->format, QByteArray("png"));
    QCOMPARE(DocumentImages::fromBytes(bmp)->format, QByteArray("bmp"));
    QCOMPARE(DocumentImages::fromBytes(jpeg)->format, QByteArray("jpeg"));
    QCOMPARE(DocumentImages::fromBytes(bmp)->image.convertToFormat(QImage::Format_RGB32), image);
    QVERIFY(!DocumentImages::fromBytes("GIF89a"));
    QVERIFY(!DocumentImages::fromBytes(png.left(30)));
    QVERIFY(!DocumentImages::fromBytes(QByteArray()));

    const QTextImageFormat first = DocumentImages::add(&document, image, png, "png");
    const QTextImageFormat second = DocumentImages::add(&document, image, jpeg, "jpeg");
    QVERIFY(first.name() != second.name());
    QCOMPARE(first.width(), 7.0);
    QCOMPARE(first.height(), 5.0);
    QCOMPARE(DocumentImages::find(&document, first.name())->encoded, png);
    QCOMPARE(DocumentImages::find(&document, second.name())->encoded, jpeg);
    QCOMPARE(DocumentImages::find(&document, second.name())->format, QByteArray("jpeg"));
    QVERIFY(!DocumentImages::find(&document, QStringLiteral("inkwell-picture:999")));
    // A picture without its file bytes is stored as PNG.
    const QTextImageFormat third = DocumentImages::add(&document, image, {}, {});
    QCOMPARE(DocumentImages::find(&document, third.name())->format, QByteArray("png"));
    // A name taken by a picture from elsewhere is not reused.
    QTextDocument other;
    other.addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("inkwell-picture:1")),
                      image);
    QVERIFY(DocumentImages::add(&other, image, png, "png").name() !=
            QStringLiteral("inkwell-picture:1"));
}

void TestRtf::pictureBudget_data()
{
    QTest::addColumn<QList<QByteArray>>("pictures");
    QTest::addColumn<qint64>("budget");
    QTest::addColumn<int>("decoded");
    QTest::addColumn<int>("heldBack");
    using Testing::bombPictures;
    const qint64 big = DocumentImages::decodedBytes(QSize(4000, 4000));
    // 100 copies of one file: decoded once, so the budget is never reached.
    QTest::newRow("one picture 100 times")
        << bombPictures(1, 100) << DocumentImages::pictureBudget << 1 << 0;
    // 8 of 64,000,000 bytes fit into 512 MiB, the 9th does not.
    QTest::newRow("12 pictures") << bombPictures(12, 1) << DocumentImages::pictureBudget << 8 << 4;
    QTest::newRow("12 pictures twice")
        << bombPictures(12, 2) << DocumentImages::pictureBudget << 8 << 4;
    QTest::newRow("room for 2") << bombPictures(3, 1) << 2 * big << 2 << 1;
    QTest::newRow("no room") << bombPictures(3, 1) << qint64(0) << 0 << 3;
}

void TestRtf::pictureBudget()
{
    QFETCH(QList<QByteArray>, pictures);
    QFETCH(qint64, budget);
    QFETCH(int, decoded);
    QFETCH(int, heldBack);
    const QByteArray rtf = Testing::bombRtf(pictures);
    QTextDocument document;
    QTextCursor cursor(&document);
    const Rtf::ReadResult result = Rtf::read(rtf, cursor, 936, budget);
    QVERIFY(result.ok);
    QCOMPARE(result.pictures.decoded, decoded);
    QCOMPARE(result.pictures.heldBack, heldBack);
    QCOMPARE(result.pictures.bytes, decoded * DocumentImages::decodedBytes(QSize(4000, 4000)));
    QVERIFY(result.pictures.bytes <= budget);

    // Every occurrence is in the document, decoded or as a placeholder of
    // the picture's own size.
    int images = 0, placeholders = 0;
    for (const FoundPicture &found : picturesIn(document)) {
        QCOMPARE(found.format.width(), 20.0); // \picwgoal300 twips
        QVERIFY(found.picture);
        QCOMPARE(DocumentImages::pixelSize(*found.picture), QSize(4000, 4000));
        ++(found.picture->image.isNull() ? placeholders : images);
    }
    QCOMPARE(images + placeholders, pictures.size());
    QVERIFY(placeholders >= heldBack);
    QCOMPARE(placeholders > 0, heldBack > 0);

    // A save writes every picture's bytes back, placeholders included.
    const QByteArray saved = Rtf::write(document, 936);
    QCOMPARE(saved.count("{\\pict"), pictures.size());
    for (const QByteArray &png : pictures)
        QVERIFY(Testing::holdsPicture(saved, png));
    // And reads back under the same rule.
    QTextDocument again;
    QTextCursor againCursor(&again);
    const Rtf::ReadResult reread = Rtf::read(saved, againCursor, 936, budget);
    QCOMPARE(reread.pictures.decoded, decoded);
    QCOMPARE(reread.pictures.heldBack, heldBack);
}

void TestRtf::fontTableAsRead_data()
{
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<QByteArray>("written"); // in the font table of the save
    QTest::addColumn<QString>("family");     // of the first character read
    QTest::addColumn<QString>("text");

    QTest::newRow("charset, family, pitch and panose")
        << QByteArray("{\\rtf1{\\fonttbl{\\f0\\froman\\fcharset0 Times;}{\\f1\\fmodern\\fcharset128"
                      "\\fprq1{\\*\\panose 020b0609070205080204}MS Gothic;}}\\f1 x\\par}")
        << QByteArray("\\fmodern\\fcharset128\\fprq1{\\*\\panose 020b0609070205080204}MS Gothic;}")
        << QStringLiteral("MS Gothic") << QStringLiteral("x");
    QTest::newRow("alternative name in the font's code page")
        << QByteArray("{\\rtf1{\\fonttbl{\\f0\\fnil\\fcharset134\\fprq2 SimSun{\\*\\falt "
                      "\\'cb\\'ce\\'cc\\'e5};}}\\f0 x\\par}")
        << QByteArray("\\fcharset134\\fprq2 SimSun{\\*\\falt \\'cb\\'ce\\'cc\\'e5};}")
        << QStringLiteral("SimSun") << QStringLiteral("x");
    QTest::newRow("alternative name with a character of no code page")
        << QByteArray("{\\rtf1{\\fonttbl{\\f0\\fnil\\fcharset128 MS Gothic{\\*\\falt MS "
                      "\\u-3?x};}}\\f0 x\\par}")
        << QByteArray("MS Gothic{\\*\\falt MS \\u-3?x};}") << QStringLiteral("MS Gothic")
        << QStringLiteral("x");
    // Its bytes would be read in the reader's own code page: a name of a
    // font whose charset names none is written as \uN.
    QTest::newRow("symbol font named in the document's code page")
        << QByteArray("{\\rtf1\\ansi{\\fonttbl{\\f0\\fnil\\fcharset2 \\'cf\\'d6Sym;}}\\f0 x\\par}")
        << QByteArray("{\\f0\\fnil\\fcharset2 \\u207?\\u214?Sym;}")
        << QStringLiteral("\u00CF\u00D6Sym") << QStringLiteral("x");
    QTest::newRow("name in the Vietnamese code page read whole")
        << QByteArray("{\\rtf1{\\fonttbl{\\f0\\froman\\fcharset163 Arial;}}\\f0 x\\par}")
        << QByteArray("\\froman\\fcharset163 Arial;}") << QStringLiteral("Arial")
        << QStringLiteral("x");
    QTest::newRow("a name longer than any font's is cut")
        << QByteArray("{\\rtf1{\\fonttbl{\\f0\\fnil\\fcharset0 " + QByteArray(300, 'n') +
                      ";}}\\f0 x\\par}")
        << QByteArray("\\fcharset0 " + QByteArray(255, 'n') + ";}") << QString(255, u'n')
        << QStringLiteral("x");
    QTest::newRow("code page")
        << QByteArray(
               "{\\rtf1{\\fonttbl{\\f0\\fswiss\\fcharset204\\cpg1251 Arial Cyr;}}\\f0 x\\par}")
        << QByteArray("{\\f0\\fswiss\\fcharset204\\cpg1251 Arial Cyr;}")
        << QStringLiteral("Arial Cyr") << QStringLiteral("x");
    // \deff names the font of text after \plain, kept groups included.
    QTest::newRow("default font as read")
        << QByteArray("{\\rtf1\\deff1{\\fonttbl{\\f0\\fcharset0 Arial;}{\\f1\\froman\\fcharset0 "
                      "Georgia;}}{\\header \\plain head\\par}body\\par}")
        << QByteArray("\\deff0\n{\\fonttbl{\\f0\\froman\\fcharset0 Georgia;}")
        << QStringLiteral("Georgia") << QStringLiteral("body");
    // The font table for older readers, then its Unicode form.
    QTest::newRow("font table inside upr")
        << QByteArray("{\\rtf1{\\upr{\\fonttbl{\\f0\\fnil\\fcharset134 SimSun;}}{\\*\\ud{\\fonttbl"
                      "{\\f0\\fnil\\fcharset134 \\u23435?\\u20307?;}}}}\\f0 x\\par}")
        << QByteArray("{\\f0\\fnil\\fcharset134 \\'cb\\'ce\\'cc\\'e5;}")
        << QStringLiteral("\u5B8B\u4F53") << QStringLiteral("x");
    QTest::newRow("upr text stays out of the body")
        << QByteArray("{\\rtf1{\\fonttbl{\\f0\\fcharset0 Arial;}}{\\upr{old}{\\*\\ud{\\fonttbl"
                      "{\\f0\\fnil\\fcharset0 Arial;}}}}\\f0 x\\par}")
        << QByteArray("{\\f0\\fnil\\fcharset0 Arial;}") << QStringLiteral("Arial")
        << QStringLiteral("x");
}

// Each font is written back as the file had it: its charset (which other
// readers decode its bytes with), code page, family, pitch, alternative and
// panose; the default font stays the default.
void TestRtf::fontTableAsRead()
{
    QFETCH(QByteArray, rtf);
    QFETCH(QByteArray, written);
    QFETCH(QString, family);
    QTextDocument document;
    QVERIFY(readInto(document, rtf));
    QFETCH(QString, text);
    QCOMPARE(document.toPlainText(), text);
    QCOMPARE(lookAt(document, 0).family, family);
    const QByteArray first = Rtf::write(document, 936);
    QVERIFY2(first.contains(written), first.constData());
    QTextDocument again;
    QVERIFY(readInto(again, first));
    QCOMPARE(again.toPlainText(), document.toPlainText());
    QCOMPARE(Rtf::write(again, 936), first);
}

void TestRtf::pageOfTheDocument_data()
{
    QTest::addColumn<QByteArray>("rtf"); // empty: a new document holding "x"
    QTest::addColumn<bool>("whole");     // the whole document is written, not a part
    QTest::addColumn<QByteArray>("page");
    const QByteArray a4 = "\\paperw11906\\paperh16838\\margl1134\\margr1134\\margt1134\\margb1134";
    QTest::newRow("new document: A4, 20 mm margins") << QByteArray() << true << a4;
    // Other readers lay such a file out on their own default page: its copy
    // too, so that it looks as the file did.
    QTest::newRow("a file without a page of its own")
        << QByteArray("{\\rtf1 x\\par}") << true << QByteArray();
    QTest::newRow("a file without a page, with other document words")
        << QByteArray("{\\rtf1\\deftab720\\facingp x\\par}") << true << QByteArray();
    QTest::newRow("a new document, saved and read back")
        << QByteArray("{\\rtf1\\paperw11906\\paperh16838\\margl1134\\margr1134\\margt1134"
                      "\\margb1134 x\\par}")
        << true << a4;
    QTest::newRow("a file's own page")
        << QByteArray("{\\rtf1\\paperw12240\\paperh15840\\margl1800 x\\par}") << true
        << QByteArray("\\paperw12240\\paperh15840\\margl1800");
    QTest::newRow("a part of a document has no page") << QByteArray() << false << QByteArray();
}

// Other readers lay a document without a paper size out as US Letter: the
// writer states the page Inkwell prints on for a new document, and for a file
// read what the file stated.
void TestRtf::pageOfTheDocument()
{
    QFETCH(QByteArray, rtf);
    QFETCH(bool, whole);
    QFETCH(QByteArray, page);
    QTextDocument document;
    if (rtf.isEmpty())
        QTextCursor(&document).insertText(QStringLiteral("xyz"));
    else
        QVERIFY(readInto(document, rtf));
    const QByteArray written = whole ? Rtf::write(document, 936) : Rtf::write(document, 1, 2, 936);
    QCOMPARE(written.count("\\paperw"), page.isEmpty() ? 0 : 1);
    if (!page.isEmpty())
        QVERIFY2(written.contains(page), written.constData());
    QTextDocument again;
    QVERIFY(readInto(again, written));
    if (whole)
        QCOMPARE(Rtf::write(again, 936), written);
}

QTEST_MAIN(TestRtf)
#include "tst_rtf.moc"
