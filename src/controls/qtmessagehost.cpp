#include "controls/qtmessagehost.h"

#include <QAbstractButton>
#include <QGridLayout>
#include <QInputDialog>
#include <QMessageBox>
#include <QSysInfo>

namespace Inkwell {

namespace {

QMessageBox::Icon qtIcon(MessageIcon icon)
{
    return icon == MessageIcon::Exclamation ? QMessageBox::Warning : QMessageBox::Information;
}

// The standard buttons in Chinese even where Qt's translation is missing.
void nameButtons(QMessageBox &box)
{
    const struct {
        QMessageBox::StandardButton button;
        const char16_t *text;
    } names[] = {{QMessageBox::Yes, u"是(&Y)"},
                 {QMessageBox::No, u"否(&N)"},
                 {QMessageBox::Cancel, u"取消"},
                 {QMessageBox::Ok, u"确定"}};
    for (const auto &name : names)
        if (QAbstractButton *button = box.button(name.button))
            button->setText(QString::fromUtf16(name.text));
}

// The width a box needs for its title to show whole in the window manager's
// title bar: the title in a bold face (as openbox, xfwm and KWin draw it)
// beside the window icon and the minimise, maximise and close buttons with
// their padding (about eight lines' height in openbox's default theme), and
// room to spare for themes with bigger buttons.
int titleRoom(const QWidget &box)
{
    QFont titleFont = box.font();
    titleFont.setBold(true);
    const QFontMetrics metrics(titleFont);
    return metrics.horizontalAdvance(box.windowTitle()) + 10 * metrics.height();
}

// QMessageBox fixes its width from its text (plus 50 pixels for the title,
// too few beside a window manager's buttons): a short message left openbox
// room for "In…" of "Inkwell". A strut in its layout widens it.
void fitTitle(QMessageBox &box)
{
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout()))
        grid->addItem(new QSpacerItem(titleRoom(box), 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
}

} // namespace

void QtMessageHost::inform(const QString &text, const QString &title, MessageIcon icon)
{
    QMessageBox box(qtIcon(icon), title, text, QMessageBox::Ok, m_parent);
    nameButtons(box);
    fitTitle(box);
    box.exec();
}

MessageAnswer QtMessageHost::askYesNoCancel(const QString &text, const QString &title)
{
    QMessageBox box(QMessageBox::Warning, title, text,
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, m_parent);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::Cancel);
    nameButtons(box);
    fitTitle(box);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return MessageAnswer::Yes;
    case QMessageBox::No:
        return MessageAnswer::No;
    default:
        return MessageAnswer::Cancel;
    }
}

MessageAnswer QtMessageHost::askYesNo(const QString &text, const QString &title, MessageIcon icon,
                                      MessageAnswer defaultButton)
{
    QMessageBox box(qtIcon(icon), title, text, QMessageBox::Yes | QMessageBox::No, m_parent);
    box.setDefaultButton(defaultButton == MessageAnswer::Yes ? QMessageBox::Yes : QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    nameButtons(box);
    fitTitle(box);
    return box.exec() == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

QString QtMessageHost::inputBox(const QString &prompt, const QString &title,
                                const QString &defaultText)
{
    QInputDialog box(m_parent);
    box.setWindowTitle(title);
    box.setLabelText(prompt);
    box.setTextValue(defaultText);
    box.setOkButtonText(QStringLiteral("确定"));
    box.setCancelButtonText(QStringLiteral("取消"));
    box.setMinimumWidth(std::max(box.minimumSizeHint().width(), titleRoom(box)));
    return box.exec() == QDialog::Accepted ? box.textValue() : QString();
}

void QtMessageHost::about(const QString &title, const QString &firstLine, const QIcon &icon)
{
    // The system's version lines beneath the program's own line, as an
    // operating system's About box would show them.
    const QString text = QStringLiteral("%1\n\n%2\n%3 %4\nQt %5")
                             .arg(firstLine, QSysInfo::prettyProductName(), QSysInfo::kernelType(),
                                  QSysInfo::kernelVersion(), QString::fromLatin1(qVersion()));
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, m_parent);
    if (!icon.isNull())
        box.setIconPixmap(icon.pixmap(64, 64));
    nameButtons(box);
    fitTitle(box);
    box.exec();
}

} // namespace Inkwell
