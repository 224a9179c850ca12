#include "commands/commandtests.h"
#include "commands/insertcommands.h"
#include "core/documentimages.h"
#include "rtf/oversizepictures.h"
#include "rtf/picturebomb.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>

using namespace Inkwell;
using namespace Inkwell::Testing;
using Inkwell::Testing::withTextChunk;

namespace {

QTextImageFormat imageAt(RichTextBox &text, int position)
{
    QTextCursor c(text.document());
    c.setPosition(position + 1);
    return c.charFormat().toImageFormat();
}

// A picture of two colours, so that a picture decoded wrongly shows.
QImage testPicture(const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::blue);
    for (int x = 0; x < size.width() / 2; ++x)
        for (int y = 0; y < size.height(); ++y)
            image.setPixel(x, y, qRgb(255, 255, 0));
    return image;
}

} // namespace

class TestInsertCommands : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_tmp;

private slots:
    void init()
    {
        m_tmp = std::make_unique<QTemporaryDir>();
        QVERIFY(m_tmp->isValid());
        QGuiApplication::clipboard()->clear();
    }

    void dateText_data()
    {
        QTest::addColumn<QDateTime>("when");
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("text");
        const QLocale china(QLocale::Chinese, QLocale::China);
        const QLocale german(QLocale::German, QLocale::Germany);
        QTest::newRow("one-digit day")
            << QDateTime(QDate(2026, 12, 6), QTime(14, 3, 7)) << german << "14:03:07 2026-12-6";
        QTest::newRow("two-digit month")
            << QDateTime(QDate(2026, 1, 5), QTime(0, 0, 0)) << german << "00:00:00 2026-01-5";
        QTest::newRow("two-digit day")
            << QDateTime(QDate(2026, 1, 15), QTime(23, 59, 59)) << german << "23:59:59 2026-01-15";
        QTest::newRow("12-hour locale")
            << QDateTime(QDate(2026, 12, 1), QTime(14, 3, 7))
            << QLocale(QLocale::English, QLocale::UnitedStates) << "2:03:07 PM 2026-12-1";
        QTest::newRow("chinese locale") << QDateTime(QDate(2012, 9, 5), QTime(16, 7, 11)) << china
                                        << timeOfDayText(QTime(16, 7, 11), china) + " 2012-09-5";
    }
    void dateText()
    {
        QFETCH(QDateTime, when);
        QFETCH(QLocale, locale);
        QFETCH(QString, text);
        QCOMPARE(Commands::dateText(when, locale), text);
    }

    void dateReplacesSelection_data()
    {
        QTest::addColumn<int>("anchor");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("result");
        QTest::newRow("at the caret") << 2 << 2 << "ab14:03:07 2026-12-6cd";
        QTest::newRow("replacing the selection") << 1 << 3 << "a14:03:07 2026-12-6d";
        QTest::newRow("at the end") << 4 << 4 << "abcd14:03:07 2026-12-6";
    }
    void dateReplacesSelection()
    {
        QFETCH(int, anchor);
        QFETCH(int, position);
        QFETCH(QString, result);
        TestWindow w;
        QVERIFY(showWithEditorFocused(w));
        w.clock.moment = QDateTime(QDate(2026, 12, 6), QTime(14, 3, 7));
        w.clock.fixedLocale = QLocale(QLocale::German, QLocale::Germany);
        w.text1().setText(QStringLiteral("abcd"));
        select(w.text1(), anchor, position);
        QTest::keyClick(&w.text1(), Qt::Key_F5);
        QCOMPARE(w.text1().Text(), result);
        QCOMPARE(w.text1().SelLength(), 0);
        QCOMPARE(w.text1().SelStart(), std::min(anchor, position) + 18);
        QVERIFY(w.form->document().DocumentChanged());
    }

    void addpicture_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<QSize>("size");
        QTest::newRow("jpeg") << "photo.jpg" << QByteArray("JPEG") << QSize(40, 30);
        QTest::newRow("bmp") << "bild.bmp" << QByteArray("BMP") << QSize(17, 9);
        QTest::newRow("png") << "图片.png" << QByteArray("PNG") << QSize(64, 2);
        QTest::newRow("jpeg named .bmp") << "odd.bmp" << QByteArray("JPEG") << QSize(8, 8);
    }
    void addpicture()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, format);
        QFETCH(QSize, size);
        const QString file = m_tmp->filePath(name);
        QVERIFY(testPicture(size).save(file, format.constData()));
        TestWindow w;
        w.text1().setText(QStringLiteral("before|after"));
        select(w.text1(), 6, 7); // the bar is replaced by the picture
        QGuiApplication::clipboard()->setText(QStringLiteral("the user's clipboard"));
        w.dialogs.script.enqueue(ScriptedDialogHost::choose(file));
        w.trigger("addpicture");
        QCOMPARE(w.dialogs.shown.size(), 1);
        QCOMPARE(w.dialogs.shown[0].kind, ScriptedDialogHost::Shown::Open);
        QCOMPARE(w.dialogs.shown[0].dialog, &w.form->puse);
        QCOMPARE(picturePositions(w.text1()), QList<int>{6});
        QCOMPARE(w.text1().Text().remove(QChar::ObjectReplacementCharacter),
                 QStringLiteral("beforeafter"));
        const QTextImageFormat image = imageAt(w.text1(), 6);
        QVERIFY(image.isValid());
        QCOMPARE(QSizeF(image.width(), image.height()), QSizeF(size));
        QCOMPARE(w.text1().SelStart(), 7);
        // Straight into the document: the clipboard keeps what the user put there.
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("the user's clipboard"));
        QCOMPARE(w.clipboard.writes, 0);
        QVERIFY(w.messages.shown.isEmpty());
        QVERIFY(w.form->document().DocumentChanged());
        // Saved with the document as RTF.
        const QString rtf = m_tmp->filePath(QStringLiteral("saved.rtf"));
        w.dialogs.script.enqueue(ScriptedDialogHost::choose(rtf));
        w.trigger("save");
        QVERIFY(readBytes(rtf).contains("{\\pict"));
    }

    void addpictureCancelled()
    {
        TestWindow w;
        w.text1().setText(QStringLiteral("abc"));
        select(w.text1(), 0, 2);
        QGuiApplication::clipboard()->setText(QStringLiteral("kept"));
        w.dialogs.script.enqueue(ScriptedDialogHost::cancel());
        w.trigger("addpicture");
        QCOMPARE(w.text1().Text(), QStringLiteral("abc"));
        QCOMPARE(w.text1().SelLength(), 2);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("kept"));
        QVERIFY(w.messages.shown.isEmpty());
        QVERIFY(!w.form->document().DocumentChanged());
    }

    void addpictureNotAPicture_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("why"); // the start of the reason given
        QTest::newRow("text named .jpg")
            << "notes.jpg" << QByteArray("just some text\n") << "不是 JPEG、PNG 或 BMP 图片";
        QTest::newRow("empty .bmp") << "empty.bmp" << QByteArray() << "不是 JPEG、PNG 或 BMP 图片";
        QTest::newRow("truncated png")
            << "cut.png" << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) << "图片数据已损坏";
        QTest::newRow("missing file")
            << "gone.jpg" << QByteArray("<absent>") << "文件或文件夹不存在";
        QTest::newRow("a folder") << "folder.jpg" << QByteArray("<folder>") << "这是一个文件夹";
        // Past the limits of one picture: refused with its size.
        QTest::newRow("a JPEG of 12000 × 9000")
            << "big.jpg" << jpegStating(QSize(12000, 9000))
            << "图片过大（12000×9000），Inkwell 只能显示每边不超过 32767 像素";
        QTest::newRow("a PNG panorama of 40000 × 600")
            << "pano.png" << pngOf(QSize(40000, 600)) << "图片过大（40000×600）";
        QTest::newRow("a picture file past 64 MB")
            << "huge.png"
            << withTextChunk(pngOf(QSize(3, 2)), QByteArray(DocumentImages::maxEncodedBytes, 'x'))
            << "图片文件过大（64.0 MB），Inkwell 只能显示不超过 64.0 MB 的图片文件";
    }
    void addpictureNotAPicture()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, why);
        const QString file = m_tmp->filePath(name);
        if (bytes == "<folder>")
            QVERIFY(QDir().mkdir(file));
        else if (bytes != "<absent>")
            QVERIFY(writeBytes(file, bytes));
        TestWindow w;
        w.text1().setText(QStringLiteral("abc"));
        select(w.text1(), 1, 2);
        w.dialogs.script.enqueue(ScriptedDialogHost::choose(file));
        w.trigger("addpicture");
        QCOMPARE(w.text1().Text(), QStringLiteral("abc"));
        QCOMPARE(w.text1().SelStart(), 1);
        QCOMPARE(w.text1().SelLength(), 1);
        QVERIFY(!w.form->document().DocumentChanged());
        QCOMPARE(w.messages.shown.size(), 1);
        const QString lead = QStringLiteral("无法载入图片“%1”：").arg(file);
        QVERIFY2(w.messages.shown[0].text.startsWith(lead + why),
                 qPrintable(w.messages.shown[0].text));
        QCOMPARE(w.messages.shown[0].title, QStringLiteral("Inkwell"));
        QCOMPARE(w.messages.shown[0].icon, MessageIcon::Exclamation);
    }

    // The picture is one edit: undo takes it out again, selection text back.
    void pictureUndoesAsOneEdit()
    {
        const QString file = m_tmp->filePath(QStringLiteral("p.png"));
        QVERIFY(testPicture(QSize(5, 5)).save(file));
        TestWindow w;
        w.type(QStringLiteral("xyz"));
        select(w.text1(), 1, 2);
        w.dialogs.script.enqueue(ScriptedDialogHost::choose(file));
        w.trigger("addpicture");
        QCOMPARE(picturePositions(w.text1()), QList<int>{1});
        w.trigger("undo");
        QCOMPARE(w.text1().Text(), QStringLiteral("xyz"));
    }

    void pictureDialogOffersItsFormats()
    {
        TestWindow w;
        QCOMPARE(w.form->puse.DialogTitle, QStringLiteral("载入图片"));
        QVERIFY(w.form->puse.Filter.startsWith(
            QStringLiteral("Jpg图片文件(*.jpg)|*.jpg|Bmp位图文件(*.bmp)|*.bmp|")));
        QVERIFY(w.form->puse.Filter.contains(QStringLiteral("*.png")));
    }
};

static const bool registered = registerCommandTest<TestInsertCommands>();
#include "tst_insertcommands.moc"
