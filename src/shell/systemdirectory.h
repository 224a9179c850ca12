// Where the system keeps Notepad and shell32.dll, for handing .txt files back.
// Standard library only, like the registry code that uses it.
#pragma once

#include <memory>
#include <string>

namespace Inkwell {

class SystemDirectory {
public:
    virtual ~SystemDirectory() = default;
    // GetSystemDirectoryW: writes the NUL-terminated path into buffer (size
    // characters) and returns its length, or the size it needs when larger.
    virtual unsigned GetSystemDirectoryW(char16_t *buffer, unsigned size) = 0;
};

// GetSystemDirectoryW on Windows; elsewhere the directory the registry
// stand-in's fresh entries point at.
std::unique_ptr<SystemDirectory> makeSystemDirectory();

} // namespace Inkwell
