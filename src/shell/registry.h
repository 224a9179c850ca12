// The registry calls the association dialog needs, with the contract of the
// Win32 functions behind them: results are Win32 error codes, key names are
// compared without regard to case, a handle of 0 makes every call fail.
// Standard library only, so that the routines above it also build with MinGW.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace Inkwell {

using RegKey = std::uintptr_t;

// Win32 values, spelled apart from <windows.h>'s macros of the same meaning.
namespace RegCode {
constexpr long Success = 0;           // ERROR_SUCCESS
constexpr long FileNotFound = 2;      // ERROR_FILE_NOT_FOUND
constexpr long AccessDenied = 5;      // ERROR_ACCESS_DENIED
constexpr long InvalidHandle = 6;     // ERROR_INVALID_HANDLE
constexpr long InvalidParameter = 87; // ERROR_INVALID_PARAMETER
constexpr long BadPathName = 161;     // ERROR_BAD_PATHNAME
constexpr long MoreData = 234;        // ERROR_MORE_DATA
constexpr long BadDatabase = 1009;    // ERROR_BADDB: the registry file is damaged
constexpr long CannotRead = 1012;     // ERROR_CANTREAD
constexpr long CannotWrite = 1013;    // ERROR_CANTWRITE
constexpr long KeyDeleted = 1018;     // ERROR_KEY_DELETED
} // namespace RegCode

namespace RegType {
constexpr std::uint32_t None = 0;
constexpr std::uint32_t Sz = 1;       // REG_SZ
constexpr std::uint32_t ExpandSz = 2; // REG_EXPAND_SZ
constexpr std::uint32_t Binary = 3;   // REG_BINARY
constexpr std::uint32_t Dword = 4;    // REG_DWORD
} // namespace RegType

// The predefined root, with its Win32 number.
constexpr RegKey HKEY_CLASSES_ROOT_KEY = 0x80000000u;

class Registry {
public:
    virtual ~Registry() = default;

    // RegCreateKeyExW: opens subKey under parent, creating it when missing.
    virtual long createKey(RegKey parent, const std::u16string &subKey, RegKey *result) = 0;
    // RegOpenKeyExW: *result is 0 when the key does not exist.
    virtual long openKey(RegKey parent, const std::u16string &subPath, RegKey *result) = 0;
    // RegSetValueExA: data are the bytes as the ANSI functions see them.
    virtual long setValue(RegKey key, const std::u16string &name, std::uint32_t type,
                          const char *data, std::uint32_t size) = 0;
    // RegQueryValueExA: with data null, fills *type and *size (bytes, NUL
    // included); with a buffer too small, MoreData and the size it needs.
    virtual long queryValue(RegKey key, const std::u16string &name, std::uint32_t *type, char *data,
                            std::uint32_t *size) = 0;
    virtual long closeKey(RegKey key) = 0;

    // A sentence the user can read about a code one of the calls returned.
    virtual std::u16string describe(long code) const = 0;

    // What went wrong with the registry's own storage since the last time this
    // was asked (a damaged file moved aside), for the user; empty when nothing.
    virtual std::u16string takeStorageProblem() { return {}; }
};

// The system's registry: advapi32 on Windows, the file-backed stand-in elsewhere.
std::unique_ptr<Registry> makeSystemRegistry();

} // namespace Inkwell
