#pragma once

#include "controls/commondialog.h"

class QFont;
class QWidget;

namespace Inkwell {

// The real dialogs: Qt's file, colour, font, print and page-setup dialogs.
class QtDialogHost : public DialogHost {
public:
    explicit QtDialogHost(QWidget *parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget *parent) { m_parent = parent; }

    bool showOpen(CommonDialog &dialog) override;
    bool showSave(CommonDialog &dialog) override;
    bool showColor(CommonDialog &dialog) override;
    bool showFont(CommonDialog &dialog) override;
    bool showPrint(CommonDialog &dialog, QPrinter &printer, const QString &fileOffer) override;
    bool showPageSetup(CommonDialog &dialog, QPrinter &printer) override;

    // "desc|pattern|desc|pattern" to Qt's "desc (pattern);;desc (pattern)".
    static QStringList qtFilters(const QString &filter);
    // The font dialog's values taken from the chosen font.
    static void takeFont(CommonDialog &dialog, const QFont &chosen);

private:
    bool showFile(CommonDialog &dialog, bool save);
    QWidget *m_parent;
    QString m_lastFileOffer; // what the print dialog offered last time
};

} // namespace Inkwell
