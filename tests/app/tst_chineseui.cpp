// Qt's own dialogs and buttons speak Chinese whatever the locale the program
// starts in (CTest runs this once under C.UTF-8 and once under zh_CN.UTF-8),
// and Windows font names reach installed faces.
#include "app/chineseui.h"
#include "controls/commondialog.h"
#include "controls/fontcolordialog.h"
#include "controls/qtdialoghost.h"
#include "controls/qtmessagehost.h"
#include "rtf/rtfreader.h"
#include "rtf/rtfwriter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QRadioButton>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <functional>

using namespace Inkwell;

namespace {

bool hasHan(const QString &text)
{
    for (const QChar c : text)
        if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF)
            return true;
    return false;
}

// Runs `look` on the next modal dialog once it shows, then closes it.
void whenModalShows(const std::function<void(QWidget *)> &look)
{
    auto *poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, look] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        look(modal);
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
    });
    poll->start();
}

QStringList buttonTexts(QWidget *dialog)
{
    QStringList out;
    for (QAbstractButton *button : dialog->findChildren<QAbstractButton *>())
        if (button->isVisible() && !button->text().isEmpty())
            out << button->text();
    out.sort();
    return out;
}

} // namespace

class TestChineseUi : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        const std::optional<QString> file = installQtChinese(*QCoreApplication::instance());
        QVERIFY2(file, "qtbase_zh_CN.qm not found (Debian package qt6-translations-l10n)");
        QVERIFY(file->contains(QStringLiteral("zh_CN")));
    }

    void messageBoxButtons_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QStringList>("buttons");
        QTest::newRow("save prompt") << 0 << QStringList{"取消", "否(&N)", "是(&Y)"};
        QTest::newRow("question") << 1 << QStringList{"否(&N)", "是(&Y)"};
        QTest::newRow("message") << 2 << QStringList{"确定"};
    }
    void messageBoxButtons()
    {
        QFETCH(int, kind);
        QFETCH(QStringList, buttons);
        QtMessageHost host;
        QStringList seen;
        whenModalShows([&seen](QWidget *box) { seen = buttonTexts(box); });
        if (kind == 0)
            QCOMPARE(host.askYesNoCancel(QStringLiteral("文件内容已经改变，是否保存？"),
                                         QStringLiteral("Inkwell")),
                     MessageAnswer::Cancel);
        else if (kind == 1)
            QCOMPARE(host.askYesNo(QStringLiteral("?"), QStringLiteral("Inkwell"),
                                   MessageIcon::Exclamation),
                     MessageAnswer::No);
        else
            host.inform(QStringLiteral("!"), QStringLiteral("Inkwell"), MessageIcon::Information);
        buttons.sort();
        QCOMPARE(seen, buttons);
    }

    // Every box is wide enough for its title beside a window manager's icon
    // and buttons: a short message must not leave "In…" of "Inkwell".
    void boxesFitTheirTitle_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("title");
        QTest::newRow("message, short text") << 0 << "Inkwell";
        QTest::newRow("question") << 1 << "Inkwell";
        QTest::newRow("save prompt") << 2 << "Inkwell";
        QTest::newRow("about") << 3 << "关于 Inkwell";
        QTest::newRow("input box") << 4 << "查找";
        QTest::newRow("message, long title") << 0 << "注册txt关联 - Inkwell";
    }
    void boxesFitTheirTitle()
    {
        QFETCH(int, kind);
        QFETCH(QString, title);
        QtMessageHost host;
        int width = 0;
        QFont titleFont;
        whenModalShows([&](QWidget *box) {
            width = box->width();
            titleFont = box->font();
        });
        const QString text = QStringLiteral("皮肤更换成功");
        switch (kind) {
        case 0:
            host.inform(text, title, MessageIcon::Information);
            break;
        case 1:
            host.askYesNo(text, title, MessageIcon::Exclamation);
            break;
        case 2:
            host.askYesNoCancel(text, title);
            break;
        case 3:
            host.about(title, QStringLiteral("Inkwell"), QIcon());
            break;
        default:
            host.inputBox(text, title, QString());
            break;
        }
        // Measured in openbox's default theme: its window icon and three
        // buttons, with their padding, take about eight lines' height of a
        // title bar (108 of the 145 pixels of a box that showed "In…").
        titleFont.setBold(true);
        const QFontMetrics metrics(titleFont);
        const int needed = metrics.horizontalAdvance(title) + 8 * metrics.height();
        QVERIFY2(
            width >= needed,
            qPrintable(QStringLiteral("%1 px wide, the title needs %2").arg(width).arg(needed)));
    }

    void inputBoxButtons()
    {
        QtMessageHost host;
        QStringList seen;
        whenModalShows([&seen](QWidget *box) { seen = buttonTexts(box); });
        QCOMPARE(host.inputBox(QStringLiteral("查找内容"), QStringLiteral("查找"), QString()),
                 QString());
        QCOMPARE(seen, (QStringList{"取消", "确定"}));
    }

    // The labels and buttons of the file dialog Qt draws itself.
    void fileDialogSpeaksChinese()
    {
        QFileDialog dialog(nullptr);
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        for (const char *name : {"lookInLabel", "fileNameLabel", "fileTypeLabel"}) {
            auto *label = dialog.findChild<QLabel *>(QString::fromLatin1(name));
            QVERIFY2(label, name);
            QVERIFY2(hasHan(label->text()), qPrintable(label->text()));
        }
        auto *box = dialog.findChild<QDialogButtonBox *>();
        QVERIFY(box);
        for (QAbstractButton *button : box->buttons())
            QVERIFY2(hasHan(button->text()), qPrintable(button->text()));
    }

    // With a selection the print dialog offers "Selection", chosen; without
    // one it does not offer it at all.
    void printDialogOffersTheSelection_data()
    {
        QTest::addColumn<bool>("selected");
        QTest::newRow("text selected") << true;
        QTest::newRow("nothing selected") << false;
    }
    void printDialogOffersTheSelection()
    {
        QFETCH(bool, selected);
        QPrinter printer;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setPrintRange(selected ? QPrinter::Selection : QPrinter::AllPages);
        QtDialogHost host;
        CommonDialog safeuse(&host);
        bool offered = !selected, chosen = !selected;
        whenModalShows([&](QWidget *dialog) {
            auto *option = dialog->findChild<QRadioButton *>(QStringLiteral("printSelection"));
            // The range sits in the part "Options >>" unfolds: not hidden
            // there is what the user sees on unfolding it.
            offered = option && !option->isHidden() && option->isEnabled();
            chosen = option && option->isChecked();
        });
        QCOMPARE(safeuse.ShowPrinter(printer), cdlCancel);
        QCOMPARE(offered, selected);
        QCOMPARE(chosen, selected);
    }

    void windowsFontNamesShowInInstalledFaces_data()
    {
        QTest::addColumn<QString>("family");
        QTest::addColumn<QString>("face");
        QTest::newRow("宋体") << QStringLiteral("宋体") << QStringLiteral("Noto Serif CJK SC");
        QTest::newRow("SimSun") << QStringLiteral("SimSun") << QStringLiteral("Noto Serif CJK SC");
        QTest::newRow("新宋体") << QStringLiteral("新宋体") << QStringLiteral("Noto Serif CJK SC");
        QTest::newRow("黑体") << QStringLiteral("黑体") << QStringLiteral("Noto Sans CJK SC");
        QTest::newRow("Microsoft YaHei")
            << QStringLiteral("Microsoft YaHei") << QStringLiteral("Noto Sans CJK SC");
        QTest::newRow("楷体") << QStringLiteral("楷体") << QStringLiteral("AR PL UKai CN");
        QTest::newRow("FangSong") << QStringLiteral("FangSong") << QStringLiteral("AR PL UMing CN");
    }
    void windowsFontNamesShowInInstalledFaces()
    {
        QFETCH(QString, family);
        QFETCH(QString, face);
        if (!QFontDatabase::hasFamily(face))
            QSKIP(qPrintable(face + QStringLiteral(" is not installed")));
        installChineseFontSubstitutes();
        QFont font(family);
        QCOMPARE(font.family(), family); // the document keeps the name it was given
        QCOMPARE(QFontInfo(font).family(), face);
    }

    // The font dialog shows a Windows face by its own name, chosen in its
    // list, drawn in the installed face that stands in for it, bold included;
    // OK without a change changes nothing.
    void fontDialogShowsTheWindowsName()
    {
        if (!QFontDatabase::hasFamily(QStringLiteral("Noto Sans CJK SC")))
            QSKIP("Noto Sans CJK SC is not installed");
        installChineseFontSubstitutes();
        QtDialogHost host;
        CommonDialog dialog(&host);
        dialog.FontName = QStringLiteral("黑体");
        dialog.FontSize = 16;
        dialog.FontBold = true;
        QFont shown;
        QString listed, style, sampleFace;
        auto *poll = new QTimer;
        poll->setInterval(10);
        QObject::connect(poll, &QTimer::timeout, poll, [&, poll] {
            auto *box = qobject_cast<FontColorDialog *>(QApplication::activeModalWidget());
            if (!box)
                return;
            poll->stop();
            poll->deleteLater();
            shown = box->currentFont();
            listed = box->familyList()->currentItem() ? box->familyList()->currentItem()->text()
                                                      : QString();
            style = box->styleEdit()->text();
            sampleFace = QFontInfo(box->sample()->font()).family();
            box->accept();
        });
        poll->start();
        QCOMPARE(dialog.ShowFont(), 0);
        QCOMPARE(shown.family(), QStringLiteral("黑体"));
        QCOMPARE(listed, QStringLiteral("黑体"));
        QCOMPARE(style, QStringLiteral("粗体"));
        QCOMPARE(sampleFace, QStringLiteral("Noto Sans CJK SC"));
        QVERIFY(shown.bold());
        QCOMPARE(shown.pointSizeF(), 16.0);
        QCOMPARE(dialog.FontName, QStringLiteral("黑体"));
        QVERIFY(dialog.FontBold);
    }

    // Through an RTF save and a read the name stays the Windows one (Word
    // still finds 宋体) and still shows in the stand-in face.
    void rtfRoundTripKeepsNameAndFace_data() { windowsFontNamesShowInInstalledFaces_data(); }
    void rtfRoundTripKeepsNameAndFace()
    {
        QFETCH(QString, family);
        QFETCH(QString, face);
        if (!QFontDatabase::hasFamily(face))
            QSKIP(qPrintable(face + QStringLiteral(" is not installed")));
        installChineseFontSubstitutes();
        QTextDocument original;
        QTextCursor write(&original);
        QTextCharFormat format;
        format.setFontFamilies(QStringList{family});
        write.insertText(QStringLiteral("中文 text"), format);
        const QByteArray rtf = Rtf::write(original, 936);

        QTextDocument reread;
        QTextCursor read(&reread);
        QVERIFY(Rtf::read(rtf, read, 936).ok);
        QTextCursor probe(&reread);
        probe.setPosition(1);
        const QFont font = probe.charFormat().font();
        QCOMPARE(font.families().value(0), family);
        QCOMPARE(QFontInfo(font).family(), face);
    }
};

QTEST_MAIN(TestChineseUi)
#include "tst_chineseui.moc"
