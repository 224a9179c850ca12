#include "controls/qtmessagehost.h"

#include <QInputDialog>
#include <QMessageBox>
#include <QSysInfo>

namespace Inkwell {

namespace {

QMessageBox::Icon qtIcon(MessageIcon icon)
{
    return icon == MessageIcon::Exclamation ? QMessageBox::Warning : QMessageBox::Information;
}

} // namespace

void QtMessageHost::inform(const QString &text, const QString &title, MessageIcon icon)
{
    QMessageBox box(qtIcon(icon), title, text, QMessageBox::Ok, m_parent);
    box.exec();
}

MessageAnswer QtMessageHost::askYesNoCancel(const QString &text, const QString &title)
{
    QMessageBox box(QMessageBox::Warning, title, text,
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, m_parent);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
    case QMessageBox::Yes: return MessageAnswer::Yes;
    case QMessageBox::No: return MessageAnswer::No;
    default: return MessageAnswer::Cancel;
    }
}

MessageAnswer QtMessageHost::askYesNo(const QString &text, const QString &title, MessageIcon icon,
                                      MessageAnswer defaultButton)
{
    QMessageBox box(qtIcon(icon), title, text, QMessageBox::Yes | QMessageBox::No, m_parent);
    box.setDefaultButton(defaultButton == MessageAnswer::Yes ? QMessageBox::Yes : QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

QString QtMessageHost::inputBox(const QString &prompt, const QString &title,
                                const QString &defaultText)
{
    bool ok = false;
    const QString text =
        QInputDialog::getText(m_parent, title, prompt, QLineEdit::Normal, defaultText, &ok);
    return ok ? text : QString();
}

void QtMessageHost::about(const QString &title, const QString &firstLine, const QIcon &icon)
{
    // The system's version lines beneath the program's own line, as an
    // operating system's About box would show them.
    const QString text = QStringLiteral("%1\n\n%2\n%3 %4\nQt %5")
                             .arg(firstLine, QSysInfo::prettyProductName(),
                                  QSysInfo::kernelType(), QSysInfo::kernelVersion(),
                                  QString::fromLatin1(qVersion()));
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, m_parent);
    if (!icon.isNull())
        box.setIconPixmap(icon.pixmap(64, 64));
    box.exec();
}

} // namespace Inkwell
