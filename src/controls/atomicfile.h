#pragma once

#include "controls/error.h"

#include <QByteArray>
#include <optional>

namespace Inkwell {

// Writes the bytes to a temporary file beside the target, flushes it and
// renames it over the target, so that a crash or a full disk leaves the old
// file whole. Never falls back to writing in place.
std::optional<Error> writeFileAtomically(const QString &path, const QByteArray &bytes);

} // namespace Inkwell
