// The temporary files a save writes beside the file it replaces: their
// names, and removing those that a save which never finished left behind.
#pragma once

#include <QByteArray>

#include <string_view>

namespace Inkwell::SaveTemps {

// A fresh hidden name in `dir` for a save of the file called `name`:
// ".NAME.inkwell-" and a random tag of base-36 digits.
QByteArray hiddenName(const QByteArray &dir, const QByteArray &name);

// Whether a file name is one hiddenName() gives.
bool isTempName(std::string_view name);

// Removes from `dir` the user's own temporary files that are older than a
// minute and that no save holds (a save locks its temporary file until it
// is renamed): what a save killed before its rename left.
void removeAbandoned(const QByteArray &dir);

} // namespace Inkwell::SaveTemps
