#include "commands/commandtests.h"
#include "controls/chinesefonts.h"
#include "controls/fontcolordialog.h"
#include "controls/qtdialoghost.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QImage>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QTimer>

using namespace Inkwell;
using namespace Inkwell::Testing;

namespace {

// Runs `user` on the font dialog once it is open and modal.
void whenOpen(const std::function<void(FontColorDialog &)> &user, bool *seen)
{
    QTimer::singleShot(0, [user, seen] {
        auto *box = qobject_cast<FontColorDialog *>(QApplication::activeModalWidget());
        *seen = box != nullptr;
        if (box)
            user(*box);
        else if (QWidget *other = QApplication::activeModalWidget())
            other->close();
    });
}

// A face with a bold style, so that the dialog can show bold at all, whose
// first style is upright and regular (the dialog shows that first style for
// a plain font when the face names its regular style otherwise).
QString familyWithBold()
{
    const QStringList families = QFontDatabase::families();
    for (const QString &family : families) {
        const QStringList styles = QFontDatabase::styles(family);
        if (styles.contains(QStringLiteral("Bold")) &&
            !QFontDatabase::bold(family, styles.first()) &&
            !QFontDatabase::italic(family, styles.first()))
            return family;
    }
    return families.value(0);
}

// A face with no bold style of its own (the AR PL faces have one style), or "".
QString familyWithoutBold()
{
    for (const QString &family : QFontDatabase::families()) {
        const QStringList styles = QFontDatabase::styles(family);
        bool bold = false;
        for (const QString &style : styles)
            bold = bold || QFontDatabase::bold(family, style) ||
                   QFontDatabase::weight(family, style) >= QFont::DemiBold;
        if (!bold && !QFontDatabase::isPrivateFamily(family) &&
            QFontDatabase::writingSystems(family).contains(QFontDatabase::SimplifiedChinese))
            return family;
    }
    return {};
}

// Types `text` as a user would: Latin letters by key, Chinese through the
// input method, which hands the edit the finished characters.
void typeInto(QLineEdit *edit, const QString &text)
{
    bool latin = true;
    for (const QChar c : text)
        latin = latin && c.unicode() < 0x80;
    if (latin) {
        QTest::keyClicks(edit, text);
        return;
    }
    QInputMethodEvent commit;
    commit.setCommitString(text);
    QApplication::sendEvent(edit, &commit);
}

// How many pixels of `text` drawn in `font` are dark.
int inkOf(const QFont &font, const QString &text)
{
    QImage image(400, 80, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(image.rect(), Qt::AlignCenter, text);
    painter.end();
    int dark = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            dark += qGray(image.pixel(x, y)) < 128;
    return dark;
}

} // namespace

// The real font dialog: face, style, size, effects and colour.
class TestFontDialog : public QObject {
    Q_OBJECT
private slots:
    void startsFromAndReturnsTheDialogsValues_data()
    {
        QTest::addColumn<quint32>("startColor");
        QTest::addColumn<QColor>("pick");
        QTest::addColumn<quint32>("chosenColor");
        QTest::newRow("light grey to red")
            << quint32(0xE0E0E0) << QColor(255, 0, 0) << quint32(0x0000FF);
        QTest::newRow("blue kept") << quint32(0xFF0000) << QColor() << quint32(0xFF0000);
        QTest::newRow("to a mix") << quint32(0) << QColor(0x12, 0x34, 0x56) << quint32(0x563412);
    }
    void startsFromAndReturnsTheDialogsValues()
    {
        QFETCH(quint32, startColor);
        QFETCH(QColor, pick);
        QFETCH(quint32, chosenColor);
        const QString family = familyWithBold();
        QVERIFY(!family.isEmpty());
        CommonDialog openuse;
        openuse.FontName = family;
        openuse.FontSize = 9;
        openuse.Color = startColor;
        openuse.Flags = 259;
        QtDialogHost host;
        QColor startShown;
        QFont startFont;
        bool seen = false;
        whenOpen(
            [&](FontColorDialog &box) {
                startShown = box.currentColor();
                startFont = box.currentFont();
                QFont font = box.currentFont();
                font.setStyleName(QString()); // else the style name overrides the weight
                font.setPointSize(20);
                font.setBold(true);
                font.setUnderline(true);
                box.setCurrentFont(font);
                if (pick.isValid())
                    box.setCurrentColor(pick);
                box.accept();
            },
            &seen);
        QVERIFY(host.showFont(openuse));
        QVERIFY(seen);
        QCOMPARE(startShown, QColor(int(startColor & 0xFF), int(startColor >> 8 & 0xFF),
                                    int(startColor >> 16 & 0xFF)));
        QCOMPARE(startFont.family(), family);
        QCOMPARE(startFont.pointSizeF(), 9.0);
        QCOMPARE(openuse.FontSize, 20.0f);
        QVERIFY(openuse.FontBold);
        QVERIFY(openuse.FontUnderline);
        QVERIFY(!openuse.FontStrikethru);
        QCOMPARE(openuse.Color, chosenColor);
    }

    // The face, style and size boxes and the effects show the font the
    // dialog opens on.
    void qtBoxesFoundInOrder()
    {
        FontColorDialog box;
        const QString family = familyWithBold();
        QFont font(family);
        font.setPointSize(13);
        font.setStrikeOut(true);
        box.setCurrentFont(font);
        QVERIFY(box.familyEdit() && box.styleEdit() && box.sizeEdit());
        QCOMPARE(box.familyEdit()->text(), family);
        QVERIFY(!box.styleEdit()->text().isEmpty());
        QCOMPARE(box.sizeEdit()->text(), QStringLiteral("13"));
        QVERIFY(box.strikeOutBox() && box.underlineBox());
        QVERIFY(box.strikeOutBox()->isChecked());
        QVERIFY(!box.underlineBox()->isChecked());
    }

    // Values the text mixes show blank or half-ticked and come back as mixed,
    // with the given values, unless the user picks one.
    void mixedValuesShowBlank_data()
    {
        QTest::addColumn<bool>("tickUnderline");
        QTest::newRow("left alone") << false;
        QTest::newRow("underline ticked") << true;
    }
    void mixedValuesShowBlank()
    {
        QFETCH(bool, tickUnderline);
        CommonDialog openuse;
        openuse.FontName = familyWithBold();
        openuse.FontSize = 9;
        openuse.Color = 0xE0E0E0;
        openuse.MixedValues = CdlFont::Size | CdlFont::Underline | CdlFont::Color;
        QtDialogHost host;
        bool seen = false;
        QString sizeShown = QStringLiteral("?");
        Qt::CheckState underlineShown = Qt::Checked;
        QString colourShown;
        whenOpen(
            [&](FontColorDialog &box) {
                sizeShown = box.sizeEdit()->text();
                underlineShown = box.underlineBox()->checkState();
                colourShown = box.colorButton()->text();
                if (tickUnderline)
                    box.underlineBox()->click();
                box.accept();
            },
            &seen);
        QVERIFY(host.showFont(openuse));
        QVERIFY(seen);
        QCOMPARE(sizeShown, QString());
        QCOMPARE(underlineShown, Qt::PartiallyChecked);
        QCOMPARE(colourShown, QStringLiteral("（多种颜色）"));
        QCOMPARE(openuse.FontSize, 9.0f);
        QCOMPARE(openuse.Color, 0xE0E0E0u);
        QCOMPARE(openuse.FontUnderline, tickUnderline);
        QCOMPARE(openuse.MixedValues,
                 CdlFont::Size | CdlFont::Color | (tickUnderline ? 0 : CdlFont::Underline));
    }

    void cancelLeavesValues()
    {
        CommonDialog openuse;
        openuse.FontName = QFontDatabase::families().value(0);
        openuse.FontSize = 9;
        openuse.Color = 0xE0E0E0;
        QtDialogHost host;
        bool seen = false;
        whenOpen(
            [](FontColorDialog &box) {
                box.setCurrentColor(Qt::red);
                box.reject();
            },
            &seen);
        QVERIFY(!host.showFont(openuse));
        QVERIFY(seen);
        QCOMPARE(openuse.Color, 0xE0E0E0u);
        QCOMPARE(openuse.FontSize, 9.0f);
    }

    // Esc and Enter typed in the face, style or size box answer for the whole
    // dialog: the dialog closes (it never stays open without its font part),
    // and Enter keeps what was typed.
    void keysInTheBoxesAnswerForTheDialog_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("Esc cancels") << int(Qt::Key_Escape) << false;
        QTest::newRow("Enter confirms") << int(Qt::Key_Return) << true;
    }
    void keysInTheBoxesAnswerForTheDialog()
    {
        QFETCH(int, key);
        QFETCH(bool, accepted);
        CommonDialog openuse;
        openuse.FontName = familyWithBold();
        openuse.FontSize = 9;
        QtDialogHost host;
        bool seen = false;
        bool stillOpen = true;
        whenOpen(
            [&](FontColorDialog &box) {
                QLineEdit *size = box.sizeEdit();
                size->setFocus();
                size->selectAll();
                QTest::keyClicks(size, QStringLiteral("20"));
                QTest::keyClick(size, Qt::Key(key));
                stillOpen = box.isVisible();
                if (stillOpen)
                    box.reject(); // so that the test ends either way
            },
            &seen);
        QCOMPARE(host.showFont(openuse), accepted);
        QVERIFY(seen);
        QVERIFY(!stillOpen);
        QCOMPARE(openuse.FontSize, accepted ? 20.0f : 9.0f);
    }

    // The Windows Chinese faces are offered by their Chinese names, each
    // drawn in the face that stands in for it here.
    void offersChineseNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("face");
        QTest::newRow("宋体") << "宋体"
                              << "Noto Serif CJK SC";
        QTest::newRow("新宋体") << "新宋体"
                                << "Noto Serif CJK SC";
        QTest::newRow("黑体") << "黑体"
                              << "Noto Sans CJK SC";
        QTest::newRow("楷体") << "楷体"
                              << "AR PL UKai CN";
        QTest::newRow("仿宋") << "仿宋"
                              << "AR PL UMing CN";
        QTest::newRow("微软雅黑") << "微软雅黑"
                                  << "Noto Sans CJK SC";
    }
    void offersChineseNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, face);
        if (!QFontDatabase::hasFamily(face))
            QSKIP(qPrintable(face + QStringLiteral(" is not installed")));
        FontColorDialog box;
        const QList<QListWidgetItem *> items = box.familyList()->findItems(name, Qt::MatchExactly);
        QCOMPARE(items.size(), 1);
        QCOMPARE(QFontInfo(items.first()->font()).family(), face);
        // Clicking it chooses the name, and the sample shows the stand-in.
        box.familyList()->setCurrentItem(items.first());
        QCOMPARE(box.familyEdit()->text(), name);
        QCOMPARE(box.currentFont().family(), name);
        QCOMPARE(QFontInfo(box.sample()->font()).family(), face);
    }

    // A family typed in its box and confirmed with Enter is chosen: a listed
    // one in any case, and a Windows name whether installed or not.
    void typedFamilyIsChosen_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("chosen");
        QTest::newRow("黑体") << "黑体"
                              << "黑体";
        QTest::newRow("宋体") << "宋体"
                              << "宋体";
        QTest::newRow("SimHei, not installed") << "simhei"
                                               << "SimHei";
        QTest::newRow("楷体_GB2312, not listed") << "楷体_GB2312"
                                                 << "楷体_GB2312";
        QTest::newRow("installed, other case") << "dejavu sans"
                                               << "DejaVu Sans";
    }
    void typedFamilyIsChosen()
    {
        QFETCH(QString, typed);
        QFETCH(QString, chosen);
        if (chosen == u"DejaVu Sans" && !QFontDatabase::hasFamily(chosen))
            QSKIP("DejaVu Sans is not installed");
        if (offeredChineseFamilies().isEmpty())
            QSKIP("no CJK face is installed");
        CommonDialog openuse;
        openuse.FontName = familyWithBold();
        openuse.FontSize = 9;
        QtDialogHost host;
        bool seen = false;
        whenOpen(
            [&](FontColorDialog &box) {
                QLineEdit *family = box.familyEdit();
                family->setFocus();
                family->selectAll();
                typeInto(family, typed);
                QTest::keyClick(family, Qt::Key_Return);
                if (box.isVisible())
                    box.reject();
            },
            &seen);
        QVERIFY(host.showFont(openuse));
        QVERIFY(seen);
        QCOMPARE(openuse.FontName, chosen);
    }

    // A name no face answers to is not taken: the dialog says so and stays open.
    void unknownFamilyIsRefused()
    {
        CommonDialog openuse;
        openuse.FontName = familyWithBold();
        openuse.FontSize = 9;
        QtDialogHost host;
        bool seen = false, stayed = false, told = false;
        whenOpen(
            [&](FontColorDialog &box) {
                QTest::keyClicks(box.familyEdit(), QStringLiteral("xq"));
                QTest::keyClick(box.familyEdit(), Qt::Key_Return);
                stayed = box.isVisible();
                told = box.familyHint()->isVisible();
                box.reject();
            },
            &seen);
        QVERIFY(!host.showFont(openuse));
        QVERIFY(seen);
        QVERIFY(stayed);
        QVERIFY(told);
        QCOMPARE(openuse.FontName, familyWithBold());
    }

    // Bold and italic are offered for every face; a face without a bold style
    // of its own is emboldened, so bold shows with only such a face installed.
    void boldForEveryFace()
    {
        const QString family = familyWithoutBold();
        if (family.isEmpty())
            QSKIP("every installed CJK face has a bold style");
        CommonDialog openuse;
        openuse.FontName = family;
        openuse.FontSize = 20;
        QtDialogHost host;
        bool seen = false;
        QStringList styles;
        int regularInk = 0, boldInk = 0;
        const QString text = QStringLiteral("汉字示例");
        whenOpen(
            [&](FontColorDialog &box) {
                for (int i = 0; i < box.styleList()->count(); ++i)
                    styles << box.styleList()->item(i)->text();
                regularInk = inkOf(box.sample()->font(), text);
                box.styleList()->setCurrentRow(2);
                boldInk = inkOf(box.sample()->font(), text);
                box.accept();
            },
            &seen);
        QVERIFY(host.showFont(openuse));
        QVERIFY(seen);
        QCOMPARE(styles, FontColorDialog::styleNames());
        QVERIFY(openuse.FontBold);
        QVERIFY(!openuse.FontItalic);
        QCOMPARE(openuse.FontName, family);
        // Emboldening thickens every stroke: clearly more ink.
        QVERIFY2(
            boldInk > regularInk * 11 / 10,
            qPrintable(
                QStringLiteral("%1 dark pixels bold, %2 regular").arg(boldInk).arg(regularInk)));
    }

    // Up and Down in the family and size boxes step through their lists.
    void arrowKeysStepThroughTheLists()
    {
        FontColorDialog box;
        QFont start(box.familyList()->item(1)->text());
        start.setPointSize(12);
        box.setCurrentFont(start);
        QTest::keyClick(box.familyEdit(), Qt::Key_Down);
        QCOMPARE(box.familyEdit()->text(), box.familyList()->item(2)->text());
        QCOMPARE(box.currentFont().family(), box.familyList()->item(2)->text());
        QTest::keyClick(box.familyEdit(), Qt::Key_Up);
        QTest::keyClick(box.familyEdit(), Qt::Key_Up);
        QCOMPARE(box.familyEdit()->text(), box.familyList()->item(0)->text());
        QTest::keyClick(box.sizeEdit(), Qt::Key_Down);
        QCOMPARE(box.sizeEdit()->text(), QStringLiteral("14"));
        QCOMPARE(box.currentFont().pointSizeF(), 14.0);
    }

    // Alt+C opens the colour chooser from the keyboard, on the current colour;
    // what is picked there becomes the dialog's colour.
    void colorChooserByKeyboard()
    {
        FontColorDialog box;
        box.setCurrentColor(QColor(0x12, 0x34, 0x56));
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QColor offered;
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, [&] {
            if (auto *chooser = qobject_cast<QColorDialog *>(QApplication::activeModalWidget())) {
                offered = chooser->currentColor();
                chooser->setCurrentColor(Qt::green);
                chooser->accept();
            }
        });
        poll.start();
        QTest::keyClick(&box, Qt::Key_C, Qt::AltModifier);
        QTRY_VERIFY(offered.isValid());
        QCOMPARE(offered, QColor(0x12, 0x34, 0x56));
        QTRY_COMPARE(box.currentColor(), QColor(Qt::green));
        QCOMPARE(box.colorButton()->text(), QStringLiteral("#00FF00"));
    }
};

static const bool registered = registerCommandTest<TestFontDialog>();
#include "tst_fontdialog.moc"
