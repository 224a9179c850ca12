#include "controls/commondialog.h"

#include <QFileInfo>

namespace Inkwell {

CommonDialog::CommonDialog(DialogHost *host) : m_host(host) {}

int CommonDialog::ShowOpen()
{
    return m_host && m_host->showOpen(*this) ? 0 : cdlCancel;
}

int CommonDialog::ShowSave()
{
    return m_host && m_host->showSave(*this) ? 0 : cdlCancel;
}

int CommonDialog::ShowColor()
{
    return m_host && m_host->showColor(*this) ? 0 : cdlCancel;
}

int CommonDialog::ShowFont()
{
    return m_host && m_host->showFont(*this) ? 0 : cdlCancel;
}

int CommonDialog::ShowPrinter(QPrinter &printer, const QString &fileOffer)
{
    if (!m_host)
        return cdlCancel;
    const bool ok = (Flags & CdlFlags::PrintSetup) ? m_host->showPageSetup(*this, printer)
                                                   : m_host->showPrint(*this, printer, fileOffer);
    return ok ? 0 : cdlCancel;
}

QString CommonDialog::FileTitle() const
{
    // Both separators count: paths typed on Windows reach us with "\".
    const qsizetype slash = std::max(FileName.lastIndexOf(u'/'), FileName.lastIndexOf(u'\\'));
    return FileName.mid(slash + 1);
}

} // namespace Inkwell
