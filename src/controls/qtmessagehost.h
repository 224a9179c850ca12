#pragma once

#include "core/messagehost.h"

class QWidget;

namespace Inkwell {

// The real boxes: QMessageBox and QInputDialog, modal to the main window.
class QtMessageHost : public MessageHost {
public:
    explicit QtMessageHost(QWidget *parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget *parent) { m_parent = parent; }

    void inform(const QString &text, const QString &title, MessageIcon icon) override;
    MessageAnswer askYesNoCancel(const QString &text, const QString &title) override;
    MessageAnswer askYesNo(const QString &text, const QString &title, MessageIcon icon,
                           MessageAnswer defaultButton = MessageAnswer::No) override;
    QString inputBox(const QString &prompt, const QString &title, const QString &defaultText) override;
    void about(const QString &title, const QString &firstLine, const QIcon &icon) override;

private:
    QWidget *m_parent;
};

} // namespace Inkwell
