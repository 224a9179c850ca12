#include "core/formatproperties.h"
#include "core/tablegaps.h"

#include <QAbstractTextDocumentLayout>
#include <QGuiApplication>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextTable>

using namespace Inkwell;

namespace {

// What follows the paragraph after the table.
enum class Follows { Text, Table, Nothing };

struct Built {
    QTextTable *table = nullptr; // the one the paragraph follows
    QTextBlock after;            // that paragraph
};

// A table, then a paragraph holding `line` (empty, or a character Qt shows
// as it would show the paragraph), then what follows: in the document, or
// in a cell of an outer table.
Built build(QTextDocument &document, const QString &line, Follows follows, bool inCell,
            qreal points, qreal lineHeight)
{
    document.setDocumentMargin(4);
    QTextCursor cursor(&document);
    if (inCell) {
        cursor.insertText(QStringLiteral("top"));
        QTextTable *outer = cursor.insertTable(1, 1);
        cursor = outer->cellAt(0, 0).firstCursorPosition();
    }
    QTextTable *table = cursor.insertTable(1, 1);
    table->cellAt(0, 0).firstCursorPosition().insertText(QStringLiteral("A"));
    cursor.setPosition(table->lastPosition() + 1);
    QTextBlockFormat block;
    block.setBottomMargin(3);
    if (lineHeight != 100)
        block.setLineHeight(lineHeight, QTextBlockFormat::ProportionalHeight);
    QTextCharFormat chars;
    chars.setFontPointSize(points);
    cursor.setBlockFormat(block);
    cursor.setBlockCharFormat(chars);
    cursor.insertText(line, chars);
    const int afterPosition = table->lastPosition() + 1;
    if (follows != Follows::Nothing) {
        cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
        if (follows == Follows::Text)
            cursor.insertText(QStringLiteral("next"));
        else
            cursor.insertTable(1, 2)->cellAt(0, 1).firstCursorPosition().insertText(
                QStringLiteral("B"));
    }
    return {table, document.findBlock(afterPosition)};
}

// Where what follows the paragraph after the table begins.
qreal nextTop(QTextDocument &document, const Built &built)
{
    document.setTextWidth(400);
    QAbstractTextDocumentLayout *layout = document.documentLayout();
    const QTextBlock next = built.after.next();
    if (auto *table = qobject_cast<QTextTable *>(document.frameAt(next.position())))
        if (table != built.table && table->firstPosition() == next.position())
            return layout->frameBoundingRect(table).top();
    return layout->blockBoundingRect(next).top();
}

} // namespace

class TestTableGaps : public QObject {
    Q_OBJECT
private slots:
    void emptyLineAfterTableIsShown_data()
    {
        QTest::addColumn<Follows>("follows");
        QTest::addColumn<bool>("inCell");
        QTest::addColumn<qreal>("points");
        QTest::addColumn<qreal>("lineHeight");
        QTest::newRow("text follows") << Follows::Text << false << qreal(12) << qreal(100);
        QTest::newRow("another table follows")
            << Follows::Table << false << qreal(12) << qreal(100);
        QTest::newRow("large type") << Follows::Text << false << qreal(24) << qreal(100);
        QTest::newRow("double spacing") << Follows::Text << false << qreal(12) << qreal(200);
        QTest::newRow("in a cell") << Follows::Text << true << qreal(10) << qreal(100);
    }
    void emptyLineAfterTableIsShown()
    {
        QFETCH(Follows, follows);
        QFETCH(bool, inCell);
        QFETCH(qreal, points);
        QFETCH(qreal, lineHeight);
        // Qt lays out a paragraph with a character in it: the empty one
        // must push what follows as far down.
        QTextDocument shown;
        const Built withText =
            build(shown, QStringLiteral("\u00a0"), follows, inCell, points, lineHeight);
        QVERIFY(unsettledTableGaps(shown, 0, shown.characterCount()).empty());
        const qreal expected = nextTop(shown, withText);

        QTextDocument empty;
        const Built built = build(empty, QString(), follows, inCell, points, lineHeight);
        const qreal hidden = nextTop(empty, built);
        QVERIFY(hidden < expected - 5); // Qt hides it
        settleTableGaps(empty, 0, empty.characterCount());
        QCOMPARE_GT(built.table->format().doubleProperty(tableGapProperty), 0.0);
        QVERIFY(qAbs(nextTop(empty, built) - expected) < 0.5);
        // Settled: nothing more to do, and the margin is the gap alone.
        QVERIFY(unsettledTableGaps(empty, 0, empty.characterCount()).empty());
        QCOMPARE(built.table->format().bottomMargin(),
                 built.table->format().doubleProperty(tableGapProperty));

        // Qt parks the empty paragraph at the table's right; the window
        // shows it where Qt shows the paragraph with a character in it.
        const std::optional<QPointF> offset = shownGapLineOffset(empty, built.after);
        QVERIFY(offset);
        const QRectF parked = empty.documentLayout()->blockBoundingRect(built.after);
        const QRectF line = shown.documentLayout()->blockBoundingRect(withText.after);
        QVERIFY(parked.left() > line.left() + 5);
        QCOMPARE(parked.left() + offset->x(), line.left());
        QVERIFY(qAbs(parked.top() + offset->y() - line.top()) < 0.5);
    }

    void noGapWhereNoLineIsShown_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<Follows>("follows");
        QTest::addColumn<bool>("inCell");
        QTest::newRow("text after the table") << QStringLiteral("x") << Follows::Text << false;
        // Qt's own paragraph after a table that ends the document or a
        // cell is no line of the file's or the user's.
        QTest::newRow("table ends the document") << QString() << Follows::Nothing << false;
        QTest::newRow("table ends a cell") << QString() << Follows::Nothing << true;
    }
    void noGapWhereNoLineIsShown()
    {
        QFETCH(QString, line);
        QFETCH(Follows, follows);
        QFETCH(bool, inCell);
        QTextDocument document;
        const Built built = build(document, line, follows, inCell, 12, 100);
        QVERIFY(unsettledTableGaps(document, 0, document.characterCount()).empty());
        QVERIFY(!built.table->format().hasProperty(tableGapProperty));
        document.setTextWidth(400);
        QVERIFY(!shownGapLineOffset(document, built.after));
    }

    void gapFollowsTheParagraph()
    {
        QTextDocument document;
        const Built built = build(document, QString(), Follows::Text, false, 12, 100);
        QTextTableFormat own = built.table->format();
        own.setBottomMargin(2); // the table's own margin stays
        built.table->setFormat(own);
        settleTableGaps(document, 0, document.characterCount());
        const qreal gap = built.table->format().doubleProperty(tableGapProperty);
        QCOMPARE(built.table->format().bottomMargin(), 2 + gap);

        // Typed into: Qt shows the paragraph itself.
        QTextCursor(built.after).insertText(QStringLiteral("typed"));
        const std::vector<TableGap> typed =
            unsettledTableGaps(document, built.after.position(), built.after.position() + 5);
        QCOMPARE(typed.size(), size_t(1));
        applyTableGaps(typed);
        QVERIFY(!built.table->format().hasProperty(tableGapProperty));
        QCOMPARE(built.table->format().bottomMargin(), 2.0);

        // Emptied again, and then what followed it removed: the gap comes
        // back, and goes once nothing follows.
        QTextCursor cursor(built.after);
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        settleTableGaps(document, built.after.position(), built.after.position());
        QCOMPARE(built.table->format().doubleProperty(tableGapProperty), gap);
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        settleTableGaps(document, cursor.position(), cursor.position());
        QVERIFY(!built.table->format().hasProperty(tableGapProperty));
        QCOMPARE(built.table->format().bottomMargin(), 2.0);
    }
};

QTEST_MAIN(TestTableGaps)
#include "tst_tablegaps.moc"
