#include "shell/systemdirectory.h"

#include <windows.h>

namespace Inkwell {

namespace {

class Win32SystemDirectory : public SystemDirectory {
public:
    unsigned GetSystemDirectoryW(char16_t *buffer, unsigned size) override
    {
        return ::GetSystemDirectoryW(reinterpret_cast<wchar_t *>(buffer), size);
    }
};

} // namespace

std::unique_ptr<SystemDirectory> makeSystemDirectory()
{
    return std::make_unique<Win32SystemDirectory>();
}

} // namespace Inkwell
