// The lines round a paragraph that Qt does not draw: where they stand, how
// they look, and that paragraphs with the same lines share one box.
#include "controls/paragraphboxes.h"
#include "controls/textboxes.h"
#include "core/formatproperties.h"
#include "core/textboxes.h"

#include <QAbstractTextDocumentLayout>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

using namespace Inkwell;

namespace {

constexpr int pageWidth = 400;

// Three paragraphs, each with the lines given (empty: none), drawn on white.
QImage drawn(const QStringList &boxes, QTextDocument &document)
{
    QTextCursor cursor(&document);
    for (int index = 0; index < boxes.size(); ++index) {
        if (index > 0)
            cursor.insertBlock();
        QTextBlockFormat format;
        if (!boxes[index].isEmpty())
            format.setProperty(paragraphBordersProperty, boxes[index]);
        cursor.setBlockFormat(format);
        cursor.insertText(QStringLiteral("Line %1").arg(index));
    }
    document.setTextWidth(pageWidth);
    QImage image(pageWidth, int(document.size().height()) + 10, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    drawParagraphBoxes(painter, document, QRectF(image.rect()));
    return image;
}

// How many pixels of the row (or column) between `from` and `to` are not white.
int inkOnRow(const QImage &image, int y, int from, int to)
{
    int ink = 0;
    for (int x = from; x < to; ++x)
        ink += image.pixel(x, y) != qRgb(255, 255, 255);
    return ink;
}

int inkOnColumn(const QImage &image, int x, int from, int to)
{
    int ink = 0;
    for (int y = from; y < to; ++y)
        ink += image.pixel(x, y) != qRgb(255, 255, 255);
    return ink;
}

// The rows that carry a line across most of the page.
QList<int> lineRows(const QImage &image)
{
    QList<int> rows;
    for (int y = 0; y < image.height(); ++y)
        if (inkOnRow(image, y, 20, pageWidth - 20) > pageWidth / 2)
            rows << y;
    return rows;
}

} // namespace

class TestParagraphBoxes : public QObject {
    Q_OBJECT
private slots:
    void lines_data();
    void lines();
    void colourAndStyle();
    void textBoxBesideItsParagraph();
};

void TestParagraphBoxes::lines_data()
{
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<int>("across"); // lines across the page
    QTest::addColumn<bool>("sides"); // lines at the left and right
    const QString box = QStringLiteral("t0,15,,0;l0,15,,0;b0,15,,0;r0,15,,0");
    QTest::newRow("none") << QStringList{{}, {}, {}} << 0 << false;
    QTest::newRow("one boxed paragraph") << QStringList{{}, box, {}} << 2 << true;
    // Word and LibreOffice draw one box round paragraphs with the same lines.
    QTest::newRow("two paragraphs share a box") << QStringList{box, box, {}} << 2 << true;
    QTest::newRow("a line above only")
        << QStringList{{}, QStringLiteral("t0,15,,0"), {}} << 1 << false;
    // The first box's bottom line and the second's top touch.
    QTest::newRow("two different boxes")
        << QStringList{box, QStringLiteral("t0,30,,0;l0,30,,0;b0,30,,0;r0,30,,0"), {}} << 3 << true;
}

void TestParagraphBoxes::lines()
{
    QFETCH(QStringList, boxes);
    QFETCH(int, across);
    QFETCH(bool, sides);
    QTextDocument document;
    const QImage image = drawn(boxes, document);
    // Rows next to each other belong to one line.
    int lines = 0;
    int previous = -2;
    for (int y : lineRows(image)) {
        lines += y != previous + 1;
        previous = y;
    }
    QCOMPARE(lines, across);
    const int height = image.height();
    // Down the margins beside the text.
    bool left = false, right = false;
    for (int x = 0; x < 8; ++x) {
        left = left || inkOnColumn(image, x, 0, height) > 10;
        right = right || inkOnColumn(image, pageWidth - 1 - x, 0, height) > 10;
    }
    QCOMPARE(left, sides);
    QCOMPARE(right, sides);
}

void TestParagraphBoxes::colourAndStyle()
{
    QTextDocument single;
    const QImage red = drawn({QStringLiteral("t0,15,#ff0000,0")}, single);
    const QList<int> rows = lineRows(red);
    QVERIFY(!rows.isEmpty());
    QCOMPARE(QColor(red.pixel(pageWidth / 2, rows.first())), QColor(Qt::red));
    // A double line is two lines with white between.
    QTextDocument twice;
    const QImage doubled = drawn({QStringLiteral("t1,15,,0")}, twice);
    const QList<int> doubleRows = lineRows(doubled);
    QCOMPARE(doubleRows.size(), 2);
    QVERIFY(doubleRows[1] - doubleRows[0] > 1);
    // A dotted line leaves gaps.
    QTextDocument dots;
    const QImage dotted = drawn({QStringLiteral("t2,15,,0")}, dots);
    const int top = int(dots.documentLayout()->blockBoundingRect(dots.begin()).top());
    const int ink = inkOnRow(dotted, std::max(top, 0), 20, pageWidth - 20);
    QVERIFY2(ink > 20 && ink < pageWidth - 60, qPrintable(QString::number(ink)));
}

// A shape's text box stands where its paragraph and its place put it, over
// the text, and goes with the character that holds it.
void TestParagraphBoxes::textBoxBesideItsParagraph()
{
    QTextDocument document;
    document.setDocumentMargin(4);
    QTextCursor cursor(&document);
    cursor.insertText(QStringLiteral("First"));
    cursor.insertBlock();
    cursor.insertText(QStringLiteral("Second"));
    document.setTextWidth(pageWidth);
    // Held by the "S": 150 px from the left, 20 px below the paragraph's top,
    // 120 by 45 px.
    TextBox box;
    box.left = 150 * 15;
    box.top = 20 * 15;
    box.right = 270 * 15;
    box.bottom = 65 * 15;
    box.text = QStringLiteral("Boxed text");
    QTextCharFormat holds;
    holds.setProperty(textBoxProperty, describeTextBoxes({box}));
    QTextCursor holder(document.lastBlock());
    holder.setPosition(holder.position() + 1, QTextCursor::KeepAnchor);
    holder.mergeCharFormat(holds);
    const auto draw = [&document] {
        QImage image(pageWidth, 200, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        drawTextBoxes(painter, document, QRectF(image.rect()));
        return image;
    };
    const int top =
        int(document.documentLayout()->blockBoundingRect(document.lastBlock()).top()) + 20;
    QImage image = draw();
    // The frame: its left side and its top, nothing left of it.
    QCOMPARE(inkOnColumn(image, 4 + 150, top + 2, top + 43), 41);
    QVERIFY(inkOnRow(image, top, 4 + 152, 4 + 268) > 110);
    QCOMPARE(inkOnColumn(image, 4 + 140, 0, 200), 0);
    // The text inside it.
    int inside = 0;
    for (int y = top + 2; y < top + 43; ++y)
        inside += inkOnRow(image, y, 4 + 152, 4 + 268);
    QVERIFY(inside > 20);
    // Laid out at twice the resolution (a zoomed view), it is twice as far
    // and as large.
    QImage twice(1, 1, QImage::Format_ARGB32_Premultiplied);
    twice.setDotsPerMeterX(qRound(2 * 96 / 0.0254));
    twice.setDotsPerMeterY(qRound(2 * 96 / 0.0254));
    document.documentLayout()->setPaintDevice(&twice);
    document.markContentsDirty(0, document.characterCount());
    const int zoomedTop =
        int(document.documentLayout()->blockBoundingRect(document.lastBlock()).top()) + 40;
    image = draw();
    QCOMPARE(inkOnColumn(image, 2 * (4 + 150), zoomedTop + 2, std::min(zoomedTop + 88, 200)),
             std::min(zoomedTop + 88, 200) - zoomedTop - 2);
    QCOMPARE(inkOnColumn(image, 4 + 150, 0, 200), 0);
    document.documentLayout()->setPaintDevice(nullptr);
    // Its character deleted, the box goes.
    holder.removeSelectedText();
    QCOMPARE(inkOnColumn(draw(), 4 + 150, 0, 200), 0);
}

QTEST_MAIN(TestParagraphBoxes)
#include "tst_paragraphboxes.moc"
