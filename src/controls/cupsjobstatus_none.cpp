#include "controls/cupsjobstatus.h"

namespace Inkwell {

// Printing here does not go through CUPS; the printer's own state tells.
QString lastCupsJobError()
{
    return QString();
}

} // namespace Inkwell
