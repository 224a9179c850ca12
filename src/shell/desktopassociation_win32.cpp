// On Windows the registry entries FrmMain writes are the whole association.
#include "shell/desktopassociation.h"

namespace Inkwell {

std::unique_ptr<DesktopAssociation> makeDesktopAssociation(const QString &)
{
    return nullptr;
}

} // namespace Inkwell
