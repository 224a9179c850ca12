#pragma once

#include <QString>

namespace Inkwell {

// Why CUPS refused the last print job this thread handed it (a queue not
// accepting jobs, a printer that went away), or "" when it took the job or
// CUPS is not in use. Qt's CUPS print engine drops this verdict silently.
QString lastCupsJobError();

} // namespace Inkwell
