#include "document/textloader.h"
#include "platform/twips.h"
#include "support/testwindow.h"

#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>

using namespace Inkwell;
using namespace Inkwell::Testing;

class TestForm1 : public QObject {
    Q_OBJECT
private slots:
    void menuItems_data()
    {
        QTest::addColumn<QString>("menu");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QKeySequence>("shortcut");
        const auto row = [](const char *menu, const char *name, const char *caption, QKeySequence key = {}) {
            QTest::newRow(name) << QString::fromUtf8(menu) << QString::fromLatin1(name)
                                << QString::fromUtf8(caption) << key;
        };
        row("文件(&F)", "new", "新建(&N)", QKeySequence(Qt::CTRL | Qt::Key_N));
        row("文件(&F)", "open", "打开(&O)...", QKeySequence(Qt::CTRL | Qt::Key_O));
        row("文件(&F)", "opensafe", "打开加密文件(&O)...");
        row("文件(&F)", "skin", "更换皮肤(&S)...");
        row("文件(&F)", "reg", "关联txt文件(&R)");
        row("文件(&F)", "save", "保存(&S)", QKeySequence(Qt::CTRL | Qt::Key_S));
        row("文件(&F)", "printsetup", "页面设置(&U)...");
        row("文件(&F)", "print", "打印(&P)...", QKeySequence(Qt::CTRL | Qt::Key_P));
        row("文件(&F)", "Esc", "退出(&X)");
        row("编辑(&E)", "undo", "撤销(&U)");
        row("编辑(&E)", "cut", "剪切(&T)", QKeySequence(Qt::CTRL | Qt::Key_X));
        row("编辑(&E)", "copy", "复制(&C)", QKeySequence(Qt::CTRL | Qt::Key_C));
        row("编辑(&E)", "paste", "粘贴(&P)", QKeySequence(Qt::CTRL | Qt::Key_V));
        row("编辑(&E)", "find", "查找(&F)...", QKeySequence(Qt::CTRL | Qt::Key_F));
        row("编辑(&E)", "findon", "查找下一个(&N)", QKeySequence(Qt::Key_F3));
        row("编辑(&E)", "SelectAll", "全选(&A)", QKeySequence(Qt::CTRL | Qt::Key_A));
        row("编辑(&E)", "date", "时间/日期(&D)", QKeySequence(Qt::Key_F5));
        row("格式(&O)", "font", "字体(&F)...");
        row("格式(&O)", "color", "颜色(&C)...");
        row("格式(&O)", "addpicture", "插入图片(&A)...");
        row("查看(&V)", "bar", "状态栏(&S)");
        row("帮助(&H)", "about", "关于记事本(&A)");
    }
    void menuItems()
    {
        QFETCH(QString, menu);
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QKeySequence, shortcut);
        TestWindow w;
        QAction *item = w.form->action(name);
        QVERIFY(item);
        QCOMPARE(item->text(), caption);
        QCOMPARE(item->shortcut(), shortcut);
        QVERIFY(!item->isChecked());
        bool found = false;
        for (QAction *top : w.form->menuBar()->actions())
            if (top->text() == menu && top->menu()->actions().contains(item))
                found = true;
        QVERIFY2(found, qPrintable(name + QStringLiteral(" is not under ") + menu));
    }

    void menuOrderWithSeparators()
    {
        TestWindow w;
        QStringList order;
        for (QAction *top : w.form->menuBar()->actions()) {
            order << top->text();
            for (QAction *a : top->menu()->actions())
                order << (a->isSeparator() ? QStringLiteral("-") : a->objectName());
        }
        QCOMPARE(order.join(u' '),
                 QStringLiteral("文件(&F) new open opensafe skin reg save - printsetup print - Esc "
                                "编辑(&E) undo - cut copy paste - find findon - SelectAll date "
                                "格式(&O) font color addpicture 查看(&V) bar 帮助(&H) about"));
    }

    void startsUntitledEmptyWithBarHidden()
    {
        TestWindow w;
        QCOMPARE(w.caption(), QStringLiteral("无标题 - Inkwell"));
        QCOMPARE(w.text1().Text(), QString());
        QVERIFY(!w.form->showbar->isVisibleTo(w.form.get()));
        QVERIFY(!w.form->action(QStringLiteral("bar"))->isChecked());
        QCOMPARE(w.text1().font().pointSizeF(), 12.0);
        QCOMPARE(w.text1().font().families().value(0), QStringLiteral("宋体"));
        QVERIFY(w.form->Timer1->isActive());
        QCOMPARE(w.form->Timer1->interval(), 1000);
    }

    void dialogPresets()
    {
        TestWindow w;
        QCOMPARE(w.form->openuse.FileName, QStringLiteral("*.txt"));
        QCOMPARE(w.form->openuse.FontName, QStringLiteral("宋体"));
        QCOMPARE(w.form->openuse.FontSize, 9.0f);
        QCOMPARE(w.form->openuse.Color, 0xE0E0E0u);
        QCOMPARE(w.form->safeuse.FileName, QStringLiteral("*.stx"));
        QCOMPARE(w.form->puse.DialogTitle, QStringLiteral("载入图片"));
        QCOMPARE(w.form->CommonDialog1.FileName, QStringLiteral("*.she"));
        QCOMPARE(w.form->CommonDialog1.DialogTitle, QStringLiteral("更换皮肤"));
    }

    void statusBarPanels()
    {
        TestWindow w;
        const double dpi = w.form->screen()->logicalDotsPerInchX();
        QCOMPARE(w.form->panel(1)->width(), twipsToPixels(3000, dpi));
        QCOMPARE(w.form->panel(2)->width(), twipsToPixels(3000, dpi));
        QCOMPARE(w.form->panel(3)->width(), twipsToPixels(1440, dpi));
        QCOMPARE(w.form->panel(3)->text(), QString());
        // Written at start-up although the bar is hidden.
        QCOMPARE(w.form->panel(1)->text(), QStringLiteral("第1行            第1列"));
        QCOMPARE(w.form->panel(2)->text(), QStringLiteral("2012年09月5日 16:07:11"));
    }

    void barTogglesTogetherAndResizesEditor()
    {
        TestWindow w;
        w.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
        const QRect hidden = w.text1().geometry();
        w.trigger("bar");
        QVERIFY(w.form->action(QStringLiteral("bar"))->isChecked());
        QVERIFY(w.form->showbar->isVisible());
        QTRY_COMPARE(w.text1().height(), hidden.height() - w.form->showbar->height());
        QCOMPARE(w.text1().width(), hidden.width());
        w.trigger("bar");
        QVERIFY(!w.form->action(QStringLiteral("bar"))->isChecked());
        QVERIFY(!w.form->showbar->isVisible());
        QTRY_COMPARE(w.text1().geometry(), hidden);
    }

    // The editor takes whatever room the window gains or loses; the status
    // bar's panels keep their widths in twips.
    void resizingKeepsPanelWidths_data()
    {
        QTest::addColumn<int>("wider");
        QTest::addColumn<int>("taller");
        QTest::newRow("wider") << 200 << 0;
        QTest::newRow("taller") << 0 << 150;
        QTest::newRow("narrower and lower") << -300 << -100;
        QTest::newRow("both") << 120 << 80;
    }
    void resizingKeepsPanelWidths()
    {
        QFETCH(int, wider);
        QFETCH(int, taller);
        TestWindow w;
        w.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
        w.trigger("bar");
        const QSize editor = w.text1().size();
        w.form->resize(w.form->width() + wider, w.form->height() + taller);
        QTRY_COMPARE(w.text1().size(), QSize(editor.width() + wider, editor.height() + taller));
        const double dpi = w.form->screen()->logicalDotsPerInchX();
        QCOMPARE(w.form->panel(1)->width(), twipsToPixels(3000, dpi));
        QCOMPARE(w.form->panel(2)->width(), twipsToPixels(3000, dpi));
        QCOMPARE(w.form->panel(3)->width(), twipsToPixels(1440, dpi));
        // Far too small a window, and back: the editor has all its room again.
        const QSize window = w.form->size();
        w.form->resize(10, 10);
        QTRY_VERIFY(w.text1().width() < editor.width() + wider);
        w.form->resize(window);
        QTRY_COMPARE(w.text1().size(), QSize(editor.width() + wider, editor.height() + taller));
    }

    void caretText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("anchor");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("shown");
        QTest::newRow("empty") << "" << 0 << 0 << "第1行            第1列";
        QTest::newRow("after fifth char of third line") << "a\nbb\n12345678" << 10 << 10 << "第3行            第6列";
        QTest::newRow("end after a line break") << "ab\n" << 3 << 3 << "第2行            第1列";
        // A selection shows its end; the column counts from that line's start.
        QTest::newRow("backwards selection line 4 to 2") << "l1\nline2xx\nl3\nline4yy" << 19 << 5 << "第4行            第6列";
        QTest::newRow("past 65535") << QString(70000, u'x') + QStringLiteral("\nab") << 70003 << 70003 << "第2行            第3列";
    }
    void caretText()
    {
        QFETCH(QString, text);
        QFETCH(int, anchor);
        QFETCH(int, position);
        QFETCH(QString, shown);
        TestWindow w;
        w.text1().setText(text);
        // Positions in the text: a long line is held in pieces.
        w.text1().setSelStart(std::min(anchor, position));
        w.text1().setSelLength(std::abs(anchor - position));
        // Refreshed by a key release in the editor, whatever the key, with the bar hidden.
        QTest::keyRelease(&w.text1(), Qt::Key_Shift);
        QCOMPARE(w.form->panel(1)->text(), shown);
    }

    void caretRefreshesOnKeyAndMouseOnly()
    {
        TestWindow w;
        w.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
        w.text1().setText(QStringLiteral("abc\ndef"));
        w.text1().setSelStart(5);
        QCOMPARE(w.form->panel(1)->text(), QStringLiteral("第1行            第1列"));
        QTest::mouseClick(w.text1().viewport(), Qt::LeftButton, {}, QPoint(2, 2));
        QCOMPARE(w.form->panel(1)->text(), QStringLiteral("第1行            第1列"));
        w.text1().setSelStart(5);
        QTest::keyClick(&w.text1(), Qt::Key_Right);
        QCOMPARE(w.form->panel(1)->text(), QStringLiteral("第2行            第3列"));
    }

    void dateTimeText_data()
    {
        QTest::addColumn<QDateTime>("when");
        QTest::addColumn<QString>("shown");
        QTest::newRow("single-digit day") << QDateTime(QDate(2012, 9, 5), QTime(16, 7, 11)) << "2012年09月5日 16:07:11";
        QTest::newRow("two-digit day") << QDateTime(QDate(2026, 12, 17), QTime(0, 0, 0)) << "2026年12月17日 00:00:00";
    }
    void dateTimeText()
    {
        QFETCH(QDateTime, when);
        QFETCH(QString, shown);
        TestWindow w;
        QVERIFY(w.form->Timer1->isActive());
        QCOMPARE(w.form->Timer1->interval(), 1000);
        w.clock.moment = when;
        // The next tick of Timer1 writes the new moment; the tick is sent
        // here rather than waited for.
        QVERIFY(QMetaObject::invokeMethod(w.form->Timer1, "timeout"));
        QCOMPARE(w.form->panel(2)->text(), shown);
    }

    void timeOfDayHasNoZone()
    {
        const QString text = timeOfDayText(QTime(9, 8, 7), QLocale(QLocale::English, QLocale::UnitedStates));
        QVERIFY2(text.contains(QStringLiteral("9:08:07")), qPrintable(text));
        QVERIFY2(!text.contains(u'('), qPrintable(text));
        QVERIFY(!text.endsWith(u' '));
    }

    void aboutBox()
    {
        TestWindow w;
        w.trigger("about");
        QCOMPARE(w.messages.shown.size(), 1);
        QCOMPARE(w.messages.shown[0].kind, ShownMessage::About);
        QCOMPARE(w.messages.shown[0].title, QStringLiteral("关于 Inkwell"));
        QCOMPARE(w.messages.shown[0].text, QStringLiteral("Inkwell"));
    }

    void escClosesOrStays_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("closes");
        QTest::newRow("no ends") << int(MessageAnswer::No) << true;
        QTest::newRow("cancel stays") << int(MessageAnswer::Cancel) << false;
    }
    void escClosesOrStays()
    {
        QFETCH(int, answer);
        QFETCH(bool, closes);
        TestWindow w;
        w.form->show();
        w.type(QStringLiteral("x"));
        w.messages.answers.enqueue(MessageAnswer(answer));
        w.trigger("Esc");
        QCOMPARE(w.form->isVisible(), !closes);
        QCOMPARE(w.messages.shown.size(), 1);
    }

    void startupBindsSkinEngineAndIcon()
    {
        TestWindow w;
        QCOMPARE(w.skins.calls,
                 (QStringList{QStringLiteral("SkinH_Attach()"), QStringLiteral("SkinHme()"),
                              QStringLiteral("SkinH_AdjustAero(204,36,12,9,0,0,0,0,0)")}));
        QVERIFY(!w.form->windowIcon().isNull());
        QVERIFY(w.form->windowIcon().availableSizes().contains(QSize(16, 16)));
    }

    void skinMenuCopiesAndAttaches()
    {
        TestWindow w;
        QVERIFY(QDir().mkpath(w.skinLocations.programDirectory()));
        const QString source = w.home.filePath(QStringLiteral("my skin & more.she"));
        QVERIFY(writeBytes(source, "QWidget { color: #123456; }"));
        w.skins.calls.clear();
        w.dialogs.script.enqueue(ScriptedDialogHost::choose(source));
        w.trigger("skin");
        QCOMPARE(readBytes(w.skinLocations.programSkin()), QByteArray("QWidget { color: #123456; }"));
        QCOMPARE(w.skins.calls.size(), 1);
        QVERIFY(w.skins.calls[0].startsWith(QStringLiteral("SkinH_AttachEx(") + w.skinLocations.programSkin()));
        QCOMPARE(w.messages.texts(), QStringList{QStringLiteral("皮肤更换成功")});
        QCOMPARE(w.form->CommonDialog1.FileName, QStringLiteral("*.she"));
        // Cancelled: nothing copied, nothing said.
        w.dialogs.script.enqueue(ScriptedDialogHost::cancel());
        w.trigger("skin");
        QCOMPARE(w.messages.shown.size(), 1);
    }

    // How a skin change went is the window's to say, in one box.
    void skinMenuTellsHowItWent_data()
    {
        QTest::addColumn<QString>("source");  // "" : the file does not exist
        QTest::addColumn<QString>("refusal"); // the engine's reason for refusing it
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("icon");
        QTest::newRow("applied") << "good.she"
                                 << ""
                                 << "皮肤更换成功" << int(MessageIcon::Information);
        QTest::newRow("refused by the engine")
            << "good.she"
            << "皮肤文件不是完整的样式表：缺少 }"
            << "皮肤更换失败：皮肤文件不是完整的样式表：缺少 }" << int(MessageIcon::Exclamation);
        QTest::newRow("unreadable file")
            << ""
            << ""
            << "皮肤更换失败：无法读取 " << int(MessageIcon::Exclamation);
    }
    void skinMenuTellsHowItWent()
    {
        QFETCH(QString, source);
        QFETCH(QString, refusal);
        QFETCH(QString, text);
        QFETCH(int, icon);
        TestWindow w;
        QVERIFY(QDir().mkpath(w.skinLocations.programDirectory()));
        const QString path =
            w.home.filePath(source.isEmpty() ? QStringLiteral("gone.she") : source);
        if (!source.isEmpty())
            QVERIFY(writeBytes(path, "QWidget { color: #123456; }"));
        w.skins.attachRefusal = refusal;
        w.dialogs.script.enqueue(ScriptedDialogHost::choose(path));
        w.trigger("skin");
        QCOMPARE(w.messages.shown.size(), 1);
        QCOMPARE(w.messages.shown[0].kind, ShownMessage::Inform);
        QVERIFY2(w.messages.shown[0].text.startsWith(text), qPrintable(w.messages.shown[0].text));
        if (!source.isEmpty())
            QCOMPARE(w.messages.shown[0].text, text);
        QCOMPARE(w.messages.shown[0].title, QStringLiteral("Inkwell"));
        QCOMPARE(w.messages.shown[0].icon, MessageIcon(icon));
    }

    void regMenuRunsTheAssociationDialog()
    {
        TestWindow w;
        bool clicked = false;
        QTimer::singleShot(0, [&] {
            QWidget *dialog = QApplication::activeModalWidget();
            auto *button = dialog ? dialog->findChild<QPushButton *>(QStringLiteral("Command1")) : nullptr;
            if (button) {
                button->click();
                clicked = true;
            } else if (dialog) {
                dialog->close();
            }
        });
        w.trigger("reg");
        QVERIFY(clicked);
        QCOMPARE(w.messages.texts(),
                 (QStringList{QStringLiteral("创建自定义类型后缀名成功。"), QStringLiteral("改变文件打开方式成功！"),
                              QStringLiteral("改变图标成功")}));
        QVERIFY(!QApplication::activeModalWidget());
    }

    void damagedRegistryFileIsReported()
    {
        TestWindow w;
        const QString file = QString::fromStdString(w.registry.filePath());
        QVERIFY(QDir().mkpath(QFileInfo(file).absolutePath()));
        QVERIFY(writeBytes(file, "this is not a registry export"));
        QTimer::singleShot(0, [] {
            if (QWidget *dialog = QApplication::activeModalWidget())
                if (auto *button = dialog->findChild<QPushButton *>(QStringLiteral("Command1")))
                    button->click();
        });
        w.trigger("reg");
        QVERIFY(!w.messages.shown.isEmpty());
        const ShownMessage last = w.messages.shown.last();
        QVERIFY2(last.text.contains(QStringLiteral("已损坏")), qPrintable(last.text));
        QCOMPARE(last.title, QStringLiteral("Inkwell"));
        QCOMPARE(last.icon, MessageIcon::Exclamation);
        // The damaged file was kept aside, not overwritten.
        const QStringList aside = QFileInfo(file).dir().entryList({QStringLiteral("*.damaged-*")});
        QCOMPARE(aside.size(), 1);
        QCOMPARE(readBytes(QFileInfo(file).dir().filePath(aside.first())), QByteArray("this is not a registry export"));
    }

    // A file that takes more than half a second of the window's clock to load
    // shows how far it has come, and only such a file.
    void bigFileShowsProgressWhileLoading_data()
    {
        QTest::addColumn<int>("perSlice"); // ms of clock time each slice takes
        QTest::newRow("slow disk") << 200;
        QTest::newRow("just under the delay") << 499;
        QTest::newRow("exactly the delay") << 500;
        QTest::newRow("instant") << 0;
    }
    void bigFileShowsProgressWhileLoading()
    {
        QFETCH(int, perSlice);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("big.txt"));
        QVERIFY(writeBytes(
            path, QByteArray("line of text\n").repeated(6 * TextLoader::sliceBytes / 13)));
        TestWindow w;
        w.form->show();
        auto *bar = w.form->findChild<QProgressBar *>();
        QVERIFY(bar);
        // After the window has seen each slice: whether the row shows, and
        // how long the load had taken by then; then the next slice's time passes.
        QList<QPair<qint64, bool>> seen;
        QDateTime first;
        QString label;
        QObject::connect(&w.form->document(), &DocumentState::loadProgress, [&] {
            if (!first.isValid())
                first = w.clock.moment;
            seen.append({first.msecsTo(w.clock.moment), bar->isVisible()});
            if (bar->isVisible())
                label = bar->parentWidget()->findChild<QLabel *>()->text();
            w.clock.moment = w.clock.moment.addMSecs(perSlice);
        });
        w.dialogs.script.enqueue(ScriptedDialogHost::choose(path));
        w.trigger("open");
        QTRY_VERIFY(!w.form->document().isLoading());
        QVERIFY(!bar->isVisible());
        QVERIFY(seen.size() >= 4);
        for (const auto &[elapsed, visible] : seen)
            QCOMPARE(visible, elapsed >= Form1::loadProgressDelay.count());
        if (perSlice > 0)
            QCOMPARE(label, QStringLiteral("正在载入 big.txt"));
    }

    void shortcutsReachTheirItems()
    {
        TestWindow w;
        w.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
        w.text1().setFocus();
        QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
        w.dialogs.script.enqueue(ScriptedDialogHost::cancel());
        QTest::keyClick(&w.text1(), Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(w.dialogs.shown.size(), 1);
        QCOMPARE(w.dialogs.shown[0].kind, ScriptedDialogHost::Shown::Open);
        w.dialogs.script.enqueue(ScriptedDialogHost::cancel());
        QTest::keyClick(&w.text1(), Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(w.dialogs.shown.size(), 2);
        QCOMPARE(w.dialogs.shown[1].kind, ScriptedDialogHost::Shown::Save);
        // Ctrl+Z belongs to the editor itself.
        QTest::keyClicks(&w.text1(), QStringLiteral("ab"));
        QTest::keyClick(&w.text1(), Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(w.text1().Text().size() < 2);
    }
};

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
