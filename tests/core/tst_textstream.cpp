// Text read and encoded a piece at a time must give exactly what the whole
// text gives: the encoder against encodeTextFile() at every cut, the
// paragraph walk against plainTextOf(), and the baseline compared with a
// document by walking it against the baseline of its whole text.
#include "core/documenttext.h"
#include "core/textbaseline.h"
#include "core/textencoding.h"

#include <QGuiApplication>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextTable>

using namespace Inkwell;

Q_DECLARE_METATYPE(TextEncoding)

namespace {

TextEncoding encodingOf(TextEncoding::Kind kind, bool bom, TextEncoding::LineEnding ending,
                        int codePage = 936)
{
    return TextEncoding{kind, bom, ending, codePage};
}

// The document shapes the walk must read as plainTextOf() does.
enum class Shape { Plain, SoftBroken, Table, Empty, LineSeparators, Big };

void build(QTextDocument &document, Shape shape)
{
    QTextCursor cursor(&document);
    switch (shape) {
    case Shape::Plain:
        cursor.insertText(QStringLiteral("中文 line\nsecond\n\nlast\n"));
        break;
    case Shape::SoftBroken:
        cursor.insertText(QStringLiteral("a long line of words 中文字符\nshort\n"
                                         "another long line that breaks"));
        QVERIFY(breakLongParagraphs(document, 5));
        break;
    case Shape::Table: {
        cursor.insertText(QStringLiteral("before"));
        QTextTable *table = cursor.insertTable(2, 2);
        table->cellAt(0, 0).firstCursorPosition().insertText(QStringLiteral("名"));
        table->cellAt(1, 1).firstCursorPosition().insertText(QStringLiteral("x"));
        QTextCursor end(&document);
        end.movePosition(QTextCursor::End);
        end.insertText(QStringLiteral("after"));
        break;
    }
    case Shape::Empty:
        break;
    case Shape::LineSeparators:
        cursor.insertText(QStringLiteral("a\u2028b\nc\uFFFCd"));
        break;
    case Shape::Big: {
        // Past what a baseline keeps whole: compared by its digest.
        const QString line = QStringLiteral("一行文字 with some words in it, 中文\n");
        QString text;
        while (text.size() <= TextBaseline::keptWhole)
            text += line;
        cursor.insertText(text);
        break;
    }
    }
}

} // namespace

class TestTextStream : public QObject {
    Q_OBJECT
private slots:
    // Every cut of the text into two pieces, and pieces of one unit each,
    // give the bytes of the whole: double-byte characters, GB18030 four-byte
    // forms, surrogate pairs and line breaks cut in the middle.
    void encoderMatchesWholeText_data()
    {
        QTest::addColumn<TextEncoding>("encoding");
        QTest::addColumn<QString>("text");
        using K = TextEncoding::Kind;
        using E = TextEncoding::LineEnding;
        const QString mixed = QStringLiteral("中文a\n😀b\U00020000\n\uFFFC末\n");
        QTest::newRow("GBK, CRLF") << encodingOf(K::Ansi, false, E::CRLF) << mixed;
        QTest::newRow("GBK, CR") << encodingOf(K::Ansi, false, E::CR) << mixed;
        // Line feeds and no picture: encoded without a staging copy.
        QTest::newRow("GBK, LF, no picture")
            << encodingOf(K::Ansi, false, E::LF) << QStringLiteral("中文a\n😀b\U00020000\n末\n");
        QTest::newRow("UTF-16LE, LF, no picture")
            << encodingOf(K::Utf16LE, true, E::LF) << QStringLiteral("a😀\n中\U00020000");
        QTest::newRow("UTF-8 with BOM, LF") << encodingOf(K::Utf8, true, E::LF) << mixed;
        QTest::newRow("UTF-8, CRLF") << encodingOf(K::Utf8, false, E::CRLF) << mixed;
        QTest::newRow("UTF-16LE with BOM") << encodingOf(K::Utf16LE, true, E::CRLF) << mixed;
        QTest::newRow("UTF-16BE") << encodingOf(K::Utf16BE, false, E::LF) << mixed;
        QTest::newRow("Big5") << encodingOf(K::Ansi, false, E::LF, 950) << mixed;
        QTest::newRow("1252: unencodable")
            << encodingOf(K::Ansi, false, E::LF, 1252) << QStringLiteral("é中\nü😀");
        QTest::newRow("UTF-8: lone surrogates")
            << encodingOf(K::Utf8, false, E::LF)
            << QStringLiteral("a") + QChar(0xD800) + QStringLiteral("\nb") + QChar(0xDC00);
        QTest::newRow("UTF-8 with BOM, empty") << encodingOf(K::Utf8, true, E::LF) << QString();
        QTest::newRow("UTF-16BE with BOM, empty")
            << encodingOf(K::Utf16BE, true, E::LF) << QString();
    }
    void encoderMatchesWholeText()
    {
        QFETCH(TextEncoding, encoding);
        QFETCH(QString, text);
        bool lossless = true;
        const QByteArray whole = encodeTextFile(text, encoding, &lossless);
        for (qsizetype cut = 0; cut <= text.size(); ++cut) {
            TextFileEncoder encoder(encoding);
            QByteArray out;
            encoder.add(QStringView(text).left(cut), out);
            encoder.add(QStringView(text).mid(cut), out);
            encoder.finish(out);
            QVERIFY2(out == whole, qPrintable(QStringLiteral("cut at %1").arg(cut)));
            QCOMPARE(encoder.lossless(), lossless);
        }
        TextFileEncoder encoder(encoding);
        QByteArray out;
        for (qsizetype i = 0; i < text.size(); ++i)
            encoder.add(QStringView(text).mid(i, 1), out);
        encoder.finish(out);
        QCOMPARE(out, whole);
        QCOMPARE(encoder.lossless(), lossless);
    }

    void piecesAreThePlainText_data()
    {
        QTest::addColumn<int>("shape");
        QTest::newRow("plain") << int(Shape::Plain);
        QTest::newRow("soft-broken lines") << int(Shape::SoftBroken);
        QTest::newRow("table: frame marks as the raw text has them") << int(Shape::Table);
        QTest::newRow("empty") << int(Shape::Empty);
        QTest::newRow("line separators and pictures") << int(Shape::LineSeparators);
        QTest::newRow("big") << int(Shape::Big);
    }
    void piecesAreThePlainText()
    {
        QFETCH(int, shape);
        QTextDocument document;
        build(document, Shape(shape));
        const QString whole = plainTextOf(document);
        // Pieces down to one character; a big text in pieces of a few thousand.
        const QList<qsizetype> sizes = Shape(shape) == Shape::Big
                                           ? QList<qsizetype>{4093, 1 << 16}
                                           : QList<qsizetype>{1, 2, 3, 7, 1 << 16};
        for (const qsizetype size : sizes) {
            PlainTextPieces pieces(document);
            QString walked;
            int position = 0;
            while (!pieces.atEnd()) {
                QString piece;
                pieces.appendUpTo(piece, size);
                QVERIFY(pieces.position() > position);
                position = pieces.position();
                walked += piece;
            }
            QVERIFY2(walked == whole, qPrintable(QStringLiteral("pieces of %1").arg(size)));
            QCOMPARE(position, document.characterCount());
        }

        // The baseline built from the walk is the one of the whole text, and
        // the walk's comparison agrees with the whole text's.
        TextBaseline walkedBaseline;
        walkedBaseline.takeText(document);
        QVERIFY(walkedBaseline.matches(whole));
        QVERIFY(walkedBaseline.matches(document));
        const TextBaseline wholeBaseline(whole);
        QVERIFY(wholeBaseline.matches(document));

        // One character more, one changed or one fewer is a change.
        QTextCursor cursor(&document);
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(QStringLiteral("x"));
        QVERIFY(!wholeBaseline.matches(document));
        cursor.deletePreviousChar();
        QVERIFY(wholeBaseline.matches(document));
        if (whole.isEmpty())
            return;
        cursor.movePosition(QTextCursor::Start);
        cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
        const QString first = cursor.selectedText();
        cursor.insertText(first == u"y" ? QStringLiteral("z") : QStringLiteral("y"));
        QVERIFY(!wholeBaseline.matches(document));
        cursor.insertText(QString()); // nothing selected: no change
        cursor.movePosition(QTextCursor::End);
        cursor.deletePreviousChar();
        QVERIFY(!wholeBaseline.matches(document));
    }
};

QTEST_MAIN(TestTextStream)
#include "tst_textstream.moc"
