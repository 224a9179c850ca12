// Sections and the document's own groups: a section's columns, page and
// headers go back before the paragraph that begins it; the footnote
// separators stay with the document; an empty line keeps the font of its
// paragraph mark, which sets its height.
#include "rtftesthelpers.h"

#include "core/formatproperties.h"
#include "rtf/rtfreader.h"
#include "rtf/rtfwriter.h"

#include <QRegularExpression>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

using namespace Inkwell;
using namespace Inkwell::RtfTest;

namespace {

// `pattern` with %F<n> and %C<n> replaced by the numbers the written tables
// give the source file's font n and colour n.
QByteArray expand(QByteArray pattern, const QByteArray &rtf)
{
    const QString text = QString::fromLatin1(rtf);
    const auto font = [&text](const QString &family) {
        const QRegularExpression entry(QStringLiteral("\\{\\\\f(\\d+)\\\\[a-z]+\\\\fcharset\\d+"
                                                      "(?:\\\\[a-z]+\\d*)* %1;\\}")
                                           .arg(QRegularExpression::escape(family)));
        const QRegularExpressionMatch match = entry.match(text);
        return match.hasMatch() ? match.captured(1).toLatin1() : QByteArray("-1");
    };
    const auto colour = [&rtf](const char *entry) {
        const qsizetype start = rtf.indexOf("{\\colortbl ;");
        const QList<QByteArray> entries =
            rtf.mid(start + 12, rtf.indexOf('}', start) - start - 12).split(';');
        const qsizetype index = entries.indexOf(entry);
        return index < 0 ? QByteArray("-1") : QByteArray::number(index + 1);
    };
    pattern.replace("%F0", font(QStringLiteral("Arial")));
    pattern.replace("%F1", font(QStringLiteral("Courier New")));
    pattern.replace("%C1", colour("\\red255\\green0\\blue0"));
    pattern.replace("%C2", colour("\\red0\\green128\\blue0"));
    return pattern;
}

QByteArray sectionOf(const QTextBlock &block)
{
    return block.blockFormat().property(sectionBreakProperty).toByteArray();
}

} // namespace

class TestRtfSections : public QObject {
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void enterInASectionsFirstParagraph();
    void copiedPartHasPageBreaksOnly();
    void insertedFileBringsNoSections();
    void emptyParagraphMark_data();
    void emptyParagraphMark();
};

// Read, written, read and written again: the same bytes, the section's RTF
// once and where it was, the section held by the paragraph that begins it,
// and no page break written twice (the \sect makes the page).
void TestRtfSections::roundTrip_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("kept"); // once in the save; %F/%C: written numbers
    QTest::addColumn<int>("block");       // the paragraph that begins the section; -1 the document
    QTest::addColumn<bool>("newPage");    // that paragraph begins a page

    QTest::newRow("two columns running on")
        << QByteArray("\\pard one\\par\\sect\\sectd\\sbknone\\cols2\\colsx708\\linebetcol two\\par"
                      " three\\par}")
        << QByteArray("\\sect\\sectd\\sbknone\\cols2\\colsx708\\linebetcol{") << 1 << false;
    QTest::newRow("landscape page of its own")
        << QByteArray("\\pard one\\sect\\sectd\\lndscpsxn\\pgwsxn16838\\pghsxn11906\\marglsxn1440"
                      " two\\par}")
        << QByteArray("\\sect\\sectd\\lndscpsxn\\pgwsxn16838\\pghsxn11906\\marglsxn1440{") << 1
        << true;
    QTest::newRow("second section's own headers")
        << QByteArray("{\\header \\pard\\f1 First\\par}\\pard one\\par\\sect\\sectd\\titlepg"
                      "{\\headerf \\pard\\f1\\cf2 Second\\par}{\\footer \\pard Foot\\par}"
                      "\\pard two\\par}")
        << QByteArray("\\sect\\sectd\\titlepg{\\headerf \\pard\\f%F1\\cf%C2 Second\\par}"
                      "{\\footer \\pard Foot\\par}")
        << 1 << true;
    QTest::newRow("first section's header stays with the document")
        << QByteArray("{\\header \\pard\\f1 First\\par}\\pard one\\par\\sect\\sectd"
                      "{\\header \\pard Second\\par}\\pard two\\par}")
        << QByteArray("{\\header \\pard\\f%F1 First\\par}") << -1 << false;
    QTest::newRow("first section's columns stay with the document")
        << QByteArray("\\sectd\\sbknone\\cols2\\colsx360{\\header \\pard H\\par}\\pard one\\par}")
        << QByteArray("\\sectd\\sbknone\\cols2\\colsx360{\\header \\pard H\\par}") << -1 << false;
    QTest::newRow("section break before a table")
        << QByteArray("\\pard one\\par\\sect\\sectd\\cols2 \\trowd\\cellx2000\\pard\\intbl A\\cell"
                      "\\row\\pard after\\par}")
        << QByteArray("\\sect\\sectd\\cols2\\trowd") << 1 << true;
    QTest::newRow("an empty paragraph begins the section")
        << QByteArray("\\pard one\\par\\sect\\sectd\\cols3\\par two\\par}")
        << QByteArray("\\sect\\sectd\\cols3\\par") << 1 << true;
    QTest::newRow("a section without a paragraph stays in the next break")
        << QByteArray("\\pard one\\sect\\sectd\\cols2\\sect\\sectd\\sbknone\\cols3 two\\par}")
        << QByteArray("\\sect\\sectd\\cols2\\sect\\sectd\\sbknone\\cols3{") << 1 << false;
    // Word states \sectd again before fields; the section said it already.
    QTest::newRow("section words repeated inside the section")
        << QByteArray("\\pard one\\sect\\sectd\\cols2 two \\sectd\\cols2 three\\par}")
        << QByteArray("\\cols2") << 1 << true;
    QTest::newRow("footnote separators")
        << QByteArray("{\\*\\ftnsep \\pard\\plain\\chftnsep\\par}{\\*\\ftnsepc \\pard\\plain"
                      "\\chftnsepc\\par}{\\*\\aftnsep \\pard\\plain\\chftnsep\\par}{\\*\\aftnsepc "
                      "\\pard\\plain\\chftnsepc\\par}{\\*\\ftncn \\pard\\plain\\f1 Continued\\par}"
                      "{\\*\\aftncn \\pard\\plain More\\par}\\pard one\\par}")
        << QByteArray(
               "{\\*\\ftnsep \\pard\\plain\\chftnsep\\par}{\\*\\ftnsepc \\pard\\plain"
               "\\chftnsepc\\par}{\\*\\aftnsep \\pard\\plain\\chftnsep\\par}{\\*\\aftnsepc "
               "\\pard\\plain\\chftnsepc\\par}{\\*\\ftncn \\pard\\plain\\f%F1 Continued\\par}"
               "{\\*\\aftncn \\pard\\plain More\\par}")
        << -1 << false;
}

void TestRtfSections::roundTrip()
{
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, kept);
    QFETCH(int, block);
    QFETCH(bool, newPage);

    QTextDocument document;
    QVERIFY(readInto(document, head + body, 1252));
    const QByteArray first = written(document);
    QTextDocument again;
    QVERIFY(readInto(again, first, 1252));
    QCOMPARE(again.toPlainText(), document.toPlainText());
    QCOMPARE(written(again), first);

    const QByteArray expected = expand(kept, first);
    QVERIFY2(!expected.contains("-1"), expected.constData());
    QVERIFY2(first.count(expected) == 1, first.constData());
    QVERIFY2(!first.contains("\\pagebb"), first.constData());
    if (block < 0) {
        QVERIFY2(first.indexOf(expected) < first.indexOf("\\viewkind4"), first.constData());
        QVERIFY(sectionOf(again.begin()).isEmpty());
        return;
    }
    const QTextBlock begins = again.findBlockByNumber(block);
    QVERIFY(begins.isValid());
    QVERIFY(!sectionOf(begins).isEmpty());
    QVERIFY(sectionOf(begins.previous()).isEmpty());
    QCOMPARE(bool(begins.blockFormat().pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore),
             newPage);
    // Written before that paragraph's text, after the one before it.
    const qsizetype at = first.indexOf(expected);
    const QString text = begins.text().isEmpty() ? begins.next().text() : begins.text();
    QVERIFY(!text.isEmpty());
    QVERIFY2(first.indexOf(text.toLatin1(), at) > at, first.constData());
    QVERIFY2(first.lastIndexOf(begins.previous().text().toLatin1(), at) >= 0, first.constData());
}

// Enter in a section's first paragraph gives the new paragraph the same
// format: the section still begins once, where it began.
void TestRtfSections::enterInASectionsFirstParagraph()
{
    QTextDocument document;
    QVERIFY(readInto(document,
                     head + "\\pard one\\par\\sect\\sectd\\cols2 two\\par\\sect\\sectd\\cols2 "
                            "three\\par}",
                     1252));
    const QByteArray before = written(document);
    QCOMPARE(before.count("\\sect\\sectd\\cols2"), 2);
    QTextCursor cursor(document.findBlockByNumber(1));
    cursor.movePosition(QTextCursor::EndOfBlock);
    cursor.insertBlock();
    cursor.insertText(QStringLiteral("typed"));
    const QByteArray after = written(document);
    QCOMPARE(after.count("\\sect\\sectd\\cols2"), 2);
    QVERIFY2(!after.contains("\\pagebb"), after.constData());
    QVERIFY(after.indexOf("\\sect") < after.indexOf("two"));
    QVERIFY(after.indexOf("typed") < after.lastIndexOf("\\sect"));
}

// A copy of part of the document (the clipboard's) carries no section of
// the file's; its paragraphs still begin their pages.
void TestRtfSections::copiedPartHasPageBreaksOnly()
{
    QTextDocument document;
    QVERIFY(readInto(document, head + "\\pard one\\par\\sect\\sectd\\cols2 two\\par three\\par}",
                     1252));
    const QTextBlock two = document.findBlockByNumber(1);
    const QByteArray part = Rtf::write(document, 0, two.position() + two.length() - 1, 1252);
    QVERIFY2(!part.contains("\\sect"), part.constData());
    QVERIFY2(!part.contains("\\cols2"), part.constData());
    QVERIFY2(part.contains("\\pagebb"), part.constData());
}

// Read into a document that has text already (an insert), another file's
// sections do not become the document's.
void TestRtfSections::insertedFileBringsNoSections()
{
    QTextDocument document;
    QTextCursor cursor(&document);
    cursor.insertText(QStringLiteral("mine"));
    const Rtf::ReadResult result =
        Rtf::read(head + "\\pard one\\par\\sect\\sectd\\cols2{\\header \\pard H\\par} two\\par}",
                  cursor, 1252);
    QVERIFY(result.ok);
    for (QTextBlock b = document.begin(); b.isValid(); b = b.next())
        QVERIFY(sectionOf(b).isEmpty());
    const QByteArray out = written(document);
    QVERIFY2(!out.contains("\\cols2") && !out.contains("\\header"), out.constData());
}

// An empty paragraph is as high as the font of its mark: the window lays it
// out in the block's own character format and the save states it.
void TestRtfSections::emptyParagraphMark_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("block");
    QTest::addColumn<double>("points");
    QTest::addColumn<QByteArray>("kept"); // in the save; %F: written numbers

    QTest::newRow("larger than the text after it")
        << QByteArray("\\pard\\plain\\f1\\fs36\\par\\pard\\plain\\f1\\fs28 text\\par}") << 0 << 18.0
        << QByteArray("\\pard\n{\\f%F1\\fs36\\par}\n{\\f%F1\\fs28 text}");
    QTest::newRow("two at the start, as a recipe begins")
        << QByteArray("{\\pard\\plain\\plain\\f1\\fs36\\par\\pard\\plain\\plain\\f1\\fs36\\par"
                      "\\plain\\f1\\fs28\\tab Flour\\par}}")
        << 1 << 18.0 << QByteArray("{\\f%F1\\fs36\\par}\n{\\f%F1\\fs36\\par}\n{\\f%F1\\fs28\\tab");
    QTest::newRow("smaller than the text before it")
        << QByteArray("\\pard\\fs40 big\\par\\fs16\\par\\fs40 big\\par}") << 1 << 8.0
        << QByteArray("big}\\par\n{\\f%F0\\fs16\\par}\n{");
    QTest::newRow("plain stays a bare mark")
        << QByteArray("\\pard\\fs40 big\\par\\plain\\par\\fs40 big\\par}") << 1 << 12.0
        << QByteArray("big}\\par\n\\par\n{");
}

void TestRtfSections::emptyParagraphMark()
{
    QFETCH(QByteArray, body);
    QFETCH(int, block);
    QFETCH(double, points);
    QFETCH(QByteArray, kept);

    QTextDocument document;
    QVERIFY(readInto(document, head + body, 1252));
    const QTextBlock empty = document.findBlockByNumber(block);
    QCOMPARE(empty.length(), 1);
    QCOMPARE(empty.charFormat().fontPointSize(), points);
    const QByteArray first = written(document);
    const QByteArray expected = expand(kept, first);
    QVERIFY2(!expected.contains("-1"), expected.constData());
    QVERIFY2(first.contains(expected), first.constData());
    QTextDocument again;
    QVERIFY(readInto(again, first, 1252));
    QCOMPARE(again.findBlockByNumber(block).charFormat().fontPointSize(), points);
    QCOMPARE(written(again), first);
}

QTEST_MAIN(TestRtfSections)
#include "tst_rtfsections.moc"
