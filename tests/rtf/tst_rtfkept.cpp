// What the editor keeps without showing it: read, written back in its place,
// renumbered into the written font and colour tables; pictures it cannot
// draw; text without a colour of its own.
#include "rtftesthelpers.h"

#include "core/documentimages.h"
#include "rtf/rtfkept.h"
#include "rtf/rtfreader.h"
#include "rtf/rtfwriter.h"
#include "rtf/showntextboxes.h"

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextImageFormat>

using namespace Inkwell;
using namespace Inkwell::RtfTest;

namespace {

// The number the written font table gives `family`, or -1.
int writtenFont(const QByteArray &rtf, const QString &family)
{
    const QRegularExpression entry(
        QStringLiteral("\\{\\\\f(\\d+)\\\\fnil\\\\fcharset\\d+ ([^;]*);\\}"));
    for (auto it = entry.globalMatch(QString::fromLatin1(rtf)); it.hasNext();) {
        const auto match = it.next();
        if (match.captured(2) == family)
            return match.captured(1).toInt();
    }
    return -1;
}

// The number the written colour table gives `rgb`, or -1.
int writtenColor(const QByteArray &rtf, QRgb rgb)
{
    const qsizetype start = rtf.indexOf("{\\colortbl ;");
    const qsizetype end = rtf.indexOf('}', start);
    const QList<QByteArray> entries = rtf.mid(start + 12, end - start - 12).split(';');
    const QByteArray wanted = "\\red" + QByteArray::number(qRed(rgb)) + "\\green" +
                              QByteArray::number(qGreen(rgb)) + "\\blue" +
                              QByteArray::number(qBlue(rgb));
    for (qsizetype i = 0; i < entries.size(); ++i)
        if (entries[i] == wanted)
            return int(i + 1);
    return -1;
}

// `pattern` with %F<n> and %C<n> replaced by the written numbers of the
// source file's font n and colour n.
QByteArray expand(QByteArray pattern, const QByteArray &rtf)
{
    pattern.replace("%F0", QByteArray::number(writtenFont(rtf, QStringLiteral("Arial"))));
    pattern.replace("%F1", QByteArray::number(writtenFont(rtf, QStringLiteral("Courier New"))));
    pattern.replace("%C1", QByteArray::number(writtenColor(rtf, qRgb(255, 0, 0))));
    pattern.replace("%C2", QByteArray::number(writtenColor(rtf, qRgb(0, 128, 0))));
    return pattern;
}

// A kept group whose binary data holds braces and what looks like a font
// word: copied as it is, not renumbered.
QByteArray withBinary()
{
    QByteArray data("{\\*\\inkwellblob \\bin8 ");
    data.append("\\f1}{\\\x00\xff", 8);
    data.append("}");
    return data;
}

} // namespace

class TestRtfKept : public QObject {
    Q_OBJECT

private slots:
    void textBoxesOfShapes_data();
    void textBoxesOfShapes();
    void textBoxShownAndWrittenOnce();
    void keptInPlace_data();
    void keptInPlace();
    void typingKeepsAll();
    void textBeforeTheWord_data();
    void textBeforeTheWord();
    void deletingRemoves_data();
    void deletingRemoves();
    void documentGroupsBelongToTheirDocument_data();
    void documentGroupsBelongToTheirDocument();
    void keptBytesAreCapped();
    void copyKeepsAll();
    void metafiles_data();
    void metafiles();
    void shapePictureReadOnce();
    void metafileOverBudget();
    void automaticColour_data();
    void automaticColour();
    void runsOverrideKeptStyles_data();
    void runsOverrideKeptStyles();
    void paragraphStyles_data();
    void paragraphStyles();
    void contextualSpacing_data();
    void contextualSpacing();
    void emptyParagraphBeforeTable_data();
    void emptyParagraphBeforeTable();
    void libreOffice();
    void libreOfficeFootnotesAndLinks();
};

// Each kind of kept group: read, written, read and written again. It is in
// the output once, with the source's font and colour numbers turned into the
// written ones, and held by the document or by the character it belongs to.
void TestRtfKept::keptInPlace_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("kept"); // as written, %F/%C: written numbers
    QTest::addColumn<int>("held");        // the character holding it, -1: the document
    QTest::addColumn<int>("property");
    QTest::addColumn<QString>("shown"); // the document's text

    using namespace Rtf::Kept;
    const QByteArray header = "{\\header \\pard\\plain \\f1\\cf2 Hospital\\par}";
    QTest::newRow("header, fonts and colours renumbered")
        << header + "\\pard Body text\\par}"
        << QByteArray("{\\header \\pard\\plain \\f%F1\\cf%C2 Hospital\\par}") << -1 << 0
        << QStringLiteral("Body text");
    QTest::newRow("footer") << QByteArray(
                                   "{\\footer \\pard\\qc\\f0 Signature\\par}\\pard Body\\par}")
                            << QByteArray("{\\footer \\pard\\qc\\f%F0 Signature\\par}") << -1 << 0
                            << QStringLiteral("Body");
    QTest::newRow("first-page header with its section words")
        << QByteArray("\\paperw11906\\paperh16838\\margl1800\\titlepg{\\headerf \\pard First\\par}"
                      "\\pard Body\\par}")
        << QByteArray("\\paperw11906\\paperh16838\\margl1800\\titlepg{\\headerf \\pard First\\par}")
        << -1 << 0 << QStringLiteral("Body");
    QTest::newRow("footnote placement and numbering words")
        << QByteArray("\\deftab1298 \\ftnbj\\ftnrstpg\\aftnnrlc \\fet2\\pard Body\\par}")
        << QByteArray("\\deftab1298\\ftnbj\\ftnrstpg\\aftnnrlc\\fet2") << -1 << 0
        << QStringLiteral("Body");
    QTest::newRow("left and right headers with facing pages")
        << QByteArray(
               "\\facingp{\\headerl \\pard L\\par}{\\headerr \\pard R\\par}\\pard Body\\par}")
        << QByteArray("\\facingp{\\headerl \\pard L\\par}{\\headerr \\pard R\\par}") << -1 << 0
        << QStringLiteral("Body");
    QTest::newRow("document information")
        << QByteArray("{\\info{\\title Notes}{\\author Li}{\\creatim\\yr2024\\mo1\\dy2}}"
                      "\\pard Body\\par}")
        << QByteArray("{\\info{\\title Notes}{\\author Li}{\\creatim\\yr2024\\mo1\\dy2}}") << -1
        << 0 << QStringLiteral("Body");
    QTest::newRow("style sheet")
        << QByteArray("{\\stylesheet{\\s0\\f1\\fs20 Normal;}{\\s1\\f0\\cf1 Heading;}}"
                      "\\pard Body\\par}")
        << QByteArray("{\\stylesheet{\\s0\\f%F1\\fs20 Normal;}{\\s1\\f%F0\\cf%C1 Heading;}}") << -1
        << 0 << QStringLiteral("Body");
    // Other readers choose fonts for text without a language of its own, and
    // break its lines, by the document's languages.
    QTest::newRow("document languages")
        << QByteArray("\\deflang1033\\deflangfe2052\\pard Body\\par}")
        << QByteArray("\\deflang1033\\deflangfe2052") << -1 << 0 << QStringLiteral("Body");
    QTest::newRow("generator") << QByteArray("{\\*\\generator Writer 7;}\\pard Body\\par}")
                               << QByteArray("{\\*\\generator Writer 7;}") << -1 << 0
                               << QStringLiteral("Body");
    QTest::newRow("unknown destination before the text")
        << QByteArray("{\\*\\inkwelldoc keep me}\\pard Body\\par}")
        << QByteArray("{\\*\\inkwelldoc keep me}") << -1 << 0 << QStringLiteral("Body");
    QTest::newRow("footnote after its mark")
        << QByteArray("\\pard Word{\\super\\chftn}{\\footnote \\pard{\\super\\chftn} Source\\par}"
                      " after\\par}")
        << QByteArray("\\super\\chftn}{\\footnote \\pard{\\super\\chftn} Source\\par}") << 4
        << keptAfterProperty << QStringLiteral("Word1 after");
    QTest::newRow("footnote inside its mark's group")
        << QByteArray("\\pard Word{\\super\\chftn{\\footnote \\pard\\f1 Note\\par}} after\\par}")
        << QByteArray("\\super\\chftn}{\\footnote \\pard\\f%F1 Note\\par}") << 4
        << keptAfterProperty << QStringLiteral("Word1 after");
    QTest::newRow("bookmark start")
        << QByteArray("\\pard One {\\*\\bkmkstart mark}two{\\*\\bkmkend mark} three\\par}")
        << QByteArray("{\\*\\bkmkstart mark}") << 4 << keptBeforeProperty
        << QStringLiteral("One two three");
    QTest::newRow("bookmark end")
        << QByteArray("\\pard One {\\*\\bkmkstart mark}two{\\*\\bkmkend mark} three\\par}")
        << QByteArray("{\\*\\bkmkend mark}") << 7 << keptBeforeProperty
        << QStringLiteral("One two three");
    QTest::newRow("unknown destination in the text")
        << QByteArray("\\pard One {\\*\\inkwellnote \\f1 x}two\\par}")
        << QByteArray("{\\*\\inkwellnote \\f%F1 x}") << 4 << keptBeforeProperty
        << QStringLiteral("One two");
    QTest::newRow("kept group with binary data")
        << "\\pard One " + withBinary() + "two\\par}" << withBinary() << 4 << keptBeforeProperty
        << QStringLiteral("One two");
    QTest::newRow("group after the last character")
        << QByteArray("\\pard One two{\\*\\bkmkend end}\\par}") << QByteArray("{\\*\\bkmkend end}")
        << 6 << keptAfterProperty << QStringLiteral("One two");
    QTest::newRow("field around its result")
        << QByteArray("\\pard See {\\field{\\*\\fldinst HYPERLINK \"http://a.cn/\"}{\\fldrslt "
                      "{\\cf1 the site}}} now\\par}")
        << QByteArray("{\\field{\\*\\fldinst HYPERLINK \"http://a.cn/\"}{\\fldrslt {\\f%F0\\fs24"
                      "\\cf%C1 the site}}}")
        << 4 << keptFieldProperty << QStringLiteral("See the site now");
    // A reader that works the number out itself shows it in the formatting
    // the field stands in.
    QTest::newRow("field in its result's formatting")
        << QByteArray("\\pard Figure {\\field{\\*\\fldinst SEQ Figure}{\\fldrslt {\\b\\fs18\\cf1 "
                      "1}}}\\par}")
        << QByteArray("{\\f%F0\\fs18\\b\\cf%C1{\\field{\\*\\fldinst SEQ Figure}{\\fldrslt "
                      "{\\f%F0\\fs18\\b\\cf%C1 1}}}}")
        << 7 << keptFieldProperty << QStringLiteral("Figure 1");
    QTest::newRow("field around a result in a paragraph's first run")
        << QByteArray("\\pard{\\field{\\*\\fldinst PAGE}{\\fldrslt 3}} now\\par}")
        << QByteArray("{\\field{\\*\\fldinst PAGE}{\\fldrslt {\\f%F0\\fs24 3}}}") << 0
        << keptFieldProperty << QStringLiteral("3 now");
    QTest::newRow("field over two paragraphs: one for each")
        << QByteArray("\\pard{\\field{\\*\\fldinst TOC}{\\fldrslt one\\par two}}\\par}")
        << QByteArray("{\\field{\\*\\fldinst TOC}{\\fldrslt {\\f%F0\\fs24 two}}}") << 0
        << keptFieldProperty << QStringLiteral("one\ntwo");
    QTest::newRow("bookmark before a field, outside it")
        << QByteArray("\\pard a{\\*\\bkmkstart m}{\\field{\\*\\fldinst PAGE}{\\fldrslt 3}}\\par}")
        << QByteArray("{\\*\\bkmkstart m}{\\f0\\fs24{\\field{\\*\\fldinst PAGE}{\\fldrslt {") << 1
        << keptBeforeProperty << QStringLiteral("a3");
    QTest::newRow("field without a result")
        << QByteArray("\\pard A{\\field{\\*\\fldinst DATE}{\\fldrslt }}B\\par}")
        << QByteArray("{\\field{\\*\\fldinst DATE}{\\fldrslt }}") << 1 << keptBeforeProperty
        << QStringLiteral("AB");
}

void TestRtfKept::keptInPlace()
{
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, kept);
    QFETCH(int, held);
    QFETCH(int, property);
    QFETCH(QString, shown);

    QTextDocument document;
    QVERIFY(readInto(document, head + body, 1252));
    QCOMPARE(document.toPlainText(), shown);
    const QByteArray first = written(document);

    // Read the written copy again: the same bytes come out.
    QTextDocument again;
    QVERIFY(readInto(again, first, 1252));
    QCOMPARE(again.toPlainText(), shown);
    QCOMPARE(written(again), first);

    const QByteArray expected = expand(kept, first);
    QVERIFY2(!expected.contains("-1"), expected.constData());
    QVERIFY2(first.count(expected) == 1, first.constData());
    if (held < 0) {
        QVERIFY2(first.indexOf(expected) < first.indexOf("\\viewkind4"), first.constData());
        return;
    }
    // The character holding it, and not its neighbours.
    auto value = [&again, property](int position) {
        if (position < 0 || position >= again.characterCount() - 1)
            return QByteArray();
        QTextCursor cursor(&again);
        cursor.setPosition(position + 1);
        return cursor.charFormat().property(property).toByteArray();
    };
    QVERIFY(!value(held).isEmpty());
    QCOMPARE(value(held - 1), QByteArray());
    if (property != keptFieldProperty)
        QCOMPARE(value(held + 1), QByteArray());
}

// What a group held besides what is kept was read into the document: a
// group with text before its destination word is not kept whole, and a
// field without a result keeps only its instruction (else that text or
// paragraph end would come back twice).
void TestRtfKept::textBeforeTheWord_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("shown");
    QTest::newRow("footnote word after text")
        << QByteArray("\\pard a{\\b bold\\footnote note} z\\par}") << QStringLiteral("abold z");
    // "\*" marks a destination only at the start of a group; after text it
    // is ignored and the group's text stays.
    QTest::newRow("star after text")
        << QByteArray("\\pard a{X*\\*\\inkwellzz y} z\\par}") << QStringLiteral("aX*y z");
    QTest::newRow("star after a space")
        << QByteArray("\\pard a{ \\*\\inkwellzz y}z\\par}") << QStringLiteral("a yz");
    QTest::newRow("shape word after text")
        << QByteArray("\\pard a{X*\\shp\\bin2 {}} z\\par}") << QStringLiteral("aX* z");
    QTest::newRow("field without a result, holding a paragraph end")
        << QByteArray("\\pard a{\\field{\\*\\fldinst DATE}\\par}\\par b\\par}")
        << QStringLiteral("a\n\nb");
    QTest::newRow("field word after text")
        << QByteArray("\\pard a{t\\field{\\*\\fldinst X}{\\fldrslt }} z\\par}")
        << QStringLiteral("at z");
}

void TestRtfKept::textBeforeTheWord()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, shown);
    QTextDocument document;
    QVERIFY(readInto(document, head + body, 1252));
    QCOMPARE(document.toPlainText(), shown);
    QTextDocument again;
    QVERIFY(readInto(again, written(document), 1252));
    QCOMPARE(again.toPlainText(), shown);
}

// A word typed in the middle keeps every group, each once.
void TestRtfKept::typingKeepsAll()
{
    const QByteArray body = "{\\header \\pard Head\\par}{\\footer \\pard Foot\\par}"
                            "\\pard Alpha{\\super\\chftn}{\\footnote \\pard Note\\par} beta "
                            "{\\*\\bkmkstart b}gamma{\\*\\bkmkend b} {\\field{\\*\\fldinst "
                            "HYPERLINK \"x\"}{\\fldrslt link}} delta\\par\\pard epsilon\\par}";
    const QList<QByteArray> groups = {"{\\header \\pard Head\\par}",
                                      "{\\footer \\pard Foot\\par}",
                                      "{\\footnote \\pard Note\\par}",
                                      "{\\*\\bkmkstart b}",
                                      "{\\*\\bkmkend b}",
                                      "{\\*\\fldinst HYPERLINK \"x\"}"};
    QTextDocument document;
    QVERIFY(readInto(document, head + body, 1252));
    // Typing goes through a cursor with the caret's format, as in the editor,
    // right after each character that holds a group, and in the middle.
    for (const QString &anchor : {QStringLiteral("Alpha1"), QStringLiteral("gamma"),
                                  QStringLiteral("link"), QStringLiteral("beta")}) {
        QTextCursor cursor = document.find(anchor);
        QVERIFY2(!cursor.isNull(), qPrintable(anchor));
        cursor.clearSelection();
        cursor.insertText(QStringLiteral("Z"));
    }
    QTextCursor middle(&document);
    middle.setPosition(document.toPlainText().indexOf(QStringLiteral("epsilon")));
    middle.insertText(QStringLiteral("typed "));
    // And in another format, which splits the run holding the group.
    for (const QString &anchor :
         {QStringLiteral("Alpha1Z"), QStringLiteral("gammaZ"), QStringLiteral("linkZ")}) {
        QTextCursor cursor = document.find(anchor);
        QVERIFY2(!cursor.isNull(), qPrintable(anchor));
        cursor.clearSelection();
        QTextCharFormat bold = cursor.charFormat();
        bold.setFontWeight(QFont::Bold);
        cursor.insertText(QStringLiteral("B"), bold);
        cursor.insertText(QStringLiteral("p"));
    }
    const QByteArray out = written(document);
    for (const QByteArray &group : groups)
        QVERIFY2(out.count(group) == 1, group.constData());
    QCOMPARE(out.count("\\chftn"), 1);
    QVERIFY(out.contains("typed"));
    QTextDocument again;
    QVERIFY(readInto(again, out, 1252));
    QCOMPARE(again.toPlainText(), document.toPlainText());
}

// What the user deleted goes, with what it held.
void TestRtfKept::deletingRemoves_data()
{
    QTest::addColumn<QString>("deleted");
    QTest::addColumn<QByteArray>("gone");
    QTest::addColumn<QByteArray>("stays");
    QTest::newRow("the footnote's mark")
        << QStringLiteral("1") << QByteArray("\\footnote") << QByteArray("{\\*\\bkmkstart b}");
    QTest::newRow("the bookmarked word") << QStringLiteral("gamma") << QByteArray("bkmkstart")
                                         << QByteArray("{\\footnote \\pard Note\\par}");
    QTest::newRow("the field's result") << QStringLiteral("link") << QByteArray("fldinst")
                                        << QByteArray("{\\footnote \\pard Note\\par}");
}

void TestRtfKept::deletingRemoves()
{
    QFETCH(QString, deleted);
    QFETCH(QByteArray, gone);
    QFETCH(QByteArray, stays);
    const QByteArray body = "\\pard Alpha{\\super\\chftn}{\\footnote \\pard Note\\par} beta "
                            "{\\*\\bkmkstart b}gamma {\\field{\\*\\fldinst HYPERLINK \"x\"}"
                            "{\\fldrslt link}} delta\\par}";
    QTextDocument document;
    QVERIFY(readInto(document, head + body, 1252));
    QTextCursor cursor = document.find(deleted);
    QVERIFY(!cursor.isNull());
    cursor.removeSelectedText();
    const QByteArray out = written(document);
    QVERIFY2(!out.contains(gone), out.constData());
    QVERIFY2(out.contains(stays), out.constData());
}

// The headers of a file opened before do not come back in the next one, nor
// in a file another document is read into.
void TestRtfKept::documentGroupsBelongToTheirDocument_data()
{
    QTest::addColumn<int>("then");
    QTest::addColumn<bool>("kept");
    QTest::newRow("saved again") << 0 << true;
    QTest::newRow("text replaced by a plain file") << 1 << false;
    QTest::newRow("document cleared") << 2 << false;
    QTest::newRow("another RTF opened") << 3 << false;
    QTest::newRow("read into a document with text") << 4 << false;
}

void TestRtfKept::documentGroupsBelongToTheirDocument()
{
    QFETCH(int, then);
    QFETCH(bool, kept);
    const QByteArray withHeader = head + "{\\header \\pard Old head\\par}\\pard Body\\par}";
    QTextDocument document;
    if (then == 4) {
        document.setPlainText(QStringLiteral("Mine"));
        QTextCursor cursor(&document);
        cursor.movePosition(QTextCursor::End);
        QVERIFY(Rtf::read(withHeader, cursor, 1252).ok);
    } else {
        QVERIFY(readInto(document, withHeader, 1252));
    }
    if (then == 1)
        document.setPlainText(QStringLiteral("plain"));
    else if (then == 2)
        document.clear();
    else if (then == 3) {
        QTextCursor cursor(&document);
        cursor.select(QTextCursor::Document);
        QVERIFY(Rtf::read(head + "\\pard New\\par}", cursor, 1252).ok);
    }
    QCOMPARE(written(document).contains("Old head"), kept);
}

// A copy of the document made the way a draft is (formats, pictures found by
// name and added again, the document's groups as values) is saved the same.
void TestRtfKept::copyKeepsAll()
{
    const QByteArray rtf = head + "{\\header \\pard\\f1 Head\\par}\\pard A{\\*\\bkmkstart b}B"
                                  "{\\pict\\wmetafile8\\picw2540\\pich2540 0102030405}"
                                  "{\\field{\\*\\fldinst PAGE}{\\fldrslt 3}}\\par C\\par}";
    QTextDocument document;
    QVERIFY(readInto(document, rtf, 1252));
    QTextDocument copy;
    Rtf::Kept::setDocumentGroups(copy, Rtf::Kept::documentGroups(document));
    QTextCursor cursor(&copy);
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (block != document.begin())
            cursor.insertBlock();
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            QTextCharFormat format = it.fragment().charFormat();
            if (format.isImageFormat()) {
                QTextImageFormat image = format.toImageFormat();
                const auto picture = DocumentImages::find(&document, image.name());
                QVERIFY(picture);
                image.setName(DocumentImages::add(&copy, *picture).name());
                cursor.insertImage(image);
            } else {
                cursor.insertText(it.fragment().text(), format);
            }
        }
    }
    const QByteArray out = written(document);
    QVERIFY(out.contains("{\\header"));
    QVERIFY(out.contains("\\wmetafile8"));
    QCOMPARE(written(copy), out);
}

// Past the cap, kept groups are dropped and the read says so.
void TestRtfKept::keptBytesAreCapped()
{
    const qsizetype big = Rtf::Kept::maxBytes / 2 + 1024;
    QByteArray rtf = head;
    for (int i = 0; i < 3; ++i) {
        rtf += "{\\header \\bin" + QByteArray::number(big) + " ";
        rtf += QByteArray(big, 'h');
        rtf += "}";
    }
    rtf += "\\pard Body\\par}";
    QTextDocument document;
    QTextCursor cursor(&document);
    const Rtf::ReadResult result = Rtf::read(rtf, cursor, 1252);
    QVERIFY(result.ok);
    QCOMPARE(document.toPlainText(), QStringLiteral("Body"));
    QVERIFY(result.keptDropped >= 2 * big);
    const QByteArray preamble = document.property(Rtf::Kept::preambleProperty).toByteArray();
    QVERIFY(preamble.size() <= Rtf::Kept::maxBytes);
    QCOMPARE(preamble.count("{\\header"), 1);
}

// Pictures the editor cannot draw: shown as a placeholder of their size,
// written back with their own bytes and words.
void TestRtfKept::metafiles_data()
{
    QTest::addColumn<QByteArray>("words"); // the words before the data
    QTest::addColumn<bool>("binary");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QSize>("shown");
    QTest::addColumn<QByteArray>("writtenWords");

    QTest::newRow("wmf")
        << QByteArray("\\wmetafile8\\picw2540\\pich1270\\picwgoal1440\\pichgoal720") << false
        << QByteArray("wmf") << QSize(96, 48)
        << QByteArray("{\\pict\\wmetafile8\\picw2540\\pich1270\\picwgoal1440\\pichgoal720\n");
    QTest::newRow("wmf without goal: its own size in hundredths of a millimetre")
        << QByteArray("\\wmetafile8\\picw2540\\pich5080") << false << QByteArray("wmf")
        << QSize(96, 192) << QByteArray("{\\pict\\wmetafile8\\picw2540\\pich5080\n");
    QTest::newRow("emf, scaled")
        << QByteArray("\\emfblip\\picw100\\pich100\\picwgoal1500\\pichgoal1500\\picscalex50"
                      "\\picscaley200")
        << false << QByteArray("emf") << QSize(50, 200)
        << QByteArray("{\\pict\\emfblip\\picw100\\pich100\\picwgoal1500\\pichgoal1500"
                      "\\picscalex50\\picscaley200\n");
    QTest::newRow("pict, binary data")
        << QByteArray("\\macpict\\picw40\\pich30") << true << QByteArray("pict") << QSize(40, 30)
        << QByteArray("{\\pict\\macpict\\picw40\\pich30\n");
    QTest::newRow("os/2 metafile")
        << QByteArray("\\pmmetafile0\\picw10\\pich10\\picwgoal300\\pichgoal150") << false
        << QByteArray("pmm") << QSize(20, 10)
        << QByteArray("{\\pict\\pmmetafile0\\picw10\\pich10\\picwgoal300\\pichgoal150\n");
    QTest::newRow("a kind not known")
        << QByteArray("\\picw64\\pich32") << false << QByteArray("unknown") << QSize(64, 32)
        << QByteArray("{\\pict\\picw64\\pich32\n");
}

void TestRtfKept::metafiles()
{
    QFETCH(QByteArray, words);
    QFETCH(bool, binary);
    QFETCH(QByteArray, format);
    QFETCH(QSize, shown);
    QFETCH(QByteArray, writtenWords);

    QByteArray data;
    for (int i = 0; i < 300; ++i)
        data.append(char((i * 37 + 11) & 0xFF));
    data.append("}{\\", 3);
    QByteArray pict = "{\\pict" + words;
    if (binary)
        pict += "\\bin" + QByteArray::number(data.size()) + " " + data;
    else
        pict += " " + data.toHex();
    pict += "}";
    QTextDocument document;
    QVERIFY(readInto(document, head + "\\pard A" + pict + "B\\par}", 1252));
    QCOMPARE(document.toPlainText(), QStringLiteral("A\uFFFCB"));
    QTextCursor cursor(&document);
    cursor.setPosition(2);
    const QTextImageFormat image = cursor.charFormat().toImageFormat();
    QVERIFY(image.isValid());
    QCOMPARE(QSize(int(image.width()), int(image.height())), shown);
    const auto picture = DocumentImages::find(&document, image.name());
    QVERIFY(picture);
    QCOMPARE(picture->format, format);
    QCOMPARE(picture->encoded, data);
    // A placeholder of the shown size with a frame.
    QCOMPARE(picture->image.size(), shown);
    QCOMPARE(picture->image.pixelColor(0, 0), QColor(0xb0, 0xb0, 0xb0));
    QVERIFY(picture->image.pixelColor(shown.width() / 2 - 1, 1) != QColor(0xb0, 0xb0, 0xb0));

    const QByteArray out = written(document);
    QVERIFY2(out.contains(writtenWords), out.constData());
    QVERIFY(!out.contains("\\pngblip"));
    // The same bytes read back from the written copy, written the same again.
    QTextDocument again;
    QVERIFY(readInto(again, out, 1252));
    QTextCursor second(&again);
    second.setPosition(2);
    const auto back = DocumentImages::find(&again, second.charFormat().toImageFormat().name());
    QVERIFY(back);
    QCOMPARE(back->encoded, data);
    QCOMPARE(back->format, format);
    QCOMPARE(written(again), out);
}

// Word writes a picture twice: as a shape picture and as the older form for
// readers without shapes. The shape's is read; the other one is not added.
void TestRtfKept::shapePictureReadOnce()
{
    const QByteArray png = encodeImage(testImage(4, 3, 1), "PNG");
    const QByteArray rtf = head + "\\pard A{\\*\\shppict{\\pict\\pngblip\\picw4\\pich3 " +
                           png.toHex() +
                           "}}{\\nonshppict{\\pict\\wmetafile8\\picw10\\pich10 "
                           "0102030405}}B\\par}";
    QTextDocument document;
    QVERIFY(readInto(document, rtf, 1252));
    QCOMPARE(document.toPlainText(), QStringLiteral("A\uFFFCB"));
    const QByteArray out = written(document);
    QCOMPARE(out.count("{\\pict"), 1);
    QVERIFY(out.contains("\\pngblip"));
    QVERIFY(!out.contains("\\wmetafile"));
}

// Past the picture budget a metafile is not drawn, but still saved.
void TestRtfKept::metafileOverBudget()
{
    const QByteArray rtf = head + "\\pard{\\pict\\wmetafile8\\picw10\\pich10\\picwgoal1500"
                                  "\\pichgoal1500 0a0b0c0d}\\par}";
    QTextDocument document;
    QTextCursor cursor(&document);
    const Rtf::ReadResult result = Rtf::read(rtf, cursor, 1252, 1000);
    QVERIFY(result.ok);
    QCOMPARE(result.pictures.heldBack, 1);
    QCOMPARE(result.pictures.decoded, 0);
    cursor.setPosition(1);
    const auto picture =
        DocumentImages::find(&document, cursor.charFormat().toImageFormat().name());
    QVERIFY(picture);
    QVERIFY(picture->image.isNull());
    QVERIFY(written(document).contains("\\wmetafile8\\picw10\\pich10\\picwgoal1500\\pichgoal1500\n"
                                       "0a0b0c0d}"));
}

// Text without a colour of its own has none after a read (the skin's text
// colour applies), and the writer gives it none.
void TestRtfKept::automaticColour_data()
{
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<QColor>("colour"); // of "x"; invalid: automatic

    const QByteArray fonts = "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}";
    QTest::newRow("\\cf0, entry 0 automatic")
        << fonts + "{\\colortbl ;\\red255\\green0\\blue0;}\\pard\\cf0 x\\par}" << QColor();
    QTest::newRow("no \\cf, Word's table")
        << fonts + "{\\colortbl;\\red0\\green0\\blue0;}\\pard x\\par}" << QColor();
    QTest::newRow("\\cf0 after a colour, LibreOffice's runs")
        << fonts + "{\\colortbl;\\red0\\green0\\blue0;\\red255\\green0\\blue0;}\\pard{\\cf2 r}"
                   "{\\cf0 x}\\par}"
        << QColor();
    QTest::newRow("\\cf0 naming an entry 0 given as black")
        << fonts + "{\\colortbl\\red0\\green0\\blue0;\\red255\\green0\\blue0;}\\pard\\cf0 x\\par}"
        << QColor();
    QTest::newRow("\\cf naming a missing entry")
        << fonts + "{\\colortbl;\\red0\\green0\\blue0;}\\pard\\cf7 x\\par}" << QColor();
    QTest::newRow("\\plain ends a colour")
        << fonts + "{\\colortbl;\\red255\\green0\\blue0;}\\pard\\cf1 r\\plain x\\par}" << QColor();
    QTest::newRow("explicit black stays black")
        << fonts + "{\\colortbl;\\red0\\green0\\blue0;}\\pard\\cf1 x\\par}" << QColor(Qt::black);
}

void TestRtfKept::automaticColour()
{
    QFETCH(QByteArray, rtf);
    QFETCH(QColor, colour);
    QTextDocument document;
    QVERIFY(readInto(document, rtf, 1252));
    const int at = int(document.toPlainText().indexOf(u'x'));
    QVERIFY(at >= 0);
    auto colourOf = [](const QTextDocument &doc, int position) {
        QTextCursor cursor(const_cast<QTextDocument *>(&doc));
        cursor.setPosition(position + 1);
        const QTextCharFormat format = cursor.charFormat();
        return format.hasProperty(QTextFormat::ForegroundBrush) ? format.foreground().color()
                                                                : QColor();
    };
    QCOMPARE(colourOf(document, at), colour);
    const QByteArray out = written(document);
    // The run holding "x" states a colour only when it has one.
    const qsizetype x = out.lastIndexOf(" x}");
    const qsizetype run = out.lastIndexOf('{', x);
    QVERIFY(x > 0 && run >= 0);
    QCOMPARE(out.mid(run, x - run).contains("\\cf"), colour.isValid());
    QTextDocument again;
    QVERIFY(readInto(again, out, 1252));
    QCOMPARE(colourOf(again, at), colour);
}

// LibreOffice sees the headers, footers and pictures of the saved copy that
// it saw in the original.
void TestRtfKept::libreOffice()
{
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty())
        QSKIP("soffice (LibreOffice) is not installed: the outside-reader check is skipped");
    const QString corpus = sharedDir() + QStringLiteral("/corpus/rtf-rich");
    const QString script = corpus + QStringLiteral("/structure.sh");
    if (sharedDir().isEmpty() || !QFile::exists(script))
        QSKIP("the rich RTF corpus is not here");
    const QStringList names = {QStringLiteral("rtfpipe-rtf2xml-headers_footers"),
                               QStringLiteral("handmade-zh-letter"),
                               QStringLiteral("handmade-zh-notice"),
                               QStringLiteral("rtfpipe-PictureObjectEmbed2"),
                               QStringLiteral("tika-testRTF_npeFromWMFInTikaServer"),
                               QStringLiteral("tika-testRTFVarious"),
                               QStringLiteral("tika-testRTFEmbeddedLink"),
                               QStringLiteral("rtfparser-rs-file-sample_100kB")};
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QStringList saved;
    for (const QString &name : names) {
        QFile in(corpus + QLatin1Char('/') + name + QStringLiteral(".rtf"));
        QVERIFY2(in.open(QIODevice::ReadOnly), qPrintable(name));
        QTextDocument document;
        QVERIFY(readInto(document, in.readAll(), 936));
        QFile out(dir.filePath(name + QStringLiteral(".rtf")));
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(Rtf::write(document, 936));
        saved << out.fileName();
    }
    // One LibreOffice run for all the saved copies.
    QProcess process;
    process.start(QStringLiteral("bash"), QStringList{script} + saved);
    QVERIFY(process.waitForFinished(300000));
    const QString output = QString::fromUtf8(process.readAllStandardOutput());
    const QStringList blocks = output.split(QStringLiteral("# "), Qt::SkipEmptyParts);
    QCOMPARE(blocks.size(), names.size());
    auto counts = [](const QString &text) {
        QHash<QString, int> out;
        for (const QString &line : text.split(u'\n')) {
            const QStringList parts = line.split(u' ');
            if (parts.size() == 2)
                out.insert(parts[0], parts[1].toInt());
        }
        return out;
    };
    for (qsizetype i = 0; i < names.size(); ++i) {
        QFile expectedFile(corpus + QLatin1Char('/') + names[i] +
                           QStringLiteral(".expected-structure.txt"));
        QVERIFY(expectedFile.open(QIODevice::ReadOnly));
        const auto expected = counts(QString::fromUtf8(expectedFile.readAll()));
        QVERIFY2(!blocks[i].contains(QStringLiteral("not loaded")), qPrintable(names[i]));
        const auto got = counts(blocks[i]);
        for (const QString &key :
             {QStringLiteral("header"), QStringLiteral("footer"), QStringLiteral("picture")}) {
            const QString what = names[i] + QLatin1Char(' ') + key + QStringLiteral(": ") +
                                 QString::number(got.value(key)) + QStringLiteral(" < ") +
                                 QString::number(expected.value(key));
            QVERIFY2(got.value(key) >= expected.value(key), qPrintable(what));
        }
    }
}

void TestRtfKept::runsOverrideKeptStyles_data()
{
    QTest::addColumn<QByteArray>("stylesheet");
    QTest::addColumn<QByteArrayList>("written"); // each in the save
    QTest::addColumn<QByteArrayList>("notWritten");
    const QByteArray upright = "{\\f0\\fs24 a}";
    QTest::newRow("italic and bold style")
        << QByteArray("{\\stylesheet{\\s0\\i\\b Normal;}}")
        << QByteArrayList{"{\\f0\\fs24\\b0\\i0 a}", "{\\f0\\fs24\\b0\\i b}",
                          "{\\f0\\fs24\\b\\i0 c}"}
        << QByteArrayList{upright};
    // Word writes the associated (\ab, \ai) forms for the other scripts.
    QTest::newRow("associated italic, underlined character style")
        << QByteArray("{\\stylesheet{\\s0 Normal;}{\\*\\cs10\\ai\\ulw Emphasis;}}")
        << QByteArrayList{"{\\f0\\fs24\\i0\\ulnone a}", "{\\f0\\fs24\\i\\ulnone b}"}
        << QByteArrayList{"\\b0"};
    QTest::newRow("style that switches off")
        << QByteArray("{\\stylesheet{\\s0\\b0\\i0\\strike0 Normal;}}") << QByteArrayList{upright}
        << QByteArrayList{"\\i0", "\\b0"};
    // Braces and words of a style's name are not its properties.
    QTest::newRow("escaped brace in a name")
        << QByteArray("{\\stylesheet{\\s0 Normal \\} \\\\i;}}{\\info{\\title \\i x}}")
        << QByteArrayList{upright} << QByteArrayList{"\\i0"};
    QTest::newRow("no style sheet")
        << QByteArray() << QByteArrayList{upright} << QByteArrayList{"\\i0", "\\b0"};
}

// A run whose property is off says so where a kept style sets it, so that a
// reader that applies the style under the run shows the run as it is here.
void TestRtfKept::runsOverrideKeptStyles()
{
    QFETCH(QByteArray, stylesheet);
    QFETCH(QByteArrayList, written);
    QFETCH(QByteArrayList, notWritten);
    QTextDocument document;
    QVERIFY(readInto(document, "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}" + stylesheet +
                                   "\\pard\\plain a{\\i b}{\\b c}\\par}"));
    const QByteArray saved = Rtf::write(document, 936);
    for (const QByteArray &part : written)
        QVERIFY2(saved.contains(part), saved.constData());
    const QByteArray body = saved.mid(saved.indexOf("\\viewkind"));
    for (const QByteArray &part : notWritten)
        QVERIFY2(!body.contains(part), saved.constData());
    QTextDocument again;
    QVERIFY(readInto(again, saved, 936));
    QCOMPARE(Rtf::write(again, 936), saved);
}

void TestRtfKept::paragraphStyles_data()
{
    QTest::addColumn<QByteArray>("stylesheet");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("alignment"); // the first paragraph's, as shown
    QTest::addColumn<QByteArrayList>("written");
    QTest::addColumn<QByteArrayList>("notWritten");
    const int left = int(Qt::AlignLeft), centre = int(Qt::AlignHCenter);
    // Readers compare style numbers for contextual spacing: a heading
    // written as style 0 had the list's spacing taken away after it.
    QTest::newRow("named style written back")
        << QByteArray("{\\stylesheet{\\s0 Normal;}{\\s3\\sb40 heading 3;}"
                      "{\\s15\\sa160\\contextualspace List;}}")
        << QByteArray("\\pard\\plain\\s3\\sb40 Head\\par\\pard\\plain\\s15\\sa160 a\\par"
                      "\\pard\\plain b\\par")
        << 0 << QByteArrayList{"\\pard\\s3\\sb40{", "\\pard\\s15\\contextualspace\\sa160{"}
        << QByteArrayList{"\\s0"};
    QTest::newRow("style not in the sheet")
        << QByteArray("{\\stylesheet{\\s0 Normal;}}") << QByteArray("\\pard\\s7 x\\par") << 0
        << QByteArrayList{} << QByteArrayList{"\\s7"};
    QTest::newRow("character style number")
        << QByteArray("{\\stylesheet{\\s0 Normal;}{\\*\\cs5\\qc Strong;}}")
        << QByteArray("\\pard\\s5 x\\par") << 0 << QByteArrayList{}
        << QByteArrayList{"\\s5", "\\qc"};
    QTest::newRow("no style sheet") << QByteArray() << QByteArray("\\pard\\s1\\qc x\\par") << centre
                                    << QByteArrayList{"\\pard\\qc{"} << QByteArrayList{"\\s1"};
    // Other readers take a style's alignment and line spacing where the
    // paragraph states none: it is shown so here too.
    QTest::newRow("alignment from the style")
        << QByteArray("{\\stylesheet{\\s0 Normal;}{\\s1\\qc Centred;}}")
        << QByteArray("\\pard\\plain\\s1 x\\par") << centre << QByteArrayList{"\\pard\\s1\\qc{"}
        << QByteArrayList{};
    QTest::newRow("alignment from the style it is based on")
        << QByteArray("{\\stylesheet{\\s1\\qr Right;}{\\s2\\sbasedon1 Child;}}")
        << QByteArray("\\pard\\plain\\s2 x\\par") << int(Qt::AlignRight)
        << QByteArrayList{"\\pard\\s2\\qr{"} << QByteArrayList{};
    QTest::newRow("styles based on each other")
        << QByteArray("{\\stylesheet{\\s1\\sbasedon2\\qc A;}{\\s2\\sbasedon1 B;}}")
        << QByteArray("\\pard\\plain\\s2 x\\par") << centre << QByteArrayList{"\\pard\\s2\\qc{"}
        << QByteArrayList{};
    QTest::newRow("a group inside a style is not its words")
        << QByteArray("{\\stylesheet{\\s1{\\*\\x\\qc} Odd;}}") << QByteArray("\\pard\\s1 x\\par")
        << 0 << QByteArrayList{"\\pard\\s1{"} << QByteArrayList{"\\qc"};
    QTest::newRow("line spacing from style 0")
        << QByteArray("{\\stylesheet{\\sl480\\slmult1 Normal;}}")
        << QByteArray("\\pard\\plain x\\par") << 0 << QByteArrayList{"\\pard\\sl480\\slmult1{"}
        << QByteArrayList{};
    // In a table with a table style a cell's paragraph does not take style
    // 0's spacing: Word's tables stand single-spaced.
    QTest::newRow("cell of a table with a table style")
        << QByteArray("{\\stylesheet{\\sa200\\sl276\\slmult1 Normal;}{\\*\\ts15 Table Grid;}}")
        << QByteArray("\\trowd\\cellx1000\\pard\\plain\\ql\\intbl\\yts15 a\\cell\\row"
                      "\\pard\\plain b\\par")
        << 0 << QByteArrayList{"\\pard\\intbl\\sl0\\slmult0{", "\\pard\\sl276\\slmult1{"}
        << QByteArrayList{};
    QTest::newRow("cell takes its table style's spacing")
        << QByteArray(
               "{\\stylesheet{\\sa200\\sl276\\slmult1 Normal;}{\\*\\ts15\\sl360\\slmult1 Grid;}}")
        << QByteArray("\\trowd\\cellx1000\\pard\\plain\\intbl\\yts15 a\\cell\\row") << 0
        << QByteArrayList{"\\pard\\intbl\\sl360\\slmult1{"} << QByteArrayList{};
    // What a paragraph states against its style is written, or a reader
    // would take the style's.
    QTest::newRow("left against a centred style 0")
        << QByteArray("{\\stylesheet{\\qc Normal;}}")
        << QByteArray("\\pard\\plain\\ql x\\par\\pard\\plain y\\par") << left
        << QByteArrayList{"\\pard\\ql{", "\\pard\\qc{"} << QByteArrayList{};
    QTest::newRow("single spacing against the style's")
        << QByteArray("{\\stylesheet{\\s0 Normal;}{\\s2\\sl480\\slmult1 Double;}}")
        << QByteArray("\\pard\\plain\\s2\\sl0 x\\par\\pard\\plain\\s2 y\\par") << 0
        << QByteArrayList{"\\pard\\s2\\sl0\\slmult0{", "\\pard\\s2\\sl480\\slmult1{"}
        << QByteArrayList{};
    QTest::newRow("no contextual spacing against the style's")
        << QByteArray("{\\stylesheet{\\s0 Normal;}{\\s4\\contextualspace List;}}")
        << QByteArray("\\pard\\plain\\s4\\contextualspace0 x\\par") << 0
        << QByteArrayList{"\\pard\\s4\\contextualspace0{"} << QByteArrayList{};
}

// A paragraph keeps the style it named, and says where it differs from what
// other readers take from that style.
void TestRtfKept::paragraphStyles()
{
    QFETCH(QByteArray, stylesheet);
    QFETCH(QByteArray, body);
    QFETCH(int, alignment);
    QFETCH(QByteArrayList, written);
    QFETCH(QByteArrayList, notWritten);
    QTextDocument document;
    QVERIFY(readInto(document, "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}" + stylesheet + body + "}"));
    QCOMPARE(int(document.firstBlock().blockFormat().alignment() & Qt::AlignHorizontal_Mask),
             alignment == 0 ? int(Qt::AlignLeft) : alignment);
    const QByteArray saved = Rtf::write(document, 936);
    const QByteArray text = saved.mid(saved.indexOf("\\viewkind"));
    for (const QByteArray &part : written)
        QVERIFY2(text.contains(part), saved.constData());
    for (const QByteArray &part : notWritten)
        QVERIFY2(!text.contains(part), saved.constData());
    QTextDocument again;
    QVERIFY(readInto(again, saved, 936));
    QCOMPARE(Rtf::write(again, 936), saved);
}

void TestRtfKept::contextualSpacing_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("shown"); // per paragraph: space before and after, in twips
    QTest::addColumn<QByteArrayList>("written");
    const QByteArray item = "\\pard\\s15\\contextualspace\\sb100\\sa160 ";
    QTest::newRow("items of one style")
        << "\\pard\\s3\\sb40 Head\\par" + item + "a\\par" + item + "b\\par" + item +
               "c\\par\\pard\\sb40 Tail\\par"
        << QStringLiteral("40,0 100,0 0,0 0,160 40,0")
        << QByteArrayList{"\\pard\\s15\\contextualspace\\sb100\\sa160{\\f0\\fs24 a}\\par\n"
                          "\\pard\\s15\\contextualspace\\sb100\\sa160{\\f0\\fs24 b}"};
    // The middle items take one format together.
    QTest::newRow("four items") << item + "a\\par" + item + "b\\par" + item + "c\\par" + item +
                                       "d\\par"
                                << QStringLiteral("100,0 0,0 0,0 0,160") << QByteArrayList{};
    // The paragraph's own wish counts: a neighbour of its style without it
    // keeps its space.
    QTest::newRow("neighbour without contextual spacing")
        << "\\pard\\s15\\sb100\\sa160 a\\par" + item + "b\\par" << QStringLiteral("100,160 0,160")
        << QByteArrayList{};
    QTest::newRow("other style between")
        << item + "a\\par\\pard\\s3 x\\par" + item + "b\\par"
        << QStringLiteral("100,160 0,0 100,160") << QByteArrayList{};
    // A table cell is a place of its own.
    QTest::newRow("item before a table")
        << item + "a\\par\\trowd\\cellx1000" + item + "\\intbl b\\cell\\row" + item + "c\\par"
        << QStringLiteral("100,160 100,160 100,160") << QByteArrayList{};
    QTest::newRow("items in one cell")
        << "\\trowd\\cellx1000" + item + "\\intbl a\\par" + item + "\\intbl b\\cell\\row"
        << QStringLiteral("0,0 100,0 0,160 0,0") << QByteArrayList{};
}

// Other readers leave out the space between paragraphs of one style that
// ask for it; the window does too, and the save keeps the file's spacing.
void TestRtfKept::contextualSpacing()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, shown);
    QFETCH(QByteArrayList, written);
    QTextDocument document;
    QVERIFY(readInto(document, "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}{\\stylesheet{\\s0 Normal;}"
                               "{\\s3 Heading;}{\\s15 List;}}" +
                                   body + "}"));
    // Per paragraph: the space shown before and after, in twips.
    const auto spacingOf = [](const QTextDocument &read) {
        QStringList spacing;
        for (QTextBlock block = read.begin(); block.isValid(); block = block.next())
            spacing << QStringLiteral("%1,%2")
                           .arg(std::lround(block.blockFormat().topMargin() * 15))
                           .arg(std::lround(block.blockFormat().bottomMargin() * 15));
        return spacing.join(u' ');
    };
    QCOMPARE(spacingOf(document), shown);
    const QByteArray saved = Rtf::write(document, 936);
    for (const QByteArray &part : written)
        QVERIFY2(saved.contains(part), saved.constData());
    // What the file stated comes back, and is shown the same again.
    QTextDocument again;
    QVERIFY(readInto(again, saved, 936));
    QCOMPARE(Rtf::write(again, 936), saved);
    QCOMPARE(spacingOf(again), shown);
}

void TestRtfKept::emptyParagraphBeforeTable_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("shown"); // the empty line stands above the table
    const QByteArray table = "\\trowd\\cellx1000\\pard\\intbl a\\cell\\row\\pard after\\par";
    QTest::newRow("after text") << "\\pard before\\par\\par" + table << true;
    QTest::newRow("the file's own at the start") << "\\pard\\par" + table << true;
    // Qt's own paragraph before a table that begins the document.
    QTest::newRow("none in the file") << table << false;
}

// Qt hides an empty paragraph right before a table; other readers show the
// file's own, and so does the window.
void TestRtfKept::emptyParagraphBeforeTable()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, shown);
    QTextDocument document;
    QVERIFY(readInto(document, "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}" + body + "}"));
    document.setTextWidth(600);
    QTextBlock empty = document.begin();
    while (empty.isValid() && empty.length() != 1)
        empty = empty.next();
    QVERIFY(empty.isValid());
    QAbstractTextDocumentLayout *layout = document.documentLayout();
    const QRectF line = layout->blockBoundingRect(empty);
    const QRectF cell = layout->blockBoundingRect(empty.next());
    QCOMPARE(cell.top() >= line.bottom() - 0.5, shown);
    // It draws nothing and is written as it was read.
    const QByteArray saved = Rtf::write(document, 936);
    QVERIFY2(!saved.contains("\\cbpat"), saved.constData());
    QTextDocument again;
    QVERIFY(readInto(again, saved, 936));
    QCOMPARE(Rtf::write(again, 936), saved);
}

// What the counts above do not see: footnotes and links (fields),
// counted in LibreOffice's HTML of the original and of the saved copy.
void TestRtfKept::libreOfficeFootnotesAndLinks()
{
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty())
        QSKIP("soffice (LibreOffice) is not installed: the outside-reader check is skipped");
    const QString corpus = sharedDir() + QStringLiteral("/corpus/rtf-rich");
    if (sharedDir().isEmpty() || !QDir(corpus).exists())
        QSKIP("the rich RTF corpus is not here");
    const QStringList names = {QStringLiteral("rtfpipe-phprtflite-footnotes"),
                               QStringLiteral("rtfjs-sample"),
                               QStringLiteral("rtfpipe-RtfTestDocument"),
                               QStringLiteral("tika-testRTFVarious"),
                               QStringLiteral("rtfjs-hyperlink"),
                               QStringLiteral("tika-testRTFHyperlinkAndStyles"),
                               QStringLiteral("rtfparser-rs-file-sample_100kB"),
                               QStringLiteral("rtfpipe-Issue50-1")};
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QStringList files;
    for (const QString &name : names) {
        QFile in(corpus + QLatin1Char('/') + name + QStringLiteral(".rtf"));
        QVERIFY2(in.open(QIODevice::ReadOnly), qPrintable(name));
        const QByteArray original = in.readAll();
        QTextDocument document;
        QVERIFY(readInto(document, original, 936));
        for (const auto &[file, bytes] :
             {std::pair{QStringLiteral("orig-"), original},
              std::pair{QStringLiteral("saved-"), Rtf::write(document, 936)}}) {
            QFile out(dir.filePath(file + name + QStringLiteral(".rtf")));
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(bytes);
            files << out.fileName();
        }
    }
    QDir().mkpath(dir.filePath(QStringLiteral("home")));
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), dir.filePath(QStringLiteral("home")));
    process.setProcessEnvironment(environment);
    process.start(soffice, QStringList{QStringLiteral("--headless"), QStringLiteral("--convert-to"),
                                       QStringLiteral("html:HTML (StarWriter)"),
                                       QStringLiteral("--outdir"), dir.path()} +
                               files);
    QVERIFY(process.waitForFinished(300000));
    auto counts = [&dir](const QString &file) {
        QFile html(dir.filePath(file + QStringLiteral(".html")));
        QHash<QString, int> out;
        if (!html.open(QIODevice::ReadOnly))
            return out;
        const QString text = QString::fromUtf8(html.readAll()).toLower();
        out.insert(QStringLiteral("footnote"),
                   int(text.count(QStringLiteral("class=\"sdfootnoteanc\""))));
        out.insert(QStringLiteral("link"), int(text.count(QStringLiteral("<a href="))));
        return out;
    };
    for (const QString &name : names) {
        const auto original = counts(QStringLiteral("orig-") + name);
        const auto saved = counts(QStringLiteral("saved-") + name);
        QVERIFY2(!original.isEmpty() && !saved.isEmpty(), qPrintable(name));
        for (auto it = original.cbegin(); it != original.cend(); ++it) {
            const QString what = name + QLatin1Char(' ') + it.key() + QStringLiteral(": ") +
                                 QString::number(saved.value(it.key())) + QStringLiteral(" < ") +
                                 QString::number(it.value());
            QVERIFY2(saved.value(it.key()) >= it.value(), qPrintable(what));
        }
        qInfo("%s: %d footnotes, %d links", qPrintable(name),
              original.value(QStringLiteral("footnote")), original.value(QStringLiteral("link")));
    }
}

namespace {

QByteArray shape(const QByteArray &place, const QByteArray &text)
{
    return "{\\shp{\\*\\shpinst" + place +
           "{\\sp{\\sn shapeType}{\\sv 202}}{\\sp{\\sn fFitShapeToText}{\\sv 1}}" + text +
           "}{\\shprslt{\\*\\do\\dobxcolumn{\\dptxbxtext\\pard result\\par}}}}";
}

QString boxesText(const std::vector<TextBox> &boxes)
{
    return describeTextBoxes(boxes).join(u'|');
}

} // namespace

void TestRtfKept::textBoxesOfShapes_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("boxes"); // left,top,right,bottom,half-points;text
    const QByteArray byParagraph =
        "\\shpleft4866\\shptop1990\\shpright8593\\shpbottom2658\\shpbypara";
    QTest::newRow("Word's text box")
        << shape(byParagraph,
                 "{\\shptxt \\pard\\plain\\f1\\fs22 {\\insrsid1 Here is a text box\\par }}")
        << QStringLiteral("4866,1990,8593,2658,22;Here is a text box");
    QTest::newRow("GBK bytes, Unicode and paragraphs")
        << shape(byParagraph,
                 "{\\shptxt \\pard\\'d6\\'d0\\uc2\\u25991\\'ce\\'c4\\par\\u25991??B\\tab C\\par}")
        << QStringLiteral("4866,1990,8593,2658,0;\u4e2d\u6587\n\u6587B\tC");
    QTest::newRow("placed on the page: at its paragraph's top")
        << shape("\\shpleft100\\shptop5000\\shpright900\\shpbottom5600\\shpbypage",
                 "{\\shptxt x\\par}")
        << QStringLiteral("100,0,900,600,0;x");
    QTest::newRow("no text of its own")
        << shape(byParagraph, "{\\sp{\\sn pib}{\\sv {\\pict\\pngblip 00}}}") << QString();
    QTest::newRow("no size") << shape("\\shpleft10\\shpright10", "{\\shptxt x\\par}") << QString();
    QTest::newRow("a field's instruction is no text")
        << shape(byParagraph, "{\\shptxt {\\field{\\*\\fldinst PAGE}{\\fldrslt 3}}\\par}")
        << QStringLiteral("4866,1990,8593,2658,0;3");
    QByteArray many;
    for (int i = 0; i < 20; ++i)
        many += shape(byParagraph, "{\\shptxt " + QByteArray(5000, 'a') + "}");
    QByteArray expected = "4866,1990,8593,2658,0;" + QByteArray(4000, 'a');
    QStringList eight;
    for (int i = 0; i < 8; ++i)
        eight << QString::fromLatin1(expected);
    QTest::newRow("hostile: many long boxes, held") << many << eight.join(u'|');
    QTest::newRow("hostile: closed too often after a box")
        << shape(byParagraph, "{\\shptxt x\\par}") + "}}}}"
        << QStringLiteral("4866,1990,8593,2658,0;x");
    QTest::newRow("hostile: unbalanced")
        << QByteArray("{\\shp{\\*\\shpinst\\shpleft0\\shpright99999999999\\shpbottom-5{\\shptxt x")
        << QString();
}

// What the window shows of a shape: its place and its text.
void TestRtfKept::textBoxesOfShapes()
{
    QFETCH(QByteArray, raw);
    QFETCH(QString, boxes);
    QCOMPARE(boxesText(Rtf::textBoxesIn(raw, 936)), boxes);
    QCOMPARE(boxesText(textBoxesOf(describeTextBoxes(Rtf::textBoxesIn(raw, 936)))), boxes);
}

// A shape read is described for the view on the character that holds it,
// and written back once, as read.
void TestRtfKept::textBoxShownAndWrittenOnce()
{
    const QByteArray box =
        shape("\\shpleft0\\shptop0\\shpright3000\\shpbottom600\\shpbypara", "{\\shptxt Box\\par}");
    QTextDocument document;
    QVERIFY(readInto(document, head + "\\pard One " + box + "two\\par}", 1252));
    QCOMPARE(document.toPlainText(), QStringLiteral("One two"));
    QTextCursor at(&document);
    at.setPosition(5); // after "t"
    QCOMPARE(at.charFormat().property(textBoxProperty).toStringList(),
             QStringList(QStringLiteral("0,0,3000,600,0;Box")));
    const QByteArray first = written(document);
    QCOMPARE(first.count("{\\shp{"), 1);
    QTextDocument again;
    QVERIFY(readInto(again, first, 1252));
    QCOMPARE(written(again), first);
}

QTEST_MAIN(TestRtfKept)
#include "tst_rtfkept.moc"
