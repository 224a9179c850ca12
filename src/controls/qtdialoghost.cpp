#include "controls/qtdialoghost.h"

#include "controls/fontcolordialog.h"

#include <QColorDialog>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPageSetupDialog>
#include <QPageSize>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>

namespace Inkwell {

namespace {

QColor fromBgr(quint32 bgr)
{
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

quint32 toBgr(const QColor &c)
{
    return quint32(c.red()) | (quint32(c.green()) << 8) | (quint32(c.blue()) << 16);
}

} // namespace

QStringList QtDialogHost::qtFilters(const QString &filter)
{
    QStringList out;
    const QStringList parts = filter.split(u'|');
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts.at(i).trimmed();
        QString patterns = parts.at(i + 1).trimmed();
        if (description.isEmpty() && patterns.isEmpty())
            continue;
        patterns.replace(u';', u' ');
        // Qt reads the patterns from the last parentheses; a description that
        // already ends with them is used as it stands.
        if (description.endsWith(u'(' + patterns + u')'))
            out << description;
        else
            out << QStringLiteral("%1 (%2)").arg(description, patterns);
    }
    return out;
}

bool QtDialogHost::showFile(CommonDialog &dialog, bool save)
{
    QFileDialog box(m_parent);
    box.setWindowTitle(!dialog.DialogTitle.isEmpty() ? dialog.DialogTitle
                       : save                        ? QStringLiteral("另存为")
                                                     : QStringLiteral("打开"));
    box.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    box.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    box.setNameFilters(qtFilters(dialog.Filter));
    // A preset such as "*.txt" is a pattern, not a file: start with an empty
    // name. A real path from an earlier choice is offered again.
    if (!dialog.InitDir.isEmpty())
        box.setDirectory(dialog.InitDir);
    const QString preset = dialog.FileName;
    if (!preset.isEmpty() && !preset.contains(u'*') && !preset.contains(u'?')) {
        const QFileInfo info(preset);
        if (info.isAbsolute())
            box.setDirectory(info.absolutePath());
        box.selectFile(info.fileName());
    }
    if (box.exec() != QDialog::Accepted || box.selectedFiles().isEmpty())
        return false;
    dialog.FileName = QDir::toNativeSeparators(box.selectedFiles().constFirst());
    return true;
}

bool QtDialogHost::showOpen(CommonDialog &dialog)
{
    return showFile(dialog, false);
}

bool QtDialogHost::showSave(CommonDialog &dialog)
{
    return showFile(dialog, true);
}

bool QtDialogHost::showColor(CommonDialog &dialog)
{
    QColorDialog box(m_parent);
    if (!dialog.DialogTitle.isEmpty())
        box.setWindowTitle(dialog.DialogTitle);
    if (dialog.Flags & CdlFlags::ColorRgbInit)
        box.setCurrentColor(fromBgr(dialog.Color));
    if (box.exec() != QDialog::Accepted)
        return false;
    dialog.Color = toBgr(box.selectedColor());
    return true;
}

bool QtDialogHost::showFont(CommonDialog &dialog)
{
    QFont initial(dialog.FontName);
    if (dialog.FontSize > 0)
        initial.setPointSizeF(dialog.FontSize);
    initial.setBold(dialog.FontBold);
    initial.setItalic(dialog.FontItalic);
    initial.setUnderline(dialog.FontUnderline);
    initial.setStrikeOut(dialog.FontStrikethru);
    FontColorDialog box(m_parent);
    box.setWindowTitle(dialog.DialogTitle.isEmpty() ? QStringLiteral("字体") : dialog.DialogTitle);
    box.setCurrentFont(initial);
    box.setCurrentColor(fromBgr(dialog.Color));
    box.setMixed(dialog.MixedValues);
    // Only what the user changed from what the dialog showed replaces the
    // given values.
    const QFont start = box.currentFont();
    const QColor startColor = box.currentColor();
    if (box.exec() != QDialog::Accepted)
        return false;
    const QFont chosen = box.currentFont();
    int mixed = box.mixedParts();
    const auto picked = [&](int part, bool differs) {
        const bool yes = differs || ((dialog.MixedValues & part) && !(mixed & part));
        if (yes)
            mixed &= ~part;
        return yes;
    };
    if (picked(CdlFont::Name, chosen.family() != start.family()))
        dialog.FontName = chosen.family();
    if (picked(CdlFont::Size, chosen.pointSizeF() != start.pointSizeF()))
        dialog.FontSize = float(chosen.pointSizeF());
    if (picked(CdlFont::Bold, chosen.bold() != start.bold()))
        dialog.FontBold = chosen.bold();
    if (picked(CdlFont::Italic, chosen.italic() != start.italic()))
        dialog.FontItalic = chosen.italic();
    if (picked(CdlFont::Underline, chosen.underline() != start.underline()))
        dialog.FontUnderline = chosen.underline();
    if (picked(CdlFont::Strikethru, chosen.strikeOut() != start.strikeOut()))
        dialog.FontStrikethru = chosen.strikeOut();
    if (picked(CdlFont::Color, box.currentColor() != startColor))
        dialog.Color = toBgr(box.currentColor());
    dialog.MixedValues = mixed;
    return true;
}

void QtDialogHost::takeFont(CommonDialog &dialog, const QFont &chosen)
{
    dialog.FontName = chosen.family();
    dialog.FontSize = float(chosen.pointSizeF());
    dialog.FontBold = chosen.bold();
    dialog.FontItalic = chosen.italic();
    dialog.FontUnderline = chosen.underline();
    dialog.FontStrikethru = chosen.strikeOut();
}

bool QtDialogHost::showPrint(CommonDialog &, QPrinter &printer, const QString &fileOffer)
{
    QPrintDialog box(&printer, m_parent);
    // Qt's own title is English, and some platforms show the program's name instead.
    box.setWindowTitle(QStringLiteral("打印"));
    // Offer "Selection" exactly when there is one (the command sets the range
    // from the editor), so the dialog shows what will print.
    box.setOption(QAbstractPrintDialog::PrintSelection,
                  printer.printRange() == QPrinter::Selection);
    // Printing to a file offers the document's own name (Qt offers
    // "print.pdf" in the working folder); a file the user chose earlier for
    // this same document is offered again.
    if (!fileOffer.isEmpty() &&
        (printer.outputFileName().isEmpty() || fileOffer != m_lastFileOffer)) {
        if (auto *name = box.findChild<QLineEdit *>(QStringLiteral("filename")))
            name->setText(QDir::toNativeSeparators(fileOffer));
    }
    m_lastFileOffer = fileOffer;
    // Qt's dialog gives a CUPS printer that printer's default paper on OK,
    // whatever page the printer was set up with. The paper is chosen in the
    // printer's properties: unless the user opened them, the document keeps
    // the page set up for it.
    const QPageSize page = printer.pageLayout().pageSize();
    bool propertiesOpened = false;
    if (auto *properties = box.findChild<QPushButton *>(QStringLiteral("properties")))
        QObject::connect(properties, &QPushButton::clicked, &box,
                         [&propertiesOpened] { propertiesOpened = true; });
    if (box.exec() != QDialog::Accepted)
        return false;
    if (!propertiesOpened && printer.outputFormat() == QPrinter::NativeFormat &&
        !printer.pageLayout().pageSize().isEquivalentTo(page))
        printer.setPageSize(page); // refused by a printer without that paper
    return true;
}

bool QtDialogHost::showPageSetup(CommonDialog &dialog, QPrinter &printer)
{
    QPageSetupDialog box(&printer, m_parent);
    box.setWindowTitle(QStringLiteral("页面设置"));
    // For a CUPS printer Qt's page setup shows the printer's default paper,
    // not the page the printer is set up with (OK would then set that paper):
    // show the printer's page where its paper list has it.
    if (auto *sizes = box.findChild<QComboBox *>(QStringLiteral("pageSizeCombo"))) {
        const QPageSize page = printer.pageLayout().pageSize();
        for (int i = 0; i < sizes->count(); ++i) {
            const QVariant data = sizes->itemData(i);
            if (data.metaType() == QMetaType::fromType<QPageSize>() &&
                data.value<QPageSize>().isEquivalentTo(page)) {
                sizes->setCurrentIndex(i);
                break;
            }
        }
    }
    if (box.exec() != QDialog::Accepted)
        return false;
    dialog.Orientation = printer.pageLayout().orientation() == QPageLayout::Landscape ? 2 : 1;
    return true;
}

} // namespace Inkwell
