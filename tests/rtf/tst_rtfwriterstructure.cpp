// The writer's paragraphs, lists and tables: the control words each one
// needs, in order, the same bytes on every write, the text today's reader
// takes back, and what LibreOffice makes of a document holding all of them.
#include "rtftesthelpers.h"

#include "core/documenttext.h"
#include "rtf/rtfwriter.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>
#include <QTextTable>
#include <limits>

#include <functional>

using namespace Inkwell;
using namespace Inkwell::RtfTest;

namespace {

using Build = std::function<void(QTextDocument &)>;

QTextBlockFormat aligned(Qt::Alignment alignment)
{
    QTextBlockFormat format;
    format.setAlignment(alignment);
    return format;
}

void paragraph(QTextCursor &cursor, const QString &text, const QTextBlockFormat &format = {})
{
    if (cursor.position() > 0 || !cursor.block().text().isEmpty())
        cursor.insertBlock(format);
    else
        cursor.setBlockFormat(format);
    cursor.insertText(text);
}

QTextListFormat listFormat(QTextListFormat::Style style, int indent = 1, const QString &suffix = {},
                           const QString &prefix = {}, int start = 1)
{
    QTextListFormat format;
    format.setStyle(style);
    format.setIndent(indent);
    if (!suffix.isEmpty())
        format.setNumberSuffix(suffix);
    if (!prefix.isEmpty())
        format.setNumberPrefix(prefix);
    if (start != 1)
        format.setProperty(listStartProperty, start);
    return format;
}

// Items of one list, each its own paragraph after the cursor's.
void listItems(QTextCursor &cursor, const QTextListFormat &format, const QStringList &items)
{
    QTextList *list = nullptr;
    for (const QString &item : items) {
        paragraph(cursor, item);
        if (list)
            list->add(cursor.block());
        else
            list = cursor.createList(format);
    }
}

QTextTable *table(QTextCursor &cursor, int rows, int columns, const QStringList &texts,
                  const QTextTableFormat &format = {})
{
    QTextTable *table = cursor.insertTable(rows, columns, format);
    for (int i = 0; i < texts.size() && i < rows * columns; ++i)
        table->cellAt(i / columns, i % columns).firstCursorPosition().insertText(texts[i]);
    return table;
}

void after(QTextDocument &document, const QString &text)
{
    QTextCursor end(&document);
    end.movePosition(QTextCursor::End);
    end.insertText(text);
}

QTextTableFormat fixedColumns(const QList<qreal> &pixels)
{
    QTextTableFormat format;
    format.setBorder(0);
    QList<QTextLength> widths;
    for (qreal px : pixels)
        widths << QTextLength(QTextLength::FixedLength, px);
    format.setColumnWidthConstraints(widths);
    return format;
}

// Every structure in one document: what the LibreOffice check reads.
void everything(QTextDocument &document)
{
    QTextCursor cursor(&document);
    paragraph(cursor, QStringLiteral("Title"), aligned(Qt::AlignHCenter));
    paragraph(cursor, QStringLiteral("2026-12-07"), aligned(Qt::AlignRight));
    paragraph(cursor, QStringLiteral("Justified text"), aligned(Qt::AlignJustify));
    listItems(cursor, listFormat(QTextListFormat::ListDecimal), {QStringLiteral("one")});
    listItems(cursor, listFormat(QTextListFormat::ListLowerAlpha, 2, QStringLiteral(")")),
              {QStringLiteral("sub a"), QStringLiteral("sub b")});
    paragraph(cursor, QStringLiteral("two"));
    document.findBlockByNumber(3).textList()->add(cursor.block());
    listItems(cursor, listFormat(QTextListFormat::ListDisc), {QStringLiteral("bullet")});
    paragraph(cursor, QStringLiteral("Before the table"));
    QTextTableFormat bordered = fixedColumns({160, 160});
    bordered.setBorder(1);
    bordered.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
    QTextTable *outer =
        table(cursor, 2, 2, {QStringLiteral("A1"), {}, {}, QStringLiteral("B2")}, bordered);
    QTextCursor inCell = outer->cellAt(0, 1).firstCursorPosition();
    listItems(inCell, listFormat(QTextListFormat::ListDecimal),
              {QStringLiteral("cell one"), QStringLiteral("cell two")});
    listItems(inCell, listFormat(QTextListFormat::ListLowerRoman, 2), {QStringLiteral("cell sub")});
    QTextCursor nestedAt = outer->cellAt(1, 0).firstCursorPosition();
    table(nestedAt, 1, 2, {QStringLiteral("N1"), QStringLiteral("N2")});
    cursor.movePosition(QTextCursor::End);
    paragraph(cursor, QStringLiteral("Between"));
    QTextTable *merged = table(cursor, 2, 3,
                               {QStringLiteral("M"),
                                {},
                                QStringLiteral("C"),
                                QStringLiteral("V"),
                                QStringLiteral("X"),
                                QStringLiteral("Y")});
    merged->mergeCells(0, 0, 1, 2);
    cursor.movePosition(QTextCursor::End);
    paragraph(cursor, QStringLiteral("End"));
}

const QMap<QString, Build> &builders()
{
    static const QMap<QString, Build> map = {
        {QStringLiteral("plain"),
         [](QTextDocument &d) {
             QTextCursor c(&d);
             paragraph(c, QStringLiteral("A"));
             paragraph(c, QStringLiteral("B"));
         }},
        {QStringLiteral("centred then plain"),
         [](QTextDocument &d) {
             QTextCursor c(&d);
             paragraph(c, QStringLiteral("Title"), aligned(Qt::AlignHCenter));
             paragraph(c, QStringLiteral("Body"));
         }},
        {QStringLiteral("right"),
         [](QTextDocument &d) {
             QTextCursor c(&d);
             paragraph(c, QStringLiteral("Date"), aligned(Qt::AlignRight | Qt::AlignAbsolute));
         }},
        {QStringLiteral("justified"),
         [](QTextDocument &d) {
             QTextCursor c(&d);
             paragraph(c, QStringLiteral("Text"), aligned(Qt::AlignJustify));
         }},
        {QStringLiteral("right to left"),
         [](QTextDocument &d) {
             QTextCursor c(&d);
             // Found so from its letters, then a Latin one, then marked so.
             paragraph(c, QStringLiteral("\u0645\u0631\u062d\u0628\u0627 Arabic"));
             paragraph(c, QStringLiteral("Latin"));
             QTextBlockFormat marked;
             marked.setLayoutDirection(Qt::RightToLeft);
             paragraph(c, QStringLiteral("Marked"), marked);
         }},
        {QStringLiteral("left stated"),
         [](QTextDocument &d) {
             QTextCursor c(&d);
             paragraph(c, QStringLiteral("Left"), aligned(Qt::AlignLeft));
         }},
        {QStringLiteral("indents and spacing"),
         [](QTextDocument &d) {
             QTextCursor c(&d);
             QTextBlockFormat f;
             f.setLeftMargin(48);
             f.setRightMargin(24);
             f.setTextIndent(-24);
             f.setTopMargin(12);
             f.setBottomMargin(8);
             paragraph(c, QStringLiteral("Indented"), f);
         }},
        {QStringLiteral("proportional line height"),
         [](QTextDocument &d) {
             QTextCursor c(&d);
             QTextBlockFormat f;
             f.setLineHeight(150, QTextBlockFormat::ProportionalHeight);
             paragraph(c, QStringLiteral("Spaced"), f);
         }},
        {QStringLiteral("minimum line height"),
         [](QTextDocument &d) {
             QTextCursor c(&d);
             QTextBlockFormat f;
             f.setLineHeight(20, QTextBlockFormat::MinimumHeight);
             paragraph(c, QStringLiteral("AtLeast"), f);
         }},
        {QStringLiteral("fixed line height"),
         [](QTextDocument &d) {
             QTextCursor c(&d);
             QTextBlockFormat f;
             f.setLineHeight(20, QTextBlockFormat::FixedHeight);
             paragraph(c, QStringLiteral("Exactly"), f);
         }},
        {QStringLiteral("tab stops"),
         [](QTextDocument &d) {
             QTextCursor c(&d);
             QTextBlockFormat f;
             f.setTabPositions({QTextOption::Tab(100, QTextOption::RightTab),
                                QTextOption::Tab(200, QTextOption::CenterTab),
                                QTextOption::Tab(300, QTextOption::DelimiterTab, u'.'),
                                QTextOption::Tab(400, QTextOption::LeftTab)});
             paragraph(c, QStringLiteral("a\tb"), f);
         }},
        {QStringLiteral("line break"),
         [](QTextDocument &d) {
             QTextCursor c(&d);
             paragraph(c, QStringLiteral("first\u2028second"));
         }},
        {QStringLiteral("decimal list"),
         [](QTextDocument &d) {
             QTextCursor c(&d);
             paragraph(c, QStringLiteral("Before"));
             listItems(c, listFormat(QTextListFormat::ListDecimal),
                       {QStringLiteral("one"), QStringLiteral("two")});
             paragraph(c, QStringLiteral("After"));
         }},
        {QStringLiteral("alpha list from 3 with )"),
         [](QTextDocument &d) {
             QTextCursor c(&d);
             listItems(c,
                       listFormat(QTextListFormat::ListLowerAlpha, 1, QStringLiteral(")"), {}, 3),
                       {QStringLiteral("third"), QStringLiteral("fourth")});
         }},
        {QStringLiteral("roman list with prefix"),
         [](QTextDocument &d) {
             QTextCursor c(&d);
             listItems(c,
                       listFormat(QTextListFormat::ListUpperRoman, 1, QStringLiteral(")"),
                                  QStringLiteral("(")),
                       {QStringLiteral("first")});
         }},
        {QStringLiteral("bullets"),
         [](QTextDocument &d) {
             QTextCursor c(&d);
             listItems(c, listFormat(QTextListFormat::ListDisc), {QStringLiteral("dot")});
             listItems(c, listFormat(QTextListFormat::ListSquare, 2), {QStringLiteral("square")});
         }},
        {QStringLiteral("nested list"),
         [](QTextDocument &d) {
             QTextCursor c(&d);
             listItems(c, listFormat(QTextListFormat::ListDecimal), {QStringLiteral("one")});
             listItems(c, listFormat(QTextListFormat::ListLowerAlpha, 2), {QStringLiteral("sub")});
             paragraph(c, QStringLiteral("two"));
             d.firstBlock().textList()->add(c.block());
         }},
        {QStringLiteral("two lists"),
         [](QTextDocument &d) {
             QTextCursor c(&d);
             listItems(c, listFormat(QTextListFormat::ListDecimal), {QStringLiteral("first")});
             paragraph(c, QStringLiteral("Between"));
             listItems(c, listFormat(QTextListFormat::ListDecimal), {QStringLiteral("again")});
         }},
        {QStringLiteral("table with widths"),
         [](QTextDocument &d) {
             QTextCursor c(&d);
             c.insertText(QStringLiteral("Before"));
             table(c, 2, 2,
                   {QStringLiteral("A1"), QStringLiteral("B1"), QStringLiteral("A2"),
                    QStringLiteral("B2")},
                   fixedColumns({100, 50}));
             after(d, QStringLiteral("After"));
         }},
        {QStringLiteral("table without widths"),
         [](QTextDocument &d) {
             QTextCursor c(&d);
             QTextTableFormat f;
             f.setBorder(0);
             table(c, 1, 2, {QStringLiteral("L"), QStringLiteral("R")}, f);
             after(d, QStringLiteral("After"));
         }},
        {QStringLiteral("table with borders and padding"),
         [](QTextDocument &d) {
             QTextCursor c(&d);
             QTextTableFormat f = fixedColumns({100});
             f.setBorder(1);
             f.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
             f.setCellPadding(4);
             table(c, 1, 1, {QStringLiteral("Boxed")}, f);
         }},
        {QStringLiteral("shaded cell"),
         [](QTextDocument &d) {
             QTextCursor c(&d);
             QTextTable *t = table(c, 1, 2, {QStringLiteral("Red"), QStringLiteral("None")},
                                   fixedColumns({100, 100}));
             QTextTableCellFormat f;
             f.setBackground(QColor(255, 0, 0));
             t->cellAt(0, 0).setFormat(f);
         }},
        {QStringLiteral("merged across"),
         [](QTextDocument &d) {
             QTextCursor c(&d);
             QTextTable *t = table(c, 2, 3,
                                   {QStringLiteral("Wide"),
                                    {},
                                    QStringLiteral("C"),
                                    QStringLiteral("X"),
                                    QStringLiteral("Y"),
                                    QStringLiteral("Z")},
                                   fixedColumns({100, 100, 100}));
             t->mergeCells(0, 0, 1, 2);
         }},
        {QStringLiteral("merged across, one row"),
         [](QTextDocument &d) {
             QTextCursor c(&d);
             QTextTable *t = table(c, 1, 3, {QStringLiteral("Wide"), {}, QStringLiteral("C")},
                                   fixedColumns({100, 100, 100}));
             t->mergeCells(0, 0, 1, 2);
         }},
        {QStringLiteral("merged down"),
         [](QTextDocument &d) {
             QTextCursor c(&d);
             QTextTable *t = table(
                 c, 2, 2, {QStringLiteral("Tall"), QStringLiteral("B1"), {}, QStringLiteral("B2")},
                 fixedColumns({100, 100}));
             t->mergeCells(0, 0, 2, 1);
         }},
        {QStringLiteral("nested table"),
         [](QTextDocument &d) {
             QTextCursor c(&d);
             QTextTable *t = table(c, 1, 2, {QStringLiteral("Outer"), QStringLiteral("Right")},
                                   fixedColumns({200, 100}));
             QTextCursor in = t->cellAt(0, 0).lastCursorPosition();
             table(in, 1, 2, {QStringLiteral("N1"), QStringLiteral("N2")}, fixedColumns({}));
         }},
        {QStringLiteral("list in a cell"),
         [](QTextDocument &d) {
             QTextCursor c(&d);
             QTextTable *t = table(c, 1, 1, {}, fixedColumns({200}));
             QTextCursor in = t->cellAt(0, 0).firstCursorPosition();
             in.insertText(QStringLiteral("item"));
             in.createList(listFormat(QTextListFormat::ListDecimal));
         }},
        {QStringLiteral("lists in neighbouring cells"),
         [](QTextDocument &d) {
             QTextCursor c(&d);
             QTextTable *t = table(c, 1, 2, {}, fixedColumns({100, 100}));
             QTextCursor left = t->cellAt(0, 0).firstCursorPosition();
             left.insertText(QStringLiteral("left"));
             left.createList(listFormat(QTextListFormat::ListDecimal));
             QTextCursor right = t->cellAt(0, 1).firstCursorPosition();
             right.insertText(QStringLiteral("right"));
             right.createList(listFormat(QTextListFormat::ListDecimal, 2));
         }},
        {QStringLiteral("everything"), everything},
    };
    return map;
}

QByteArray written(const QString &name)
{
    QTextDocument document;
    builders().value(name)(document);
    return Rtf::write(document, 936);
}

QString readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// How often the pattern occurs in the HTML body, lower-cased, the way the
// shared structure script counts.
int countInBody(QString html, const QString &pattern)
{
    html = html.toLower();
    html.replace(u'\n', u' ').replace(u'\r', u' ');
    const qsizetype body = html.indexOf(QStringLiteral("<body"));
    if (body >= 0)
        html = html.mid(body);
    const QRegularExpression expression(pattern);
    int count = 0;
    for (auto it = expression.globalMatch(html); it.hasNext(); it.next())
        ++count;
    return count;
}

} // namespace

class TestRtfWriterStructure : public QObject {
    Q_OBJECT

private slots:
    void controlWords_data();
    void controlWords();
    void deterministic_data();
    void deterministic();
    void roundTrip_data();
    void roundTrip();
    void hugeColumnWidthsStayInRange();
    void libreOffice();
};

void TestRtfWriterStructure::controlWords_data()
{
    QTest::addColumn<QString>("document");
    QTest::addColumn<QStringList>("inOrder");
    QTest::addColumn<QStringList>("absent");

    QTest::newRow("plain paragraphs state nothing")
        << QStringLiteral("plain") << QStringList{"\\viewkind4\\uc1\\pard\n{", "A}\\par", "{"}
        << QStringList{"\\par\n\\pard", "\\ql", "\\li", "\\listtable", "\\trowd"};
    QTest::newRow("centred, then plain again")
        << QStringLiteral("centred then plain")
        << QStringList{"\\pard\\qc{", "Title}\\par\n\\pard{", "Body}"} << QStringList{"\\qr"};
    QTest::newRow("right") << QStringLiteral("right") << QStringList{"\\pard\\qr{", "Date"}
                           << QStringList{"\\qc", "\\qj"};
    QTest::newRow("justified") << QStringLiteral("justified") << QStringList{"\\pard\\qj{", "Text"}
                               << QStringList{"\\qc"};
    QTest::newRow("right to left, from the letters or marked")
        << QStringLiteral("right to left")
        << QStringList{"\\pard\\rtlpar{", "Arabic}\\par\n\\pard{", "Latin}\\par\n\\pard\\rtlpar{",
                       "Marked}"}
        << QStringList{"\\ltrpar"};
    QTest::newRow("left is the default") << QStringLiteral("left stated") << QStringList{"Left"}
                                         << QStringList{"\\ql", "\\par\n\\pard"};
    QTest::newRow("indents and spacing")
        << QStringLiteral("indents and spacing")
        << QStringList{"\\pard\\li720\\ri360\\fi-360\\sb180\\sa120{", "Indented"} << QStringList{};
    QTest::newRow("proportional line height")
        << QStringLiteral("proportional line height")
        << QStringList{"\\pard\\sl360\\slmult1{", "Spaced"} << QStringList{};
    QTest::newRow("minimum line height")
        << QStringLiteral("minimum line height")
        << QStringList{"\\pard\\sl300\\slmult0{", "AtLeast"} << QStringList{"\\sl-"};
    QTest::newRow("fixed line height")
        << QStringLiteral("fixed line height") << QStringList{"\\pard\\sl-300\\slmult0{", "Exactly"}
        << QStringList{};
    QTest::newRow("tab stops") << QStringLiteral("tab stops")
                               << QStringList{"\\pard\\tqr\\tx1500\\tqc\\tx3000\\tqdec\\tx4500"
                                              "\\tx6000{",
                                              "a\\tab b"}
                               << QStringList{};
    QTest::newRow("line break") << QStringLiteral("line break") << QStringList{"first\\line second"}
                                << QStringList{"\\pard\\"};
    QTest::newRow("decimal list")
        << QStringLiteral("decimal list")
        << QStringList{"{\\*\\listtable",
                       "{\\list\\listtemplateid1{\\listlevel\\levelnfc0\\levelnfcn0",
                       "\\levelstartat1",
                       "{\\leveltext\\'02\\'00.;}{\\levelnumbers\\'01;}\\fi-360\\li600\\lin600}",
                       "{\\listname ;}\\listid1}",
                       "{\\*\\listoverridetable{\\listoverride\\listid1\\listoverridecount0\\ls1}}",
                       "\\viewkind4",
                       "Before}\\par",
                       "\\pard\\ls1\\ilvl0\\li600\\fi-360{\\listtext\\f0\\fs",
                       " 1.\\tab}{",
                       "one}\\par",
                       "\\pard\\ls1\\ilvl0\\li600\\fi-360{\\listtext",
                       " 2.\\tab}{",
                       "two}\\par\n\\pard{",
                       "After}"}
        << QStringList{"\\ls2"};
    QTest::newRow("alpha list from 3 with )")
        << QStringLiteral("alpha list from 3 with )")
        << QStringList{"\\levelnfc4\\levelnfcn4",
                       "\\levelstartat3",
                       "{\\leveltext\\'02\\'00);}",
                       " c)\\tab}",
                       "third",
                       " d)\\tab}",
                       "fourth"}
        << QStringList{"\\levelstartat1\\levelspace0\\levelindent0{\\leveltext\\'02\\'00);}"};
    QTest::newRow("roman list with prefix")
        << QStringLiteral("roman list with prefix")
        << QStringList{"\\levelnfc1", "{\\leveltext\\'03(\\'00);}{\\levelnumbers\\'02;}",
                       "(I)\\tab}", "first"}
        << QStringList{};
    QTest::newRow("bullets") << QStringLiteral("bullets")
                             << QStringList{"\\levelnfc23",
                                            "{\\leveltext\\'01\\u8226?;}{\\levelnumbers;}",
                                            "{\\leveltext\\'01\\u9642?;}",
                                            "\\pard\\ls1\\ilvl0",
                                            "{\\listtext",
                                            "\\u8226",
                                            "\\tab}{",
                                            "dot",
                                            "\\pard\\ls1\\ilvl1\\li1200\\fi-360{\\listtext",
                                            "\\u9642",
                                            "square"}
                             << QStringList{"\\ls2"};
    QTest::newRow("nested list is a deeper level")
        << QStringLiteral("nested list")
        << QStringList{"\\levelnfc0", "\\levelnfc4",  "\\listid1}",   "\\ls1\\ilvl0",
                       " 1.\\tab}",   "one",          "\\ls1\\ilvl1", " a.\\tab}",
                       "sub",         "\\ls1\\ilvl0", " 2.\\tab}",    "two"}
        << QStringList{"\\ls2", "\\listid2"};
    QTest::newRow("two lists") << QStringLiteral("two lists")
                               << QStringList{"\\listid1}",   "\\listid2}", "\\ls1}", "\\ls2}",
                                              "\\ls1\\ilvl0", " 1.\\tab}",  "first",  "Between",
                                              "\\ls2\\ilvl0", " 1.\\tab}",  "again"}
                               << QStringList{};
    QTest::newRow("table with widths")
        << QStringLiteral("table with widths")
        << QStringList{"Before}\\par",
                       "\\trowd\\trgaph0\\trleft0\\cellx1500\\cellx2250",
                       "\\pard\\intbl{",
                       "A1}\\cell",
                       "\\pard\\intbl{",
                       "B1}\\cell\\row\n",
                       "\\trowd\\trgaph0\\trleft0\\cellx1500\\cellx2250",
                       "\\pard\\intbl{",
                       "A2}\\cell",
                       "B2}\\cell\\row\n",
                       "\\pard{",
                       "After}"}
        << QStringList{"\\clbrdr", "\\itap", "\\nestcell", "\\clmgf"};
    QTest::newRow("table without widths: the page width shared")
        << QStringLiteral("table without widths")
        << QStringList{"\\trowd\\trgaph0\\trleft0\\cellx4153\\cellx8306", "L}\\cell", "R}\\cell",
                       "\\row"}
        << QStringList{"\\clbrdr"};
    // The padding above and below the text, which a reader takes from no
    // gap, is stated.
    QTest::newRow("table with borders and padding")
        << QStringLiteral("table with borders and padding")
        << QStringList{"\\trowd\\trgaph60\\trleft0\\clbrdrt\\brdrs\\brdrw15\\clbrdrl\\brdrs"
                       "\\brdrw15\\clbrdrb\\brdrs\\brdrw15\\clbrdrr\\brdrs\\brdrw15"
                       "\\clpadl60\\clpadfl3\\clpadb60\\clpadfb3\\cellx1500",
                       "Boxed}\\cell\\row"}
        << QStringList{};
    QTest::newRow("shaded cell") << QStringLiteral("shaded cell")
                                 << QStringList{"{\\colortbl ;\\red255\\green0\\blue0;}",
                                                "\\trowd\\trgaph0\\trleft0",
                                                "\\clcbpat1\\cellx1500\\cellx3000", "Red}\\cell",
                                                "None}\\cell"}
                                 << QStringList{"\\clcbpat2", "\\cellx1500\\clcbpat"};
    // A cell merged across is one cell where another row draws the
    // boundaries it covers: LibreOffice draws the lines of cells merged with
    // \clmgf on the wrong rows.
    QTest::newRow("merged across")
        << QStringLiteral("merged across")
        << QStringList{"\\trowd\\trgaph0\\trleft0\\cellx3000\\cellx4500",
                       "Wide}\\cell\\pard\\intbl{",
                       "C}\\cell\\row",
                       "\\trowd\\trgaph0\\trleft0\\cellx1500\\cellx3000\\cellx4500",
                       "X}\\cell",
                       "Y}\\cell",
                       "Z}\\cell\\row"}
        << QStringList{"\\clvm", "\\clmgf", "\\clmrg"};
    // No other row draws the boundary inside the merged cell: the columns
    // are written, merged, so that the table reads back on the same grid.
    QTest::newRow("merged across a boundary no row draws")
        << QStringLiteral("merged across, one row")
        << QStringList{"\\trowd\\trgaph0\\trleft0\\clmgf\\cellx1500\\clmrg\\cellx3000\\cellx4500",
                       "Wide}\\cell\\pard\\intbl\\cell\\pard\\intbl{", "C}\\cell\\row"}
        << QStringList{"\\clvm"};
    QTest::newRow("merged down")
        << QStringLiteral("merged down")
        << QStringList{"\\trowd\\trgaph0\\trleft0\\clvmgf\\cellx1500\\cellx3000",
                       "Tall}\\cell",
                       "B1}\\cell\\row",
                       "\\trowd\\trgaph0\\trleft0\\clvmrg\\cellx1500\\cellx3000",
                       "\\pard\\intbl\\cell\\pard\\intbl{",
                       "B2}\\cell\\row"}
        << QStringList{"\\clmgf", "\\clmrg"};
    QTest::newRow("nested table")
        << QStringLiteral("nested table")
        << QStringList{"\\trowd\\trgaph0\\trleft0\\cellx3000\\cellx4500",
                       "\\pard\\intbl{",
                       "Outer}\\par",
                       "\\pard\\intbl\\itap2{",
                       "N1}\\nestcell",
                       "\\pard\\intbl\\itap2{",
                       "N2}\\nestcell{\\*\\nesttableprops\\trowd\\trgaph0\\trleft0\\cellx1500"
                       "\\cellx3000\\nestrow}{\\nonesttables\\par}",
                       "\\pard\\intbl\\cell",
                       "Right}\\cell\\row"}
        << QStringList{"\\itap1", "\\itap3"};
    QTest::newRow("everything") << QStringLiteral("everything")
                                << QStringList{"\\pard\\qc{",
                                               "Title}",
                                               "\\pard\\qr{",
                                               "\\pard\\qj{",
                                               "\\pard\\ls1\\ilvl0",
                                               "one}",
                                               "\\pard\\ls1\\ilvl1",
                                               "sub a}",
                                               "sub b}",
                                               "\\pard\\ls1\\ilvl0",
                                               "two}",
                                               "\\pard\\ls2\\ilvl0",
                                               "bullet}",
                                               "\\pard{",
                                               "Before the table}",
                                               "\\trowd",
                                               "\\clbrdrt",
                                               "\\cellx2400\\clbrdrt",
                                               "\\cellx4800\\pard\\intbl{",
                                               "A1}\\cell",
                                               "\\pard\\intbl\\par\\pard\\intbl\\ls3\\ilvl0",
                                               "cell one}",
                                               "\\pard\\intbl\\ls3\\ilvl1",
                                               "cell sub}\\cell",
                                               "\\row",
                                               "\\pard\\intbl\\itap2{",
                                               "N1}\\nestcell",
                                               "N2}\\nestcell{\\*\\nesttableprops",
                                               "\\nestrow}",
                                               "B2}\\cell\\row",
                                               "Between}",
                                               "M}\\cell\\pard\\intbl{",
                                               "C}\\cell",
                                               "\\row\n\\pard\\par\n{",
                                               "End}"}
                                << QStringList{"\\ls4", "\\itap3"};
    // Word and LibreOffice number a list on through a table's cells: a
    // deeper list in the next cell is its sublist, as the reader takes it.
    QTest::newRow("a list in the next cell is a sublist")
        << QStringLiteral("lists in neighbouring cells")
        << QStringList{"\\listid1}", "\\pard\\intbl\\ls1\\ilvl0", "left}\\cell",
                       "\\pard\\intbl\\ls1\\ilvl1", "right}\\cell\\row"}
        << QStringList{"\\listid2}", "\\ls2"};
    QTest::newRow("list in a cell")
        << QStringLiteral("list in a cell")
        << QStringList{"{\\*\\listtable", "\\trowd",   "\\pard\\intbl\\ls1\\ilvl0\\li600\\fi-360",
                       "{\\listtext",     " 1.\\tab}", "item}\\cell\\row"}
        << QStringList{};
}

void TestRtfWriterStructure::controlWords()
{
    QFETCH(QString, document);
    QFETCH(QStringList, inOrder);
    QFETCH(QStringList, absent);
    QVERIFY(builders().contains(document));
    const QByteArray rtf = written(document);
    qsizetype at = 0;
    for (const QString &expected : inOrder) {
        const qsizetype found = rtf.indexOf(expected.toLatin1(), at);
        QVERIFY2(found >= 0, qPrintable(QStringLiteral("\"%1\" missing after:\n%2")
                                            .arg(expected, QString::fromLatin1(rtf.mid(at)))));
        at = found + expected.size();
    }
    for (const QString &unexpected : absent)
        QVERIFY2(!rtf.contains(unexpected.toLatin1()),
                 qPrintable(unexpected + QStringLiteral(" in:\n") + QString::fromLatin1(rtf)));
}

void TestRtfWriterStructure::deterministic_data()
{
    QTest::addColumn<QString>("document");
    for (const QString &name : builders().keys())
        QTest::newRow(qPrintable(name)) << name;
}

void TestRtfWriterStructure::deterministic()
{
    QFETCH(QString, document);
    // Two documents built alike (other list and table addresses) and two
    // writes of the same one.
    QTextDocument first;
    builders().value(document)(first);
    const QByteArray once = Rtf::write(first, 936);
    QCOMPARE(Rtf::write(first, 936), once);
    QCOMPARE(written(document), once);

    // Written a step at a time with no time to spare: one paragraph or
    // table a step, and the same bytes.
    int items = 0;
    for (auto it = first.rootFrame()->begin(); !it.atEnd(); ++it)
        ++items;
    Rtf::SlicedWriter sliced(first, 936);
    int steps = 1;
    while (!sliced.writeSome(QDeadlineTimer(0)))
        ++steps;
    QCOMPARE(steps, items);
    QCOMPARE(sliced.writeSome(QDeadlineTimer(0)), true);
    QCOMPARE(sliced.take(), once);
}

void TestRtfWriterStructure::roundTrip_data()
{
    QTest::addColumn<QString>("document");
    for (const QString &name : builders().keys())
        QTest::newRow(qPrintable(name)) << name;
}

// Written, read back and written again: the reader builds what the writer
// wrote, so the text a reader of a .txt sees and the RTF itself come out
// the same the second time.
void TestRtfWriterStructure::roundTrip()
{
    QFETCH(QString, document);
    QTextDocument original;
    builders().value(document)(original);
    const QByteArray once = Rtf::write(original, 936);
    QTextDocument back;
    QVERIFY(readInto(back, once));
    QCOMPARE(exportPlainText(back), exportPlainText(original));
    QCOMPARE(QString::fromLatin1(Rtf::write(back, 936)), QString::fromLatin1(once));
}

void TestRtfWriterStructure::hugeColumnWidthsStayInRange()
{
    // Widths a hostile file gave its columns add up past an int: the cell
    // boundaries stay in order and in range, and nothing overflows.
    QTextDocument document;
    QTextCursor cursor(&document);
    QTextTableFormat format;
    format.setColumnWidthConstraints({QTextLength(QTextLength::FixedLength, 1e8),
                                      QTextLength(QTextLength::FixedLength, 1e8),
                                      QTextLength(QTextLength::FixedLength, 1e8)});
    cursor.insertTable(1, 3, format);
    const QString rtf = QString::fromLatin1(Rtf::write(document, 936));
    QList<long long> edges;
    for (const QRegularExpressionMatch &m :
         QRegularExpression(QStringLiteral("\\\\cellx(-?\\d+)")).globalMatch(rtf))
        edges << m.captured(1).toLongLong();
    QCOMPARE(edges.size(), 3);
    for (qsizetype i = 0; i < edges.size(); ++i) {
        QVERIFY2(edges[i] > 0 && edges[i] <= std::numeric_limits<int>::max(), qPrintable(rtf));
        QVERIFY(i == 0 || edges[i] >= edges[i - 1]);
    }
}

void TestRtfWriterStructure::libreOffice()
{
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty())
        QSKIP("soffice (LibreOffice) is not installed: the outside-reader check is skipped");
    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/tst_rtfwriterstructure-XXXXXX"));
    QVERIFY(dir.isValid());
    const QStringList names = {QStringLiteral("everything"), QStringLiteral("nested list"),
                               QStringLiteral("merged down")};
    QStringList arguments = {QStringLiteral("--headless"), QStringLiteral("--convert-to"),
                             QStringLiteral("html:HTML (StarWriter)"), QStringLiteral("--outdir"),
                             dir.filePath(QStringLiteral("html"))};
    for (int i = 0; i < names.size(); ++i) {
        const QString path = dir.filePath(QStringLiteral("doc%1.rtf").arg(i));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(written(names[i]));
        arguments << path;
    }
    // One call for all files: starting soffice is the slow part.
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), dir.filePath(QStringLiteral("home")));
    process.setProcessEnvironment(environment);
    process.start(soffice, arguments);
    QVERIFY(process.waitForFinished(240000));

    struct Expected {
        int tables, cells, items, centred, right, justified;
        QStringList lists; // the list tags, in order: numbering styles arrive
    };
    // everything: the outer 2x2 table, the nested 1x2 one, the 2x3 one with
    // two cells merged; list items: one, sub a, sub b, two, bullet and the
    // three in the cell.
    const QList<Expected> expected = {
        {3,
         4 + 2 + 5,
         8,
         1,
         1,
         1,
         {QStringLiteral("<ol>"), QStringLiteral("<ol type=\"a\">"), QStringLiteral("<ul>"),
          QStringLiteral("<ol>"), QStringLiteral("<ol type=\"i\">")}},
        {0, 0, 3, 0, 0, 0, {QStringLiteral("<ol>"), QStringLiteral("<ol type=\"a\">")}},
        {1, 3, 0, 0, 0, 0, {}}};
    static const QRegularExpression listTag(QStringLiteral("<[ou]l[^>]*>"));
    for (int i = 0; i < names.size(); ++i) {
        // LibreOffice wraps and indents long lines at blanks.
        static const QRegularExpression space(QStringLiteral("\\s+"));
        const QString html = readFile(dir.filePath(QStringLiteral("html/doc%1.html").arg(i)))
                                 .replace(space, QStringLiteral(" "));
        QVERIFY2(!html.isEmpty(), qPrintable(names[i] + QStringLiteral(": not converted")));
        const Expected want = expected[i];
        QCOMPARE(countInBody(html, QStringLiteral("<table[ >]")), want.tables);
        QCOMPARE(countInBody(html, QStringLiteral("<td[ >]")), want.cells);
        QCOMPARE(countInBody(html, QStringLiteral("<li[ >]")), want.items);
        QCOMPARE(countInBody(html, QStringLiteral("align=\"center\"|text-align: *center")),
                 want.centred);
        QCOMPARE(countInBody(html, QStringLiteral("align=\"right\"|text-align: *right")),
                 want.right);
        QCOMPARE(countInBody(html, QStringLiteral("align=\"justify\"|text-align: *justify")),
                 want.justified);
        QStringList lists;
        for (auto it = listTag.globalMatch(html); it.hasNext();)
            lists << it.next().captured(0).toLower();
        QCOMPARE(lists, want.lists);
        if (i == 0) {
            for (const char *word : {"Title", "sub b", "cell sub", "N2", "B2", "Y", "End"})
                QVERIFY2(html.contains(QLatin1String(word)), word);
        }
    }
}

QTEST_MAIN(TestRtfWriterStructure)
#include "tst_rtfwriterstructure.moc"
