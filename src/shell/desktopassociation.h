// What the desktop needs, beyond the registry, to open .txt files with
// Inkwell: on Windows the registry is the whole story; on freedesktop systems
// a desktop entry and the text/plain default in mimeapps.list.
#pragma once

#include <QString>

#include <memory>

namespace Inkwell {

class DesktopAssociation {
public:
    virtual ~DesktopAssociation() = default;
    // Makes Inkwell the handler of plain text, remembering the one before.
    virtual bool install() = 0;
    // Gives plain text back to the handler it had before install().
    virtual bool restore() = 0;
    // Why the last call failed, in words for the user; empty after success.
    virtual QString lastError() const = 0;
};

// The user's desktop association for the program at executablePath; null
// where the registry is the whole association (Windows).
std::unique_ptr<DesktopAssociation> makeDesktopAssociation(const QString &executablePath);

} // namespace Inkwell
