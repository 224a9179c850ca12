// The Windows registry through advapi32. Keys are opened with the wide
// functions (names need no code page); values go through the ANSI ones,
// which convert strings between the system code page and the registry's
// Unicode just as the program's callers expect.
#include "shell/registry.h"

#include "platform/codepage.h"

#include <windows.h>

namespace Inkwell {

namespace {

HKEY toHkey(RegKey key)
{
    return key == HKEY_CLASSES_ROOT_KEY ? HKEY_CLASSES_ROOT : reinterpret_cast<HKEY>(key);
}

const wchar_t *wide(const std::u16string &s)
{
    return reinterpret_cast<const wchar_t *>(s.c_str());
}

std::string ansi(const std::u16string &s)
{
    return CodePage::encode(s, CodePage::systemAnsi()).bytes;
}

class Win32Registry : public Registry {
public:
    long createKey(RegKey parent, const std::u16string &subKey, RegKey *result) override
    {
        HKEY key = nullptr;
        const LONG rc =
            RegCreateKeyExW(toHkey(parent), wide(subKey), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr);
        *result = rc == ERROR_SUCCESS ? reinterpret_cast<RegKey>(key) : 0;
        return rc;
    }
    long openKey(RegKey parent, const std::u16string &subPath, RegKey *result) override
    {
        HKEY key = nullptr;
        const LONG rc = RegOpenKeyExW(toHkey(parent), wide(subPath), 0, KEY_ALL_ACCESS, &key);
        *result = rc == ERROR_SUCCESS ? reinterpret_cast<RegKey>(key) : 0;
        return rc;
    }
    long setValue(RegKey key, const std::u16string &name, std::uint32_t type, const char *data,
                  std::uint32_t size) override
    {
        if (key == 0)
            return ERROR_INVALID_HANDLE;
        return RegSetValueExA(toHkey(key), ansi(name).c_str(), 0, type,
                              reinterpret_cast<const BYTE *>(data), size);
    }
    long queryValue(RegKey key, const std::u16string &name, std::uint32_t *type, char *data,
                    std::uint32_t *size) override
    {
        if (key == 0)
            return ERROR_INVALID_HANDLE;
        DWORD t = type ? *type : 0;
        DWORD n = size ? *size : 0;
        const LONG rc =
            RegQueryValueExA(toHkey(key), ansi(name).c_str(), nullptr, type ? &t : nullptr,
                             reinterpret_cast<BYTE *>(data), size ? &n : nullptr);
        if (type)
            *type = t;
        if (size)
            *size = n;
        return rc;
    }
    long closeKey(RegKey key) override
    {
        if (key == HKEY_CLASSES_ROOT_KEY)
            return ERROR_SUCCESS;
        return RegCloseKey(toHkey(key));
    }
    std::u16string describe(long code) const override
    {
        wchar_t *text = nullptr;
        const DWORD n =
            FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, DWORD(code), 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
        std::u16string out(reinterpret_cast<const char16_t *>(text), n);
        LocalFree(text);
        while (!out.empty() && (out.back() == u'\n' || out.back() == u'\r'))
            out.pop_back();
        return out;
    }
};

} // namespace

std::unique_ptr<Registry> makeSystemRegistry()
{
    return std::make_unique<Win32Registry>();
}

} // namespace Inkwell
