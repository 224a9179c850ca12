// What the window does with keys and drops that have no menu item: redo,
// the view's zoom, and files dropped on it.
#include "support/testwindow.h"

#include <QApplication>
#include <QMimeData>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>
#include <QWheelEvent>

using namespace Inkwell;
using namespace Inkwell::Testing;

namespace {

// Drags `data` over the editor and drops it there, as a mouse would.
void drop(RichTextBox &editor, QMimeData *data)
{
    const QPoint at = editor.viewport()->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(editor.viewport(), &enter);
    QDragMoveEvent move(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(editor.viewport(), &move);
    QDropEvent dropped(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(editor.viewport(), &dropped);
}

// Saves through the save command and its dialog; the bytes written.
QByteArray saveAs(TestWindow &w, const QString &path)
{
    w.dialogs.script.enqueue(ScriptedDialogHost::choose(path));
    w.trigger("save");
    return readBytes(path);
}

void ctrlWheel(RichTextBox &editor, int delta)
{
    const QPointF at = editor.viewport()->rect().center();
    QWheelEvent wheel(at, editor.viewport()->mapToGlobal(at), QPoint(), QPoint(0, delta),
                      Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(editor.viewport(), &wheel);
}

} // namespace

class TestEditorKeys : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_tmp;

private slots:
    void init()
    {
        m_tmp = std::make_unique<QTemporaryDir>();
        QVERIFY(m_tmp->isValid());
    }

    void ctrlYRedoes()
    {
        TestWindow w;
        QVERIFY(showWithEditorFocused(w));
        QTest::keyClicks(&w.text1(), QStringLiteral("abc"));
        QTest::keyClick(&w.text1(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(w.text1().Text(), QString());
        QTest::keyClick(&w.text1(), Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(w.text1().Text(), QStringLiteral("abc"));
        // Nothing left to redo: a second Ctrl+Y types nothing.
        QTest::keyClick(&w.text1(), Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(w.text1().Text(), QStringLiteral("abc"));
    }

    // Keys and the Ctrl+wheel move the view's zoom along its scale; the text
    // grows on screen with it, explicit point sizes included.
    void zoomKeysAndWheel_data()
    {
        QTest::addColumn<QList<int>>("keys"); // +1 in, -1 out, 0 back to 100 %, 2/-2 a wheel notch
        QTest::addColumn<int>("direction");   // of the zoom at the end: 1 in, -1 out, 0 none
        QTest::newRow("Ctrl++") << QList<int>{1} << 1;
        QTest::newRow("Ctrl+-") << QList<int>{-1} << -1;
        QTest::newRow("in, in, out") << QList<int>{1, 1, -1} << 1;
        QTest::newRow("in, then Ctrl+0") << QList<int>{1, 1, 0} << 0;
        QTest::newRow("wheel up") << QList<int>{2} << 1;
        QTest::newRow("wheel down") << QList<int>{-2} << -1;
        QTest::newRow("far out stops at the end of the scale") << QList<int>(40, -1) << -1;
    }
    void zoomKeysAndWheel()
    {
        QFETCH(QList<int>, keys);
        QFETCH(int, direction);
        TestWindow w;
        QVERIFY(showWithEditorFocused(w));
        RichTextBox &editor = w.text1();
        editor.setText(QStringLiteral("放大 zoom\nsecond line"));
        editor.setSelStart(0);
        editor.setSelLength(2);
        editor.setSelFontSize(20); // an explicit size must scale too
        editor.setSelStart(0);
        const int before = editor.cursorRect().height();
        for (int key : keys) {
            if (key == 1)
                QTest::keyClick(&editor, Qt::Key_Plus, Qt::ControlModifier);
            else if (key == -1)
                QTest::keyClick(&editor, Qt::Key_Minus, Qt::ControlModifier);
            else if (key == 0)
                QTest::keyClick(&editor, Qt::Key_0, Qt::ControlModifier);
            else
                ctrlWheel(editor, key > 0 ? 120 : -120);
        }
        const int after = editor.cursorRect().height();
        if (direction > 0) {
            QVERIFY(editor.zoomFactor() > 1);
            QVERIFY2(after > before, qPrintable(QStringLiteral("%1 -> %2").arg(before).arg(after)));
        } else if (direction < 0) {
            QVERIFY(editor.zoomFactor() < 1);
            QVERIFY2(after < before, qPrintable(QStringLiteral("%1 -> %2").arg(before).arg(after)));
        } else {
            QCOMPARE(editor.zoomFactor(), 1.0);
            QCOMPARE(after, before);
        }
        QCOMPARE(editor.Text(), QStringLiteral("放大 zoom\nsecond line"));
    }

    // The zoom is the view's: the document's formats, what a save writes and
    // the change test do not see it.
    void zoomLeavesTheDocumentAlone()
    {
        TestWindow w;
        QVERIFY(showWithEditorFocused(w));
        RichTextBox &editor = w.text1();
        editor.setText(QStringLiteral("文字 text"));
        editor.setSelStart(0);
        editor.setSelLength(2);
        editor.setSelFontSize(20);
        const QString html = editor.document()->toHtml();
        // A change signal would wake the draft keeper for nothing.
        QSignalSpy changes(editor.document(), &QTextDocument::contentsChange);
        const QByteArray rtf = saveAs(w, m_tmp->filePath(QStringLiteral("before.rtf")));
        QTest::keyClick(&editor, Qt::Key_Plus, Qt::ControlModifier);
        QTest::keyClick(&editor, Qt::Key_Plus, Qt::ControlModifier);
        QVERIFY(editor.zoomFactor() > 1);
        QCOMPARE(changes.count(), 0);
        QCOMPARE(editor.document()->toHtml(), html);
        QCOMPARE(saveAs(w, m_tmp->filePath(QStringLiteral("after.rtf"))), rtf);
    }

    // A file dropped on the editor opens as the open command would open it;
    // the save question comes first for a changed document.
    void droppedFileOpens_data()
    {
        QTest::addColumn<bool>("changed");
        QTest::addColumn<int>("answer"); // to the save question, when asked
        QTest::addColumn<bool>("opens");
        QTest::newRow("unchanged document") << false << -1 << true;
        QTest::newRow("changed, No") << true << int(MessageAnswer::No) << true;
        QTest::newRow("changed, Cancel") << true << int(MessageAnswer::Cancel) << false;
    }
    void droppedFileOpens()
    {
        QFETCH(bool, changed);
        QFETCH(int, answer);
        QFETCH(bool, opens);
        const QString path = m_tmp->filePath(QStringLiteral("拖入.txt"));
        QVERIFY(writeBytes(path, QByteArray("\xC4\xE3\xBA\xC3 dropped\r\n")));
        TestWindow w;
        QVERIFY(showWithEditorFocused(w));
        if (changed)
            w.type(QStringLiteral("typed"));
        if (answer >= 0)
            w.messages.answers.enqueue(MessageAnswer(answer));
        const QString before = w.text1().Text();

        auto *data = new QMimeData;
        data->setUrls({QUrl::fromLocalFile(path)});
        data->setText(QUrl::fromLocalFile(path).toString());
        drop(w.text1(), data);
        delete data;

        QCOMPARE(w.messages.shown.size(), changed ? 1 : 0);
        if (opens) {
            QCOMPARE(w.text1().Text(), QStringLiteral("你好 dropped\n"));
            QCOMPARE(w.caption(), QStringLiteral("拖入.txt - Inkwell"));
            QVERIFY(!w.form->document().DocumentChanged());
        } else {
            QCOMPARE(w.text1().Text(), before);
            QCOMPARE(w.caption(), QStringLiteral("无标题 - Inkwell"));
        }
        QVERIFY(!w.text1().Text().contains(QStringLiteral("file:")));
    }

    // A file manager's drop of a file whose name is GBK bytes: it opens by
    // those bytes, the caption reads the name as GBK, and the save dialog
    // offers the same name, which the save writes back to.
    void droppedForeignNameOpensByItsBytes()
    {
        const QByteArray folder = QFile::encodeName(m_tmp->path());
        const QByteArray name("\xc4\xe3\xba\xc3.txt"); // 你好.txt
        // QTemporaryDir cannot list, so cannot remove, what is left here.
        const auto removeAll = qScopeGuard([&] { removeEntries(folder); });
        QVERIFY(writeBytesNamed(folder + '/' + name, "\xc4\xe3\xba\xc3 dropped\r\n"));
        TestWindow w;
        QVERIFY(showWithEditorFocused(w));
        auto *data = new QMimeData;
        data->setData(QStringLiteral("text/uri-list"),
                      "file://" + (folder + '/' + name).toPercentEncoding("/") + "\r\n");
        drop(w.text1(), data);
        delete data;
        QVERIFY(w.messages.shown.isEmpty());
        QCOMPARE(entryBytes(folder), QList<QByteArray>{name});
        QCOMPARE(w.text1().Text(), QStringLiteral("你好 dropped\n"));
        QCOMPARE(w.caption(), QStringLiteral("你好.txt - Inkwell"));

        w.type(QStringLiteral("再"));
        w.dialogs.script.enqueue([](CommonDialog &, QPrinter *) { return true; }); // as offered
        w.trigger("save");
        QVERIFY(w.messages.shown.isEmpty());
        QCOMPARE(entryBytes(folder), QList<QByteArray>{name});
        QCOMPARE(readBytesNamed(folder + '/' + name),
                 QByteArray("\xd4\xd9\xc4\xe3\xba\xc3 dropped\r\n"));
    }

    // Text and pictures dragged from other programs still go into the text.
    void droppedTextAndPicturesAreInserted_data()
    {
        QTest::addColumn<bool>("picture");
        QTest::newRow("text") << false;
        QTest::newRow("picture") << true;
    }
    void droppedTextAndPicturesAreInserted()
    {
        QFETCH(bool, picture);
        TestWindow w;
        QVERIFY(showWithEditorFocused(w));
        auto *data = new QMimeData;
        if (picture) {
            QImage image(8, 6, QImage::Format_RGB32);
            image.fill(Qt::red);
            data->setImageData(image);
        } else {
            data->setText(QStringLiteral("拖入的文字"));
        }
        drop(w.text1(), data);
        delete data;
        QCOMPARE(w.text1().Text(), picture ? QString(QChar::ObjectReplacementCharacter)
                                           : QStringLiteral("拖入的文字"));
        QCOMPARE(w.caption(), QStringLiteral("无标题 - Inkwell"));
        QVERIFY(w.messages.shown.isEmpty());
    }
};

QTEST_MAIN(TestEditorKeys)
#include "tst_editorkeys.moc"
