// Code-page conversion through the Win32 API.
#include "codepage.h"

#include <windows.h>

namespace Inkwell::CodePage {

int systemAnsi()
{
    return int(GetACP());
}

bool isSupported(int codePage)
{
    return IsValidCodePage(UINT(codePage)) != 0;
}

Decoded decode(std::string_view bytes, int codePage)
{
    Decoded result;
    if (bytes.empty())
        return result;
    const int n = int(bytes.size());
    // MB_ERR_INVALID_CHARS tells whether the input was clean; convert again
    // without it to get the text with replacement characters.
    int units = MultiByteToWideChar(UINT(codePage), MB_ERR_INVALID_CHARS, bytes.data(), n, nullptr, 0);
    DWORD flags = MB_ERR_INVALID_CHARS;
    if (units == 0) {
        result.clean = false;
        flags = 0;
        units = MultiByteToWideChar(UINT(codePage), 0, bytes.data(), n, nullptr, 0);
    }
    result.text.resize(size_t(units));
    MultiByteToWideChar(UINT(codePage), flags, bytes.data(), n,
                        reinterpret_cast<wchar_t *>(result.text.data()), units);
    if (codePage == 936 && !result.clean) {
        // Characters written as GB18030 four-byte sequences read back through 54936.
        Decoded wide = decode(bytes, 54936);
        if (wide.clean)
            return wide;
    }
    return result;
}

Encoded encode(std::u16string_view text, int codePage)
{
    Encoded result;
    if (text.empty())
        return result;
    const auto *wide = reinterpret_cast<const wchar_t *>(text.data());
    const int n = int(text.size());
    if (codePage == 936) {
        // GB18030 (54936) is the superset of 936 that holds every character.
        BOOL usedDefault = FALSE;
        int bytes936 = WideCharToMultiByte(936, 0, wide, n, nullptr, 0, nullptr, &usedDefault);
        if (!usedDefault) {
            result.bytes.resize(size_t(bytes936));
            WideCharToMultiByte(936, 0, wide, n, result.bytes.data(), bytes936, nullptr, nullptr);
            return result;
        }
        const int bytes = WideCharToMultiByte(54936, 0, wide, n, nullptr, 0, nullptr, nullptr);
        result.bytes.resize(size_t(bytes));
        WideCharToMultiByte(54936, 0, wide, n, result.bytes.data(), bytes, nullptr, nullptr);
        return result;
    }
    BOOL usedDefault = FALSE;
    const bool utf = codePage == 65001 || codePage == 54936;
    const int bytes = WideCharToMultiByte(UINT(codePage), 0, wide, n, nullptr, 0, "?",
                                          utf ? nullptr : &usedDefault);
    result.bytes.resize(size_t(bytes));
    WideCharToMultiByte(UINT(codePage), 0, wide, n, result.bytes.data(), bytes, "?",
                        utf ? nullptr : &usedDefault);
    result.lossless = !usedDefault;
    return result;
}

int fromCharset(int charset)
{
    CHARSETINFO info{};
    if (charset == 1 || charset == 2 || charset == 255)
        return 0;
    if (TranslateCharsetInfo(reinterpret_cast<DWORD *>(static_cast<ULONG_PTR>(charset)), &info,
                             TCI_SRCCHARSET))
        return int(info.ciACP);
    return 0;
}

} // namespace Inkwell::CodePage
