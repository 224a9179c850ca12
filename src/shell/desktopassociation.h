// What the desktop needs, beyond the registry, to open .txt files with
// Inkwell: on Windows the registry is the whole story; on freedesktop systems
// a desktop entry and the text/plain default in mimeapps.list.
#pragma once

#include "core/error.h"

#include <QString>

#include <memory>
#include <optional>

namespace Inkwell {

class DesktopAssociation {
public:
    virtual ~DesktopAssociation() = default;
    // Makes Inkwell the handler of plain text, remembering the one before.
    // An Error, in words for the user, when a file could not be written.
    virtual std::optional<Error> install() = 0;
    // Gives plain text back to the handler it had before install().
    virtual std::optional<Error> restore() = 0;
};

// The user's desktop association for the program at executablePath; null
// where the registry is the whole association (Windows).
std::unique_ptr<DesktopAssociation> makeDesktopAssociation(const QString &executablePath);

} // namespace Inkwell
