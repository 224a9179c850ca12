// The questions about a document that need no view: which view it needs,
// where its long lines are, find, line and column, selections across soft
// breaks, a selection's format. Plain QTextDocuments, no widget.
#include "core/documentshape.h"
#include "core/documenttext.h"
#include "core/selectionformat.h"
#include "core/textqueries.h"

#include <QGuiApplication>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>

using namespace Inkwell;

namespace {

// A document of `text` whose lines longer than `piece` characters are held
// in pieces of `piece`, as the fast view holds a long line.
void fill(QTextDocument &document, const QString &text, int piece = 0)
{
    QTextCursor cursor(&document);
    cursor.insertText(text);
    if (piece > 0)
        breakLongParagraphs(document, piece);
}

} // namespace

class TestDocumentShape : public QObject {
    Q_OBJECT
private slots:
    void needsRichView_data()
    {
        QTest::addColumn<QString>("structure");
        QTest::addColumn<bool>("needed");
        QTest::newRow("plain text") << "" << false;
        QTest::newRow("character formats") << "bold" << false;
        QTest::newRow("explicitly left") << "left" << false;
        QTest::newRow("centred") << "centre" << true;
        QTest::newRow("right") << "right" << true;
        QTest::newRow("justified") << "justify" << true;
        QTest::newRow("first-line indent") << "indent" << true;
        QTest::newRow("space after") << "after" << true;
        QTest::newRow("tab stops") << "tabs" << true;
        QTest::newRow("list") << "list" << true;
        QTest::newRow("table") << "table" << true;
    }
    void needsRichView()
    {
        QFETCH(QString, structure);
        QFETCH(bool, needed);
        QTextDocument document;
        QTextCursor cursor(&document);
        cursor.insertText(QStringLiteral("first\nsecond"));
        cursor.setPosition(8);
        QTextBlockFormat block;
        QTextCharFormat chars;
        if (structure == QLatin1String("bold"))
            chars.setFontWeight(QFont::Bold);
        else if (structure == QLatin1String("left"))
            block.setAlignment(Qt::AlignLeft);
        else if (structure == QLatin1String("centre"))
            block.setAlignment(Qt::AlignHCenter);
        else if (structure == QLatin1String("right"))
            block.setAlignment(Qt::AlignRight);
        else if (structure == QLatin1String("justify"))
            block.setAlignment(Qt::AlignJustify);
        else if (structure == QLatin1String("indent"))
            block.setTextIndent(20);
        else if (structure == QLatin1String("after"))
            block.setBottomMargin(8);
        else if (structure == QLatin1String("tabs"))
            block.setTabPositions({QTextOption::Tab(72, QTextOption::RightTab)});
        else if (structure == QLatin1String("list"))
            cursor.createList(QTextListFormat::ListDecimal);
        else if (structure == QLatin1String("table"))
            cursor.insertTable(2, 2);
        cursor.mergeBlockFormat(block);
        cursor.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
        cursor.mergeCharFormat(chars);
        QCOMPARE(Inkwell::needsRichView(document), needed);
    }

    // What an RTF just read is shown as: rich unless it is long or has a
    // long paragraph and holds nothing only the rich view shows.
    void kindOfReadRtf_data()
    {
        QTest::addColumn<int>("characters");
        QTest::addColumn<int>("longestParagraph");
        QTest::addColumn<bool>("centred");
        QTest::addColumn<bool>("rich");
        QTest::newRow("short") << 100 << 10 << false << true;
        QTest::newRow("at the size limit") << richViewChars - 1 << 1000 << false << true;
        QTest::newRow("over the size limit") << richViewChars + 10 << 1000 << false << false;
        QTest::newRow("over the size limit, centred") << richViewChars + 10 << 1000 << true << true;
        QTest::newRow("long paragraph") << 20000 << int(longLineChars) + 1 << false << false;
        QTest::newRow("paragraph at the limit") << 20000 << int(longLineChars) << false << true;
        QTest::newRow("long paragraph, centred") << 20000 << int(longLineChars) + 1 << true << true;
    }
    void kindOfReadRtf()
    {
        QFETCH(int, characters);
        QFETCH(int, longestParagraph);
        QFETCH(bool, centred);
        QFETCH(bool, rich);
        QString text;
        text.reserve(characters);
        while (text.size() + longestParagraph + 1 < characters)
            text += QString(longestParagraph, u'x') + u'\n';
        text += QString(std::max(0, characters - 1 - int(text.size())), u'y');
        QTextDocument document;
        fill(document, text);
        if (centred) {
            QTextBlockFormat format;
            format.setAlignment(Qt::AlignHCenter);
            QTextCursor(&document).mergeBlockFormat(format);
        }
        QCOMPARE(Inkwell::kindOfReadRtf(document) == DocumentKind::Rich, rich);
    }

    void changeMadeLongParagraph_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("added");
        QTest::addColumn<bool>("grows");
        // Paragraphs: "short" (0-5), a long one (6-...), "end".
        QTest::newRow("in the short paragraph") << 0 << 3 << false;
        QTest::newRow("reaching into the long one") << 4 << 3 << true;
        QTest::newRow("in the long one") << 100 << 1 << true;
        QTest::newRow("nothing added") << 100 << 0 << false;
        QTest::newRow("after the long one") << 6 + int(longLineChars) + 3 << 2 << false;
    }
    void changeMadeLongParagraph()
    {
        QFETCH(int, from);
        QFETCH(int, added);
        QFETCH(bool, grows);
        QTextDocument document;
        fill(document, QStringLiteral("short\n") + QString(longLineChars + 1, u'x') +
                           QStringLiteral("\nend"));
        QCOMPARE(Inkwell::changeMadeLongParagraph(document, from, added), grows);
    }

    void hasFormatting_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<bool>("richKind");
        QTest::addColumn<bool>("formatted");
        QTest::newRow("plain text") << "" << false << false;
        QTest::newRow("plain text, rich kind") << "" << true << false;
        QTest::newRow("a bold word") << "bold" << false << true;
        QTest::newRow("a colour") << "colour" << false << true;
        QTest::newRow("a picture") << "picture" << false << true;
        QTest::newRow("centred, plain kind") << "centre" << false << false;
        QTest::newRow("centred, rich kind") << "centre" << true << true;
    }
    void hasFormatting()
    {
        QFETCH(QString, what);
        QFETCH(bool, richKind);
        QFETCH(bool, formatted);
        QTextDocument document;
        QTextCursor cursor(&document);
        cursor.insertText(QStringLiteral("one two"));
        cursor.setPosition(4);
        cursor.setPosition(7, QTextCursor::KeepAnchor);
        QTextCharFormat chars;
        if (what == u"bold")
            chars.setFontWeight(QFont::Bold);
        else if (what == u"colour")
            chars.setForeground(Qt::red);
        cursor.mergeCharFormat(chars);
        if (what == u"picture") {
            QTextImageFormat picture;
            picture.setName(QStringLiteral("p"));
            cursor.insertImage(picture);
        }
        if (what == u"centre") {
            QTextBlockFormat block;
            block.setAlignment(Qt::AlignHCenter);
            cursor.mergeBlockFormat(block);
        }
        QCOMPARE(Inkwell::hasFormatting(document,
                                        richKind ? DocumentKind::Rich : DocumentKind::Plain,
                                        QTextCharFormat()),
                 formatted);
    }
};

class TestTextQueries : public QObject {
    Q_OBJECT
private slots:
    // Positions are the text's: the breaks of a line held in pieces are no
    // characters, and a match may run across one.
    void findInDocument_data()
    {
        QTest::addColumn<int>("piece");
        QTest::addColumn<QString>("needle");
        QTest::addColumn<int>("selectionStart");
        QTest::addColumn<int>("selectionEnd");
        QTest::addColumn<int>("start"); // -1: none
        QTest::addColumn<int>("end");   // -1: none
        QTest::addColumn<int>("found");
        // Text: "alpha beta\ngamma alpha"
        QTest::newRow("whole text, no selection") << 0 << "ALPHA" << 3 << 3 << -1 << -1 << 0;
        QTest::newRow("in the selection") << 0 << "alpha" << 2 << 22 << -1 << -1 << 17;
        QTest::newRow("not in the selection") << 0 << "beta" << 12 << 22 << -1 << -1 << -1;
        QTest::newRow("from the caret to an end") << 0 << "alpha" << 1 << 1 << -1 << 22 << 17;
        QTest::newRow("from a start") << 0 << "a" << 0 << 0 << 5 << 22 << 9;
        QTest::newRow("range too short") << 0 << "gamma" << 0 << 0 << 11 << 15 << -1;
        QTest::newRow("across a line end") << 0 << "beta\ngam" << 0 << 0 << -1 << -1 << 6;
        QTest::newRow("empty needle") << 0 << "" << 0 << 0 << -1 << -1 << -1;
        QTest::newRow("pieces: across a soft break") << 4 << "ha be" << 0 << 0 << -1 << -1 << 3;
        QTest::newRow("pieces: after soft breaks") << 4 << "alpha" << 0 << 0 << 1 << 22 << 17;
        QTest::newRow("pieces: in a selection") << 4 << "ta" << 7 << 14 << -1 << -1 << 8;
    }
    void findInDocument()
    {
        QFETCH(int, piece);
        QFETCH(QString, needle);
        QFETCH(int, selectionStart);
        QFETCH(int, selectionEnd);
        QFETCH(int, start);
        QFETCH(int, end);
        QFETCH(int, found);
        QTextDocument document;
        fill(document, QStringLiteral("alpha beta\ngamma alpha"), piece);
        QCOMPARE(!SoftBreaks(document).isEmpty(), piece > 0);
        QTextCursor cursor(&document);
        setTextPosition(cursor, selectionStart);
        setTextSelectionLength(cursor, selectionEnd - selectionStart);
        const auto optional = [](int v) { return v < 0 ? std::nullopt : std::optional<int>(v); };
        QCOMPARE(Inkwell::findInDocument(document, needle, cursor, optional(start), optional(end)),
                 found);
    }

    void lineColumnAt_data()
    {
        QTest::addColumn<int>("piece");
        QTest::addColumn<int>("textPosition");
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("column");
        // Text: "first line\nsecond\n\nlast"
        QTest::newRow("start") << 0 << 0 << 1 << 1;
        QTest::newRow("end of the first line") << 0 << 10 << 1 << 11;
        QTest::newRow("second line") << 0 << 13 << 2 << 3;
        QTest::newRow("empty line") << 0 << 18 << 3 << 1;
        QTest::newRow("last") << 0 << 23 << 4 << 5;
        QTest::newRow("pieces: inside the first line") << 3 << 7 << 1 << 8;
        QTest::newRow("pieces: second line") << 3 << 16 << 2 << 6;
        QTest::newRow("pieces: last") << 3 << 23 << 4 << 5;
    }
    void lineColumnAt()
    {
        QFETCH(int, piece);
        QFETCH(int, textPosition);
        QFETCH(int, line);
        QFETCH(int, column);
        QTextDocument document;
        fill(document, QStringLiteral("first line\nsecond\n\nlast"), piece);
        QTextCursor cursor(&document);
        setTextPosition(cursor, textPosition);
        const LineColumn at = Inkwell::lineColumnAt(document, cursor.position());
        QCOMPARE(at.line, line);
        QCOMPARE(at.column, column);
    }

    // A selection read and set in text positions gives back the text
    // without the breaks, whichever side of a break it starts.
    void selectionAcrossSoftBreaks_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("selected");
        // Text "abcdefghij\nxyz" held in pieces of 3.
        QTest::newRow("inside a piece") << 1 << 1 << "b";
        QTest::newRow("across one break") << 2 << 3 << "cde";
        QTest::newRow("across two breaks") << 1 << 7 << "bcdefgh";
        QTest::newRow("into the next line") << 8 << 5 << "ij\nxy";
        QTest::newRow("past the end") << 12 << 10 << "yz";
        QTest::newRow("negative length") << 4 << -3 << "";
    }
    void selectionAcrossSoftBreaks()
    {
        QFETCH(int, start);
        QFETCH(int, length);
        QFETCH(QString, selected);
        QTextDocument document;
        fill(document, QStringLiteral("abcdefghij\nxyz"), 3);
        QVERIFY(!SoftBreaks(document).isEmpty());
        QTextCursor cursor(&document);
        setTextPosition(cursor, start);
        QCOMPARE(textSelectionStart(cursor), start);
        setTextSelectionLength(cursor, length);
        QCOMPARE(selectedText(cursor), selected);
        QCOMPARE(textSelectionLength(cursor), int(selected.size()));
        QCOMPARE(textSelectionStart(cursor), start);
    }
};

class TestSelectionFormat : public QObject {
    Q_OBJECT
private slots:
    void mixedParts_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<int>("mixed");
        // "plain BOLD red": BOLD bold, "red" red.
        QTest::newRow("plain only") << 0 << 5 << false << 0;
        QTest::newRow("bold only") << 6 << 10 << true << 0;
        QTest::newRow("plain and bold") << 3 << 8 << false << int(SelectionFormat::Bold);
        QTest::newRow("bold and red")
            << 8 << 14 << true << int(SelectionFormat::Bold | SelectionFormat::Colour);
        QTest::newRow("no selection: what is typed") << 7 << 7 << false << 0;
    }
    void mixedParts()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(bool, bold);
        QFETCH(int, mixed);
        QTextDocument document;
        QTextCursor cursor(&document);
        cursor.insertText(QStringLiteral("plain "));
        QTextCharFormat strong;
        strong.setFontWeight(QFont::Bold);
        cursor.insertText(QStringLiteral("BOLD"), strong);
        QTextCharFormat red;
        red.setForeground(Qt::red);
        cursor.insertText(QStringLiteral(" red"), red);
        cursor.setPosition(from);
        cursor.setPosition(to, QTextCursor::KeepAnchor);
        const SelectionFormat format = selectionFormatOf(cursor, QTextCharFormat());
        QCOMPARE(format.bold, bold);
        QCOMPARE(format.mixed, mixed);
        QCOMPARE(format.colour.has_value(), from >= 10);
    }
};

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    int status = 0;
    TestDocumentShape shape;
    status |= QTest::qExec(&shape, argc, argv);
    TestTextQueries queries;
    status |= QTest::qExec(&queries, argc, argv);
    TestSelectionFormat format;
    status |= QTest::qExec(&format, argc, argv);
    return status;
}

#include "tst_documentshape.moc"
