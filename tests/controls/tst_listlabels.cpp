#include "controls/listlabels.h"
#include "core/documenttext.h"
#include "core/formatproperties.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>

using namespace Inkwell;

namespace {

// A list of `items` paragraphs; the last one is returned.
QTextBlock makeList(QTextDocument &document, QTextListFormat format, int items,
                    const QTextCharFormat &chars)
{
    document.setDocumentMargin(4);
    document.setTextWidth(300);
    QTextCursor cursor(&document);
    for (int i = 0; i < items; ++i) {
        if (i > 0)
            cursor.insertBlock();
        cursor.insertText(QStringLiteral("item"), chars);
    }
    cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cursor.createList(format);
    return document.lastBlock();
}

// The document drawn as the view draws it: Qt's layout, then the labels the
// view draws.
QImage drawn(const QTextDocument &document, bool withViewLabels)
{
    QImage image(320, int(document.size().height()) + 8, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette.setColor(QPalette::Text, Qt::black);
    document.documentLayout()->draw(&painter, context);
    if (withViewLabels)
        drawListLabels(painter, document, QRectF(image.rect()), {}, Qt::black);
    return image;
}

// The strip left of a paragraph's text, where its label stands.
QImage labelStrip(const QImage &image, const QTextDocument &document, const QTextBlock &block)
{
    const QRectF where = document.documentLayout()->blockBoundingRect(block);
    const qreal textLeft = where.left() + block.layout()->lineAt(0).naturalTextRect().left();
    return image.copy(QRect(0, int(where.top()), int(textLeft), int(where.height())));
}

bool hasInk(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != qRgb(255, 255, 255))
                return true;
    return false;
}

} // namespace

class TestListLabels : public QObject {
    Q_OBJECT
private slots:
    void numberFromAnotherStartAsQtWouldDrawIt_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<int>("start");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("decimal from 5") << int(QTextListFormat::ListDecimal) << 5 << QColor();
        QTest::newRow("decimal from 12") << int(QTextListFormat::ListDecimal) << 12 << QColor();
        QTest::newRow("upper roman from 3") << int(QTextListFormat::ListUpperRoman) << 3 << QColor();
        QTest::newRow("lower alpha from 4, red item")
            << int(QTextListFormat::ListLowerAlpha) << 4 << QColor(Qt::red);
    }
    void numberFromAnotherStartAsQtWouldDrawIt()
    {
        QFETCH(int, style);
        QFETCH(int, start);
        QFETCH(QColor, colour);
        QTextCharFormat chars;
        if (colour.isValid())
            chars.setForeground(colour);
        QTextListFormat format;
        format.setStyle(QTextListFormat::Style(style));
        format.setIndent(2);
        // Qt's own drawing of the label numbered `start`: its item `start`.
        QTextDocument byQt;
        const QTextBlock qtItem = makeList(byQt, format, start, chars);
        // The same label as the first item of a list that counts from `start`.
        format.setProperty(listStartProperty, start);
        QTextDocument byView;
        makeList(byView, format, 1, chars);
        QTextBlock item = byView.firstBlock();
        QVERIFY(qtDrawsWrongLabel(*item.textList()));
        handListLabelsToView(byView, 0, byView.characterCount());
        QVERIFY(labelDrawnByView(item));
        QCOMPARE(shownListLabel(item), shownListLabel(qtItem));
        // Qt draws none now; the view draws Qt's, pixel for pixel.
        QVERIFY(!hasInk(labelStrip(drawn(byView, false), byView, item)));
        const QImage expected = labelStrip(drawn(byQt, false), byQt, qtItem);
        QVERIFY(hasInk(expected));
        QCOMPARE(labelStrip(drawn(byView, true), byView, item), expected);
    }

    void ownBulletIsDrawn()
    {
        QTextListFormat format;
        format.setStyle(QTextListFormat::ListDisc);
        format.setIndent(1);
        format.setProperty(listBulletProperty, QStringLiteral("\u2713"));
        QTextDocument document;
        makeList(document, format, 2, QTextCharFormat());
        handListLabelsToView(document, 0, document.characterCount());
        const QTextBlock second = document.lastBlock();
        QCOMPARE(shownListLabel(second), QStringLiteral("\u2713"));
        // An Enter in the list makes an item that keeps the view's label.
        QTextCursor(second).insertBlock();
        QVERIFY(labelDrawnByView(document.lastBlock()));
        QVERIFY(!hasInk(labelStrip(drawn(document, false), document, second)));
        QVERIFY(hasInk(labelStrip(drawn(document, true), document, second)));
    }

    void partsOfALongListNumberOnAfterEdits()
    {
        // Two parts of one chain, as a reader holds a long list; Qt's own
        // list of the same items draws the labels expected.
        QTextListFormat format;
        format.setStyle(QTextListFormat::ListDecimal);
        format.setIndent(1);
        QTextDocument byQt;
        makeList(byQt, format, 7, QTextCharFormat());
        format.setProperty(listChainProperty, newListChain());
        QTextDocument byView;
        makeList(byView, format, 6, QTextCharFormat());
        QTextCursor second(byView.findBlockByNumber(3));
        second.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        second.createList(format);
        QCOMPARE(byView.firstBlock().textList()->count(), 3);
        handListLabelsToView(byView, 0, byView.characterCount());
        const auto strip = [](const QTextDocument &document, int item, bool viewLabels) {
            return labelStrip(drawn(document, viewLabels), document,
                              document.findBlockByNumber(item));
        };
        QVERIFY(!hasInk(strip(byView, 5, false)));
        QCOMPARE(strip(byView, 5, true), strip(byQt, 5, false));
        // An item more in the first part: the second part's numbers move on.
        QTextCursor cursor(byView.firstBlock());
        cursor.movePosition(QTextCursor::EndOfBlock);
        cursor.insertBlock();
        cursor.insertText(QStringLiteral("item"));
        QCOMPARE(strip(byView, 6, true), strip(byQt, 6, false));
        QCOMPARE(shownListLabel(byView.lastBlock()), QStringLiteral("7."));
    }

    void qtsOwnLabelsStayQts()
    {
        // A list Qt labels rightly keeps Qt's labels: nothing is handed over.
        QTextListFormat format;
        format.setStyle(QTextListFormat::ListDecimal);
        format.setProperty(listStartProperty, 1);
        QTextDocument document;
        const QTextBlock last = makeList(document, format, 3, QTextCharFormat());
        handListLabelsToView(document, 0, document.characterCount());
        QVERIFY(!labelDrawnByView(last));
        QCOMPARE(shownListLabel(last), QStringLiteral("3."));
    }
};

QTEST_MAIN(TestListLabels)
#include "tst_listlabels.moc"
