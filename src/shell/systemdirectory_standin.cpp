// Built where there is no Windows (see CMakeLists.txt).
#include "shell/systemdirectory.h"

#include <algorithm>

namespace Inkwell {

namespace {

// The stand-in registry's notion of the system directory: the one its fresh
// txtfile entries (%SystemRoot%\system32\NOTEPAD.EXE) point at on Windows.
class StandInSystemDirectory : public SystemDirectory {
public:
    unsigned GetSystemDirectoryW(char16_t *buffer, unsigned size) override
    {
        static const std::u16string path = u"C:\\Windows\\system32";
        if (!buffer || size <= path.size())
            return unsigned(path.size() + 1);
        std::copy(path.begin(), path.end(), buffer);
        buffer[path.size()] = u'\0';
        return unsigned(path.size());
    }
};

} // namespace

std::unique_ptr<SystemDirectory> makeSystemDirectory()
{
    return std::make_unique<StandInSystemDirectory>();
}

} // namespace Inkwell
