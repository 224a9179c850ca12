#pragma once

#include <QString>

namespace Inkwell {

// An expected failure, as a value: what could not be done and the system's
// reason. Only the window turns it into a message box.
struct Error {
    QString what;
    QString why;
};

} // namespace Inkwell
