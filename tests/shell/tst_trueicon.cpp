// The program icon: which file SetWindowIcon takes the icon from, the icon it
// sets, and the icon compiled into the resources.
#include "shell/trueicon.h"

#include <QCoreApplication>
#include <QImageReader>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

using namespace Inkwell;

class TestTrueIcon : public QObject {
    Q_OBJECT
private slots:
    void resolveIconFile_data();
    void resolveIconFile();
    void setWindowIcon_withoutUsableFile_data();
    void setWindowIcon_withoutUsableFile();
    void setWindowIcon_fromAnotherFile_data();
    void setWindowIcon_fromAnotherFile();
    void setWindowIcon_returnsThePreviousIcon();
    void programIcon_hasEverySize_data();
    void programIcon_hasEverySize();
    void programIcon_icoHoldsEverySize();
};

void TestTrueIcon::resolveIconFile_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QString>("directory");
    QTest::addColumn<QString>("executable");
    QTest::addColumn<bool>("windows");
    QTest::addColumn<QString>("resolved");
    QTest::newRow("empty name: the program")
        << QString() << false << QStringLiteral("C:\\Program Files\\Inkwell")
        << QStringLiteral("inkwell") << true
        << QStringLiteral("C:\\Program Files\\Inkwell\\inkwell.exe");
    QTest::newRow("existing file: kept")
        << QStringLiteral("D:\\icons\\note.ico") << true << QStringLiteral("C:\\Inkwell")
        << QStringLiteral("inkwell") << true << QStringLiteral("D:\\icons\\note.ico");
    QTest::newRow("missing file: the program")
        << QStringLiteral("D:\\icons\\gone.ico") << false << QStringLiteral("C:\\Inkwell")
        << QStringLiteral("inkwell") << true << QStringLiteral("C:\\Inkwell\\inkwell.exe");
    QTest::newRow("drive root: one backslash")
        << QString() << false << QStringLiteral("C:\\") << QStringLiteral("inkwell") << true
        << QStringLiteral("C:\\inkwell.exe");
    QTest::newRow("renamed executable keeps its own name")
        << QString() << false << QStringLiteral("E:\\工具") << QStringLiteral("记事本") << true
        << QStringLiteral("E:\\工具\\记事本.exe");
    QTest::newRow("POSIX directory")
        << QString() << false << QStringLiteral("/usr/bin") << QStringLiteral("inkwell") << false
        << QStringLiteral("/usr/bin/inkwell");
    QTest::newRow("POSIX root: one slash")
        << QStringLiteral("/nowhere.png") << false << QStringLiteral("/")
        << QStringLiteral("inkwell") << false << QStringLiteral("/inkwell");
}

void TestTrueIcon::resolveIconFile()
{
    QFETCH(QString, fileName);
    QFETCH(bool, exists);
    QFETCH(QString, directory);
    QFETCH(QString, executable);
    QFETCH(bool, windows);
    QFETCH(QString, resolved);
    const auto style = windows ? ExecutablePathStyle::windows() : ExecutablePathStyle::posix();
    QCOMPARE(Inkwell::resolveIconFile(fileName, exists, directory, executable, style), resolved);
}

void TestTrueIcon::setWindowIcon_withoutUsableFile_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::newRow("empty") << QString();
    QTest::newRow("missing file") << QStringLiteral("/nonexistent/inkwell/icon.ico");
    QTest::newRow("a directory") << QDir::tempPath();
}

void TestTrueIcon::setWindowIcon_withoutUsableFile()
{
    QFETCH(QString, fileName);
    QWidget window;
    QString name = fileName;
    SetWindowIcon(&window, name, 0);
    QCOMPARE(name, QCoreApplication::applicationFilePath());
    const QIcon icon = window.windowIcon();
    QVERIFY(!icon.isNull());
    // It is the program icon: the 16-pixel image drawn for the title bar.
    const QImage expected(programIconFile(16));
    QCOMPARE(icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32),
             expected.convertToFormat(QImage::Format_ARGB32));
}

void TestTrueIcon::setWindowIcon_fromAnotherFile_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("iconExpected");
    QTest::newRow("png, index 0") << QStringLiteral("png") << 0 << true;
    QTest::newRow("ico, index 0") << QStringLiteral("ico") << 0 << true;
    QTest::newRow("ico, index 1: no such icon") << QStringLiteral("ico") << 1 << false;
}

void TestTrueIcon::setWindowIcon_fromAnotherFile()
{
    QFETCH(QString, format);
    QFETCH(int, index);
    QFETCH(bool, iconExpected);
    QTemporaryDir dir;
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(QColor(0x20, 0xc0, 0x40));
    const QString path = dir.filePath(QStringLiteral("green.") + format);
    QVERIFY(image.save(path, format.toLatin1()));

    QWidget window;
    QString name = path;
    SetWindowIcon(&window, name, qint16(index));
    QCOMPARE(name, path);
    const QIcon icon = window.windowIcon();
    if (!iconExpected) {
        // Like ExtractIcon returning 0: the window is given no icon of its own.
        QVERIFY(icon.isNull() || icon.cacheKey() == QApplication::windowIcon().cacheKey());
        return;
    }
    QCOMPARE(icon.pixmap(32, 32).toImage().pixelColor(16, 16), QColor(0x20, 0xc0, 0x40));
}

void TestTrueIcon::setWindowIcon_returnsThePreviousIcon()
{
    QWidget window;
    QString name;
    QCOMPARE(SetWindowIcon(&window, name, 0), qint64(0));
    const qint64 first = window.windowIcon().cacheKey();
    name.clear();
    QCOMPARE(SetWindowIcon(&window, name, 0), first);
}

void TestTrueIcon::programIcon_hasEverySize_data()
{
    QTest::addColumn<int>("size");
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        QTest::addRow("%d px", size) << size;
}

void TestTrueIcon::programIcon_hasEverySize()
{
    QFETCH(int, size);
    const QImage image(programIconFile(size));
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), QSize(size, size));
    QVERIFY(image.hasAlphaChannel());
    // Drawn, not blank: the middle is opaque and the tile's corner is clear.
    QCOMPARE(qAlpha(image.pixel(size / 2, size / 2)), 255);
    QVERIFY(qAlpha(image.pixel(0, 0)) < 255);
    QVERIFY(programIcon().availableSizes().contains(QSize(size, size)));
}

void TestTrueIcon::programIcon_icoHoldsEverySize()
{
    QImageReader reader(QStringLiteral(":/icons/inkwell.ico"));
    QList<int> sizes;
    do {
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(image.width(), image.height());
        // The same drawing as the PNG of that size.
        const QImage png(programIconFile(image.width()));
        QCOMPARE(
            image.convertToFormat(QImage::Format_ARGB32)
                .pixel(image.width() / 2, image.height() / 2),
            png.convertToFormat(QImage::Format_ARGB32).pixel(png.width() / 2, png.height() / 2));
        sizes << image.width();
    } while (reader.jumpToNextImage());
    std::sort(sizes.begin(), sizes.end());
    QCOMPARE(sizes, (QList<int>{16, 24, 32, 48, 64, 128, 256}));
}

QTEST_MAIN(TestTrueIcon)
#include "tst_trueicon.moc"
